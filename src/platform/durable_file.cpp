#include "platform/durable_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace sonavik {

std::string systemErrorText(int error) { return std::strerror(error); }

namespace {

void setError(std::string* error)
{
    if (error)
        *error = systemErrorText(errno);
}

} // namespace

std::optional<DurableFile> DurableFile::open(const std::string& path, Mode mode, std::string* error)
{
    int flags = O_CLOEXEC | O_NOFOLLOW;
    if (mode == Mode::Read)
        flags |= O_RDONLY;
    else if (mode == Mode::ReadWrite)
        flags |= O_RDWR;
    else
        flags |= O_RDWR | O_CREAT | O_TRUNC;
    const int fd = ::open(path.c_str(), flags, 0600);
    if (fd < 0) {
        setError(error);
        return std::nullopt;
    }
    return DurableFile(fd);
}

DurableFile::DurableFile(DurableFile&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

DurableFile& DurableFile::operator=(DurableFile&& other) noexcept
{
    if (this != &other) {
        close();
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

DurableFile::~DurableFile() { close(); }

void DurableFile::close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

std::uint64_t DurableFile::size() const
{
    struct stat st {};
    if (fd_ < 0 || fstat(fd_, &st) != 0)
        return 0;
    return static_cast<std::uint64_t>(st.st_size);
}

bool DurableFile::writeAt(std::uint64_t offset, const void* data, std::size_t size, std::string* error)
{
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const ssize_t n = ::pwrite(fd_, bytes, std::min<std::size_t>(size, 1u << 30), static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            setError(error);
            return false;
        }
        bytes += n;
        size -= static_cast<std::size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
    return true;
}

bool DurableFile::readAt(std::uint64_t offset, void* data, std::size_t size) const
{
    auto* bytes = static_cast<unsigned char*>(data);
    while (size > 0) {
        const ssize_t n = ::pread(fd_, bytes, std::min<std::size_t>(size, 1u << 30), static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes += n;
        size -= static_cast<std::size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
    return true;
}

bool DurableFile::truncate(std::uint64_t size) { return fd_ >= 0 && ::ftruncate(fd_, static_cast<off_t>(size)) == 0; }

bool DurableFile::sync(std::string* error)
{
    if (fd_ >= 0 && ::fdatasync(fd_) == 0)
        return true;
    setError(error);
    return false;
}

std::optional<ProcessLock> ProcessLock::tryLock(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return std::nullopt;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return std::nullopt;
    }
    return ProcessLock(fd);
}

ProcessLock::ProcessLock(ProcessLock&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

ProcessLock& ProcessLock::operator=(ProcessLock&& other) noexcept
{
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

ProcessLock::~ProcessLock()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool syncFolder(const std::string& folder)
{
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

bool makeFolders(const std::string& folder)
{
    for (std::size_t i = 1; i <= folder.size(); ++i) {
        if (i == folder.size() || folder[i] == '/') {
            const std::string part = folder.substr(0, i);
            if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
                return false;
        }
    }
    return isFolder(folder);
}

std::vector<std::string> folderEntries(const std::string& folder)
{
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

bool isFolder(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool removeFlatFolder(const std::string& folder)
{
    std::string base = folder;
    if (!base.empty() && base.back() != '/')
        base += '/';
    for (const std::string& name : folderEntries(base))
        ::unlink((base + name).c_str());
    return ::rmdir(base.c_str()) == 0;
}

bool replaceFileDurably(const std::string& path, const std::string& bytes, std::string* error)
{
    const std::string temp = path + ".new";
    auto file = DurableFile::open(temp, DurableFile::Mode::Create, error);
    if (!file)
        return false;
    if (!file->writeAt(0, bytes.data(), bytes.size(), error) || !file->sync(error)) {
        file->close();
        ::unlink(temp.c_str());
        return false;
    }
    file->close();
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        setError(error);
        ::unlink(temp.c_str());
        return false;
    }
    const std::size_t slash = path.rfind('/');
    syncFolder(slash == std::string::npos ? "." : path.substr(0, slash + 1));
    return true;
}

std::optional<std::uint64_t> freeSpaceAt(const std::string& path)
{
    struct statvfs st {};
    if (::statvfs(path.c_str(), &st) != 0)
        return std::nullopt;
    return static_cast<std::uint64_t>(st.f_bavail) * st.f_frsize;
}

} // namespace sonavik
