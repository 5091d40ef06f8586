#include "platform/os.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sonavik {

std::string executablePath()
{
    char buf[PATH_MAX + 1];
    ssize_t n = readlink("/proc/self/exe", buf, PATH_MAX);
    if (n <= 0)
        return {};
    return std::string(buf, static_cast<std::size_t>(n));
}

static bool makeDirs(const std::string& dir)
{
    std::string partial;
    for (std::size_t i = 0; i < dir.size(); ++i) {
        partial += dir[i];
        if ((dir[i] == '/' && i > 0) || i + 1 == dir.size()) {
            if (mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST)
                return false;
        }
    }
    return true;
}

std::string userConfigDir()
{
    std::string base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/')
        base = xdg;
    else if (const char* home = std::getenv("HOME"); home && home[0] == '/')
        base = std::string(home) + "/.config";
    else
        base = "/tmp";
    std::string dir = base + "/sonavik2/";
    makeDirs(dir);
    return dir;
}

bool isWritableDirectory(const std::string& dir)
{
    struct stat st {};
    if (stat(dir.empty() ? "." : dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    return access(dir.empty() ? "." : dir.c_str(), W_OK | X_OK) == 0;
}

std::size_t memoryPageSize()
{
    long size = sysconf(_SC_PAGESIZE);
    return size > 0 ? static_cast<std::size_t>(size) : 4096;
}

std::uint64_t availableMemoryBytes()
{
    std::FILE* info = std::fopen("/proc/meminfo", "r");
    if (info) {
        char line[256];
        unsigned long long kib = 0;
        bool found = false;
        while (!found && std::fgets(line, sizeof line, info))
            found = std::sscanf(line, "MemAvailable: %llu kB", &kib) == 1;
        std::fclose(info);
        if (found)
            return static_cast<std::uint64_t>(kib) * 1024;
    }
    const long pages = sysconf(_SC_AVPHYS_PAGES);
    const long size = sysconf(_SC_PAGESIZE);
    return pages > 0 && size > 0 ? static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(size) : 0;
}

void prefaultForWriting(void* data, std::size_t bytes)
{
#if defined(MADV_POPULATE_WRITE)
    const std::size_t page = memoryPageSize();
    const auto begin = (reinterpret_cast<std::uintptr_t>(data) + page - 1) / page * page;
    const auto end = (reinterpret_cast<std::uintptr_t>(data) + bytes) / page * page;
    if (end > begin)
        madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
#else
    (void)data;
    (void)bytes;
#endif
}

void adviseLargePages(void* data, std::size_t bytes)
{
#if defined(MADV_HUGEPAGE)
    const std::size_t page = memoryPageSize();
    const auto begin = (reinterpret_cast<std::uintptr_t>(data) + page - 1) / page * page;
    const auto end = (reinterpret_cast<std::uintptr_t>(data) + bytes) / page * page;
    if (end > begin)
        madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)data;
    (void)bytes;
#endif
}

SafeFileWriter::SafeFileWriter(std::string path) : path_(std::move(path)) {}

SafeFileWriter::~SafeFileWriter() { discard(); }

bool SafeFileWriter::open()
{
    discard();
    failed_ = false;
    buffered_ = 0;
    targetPath_ = path_;
    // Writing through a link replaces what it points at, not the link.
    char resolved[PATH_MAX];
    struct stat linkSt {};
    if (lstat(path_.c_str(), &linkSt) == 0 && S_ISLNK(linkSt.st_mode) && realpath(path_.c_str(), resolved))
        targetPath_ = resolved;

    mode_t mode = 0666;
    struct stat st {};
    if (stat(targetPath_.c_str(), &st) == 0) {
        // A file marked read-only stays as it is, even for a user whose rights would allow the rename.
        if (!S_ISREG(st.st_mode) || (st.st_mode & 0222) == 0 || access(targetPath_.c_str(), W_OK) != 0)
            return false;
        mode = st.st_mode & 07777;
    } else {
        mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }

    std::size_t slash = targetPath_.rfind('/');
    std::string dir = slash == std::string::npos ? std::string() : targetPath_.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? targetPath_ : targetPath_.substr(slash + 1);
    std::string pattern = dir + "." + base + ".XXXXXX";
    std::string buf = pattern;
    fd_ = mkstemp(buf.data());
    if (fd_ < 0)
        return false;
    tempPath_ = buf;
    fchmod(fd_, mode);
    return true;
}

bool SafeFileWriter::writeAll(const unsigned char* data, std::size_t size)
{
    while (size > 0) {
        ssize_t n = ::write(fd_, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool SafeFileWriter::flushBuffer()
{
    if (buffered_ == 0)
        return true;
    bool ok = writeAll(buffer_, buffered_);
    buffered_ = 0;
    return ok;
}

bool SafeFileWriter::write(const void* data, std::size_t size)
{
    if (fd_ < 0 || failed_)
        return false;
    const auto* bytes = static_cast<const unsigned char*>(data);
    if (buffered_ + size <= kBufferSize) {
        std::memcpy(buffer_ + buffered_, bytes, size);
        buffered_ += size;
        return true;
    }
    if (!flushBuffer() || !writeAll(bytes, size))
        failed_ = true;
    return !failed_;
}

bool SafeFileWriter::writeU32(std::uint32_t value)
{
    unsigned char le[4] = {static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
                           static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
    return write(le, 4);
}

bool SafeFileWriter::commit()
{
    if (fd_ < 0)
        return false;
    bool ok = !failed_ && flushBuffer() && fsync(fd_) == 0;
    ok = (::close(fd_) == 0) && ok;
    fd_ = -1;
    if (ok && std::rename(tempPath_.c_str(), targetPath_.c_str()) != 0)
        ok = false;
    if (!ok) {
        unlink(tempPath_.c_str());
        tempPath_.clear();
        return false;
    }
    tempPath_.clear();
    // The rename itself must reach the disk too.
    std::size_t slash = targetPath_.rfind('/');
    std::string dir = slash == std::string::npos ? std::string(".") : targetPath_.substr(0, slash + 1);
    int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
    if (dfd >= 0) {
        fsync(dfd);
        ::close(dfd);
    }
    return true;
}

void SafeFileWriter::discard()
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!tempPath_.empty()) {
        unlink(tempPath_.c_str());
        tempPath_.clear();
    }
}

std::optional<AddressReservation> AddressReservation::reserve(std::size_t size)
{
    if (size == 0)
        return std::nullopt;
    void* p = ::mmap(nullptr, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (p == MAP_FAILED)
        return std::nullopt;
    return AddressReservation(static_cast<unsigned char*>(p), size);
}

AddressReservation::AddressReservation(AddressReservation&& other) noexcept
    : base_(std::exchange(other.base_, nullptr)), size_(std::exchange(other.size_, 0))
{
}

AddressReservation& AddressReservation::operator=(AddressReservation&& other) noexcept
{
    if (this != &other) {
        if (base_)
            ::munmap(base_, size_);
        base_ = std::exchange(other.base_, nullptr);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

AddressReservation::~AddressReservation()
{
    if (base_)
        ::munmap(base_, size_);
}

bool AddressReservation::commit(std::size_t offset, std::size_t size)
{
    if (!base_ || offset > size_ || size > size_ - offset)
        return false;
    if (size == 0)
        return true;
    const std::size_t page = memoryPageSize();
    const std::size_t first = offset / page * page;
    const std::size_t end = std::min(size_, (offset + size + page - 1) / page * page);
    return ::mprotect(base_ + first, end - first, PROT_READ | PROT_WRITE) == 0;
}

} // namespace sonavik
