#include "platform/os.h"

#include "platform/durable_file.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <memory>
#include <new>
#include <utility>
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
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

namespace {

// A real folder (not a link) of this user that nobody else may enter.
bool isPrivateFolder(const std::string& dir)
{
    struct stat st {};
    return lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() && (st.st_mode & 077) == 0;
}

bool isAbsolute(const char* path) { return path && path[0] == '/'; }

} // namespace

std::string privateUserFolder(const std::string& parent)
{
    std::string base = parent;
    if (base.empty() || base.back() != '/')
        base += '/';
    base += "sonavik2-" + std::to_string(geteuid());
    mkdir(base.c_str(), 0700);
    if (isPrivateFolder(base))
        return base + "/";
    // Someone else holds the name: take a new folder, which mkdtemp creates with mode 0700.
    std::string pattern = base + "-XXXXXX";
    if (!mkdtemp(pattern.data()) || !isPrivateFolder(pattern))
        return {};
    return pattern + "/";
}

std::string userConfigDir()
{
    std::string base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); isAbsolute(xdg))
        base = xdg;
    else if (const char* home = std::getenv("HOME"); isAbsolute(home))
        base = std::string(home) + "/.config";
    if (base.empty()) {
        // No home: never a fixed shared path, where another user could plant links for us to follow.
        if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); isAbsolute(runtime) && isPrivateFolder(runtime)) {
            std::string dir = privateUserFolder(runtime);
            if (!dir.empty())
                return dir;
        }
        return privateUserFolder("/tmp");
    }
    std::string dir = base + "/sonavik2/";
    makeDirs(dir);
    return dir;
}

std::string userStateDir()
{
    std::string base;
    if (const char* xdg = std::getenv("XDG_STATE_HOME"); isAbsolute(xdg))
        base = xdg;
    else if (const char* home = std::getenv("HOME"); isAbsolute(home))
        base = std::string(home) + "/.local/state";
    if (base.empty()) {
        if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); isAbsolute(runtime) && isPrivateFolder(runtime)) {
            std::string dir = privateUserFolder(runtime);
            if (!dir.empty())
                return dir + "state/";
        }
        const std::string dir = privateUserFolder("/tmp");
        return dir.empty() ? dir : dir + "state/";
    }
    std::string dir = base + "/sonavik2/";
    makeDirs(dir);
    return dir;
}

long long readRegularFile(const std::string& path, void* out, std::size_t size)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat st {};
    std::size_t got = 0;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        auto* bytes = static_cast<unsigned char*>(out);
        while (got < size) {
            const ssize_t n = ::read(fd, bytes + got, size - got);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            got += static_cast<std::size_t>(n);
        }
    }
    ::close(fd);
    return static_cast<long long>(got);
}

bool createEmptyRegularFile(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    struct stat st {};
    const bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ftruncate(fd, 0) == 0;
    ::close(fd);
    return ok;
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

namespace {

std::uint64_t systemAvailableMemory()
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

} // namespace

namespace {
std::atomic<std::uint64_t> roomOverride{0};
} // namespace

MemoryRoomOverride::MemoryRoomOverride(std::uint64_t room) { roomOverride = std::max<std::uint64_t>(room, 1); }
MemoryRoomOverride::~MemoryRoomOverride() { roomOverride = 0; }

bool memoryRoomFor(std::uint64_t bytes)
{
    const std::uint64_t room = availableMemoryBytes();
    return room == 0 || bytes <= room;
}

std::string noMemoryReason(const std::string& what, std::uint64_t bytes)
{
    constexpr double kMiB = 1024.0 * 1024.0;
    char text[160];
    std::snprintf(text, sizeof text, "not enough memory for %s: %.1f MiB needed, %.1f MiB available", what.c_str(),
                  static_cast<double>(bytes) / kMiB, static_cast<double>(availableMemoryBytes()) / kMiB);
    return text;
}

std::uint64_t availableMemoryBytes()
{
    if (const std::uint64_t forced = roomOverride.load())
        return forced;
    // In a container the machine's free memory says little: its control group's limit is where the
    // process would be killed, and an address-space limit makes allocations fail well before that.
    std::uint64_t room = systemAvailableMemory();
    const auto tighter = [&](std::uint64_t other) { room = room == 0 ? other : std::min(room, other); };
    std::string cgroups(4096, '\0');
    const long long read = readRegularFile("/proc/self/cgroup", cgroups.data(), cgroups.size());
    if (read > 0) {
        cgroups.resize(static_cast<std::size_t>(read));
        if (const auto group = cgroupMemoryRoom(cgroups, "/sys/fs/cgroup"))
            tighter(*group + keptLargeBufferBytes());
    }
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        // Kept buffers go before any new one is mapped.
        const std::uint64_t kept = keptLargeBufferBytes();
        const std::uint64_t all = addressSpaceBytes();
        const std::uint64_t mapped = all > kept ? all - kept : 0;
        const auto cap = static_cast<std::uint64_t>(limit.rlim_cur);
        // Nothing known stays unknown; a process at its limit has no room (1 byte: known, and too little).
        tighter(mapped < cap ? cap - mapped : 1);
    }
    return room;
}

namespace {

// The first number of a small file: "max", a missing file or anything else gives nullopt.
std::optional<std::uint64_t> numberInFile(const std::string& path)
{
    std::FILE* file = std::fopen(path.c_str(), "r");
    if (!file)
        return std::nullopt;
    unsigned long long value = 0;
    const bool read = std::fscanf(file, "%llu", &value) == 1;
    std::fclose(file);
    return read ? std::optional<std::uint64_t>(value) : std::nullopt;
}

// The least room (limit less usage) of the group at path and the groups above it, up to mountRoot.
// Version 1 writes "no limit" as a number near 2^63: anything from 2^60 on is taken as none.
std::optional<std::uint64_t> roomUpTheTree(const std::string& mountRoot, std::string path, const char* limitName,
                                           const char* usageName)
{
    constexpr std::uint64_t kNoLimit = std::uint64_t{1} << 60;
    std::optional<std::uint64_t> room;
    while (true) {
        const std::string dir = mountRoot + path;
        const auto limit = numberInFile(dir + "/" + limitName);
        if (limit && *limit < kNoLimit) {
            const std::uint64_t used = numberInFile(dir + "/" + usageName).value_or(0);
            const std::uint64_t left = used < *limit ? *limit - used : 0;
            room = room ? std::min(*room, left) : left;
        }
        const std::size_t cut = path.find_last_of('/');
        if (path.empty() || cut == std::string::npos)
            break;
        path.erase(cut);
    }
    return room;
}

} // namespace

std::optional<std::uint64_t> cgroupMemoryRoom(const std::string& cgroupText, const std::string& mountRoot)
{
    // Lines "id:controllers:path": version 2 has the one line "0::path", version 1 a line per hierarchy.
    std::optional<std::uint64_t> room;
    std::size_t start = 0;
    while (start < cgroupText.size()) {
        std::size_t end = cgroupText.find('\n', start);
        if (end == std::string::npos)
            end = cgroupText.size();
        const std::string line = cgroupText.substr(start, end - start);
        start = end + 1;
        const std::size_t first = line.find(':');
        const std::size_t second = first == std::string::npos ? first : line.find(':', first + 1);
        if (second == std::string::npos)
            continue;
        const std::string controllers = line.substr(first + 1, second - first - 1);
        std::string path = line.substr(second + 1);
        if (!path.empty() && path.back() == '/')
            path.pop_back();
        std::optional<std::uint64_t> found;
        if (line.compare(0, first, "0") == 0 && controllers.empty()) {
            found = roomUpTheTree(mountRoot, path, "memory.max", "memory.current");
        } else {
            bool memory = false;
            for (std::size_t at = 0; at <= controllers.size();) {
                const std::size_t comma = std::min(controllers.find(',', at), controllers.size());
                memory = memory || controllers.compare(at, comma - at, "memory") == 0;
                at = comma + 1;
            }
            if (memory)
                found = roomUpTheTree(mountRoot + "/memory", path, "memory.limit_in_bytes", "memory.usage_in_bytes");
        }
        if (found)
            room = room ? std::min(*room, *found) : *found;
    }
    return room;
}

std::uint64_t addressSpaceBytes()
{
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    if (!statm)
        return 0;
    unsigned long long pages = 0;
    const bool read = std::fscanf(statm, "%llu", &pages) == 1;
    std::fclose(statm);
    return read ? static_cast<std::uint64_t>(pages) * memoryPageSize() : 0;
}

void prefaultForWriting(void* data, std::size_t bytes)
{
#if defined(MADV_POPULATE_WRITE)
    const std::size_t page = memoryPageSize();
    const auto begin = (reinterpret_cast<std::uintptr_t>(data) + page - 1) / page * page;
    const auto end = (reinterpret_cast<std::uintptr_t>(data) + bytes) / page * page;
    if (end <= begin)
        return;
    // Memory that was handed back for reuse is mapped already: walking its pages again would only
    // cost time. Its first page tells.
    unsigned char resident = 0;
    if (mincore(reinterpret_cast<void*>(begin), page, &resident) == 0 && (resident & 1) != 0)
        return;
    madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
#else
    (void)data;
    (void)bytes;
#endif
}

namespace {

constexpr std::size_t kLargePageBytes = std::size_t{2} << 20;

struct KeptBuffer {
    unsigned char* data = nullptr;
    std::size_t size = 0;  // whole large pages
};

std::mutex gKeptMutex;
KeptBuffer gKept[2];  // newest first

std::size_t wholeLargePages(std::size_t bytes)
{
    return bytes > std::numeric_limits<std::size_t>::max() - kLargePageBytes
               ? 0
               : (bytes + kLargePageBytes - 1) / kLargePageBytes * kLargePageBytes;
}

void unmapKept(KeptBuffer& kept)
{
    if (kept.data)
        munmap(kept.data, kept.size);
    kept = {};
}

// Field 22 of /proc/PID/stat: when the process started, in clock ticks since boot. With the pid it
// names one process, even after the pid has been given to another.
std::optional<std::uint64_t> processStartTicks(pid_t pid)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
    char text[1024];
    const long long got = readRegularFile(path, text, sizeof text - 1);
    if (got <= 0)
        return std::nullopt;
    text[got] = '\0';
    // The command name in parentheses may hold spaces and parentheses: the fields follow the last ')'.
    const char* at = std::strrchr(text, ')');
    if (!at)
        return std::nullopt;
    for (int field = 2; field < 22 && at; ++field)
        at = std::strchr(at + 1, ' ');
    unsigned long long ticks = 0;
    if (!at || std::sscanf(at + 1, "%llu", &ticks) != 1)
        return std::nullopt;
    return ticks;
}

// "<pid>-<start ticks>": what this process writes into the names of the files it may leave behind.
std::string ownerTag()
{
    const pid_t pid = getpid();
    return std::to_string(pid) + "-" + std::to_string(processStartTicks(pid).value_or(0));
}

// Reads "<pid>-<start ticks>-" at the front of name: whether that process still runs. An unreadable
// tag counts as running, so that nothing of unknown origin is touched.
bool ownerRunning(const char* name)
{
    int pid = 0;
    unsigned long long start = 0;
    int used = 0;
    if (std::sscanf(name, "%d-%llu-%n", &pid, &start, &used) != 2 || used == 0 || pid <= 0)
        return true;
    if (kill(pid, 0) != 0 && errno == ESRCH)
        return false;
    const auto now = processStartTicks(pid);
    return !(now && start != 0 && *now != start);
}

bool writeFully(int fd, const void* data, std::size_t size)
{
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, bytes, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Copies size bytes from offset from of in to the current position of out.
bool copyBytes(int in, std::uint64_t from, std::uint64_t size, int out)
{
    constexpr std::size_t kChunk = std::size_t{1} << 20;
    std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[kChunk]);
    if (!buffer)
        return false;
    while (size > 0) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(size, kChunk));
        const ssize_t n = ::pread(in, buffer.get(), want, static_cast<off_t>(from));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || !writeFully(out, buffer.get(), static_cast<std::size_t>(n)))
            return false;
        from += static_cast<std::uint64_t>(n);
        size -= static_cast<std::uint64_t>(n);
    }
    return true;
}

constexpr const char kTempPrefix[] = ".sonavik-";
constexpr const char kBackupMagic[] = "SONAVIK2-SAVE 1";

// Removes the temporary files that saves into folder left when their process was killed: named after a
// process that has ended, regular files of this user.
void removeStaleTemporaries(const std::string& folder)
{
    DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
    if (!dir)
        return;
    const std::size_t prefix = sizeof kTempPrefix - 1;
    while (const dirent* entry = readdir(dir)) {
        if (std::strncmp(entry->d_name, kTempPrefix, prefix) != 0 || ownerRunning(entry->d_name + prefix))
            continue;
        struct stat st {};
        if (fstatat(dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode)
            && st.st_uid == geteuid())
            unlinkat(dirfd(dir), entry->d_name, 0);
    }
    closedir(dir);
}

// The copy of a file kept while it is overwritten in place: a line "SONAVIK2-SAVE 1 dev inode size
// pathLength", the path, then the old content.
struct Backup {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t size = 0;
    std::string target;
    std::uint64_t contentAt = 0;
};

std::optional<Backup> readBackupHeader(int fd)
{
    char line[256];
    const ssize_t got = ::pread(fd, line, sizeof line - 1, 0);
    if (got <= 0)
        return std::nullopt;
    line[got] = '\0';
    const char* end = std::strchr(line, '\n');
    Backup b;
    unsigned long long device = 0, inode = 0, size = 0, length = 0;
    if (!end || std::strncmp(line, kBackupMagic, sizeof kBackupMagic - 1) != 0
        || std::sscanf(line + sizeof kBackupMagic - 1, "%llu %llu %llu %llu", &device, &inode, &size, &length) != 4
        || length == 0 || length > PATH_MAX)
        return std::nullopt;
    b.device = device;
    b.inode = inode;
    b.size = size;
    b.target.resize(static_cast<std::size_t>(length));
    const off_t pathAt = static_cast<off_t>(end - line + 1);
    if (::pread(fd, b.target.data(), b.target.size(), pathAt) != static_cast<ssize_t>(length))
        return std::nullopt;
    b.contentAt = static_cast<std::uint64_t>(pathAt) + length;
    struct stat st {};
    if (fstat(fd, &st) != 0 || static_cast<std::uint64_t>(st.st_size) != b.contentAt + b.size)
        return std::nullopt;
    return b;
}

std::string folderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

enum class Restore { Done, NotOurs, Failed };

// Writes the old content kept in backupPath back over its file and removes the copy. NotOurs (the copy
// removed) when another file stands at that path now; Failed (the copy kept) when it cannot be written.
Restore restoreBackup(const std::string& backupPath, std::string& target)
{
    const int in = ::open(backupPath.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (in < 0)
        return Restore::Failed;
    const std::optional<Backup> backup = readBackupHeader(in);
    if (!backup) {
        ::close(in);
        return Restore::Failed;
    }
    target = backup->target;
    Restore result = Restore::Failed;
    const int out = ::open(target.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat st {};
    if (out < 0 && (errno == ENOENT || errno == ELOOP)) {
        result = Restore::NotOurs;
    } else if (out >= 0 && fstat(out, &st) == 0) {
        if (!S_ISREG(st.st_mode) || static_cast<std::uint64_t>(st.st_dev) != backup->device
            || static_cast<std::uint64_t>(st.st_ino) != backup->inode)
            result = Restore::NotOurs;
        else if (copyBytes(in, backup->contentAt, backup->size, out)
                 && ftruncate(out, static_cast<off_t>(backup->size)) == 0 && fsync(out) == 0)
            result = Restore::Done;
    }
    if (out >= 0)
        ::close(out);
    ::close(in);
    if (result != Restore::Failed) {
        unlink(backupPath.c_str());
        syncFolder(folderOf(backupPath));
    }
    return result;
}

// Copies this process kept of target that could not be put back after a failed save: once a later save
// of it has succeeded they would only bring back older content at the next start.
void dropEarlierCopies(const std::string& folder, const std::string& target, const std::string& own)
{
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return;
    const std::string tag = ownerTag() + "-";
    while (const dirent* entry = readdir(dir)) {
        const std::string path = folder + entry->d_name;
        if (std::strncmp(entry->d_name, tag.c_str(), tag.size()) != 0 || path == own)
            continue;
        const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
            continue;
        const std::optional<Backup> backup = readBackupHeader(fd);
        ::close(fd);
        if (backup && backup->target == target)
            unlink(path.c_str());
    }
    closedir(dir);
}

} // namespace

void* allocateLargeBuffer(std::size_t bytes)
{
    const std::size_t size = wholeLargePages(bytes);
    if (size == 0)
        return nullptr;
    {
        std::lock_guard<std::mutex> lock(gKeptMutex);
        KeptBuffer* best = nullptr;
        for (KeptBuffer& kept : gKept)
            if (kept.data && kept.size >= size && (!best || kept.size < best->size))
                best = &kept;
        if (best) {
            unsigned char* data = best->data;
            // What the request does not need goes back now.
            if (best->size > size)
                munmap(data + size, best->size - size);
            *best = {};
            return data;
        }
        // None fits: the kept ones would only stand in the new mapping's way.
        for (KeptBuffer& kept : gKept)
            unmapKept(kept);
    }
    // One large page more than asked, so that the buffer can start on one; the ends are given back.
    void* mapped = mmap(nullptr, size + kLargePageBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED)
        return nullptr;
    const auto at = reinterpret_cast<std::uintptr_t>(mapped);
    const std::uintptr_t start = (at + kLargePageBytes - 1) / kLargePageBytes * kLargePageBytes;
    if (start > at)
        munmap(mapped, start - at);
    if (at + kLargePageBytes > start)
        munmap(reinterpret_cast<void*>(start + size), at + kLargePageBytes - start);
    return reinterpret_cast<void*>(start);
}

void releaseLargeBuffer(void* data, std::size_t bytes) noexcept
{
    if (!data)
        return;
    const std::size_t size = wholeLargePages(bytes);
#if defined(MADV_FREE)
    const bool lazy = madvise(data, size, MADV_FREE) == 0;
#else
    const bool lazy = false;
#endif
    if (!lazy) {
        munmap(data, size);
        return;
    }
    std::lock_guard<std::mutex> lock(gKeptMutex);
    unmapKept(gKept[1]);
    gKept[1] = gKept[0];
    gKept[0] = {static_cast<unsigned char*>(data), size};
}

std::size_t keptLargeBufferBytes()
{
    std::lock_guard<std::mutex> lock(gKeptMutex);
    return gKept[0].size + gKept[1].size;
}

void dropKeptLargeBuffers()
{
    std::lock_guard<std::mutex> lock(gKeptMutex);
    for (KeptBuffer& kept : gKept)
        unmapKept(kept);
}

std::string savesFolder()
{
    const std::string state = userStateDir();
    return state.empty() ? state : state + "saves/";
}

std::vector<UnfinishedSave> restoreUnfinishedSaves(const std::string& folder)
{
    std::vector<UnfinishedSave> found;
    if (folder.empty())
        return found;
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return found;
    std::vector<std::string> names;
    while (const dirent* entry = readdir(dir))
        names.emplace_back(entry->d_name);
    closedir(dir);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        const auto endsWith = [&](const char* tail) {
            const std::size_t n = std::strlen(tail);
            return name.size() > n && name.compare(name.size() - n, n, tail) == 0;
        };
        const bool backup = endsWith(".bak");
        if ((!backup && !endsWith(".part")) || ownerRunning(name.c_str()))
            continue;
        const std::string path = folder + name;
        if (!backup) {
            // A copy that was still being made: its file had not been touched yet.
            unlink(path.c_str());
            continue;
        }
        UnfinishedSave save;
        const Restore result = restoreBackup(path, save.path);
        if (result == Restore::NotOurs)
            continue;
        save.restored = result == Restore::Done;
        if (!save.restored)
            save.backup = path;
        found.push_back(save);
    }
    return found;
}

SafeFileWriter::SafeFileWriter(std::string path, Links links) : path_(std::move(path)), links_(links) {}

SafeFileWriter::~SafeFileWriter() { discard(); }

bool SafeFileWriter::open()
{
    discard();
    failed_ = false;
    inPlace_ = false;
    unnamed_ = false;
    touched_ = false;
    written_ = 0;
    buffered_ = 0;
    targetPath_ = path_;
    struct stat linkSt {};
    const bool isLink = lstat(path_.c_str(), &linkSt) == 0 && S_ISLNK(linkSt.st_mode);
    if (isLink && links_ == Links::Refuse)
        return false;
    // Writing through a link replaces what it points at, not the link.
    char resolved[PATH_MAX];
    if (isLink && realpath(path_.c_str(), resolved))
        targetPath_ = resolved;

    mode_t mode = 0666;
    struct stat st {};
    const bool exists = stat(targetPath_.c_str(), &st) == 0;
    if (exists) {
        // A file marked read-only stays as it is, even for a user whose rights would allow the rename.
        if (!S_ISREG(st.st_mode) || (st.st_mode & 0222) == 0 || access(targetPath_.c_str(), W_OK) != 0)
            return false;
        mode = st.st_mode & 07777;
    } else {
        mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }

    folder_ = folderOf(targetPath_);
    removeStaleTemporaries(folder_);
    // Without a name nothing is left behind when the process is killed; it gets one only to be renamed
    // over the target, through /proc.
#if defined(O_TMPFILE)
    if (access("/proc/self/fd", X_OK) == 0) {
        fd_ = ::open(folder_.empty() ? "." : folder_.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
        if (fd_ >= 0) {
            unnamed_ = true;
            fchmod(fd_, mode);
            return true;
        }
    }
#endif
    // A short name, so that a target whose name is near the file-name limit still gets one beside it.
    std::string buf = folder_ + kTempPrefix + ownerTag() + "-XXXXXX";
    fd_ = mkstemp(buf.data());
    if (fd_ >= 0) {
        tempPath_ = buf;
        fchmod(fd_, mode);
        return true;
    }
    // Only a folder that refuses new files falls back; a full disk or any other failure keeps the old
    // file as it is.
    const int why = errno;
    if (!exists || (why != EACCES && why != EPERM && why != EROFS))
        return false;
    // The folder takes no new file but the file itself may be written: overwrite it in place. Read
    // access is needed to keep a copy of it first.
    fd_ = ::open(targetPath_.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0)
        return false;
    if (fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd_);
        fd_ = -1;
        return false;
    }
    inPlace_ = true;
    oldSize_ = static_cast<std::uint64_t>(st.st_size);
    return true;
}

bool SafeFileWriter::keepOldContent()
{
    if (!backupPath_.empty())
        return true;
    const std::string folder = savesFolder();
    struct stat st {};
    if (folder.empty() || !makeDirs(folder) || fstat(fd_, &st) != 0)
        return false;
    static std::atomic<unsigned> counter{0};
    const std::string base = folder + ownerTag() + "-" + std::to_string(counter++);
    const std::string part = base + ".part";
    const int out = ::open(part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (out < 0)
        return false;
    char head[160];
    std::snprintf(head, sizeof head, "%s %llu %llu %llu %zu\n", kBackupMagic,
                  static_cast<unsigned long long>(st.st_dev), static_cast<unsigned long long>(st.st_ino),
                  static_cast<unsigned long long>(oldSize_), targetPath_.size());
    bool ok = writeFully(out, head, std::strlen(head)) && writeFully(out, targetPath_.data(), targetPath_.size())
              && copyBytes(fd_, 0, oldSize_, out) && fsync(out) == 0;
    ok = (::close(out) == 0) && ok;
    // Only a complete copy has the name that is restored from.
    ok = ok && std::rename(part.c_str(), (base + ".bak").c_str()) == 0;
    if (!ok) {
        unlink(part.c_str());
        return false;
    }
    backupPath_ = base + ".bak";
    if (!syncFolder(folder)) {
        unlink(backupPath_.c_str());
        backupPath_.clear();
        return false;
    }
    return true;
}

bool SafeFileWriter::reserve(std::uint64_t size)
{
    if (fd_ < 0 || failed_)
        return false;
    if (size == 0)
        return true;
    // The copy comes first: a process killed while the room is set aside leaves a longer file.
    if (inPlace_ && !keepOldContent()) {
        failed_ = true;
        return false;
    }
    if (size <= static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())
        && posix_fallocate(fd_, 0, static_cast<off_t>(size)) == 0)
        return true;
    failed_ = true;
    // A reservation that failed half-way may have made the old file longer.
    struct stat st {};
    if (inPlace_ && fstat(fd_, &st) == 0 && static_cast<std::uint64_t>(st.st_size) != oldSize_) {
        const int shortened = ftruncate(fd_, static_cast<off_t>(oldSize_));
        (void)shortened;  // the copy puts it right if this fails
        touched_ = true;
    }
    return false;
}

bool SafeFileWriter::writeAll(const unsigned char* data, std::size_t size)
{
    if (inPlace_ && size > 0) {
        if (!keepOldContent())
            return false;
        touched_ = true;
    }
    while (size > 0) {
        ssize_t n = ::write(fd_, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
        written_ += static_cast<std::uint64_t>(n);
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

bool SafeFileWriter::linkTemporary()
{
    char fdPath[64];
    std::snprintf(fdPath, sizeof fdPath, "/proc/self/fd/%d", fd_);
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = folder_ + kTempPrefix + ownerTag() + "-" + std::to_string(counter++);
        if (linkat(AT_FDCWD, fdPath, AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            tempPath_ = name;
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
}

bool SafeFileWriter::commit()
{
    if (fd_ < 0)
        return false;
    bool ok = !failed_ && flushBuffer();
    // In place, the old file may have been longer than what replaces it.
    if (inPlace_ && ok && written_ != oldSize_) {
        ok = keepOldContent();
        touched_ = touched_ || ok;
        ok = ok && ftruncate(fd_, static_cast<off_t>(written_)) == 0;
    }
    ok = ok && fsync(fd_) == 0;
    if (ok && unnamed_)
        ok = linkTemporary();
    ok = (::close(fd_) == 0) && ok;
    fd_ = -1;
    if (inPlace_) {
        if (!ok) {
            discard();  // puts the old content back
            return false;
        }
        inPlace_ = false;
        if (!backupPath_.empty()) {
            const std::string folder = folderOf(backupPath_);
            dropEarlierCopies(folder, targetPath_, backupPath_);
            unlink(backupPath_.c_str());
            syncFolder(folder);
            backupPath_.clear();
        }
        return true;
    }
    if (ok && std::rename(tempPath_.c_str(), targetPath_.c_str()) != 0)
        ok = false;
    if (!ok) {
        if (!tempPath_.empty())
            unlink(tempPath_.c_str());
        tempPath_.clear();
        return false;
    }
    tempPath_.clear();
    // The rename itself must reach the disk too.
    syncFolder(folder_);
    return true;
}

void SafeFileWriter::discard()
{
    inPlace_ = false;
    unnamed_ = false;
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!backupPath_.empty()) {
        // A failed save in place: the old content goes back now. Where even that fails the copy stays
        // for the next start.
        std::string target;
        if (!touched_) {
            unlink(backupPath_.c_str());
            syncFolder(folderOf(backupPath_));
        } else {
            restoreBackup(backupPath_, target);
        }
        backupPath_.clear();
    }
    touched_ = false;
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
