#pragma once
// The few operating-system services the core needs, behind plain functions.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sonavik {

inline constexpr char kDirSeparator = '/';

// Full path of the running executable, or empty when the system cannot tell.
std::string executablePath();
// The per-user configuration folder of this program (created on demand), with a trailing separator.
// Without a home folder it is a private folder (see privateUserFolder) under $XDG_RUNTIME_DIR or /tmp;
// empty when none can be had.
std::string userConfigDir();
// The per-user folder for what this program keeps between runs (created on demand), with a trailing
// separator: $XDG_STATE_HOME/sonavik2/ or ~/.local/state/sonavik2/; without a home folder a private
// folder as for userConfigDir. Empty when none can be had.
std::string userStateDir();
// A folder only this user can reach, created with mode 0700 as parent + "sonavik2-<uid>/" or, when that
// name is taken by anything else (a link, another user's folder, wider rights), a fresh one beside it.
// Empty when parent takes no new folder.
std::string privateUserFolder(const std::string& parent);
// Reads up to size bytes of a regular file, opened without following a link and without waiting on a
// fifo: the count read, 0 for a fifo, device or folder, -1 when nothing can be opened (missing, a link).
long long readRegularFile(const std::string& path, void* out, std::size_t size);
// Creates or empties a regular file, never through a link (another user may have planted one) and never
// waiting on a fifo. False when that cannot be done.
bool createEmptyRegularFile(const std::string& path);
bool isWritableDirectory(const std::string& dir);
std::size_t memoryPageSize();
// Memory the process can still be given without swapping or being killed: the system's MemAvailable,
// less where the process's control group (memory.max) or its address-space limit (RLIMIT_AS) leaves
// less room. 0 when it cannot tell.
std::uint64_t availableMemoryBytes();
// Whether bytes more can be asked for: at most availableMemoryBytes(), or anything when that is not known.
// Asked before every allocation that grows with the sound, so that a lack of memory is a refusal with a
// message rather than the kernel ending the process.
bool memoryRoomFor(std::uint64_t bytes);
// The reason a refusal for lack of memory gives where it can print one: what wanted how much, and the
// room there was.
std::string noMemoryReason(const std::string& what, std::uint64_t bytes);
// Tests: while one lives, availableMemoryBytes() reports this room, as a control group would.
class MemoryRoomOverride {
public:
    explicit MemoryRoomOverride(std::uint64_t room);
    ~MemoryRoomOverride();
    MemoryRoomOverride(const MemoryRoomOverride&) = delete;
    MemoryRoomOverride& operator=(const MemoryRoomOverride&) = delete;
};
// The room a control group leaves: the least of limit less usage over the group of the process and
// every group above it (version 2: memory.max and memory.current; version 1: the memory controller's
// memory.limit_in_bytes and memory.usage_in_bytes). cgroupText is /proc/self/cgroup, mountRoot where
// the groups are mounted (/sys/fs/cgroup). Nullopt when no group sets a limit.
std::optional<std::uint64_t> cgroupMemoryRoom(const std::string& cgroupText, const std::string& mountRoot);
// The address space the process has mapped now (what RLIMIT_AS counts), or 0 when it cannot tell.
std::uint64_t addressSpaceBytes();
// Maps the whole pages within [data, data + bytes) for writing in one call, before they are first
// written: one system call instead of a page fault per page for buffers of hundreds of megabytes. Only
// a hint; nothing happens where the system does not offer it or the memory is short, nor where the
// first of those pages is mapped already (memory handed back for reuse).
void prefaultForWriting(void* data, std::size_t bytes);

// Buffers of hundreds of megabytes that their user writes in full before reading them (the spectra and
// the picture of an analysis). Each comes from its own mapping, aligned for large pages. They are not
// advised for them: on a virtual machine whose host takes freed memory back, a large page must first be
// fetched from the host again, and the first analysis of an hour spent 3 to 4 s in the kernel instead
// of 0.4 s with ordinary pages (the memory an analysis reuses is mapped already). The two last released are kept, their pages left to the system to take back only when it runs
// short (MADV_FREE), and handed to the next requests they can hold: an analysis after another finds its
// memory mapped instead of having the kernel clear it page by page again. Content is undefined.
// Null when the memory cannot be had; a request no kept buffer can hold first lets them go.
void* allocateLargeBuffer(std::size_t bytes);
// data and bytes as allocateLargeBuffer gave and was asked.
void releaseLargeBuffer(void* data, std::size_t bytes) noexcept;
// The bytes kept for reuse; the room checks count them as room.
std::size_t keptLargeBufferBytes();
// Lets the kept buffers go.
void dropKeptLargeBuffers();

// Writes a file so that the old one survives any failure: the bytes go to a temporary file in the
// same folder, which is flushed to disk and renamed over the target only when every write succeeded.
// The temporary file has no name until then where the file system allows (a process killed half-way
// leaves nothing behind); elsewhere it is named after its process, and a later save into the folder
// removes those whose process has gone. Dropping the writer before commit() leaves the target untouched.
//
// A writable file in a folder that takes no new file (a read-only folder) is written in place instead.
// Before its first byte changes, a copy of the old file goes to the saves folder (savesFolder()), flushed
// to disk; a failed save puts it back at once, and a save that never ended (the process killed, the
// machine stopped) is put back at the next start by restoreUnfinishedSaves().
class SafeFileWriter {
public:
    enum class Links { Follow, Refuse };
    // Links::Follow writes what a link at path points at; Links::Refuse makes open() fail on a link.
    explicit SafeFileWriter(std::string path, Links links = Links::Follow);
    ~SafeFileWriter();
    SafeFileWriter(const SafeFileWriter&) = delete;
    SafeFileWriter& operator=(const SafeFileWriter&) = delete;

    // False when the target cannot be written: a read-only existing file, a missing or closed folder.
    bool open();
    // Before the first write: sets aside room for size bytes, so that a disk too full for them is known
    // before the first byte of a file overwritten in place changes. False, with the target as it was
    // and later writes ignored, when the room cannot be had.
    bool reserve(std::uint64_t size);
    // False once any write has failed; later writes are then ignored.
    bool write(const void* data, std::size_t size);
    bool writeU32(std::uint32_t value);
    // Flush, sync, close and rename; false (and the target unchanged) if any step or earlier write failed.
    bool commit();
    void discard();

private:
    std::string path_;
    Links links_;
    bool inPlace_ = false;
    std::uint64_t oldSize_ = 0;  // of the file overwritten in place
    std::uint64_t written_ = 0;
    std::string targetPath_;
    std::string tempPath_;
    std::string folder_;        // of the target, with its separator; empty for the current folder
    bool unnamed_ = false;      // the temporary file has no name yet
    std::string backupPath_;    // the copy of the file overwritten in place, once it is made
    bool touched_ = false;      // a byte of the file overwritten in place may have changed
    int fd_ = -1;
    bool failed_ = false;
    // Small writes are gathered here so that a header written field by field costs one system call.
    static constexpr std::size_t kBufferSize = 64 * 1024;
    unsigned char buffer_[kBufferSize];
    std::size_t buffered_ = 0;
    bool flushBuffer();
    bool writeAll(const unsigned char* data, std::size_t size);
    bool keepOldContent();
    bool linkTemporary();
};

// Where copies of files overwritten in place are kept while they are saved: userStateDir() + "saves/".
std::string savesFolder();
// A file that a save in place of an earlier run left unfinished, and whether its old content is back.
struct UnfinishedSave {
    std::string path;
    bool restored = false;
    std::string backup;  // where the old content still is, when it could not be put back
};
// At start-up: puts back the old content of every file whose save in place was cut off in a run that
// has ended (one still running is left to finish), and removes what such runs left half-made. folder
// is savesFolder() unless given.
std::vector<UnfinishedSave> restoreUnfinishedSaves(const std::string& folder = savesFolder());

// Address space set aside without memory behind it; pages get memory as they are committed, so a short
// recording in a long reservation costs only what it stores. Released when dropped.
class AddressReservation {
public:
    // Nothing when size is 0 or the address space cannot be had.
    static std::optional<AddressReservation> reserve(std::size_t size);
    AddressReservation(AddressReservation&& other) noexcept;
    AddressReservation& operator=(AddressReservation&& other) noexcept;
    AddressReservation(const AddressReservation&) = delete;
    AddressReservation& operator=(const AddressReservation&) = delete;
    ~AddressReservation();

    std::size_t size() const { return size_; }
    // Readable and writable only inside committed ranges.
    unsigned char* data() { return base_; }
    // Gives [offset, offset + size) memory (zero-filled where new); false when it lies outside the
    // reservation or the system refuses.
    bool commit(std::size_t offset, std::size_t size);

private:
    AddressReservation(unsigned char* base, std::size_t size) : base_(base), size_(size) {}
    unsigned char* base_ = nullptr;
    std::size_t size_ = 0;
};

} // namespace sonavik
