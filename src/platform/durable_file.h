#pragma once
// Files whose writes must be on disk before the program goes on (the edit history), locks that end with
// their process, and the few folder operations around them.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sonavik {

class DurableFile {
public:
    enum class Mode { Read, ReadWrite, Create };  // Create empties an existing file
    DurableFile() = default;
    static std::optional<DurableFile> open(const std::string& path, Mode mode, std::string* error = nullptr);
    DurableFile(DurableFile&& other) noexcept;
    DurableFile& operator=(DurableFile&& other) noexcept;
    DurableFile(const DurableFile&) = delete;
    DurableFile& operator=(const DurableFile&) = delete;
    ~DurableFile();

    bool isOpen() const { return fd_ >= 0; }
    std::uint64_t size() const;
    // Every byte or false (errno text in *error).
    bool writeAt(std::uint64_t offset, const void* data, std::size_t size, std::string* error = nullptr);
    bool readAt(std::uint64_t offset, void* data, std::size_t size) const;
    bool truncate(std::uint64_t size);
    // The written bytes and the file's size on disk.
    bool sync(std::string* error = nullptr);
    void close();

private:
    explicit DurableFile(int fd) : fd_(fd) {}
    int fd_ = -1;
};

// An exclusive lock that the system drops when its process ends, however it ends.
class ProcessLock {
public:
    // Creates path if needed and locks it without waiting; nothing when another process holds it.
    static std::optional<ProcessLock> tryLock(const std::string& path);
    ProcessLock(ProcessLock&& other) noexcept;
    ProcessLock& operator=(ProcessLock&& other) noexcept;
    ProcessLock(const ProcessLock&) = delete;
    ProcessLock& operator=(const ProcessLock&) = delete;
    ~ProcessLock();

private:
    explicit ProcessLock(int fd) : fd_(fd) {}
    int fd_ = -1;
};

// Makes a folder's entries (new, renamed or removed files) durable.
bool syncFolder(const std::string& folder);
// Creates folder and its parents (mode 0700 for the new ones); true when it exists afterwards.
bool makeFolders(const std::string& folder);
// Names in folder other than "." and "..", sorted; empty when it cannot be read.
std::vector<std::string> folderEntries(const std::string& folder);
bool isFolder(const std::string& path);
// Removes the files of folder and the folder itself (it holds no subfolders).
bool removeFlatFolder(const std::string& folder);
// Atomically replaces path with the bytes, on disk before it returns.
bool replaceFileDurably(const std::string& path, const std::string& bytes, std::string* error = nullptr);
// Bytes free for this user on the file system of path; nothing when it cannot tell.
std::optional<std::uint64_t> freeSpaceAt(const std::string& path);
std::string systemErrorText(int error);

} // namespace sonavik
