#include "history/edit_history.h"

#include "document/window_title.h"
#include "document/workspace.h"
#include "platform/durable_file.h"
#include "platform/os.h"
#include "platform/ui.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <thread>
#include <unistd.h>

namespace sonavik {

const char* historyOriginText(HistoryOrigin origin)
{
    switch (origin) {
    case HistoryOrigin::Recorded:
        return "録音";
    case HistoryOrigin::New:
        return "新規";
    default:
        return "開いた時";
    }
}

namespace {

constexpr std::uint64_t kRecordMagic = 0x3143455248565353ull;  // "SSVHREC1"
constexpr std::uint64_t kBaseMagic = 0x3145534142485653ull;    // "SVHBASE1"
constexpr std::uint64_t kEndMagic = 0x21444e4548565353ull;     // "SSVHEND!"
constexpr std::uint64_t kHashSeed = 0x6a09e667f3bcc909ull;
constexpr std::size_t kChunk = 1 << 20;  // a multiple of 8, so chunked hashing equals hashing at once
constexpr std::size_t kMaxHeader = 1 << 20;
constexpr std::uint64_t kDefaultLimit = 4ull << 30;

std::uint64_t hashBytes(std::uint64_t h, const unsigned char* p, std::size_t n)
{
    while (n >= 8) {
        std::uint64_t w;
        std::memcpy(&w, p, 8);
        h = (h ^ w) * 0x9E3779B97F4A7C15ull;
        h ^= h >> 29;
        p += 8;
        n -= 8;
    }
    for (; n > 0; --n, ++p)
        h = (h ^ *p) * 0x100000001b3ull;
    return h;
}

// A check of many bytes at memory speed: eight words at a time in eight chains of their own. Only
// compared within one process, never stored.
std::uint64_t quickCheck(std::uint64_t h, const unsigned char* p, std::size_t n)
{
    std::uint64_t lanes[8];
    for (int l = 0; l < 8; ++l)
        lanes[l] = h + static_cast<std::uint64_t>(l) * 0x9E3779B97F4A7C15ull;
    for (; n >= 64; p += 64, n -= 64) {
        std::uint64_t w[8];
        std::memcpy(w, p, 64);
        // Unrolled, the chains stay in registers.
#pragma GCC unroll 8
        for (int l = 0; l < 8; ++l)
            lanes[l] = ((lanes[l] ^ w[l]) * 0xBF58476D1CE4E5B9ull) ^ (lanes[l] >> 31);
    }
    for (int l = 0; l < 8; ++l)
        h = (h ^ lanes[l]) * 0x94D049BB133111EBull;
    return hashBytes(h, p, n);
}

std::int64_t nowSeconds()
{
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

class Out {
public:
    template <typename T>
    void put(T v)
    {
        char b[sizeof(T)];
        std::memcpy(b, &v, sizeof(T));
        s.append(b, sizeof(T));
    }
    void putString(const std::string& v)
    {
        put<std::uint32_t>(static_cast<std::uint32_t>(v.size()));
        s += v;
    }
    std::string s;
};

class In {
public:
    In(const unsigned char* p, std::size_t n) : p_(p), n_(n) {}
    template <typename T>
    T get()
    {
        T v{};
        if (pos_ + sizeof(T) > n_) {
            ok = false;
            return v;
        }
        std::memcpy(&v, p_ + pos_, sizeof(T));
        pos_ += sizeof(T);
        return v;
    }
    std::string getString()
    {
        const auto size = get<std::uint32_t>();
        if (!ok || size > n_ - pos_) {
            ok = false;
            return {};
        }
        std::string v(reinterpret_cast<const char*>(p_ + pos_), size);
        pos_ += size;
        return v;
    }
    bool ok = true;

private:
    const unsigned char* p_;
    std::size_t n_;
    std::size_t pos_ = 0;
};

void putSelections(Out& o, const SelectionTable& table)
{
    for (const Selection& s : table) {
        o.put<std::int32_t>(static_cast<std::int32_t>(s.kind));
        o.put(s.start);
        o.put(s.end);
        o.put(s.alphaStart);
        o.put(s.alphaEnd);
        o.put<std::int32_t>(static_cast<std::int32_t>(s.shape));
        o.put(s.shapeParameter);
    }
}

void getSelections(In& in, SelectionTable& table)
{
    for (Selection& s : table) {
        s.kind = static_cast<SelectionKind>(in.get<std::int32_t>());
        s.start = in.get<std::int32_t>();
        s.end = in.get<std::int32_t>();
        s.alphaStart = in.get<double>();
        s.alphaEnd = in.get<double>();
        s.shape = static_cast<SelectionShape>(in.get<std::int32_t>());
        s.shapeParameter = in.get<double>();
    }
}

void putView(Out& o, const ViewState& v)
{
    o.put(v.x0);
    o.put(v.y0);
    o.put(v.sx);
    o.put(v.sy);
}

ViewState getView(In& in)
{
    ViewState v;
    v.x0 = in.get<double>();
    v.y0 = in.get<double>();
    v.sx = in.get<double>();
    v.sy = in.get<double>();
    return v;
}

// Every field of a state but its samples and summary.
void putMeta(Out& o, const SoundDocument& d)
{
    o.put(d.format.wFormatTag);
    o.put(d.format.nChannels);
    o.put(d.format.nSamplesPerSec);
    o.put(d.format.nAvgBytesPerSec);
    o.put(d.format.nBlockAlign);
    o.put(d.format.wBitsPerSample);
    o.put(d.format.cbSize);
    o.put(d.frameCount);
    o.put(d.modified);
    o.putString(d.path);
    putView(o, d.leftView);
    putView(o, d.rightView);
    putSelections(o, d.leftSelections);
    putSelections(o, d.rightSelections);
}

void getMeta(In& in, SoundDocument& d)
{
    d.format.wFormatTag = in.get<std::uint16_t>();
    d.format.nChannels = in.get<std::uint16_t>();
    d.format.nSamplesPerSec = in.get<std::uint32_t>();
    d.format.nAvgBytesPerSec = in.get<std::uint32_t>();
    d.format.nBlockAlign = in.get<std::uint16_t>();
    d.format.wBitsPerSample = in.get<std::uint16_t>();
    d.format.cbSize = in.get<std::uint16_t>();
    d.frameCount = in.get<std::int32_t>();
    d.modified = in.get<std::int32_t>();
    d.path = in.getString();
    d.leftView = getView(in);
    d.rightView = getView(in);
    getSelections(in, d.leftSelections);
    getSelections(in, d.rightSelections);
}

std::string baseName(int generation) { return "base-" + std::to_string(generation); }
std::string logName(int generation) { return "log-" + std::to_string(generation); }

// What a folder holds, read back: its first kept state and the records after it.
struct Loaded {
    int generation = 0;
    int savedState = -1;
    HistoryOrigin origin = HistoryOrigin::Opened;
    std::int64_t originTime = 0;
    int firstState = 0;
    std::uint16_t align = 0;
    std::int32_t baseFrames = 0;
    std::uint64_t baseHeader = 0;  // offset and size of the base's header
    std::uint64_t baseHeaderSize = 0;
    std::uint64_t baseSize = 0;
    std::vector<HistoryEntry> entries;
    std::vector<std::int32_t> frames;  // of each entry's state
    std::vector<std::uint64_t> headerOffsets, headerSizes;
    std::uint64_t logSize = 0;  // of the whole records
};

// Hashes size bytes of file from offset through a fixed buffer.
bool hashFile(const DurableFile& file, std::uint64_t offset, std::uint64_t size, std::uint64_t& h, std::vector<unsigned char>& buffer)
{
    buffer.resize(kChunk);
    while (size > 0) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(size, kChunk));
        if (!file.readAt(offset, buffer.data(), n))
            return false;
        h = hashBytes(h, buffer.data(), n);
        offset += n;
        size -= n;
    }
    return true;
}

bool readInfo(const std::string& folder, int& generation, int& saved)
{
    char text[256] = {};
    const long long got = readRegularFile(folder + "info", text, sizeof text - 1);
    if (got <= 0)
        return false;
    return std::sscanf(text, "sonavik2 history\ngeneration %d\nsaved %d\n", &generation, &saved) == 2;
}

// The header of one record or base at offset: its bytes and where its payload starts. Checks the magic
// and the header's hash (kept after the payload).
bool readHeader(const DurableFile& file, std::uint64_t offset, std::uint64_t fileSize, std::uint64_t magic,
                std::vector<unsigned char>& header, std::uint64_t& payloadStart)
{
    std::uint64_t prefix[2];
    if (offset + sizeof prefix > fileSize || !file.readAt(offset, prefix, sizeof prefix) || prefix[0] != magic
        || prefix[1] > kMaxHeader || offset + sizeof prefix + prefix[1] > fileSize)
        return false;
    header.resize(static_cast<std::size_t>(prefix[1]));
    if (!file.readAt(offset + sizeof prefix, header.data(), header.size()))
        return false;
    payloadStart = offset + sizeof prefix + prefix[1];
    return true;
}

// The trailer after a payload of size bytes: header hash, payload hash, end mark.
// The payload is hashed in two pieces (a record's old frames, then its new ones), each from its start.
bool checkTrailer(const DurableFile& file, std::uint64_t payloadStart, std::uint64_t size, std::uint64_t fileSize,
                  const std::vector<unsigned char>& header, std::vector<unsigned char>& buffer, std::uint64_t firstPiece)
{
    std::uint64_t trailer[3];
    const std::uint64_t at = payloadStart + size;
    if (at + sizeof trailer > fileSize || !file.readAt(at, trailer, sizeof trailer) || trailer[2] != kEndMagic)
        return false;
    if (trailer[0] != hashBytes(kHashSeed, header.data(), header.size()))
        return false;
    std::uint64_t h = kHashSeed;
    return hashFile(file, payloadStart, firstPiece, h, buffer) && hashFile(file, payloadStart + firstPiece, size - firstPiece, h, buffer)
           && h == trailer[1];
}

bool loadFolder(const std::string& folder, Loaded& out, std::string* problem)
{
    int generation = 0, saved = -1;
    if (!readInfo(folder, generation, saved)) {
        *problem = "";  // nothing was ever written: nothing to recover
        return false;
    }
    out.generation = generation;
    out.savedState = saved;
    std::vector<unsigned char> header, buffer;
    auto base = DurableFile::open(folder + baseName(generation), DurableFile::Mode::Read);
    if (!base) {
        *problem = "最初の状態がありません";
        return false;
    }
    const std::uint64_t baseFileSize = base->size();
    std::uint64_t payload = 0;
    if (!readHeader(*base, 0, baseFileSize, kBaseMagic, header, payload)) {
        *problem = "最初の状態が壊れています";
        return false;
    }
    SoundDocument meta;
    In in(header.data(), header.size());
    out.firstState = in.get<std::int32_t>();
    out.origin = static_cast<HistoryOrigin>(in.get<std::int32_t>());
    out.originTime = in.get<std::int64_t>();
    getMeta(in, meta);
    out.align = meta.format.nBlockAlign;
    out.baseFrames = meta.frameCount;
    out.baseHeader = 16;
    out.baseHeaderSize = header.size();
    out.baseSize = baseFileSize;
    const std::uint64_t baseBytes = static_cast<std::uint64_t>(std::max(meta.frameCount, 0)) * out.align;
    if (!in.ok || out.align == 0 || meta.frameCount < 0 || out.firstState < 0
        || !checkTrailer(*base, payload, baseBytes, baseFileSize, header, buffer, baseBytes)) {
        *problem = "最初の状態が壊れています";
        return false;
    }
    auto log = DurableFile::open(folder + logName(generation), DurableFile::Mode::Read);
    if (!log)
        return true;  // no change was completed
    const std::uint64_t logFileSize = log->size();
    std::uint64_t offset = 0;
    std::int64_t frames = out.baseFrames;
    while (offset < logFileSize) {
        if (!readHeader(*log, offset, logFileSize, kRecordMagic, header, payload))
            break;
        In r(header.data(), header.size());
        HistoryEntry e;
        e.offset = offset;
        e.payload = payload;
        e.index = static_cast<int>(r.get<std::uint32_t>());
        e.time = r.get<std::int64_t>();
        e.start = r.get<std::int32_t>();
        e.oldCount = r.get<std::int32_t>();
        e.newCount = r.get<std::int32_t>();
        const auto align = r.get<std::uint16_t>();
        e.note.commandId = r.get<std::int32_t>();
        e.note.name = r.getString();
        e.note.target = r.get<std::int32_t>();
        e.note.slot = r.get<std::int32_t>();
        e.note.targetFirst = r.get<std::int32_t>();
        e.note.targetLast = r.get<std::int32_t>();
        SoundDocument after;
        getMeta(r, after);
        const int expected = out.firstState + static_cast<int>(out.entries.size()) + 1;
        if (!r.ok || align != out.align || e.index != expected || e.start < 0 || e.oldCount < 0 || e.newCount < 0
            || e.start + static_cast<std::int64_t>(e.oldCount) > frames
            || frames - e.oldCount + e.newCount != after.frameCount)
            break;
        const std::uint64_t size = (static_cast<std::uint64_t>(e.oldCount) + e.newCount) * out.align;
        if (!checkTrailer(*log, payload, size, logFileSize, header, buffer, static_cast<std::uint64_t>(e.oldCount) * out.align))
            break;
        out.headerOffsets.push_back(offset + 16);
        out.headerSizes.push_back(header.size());
        out.entries.push_back(e);
        out.frames.push_back(after.frameCount);
        frames = after.frameCount;
        offset = payload + size + 24;
    }
    out.logSize = offset;
    return true;
}

// Reads the fields of state k (not its samples) from the folder.
bool readStateMeta(const std::string& folder, const Loaded& l, int k, SoundDocument& out)
{
    std::vector<unsigned char> header;
    if (k == l.firstState) {
        auto base = DurableFile::open(folder + baseName(l.generation), DurableFile::Mode::Read);
        header.resize(static_cast<std::size_t>(l.baseHeaderSize));
        if (!base || !base->readAt(l.baseHeader, header.data(), header.size()))
            return false;
        In in(header.data(), header.size());
        in.get<std::int32_t>();
        in.get<std::int32_t>();
        in.get<std::int64_t>();
        getMeta(in, out);
        return in.ok;
    }
    const std::size_t i = static_cast<std::size_t>(k - l.firstState - 1);
    auto log = DurableFile::open(folder + logName(l.generation), DurableFile::Mode::Read);
    header.resize(static_cast<std::size_t>(l.headerSizes[i]));
    if (!log || !log->readAt(l.headerOffsets[i], header.data(), header.size()))
        return false;
    In in(header.data(), header.size());
    in.get<std::uint32_t>();
    in.get<std::int64_t>();
    for (int n = 0; n < 3; ++n)
        in.get<std::int32_t>();
    in.get<std::uint16_t>();
    in.get<std::int32_t>();
    in.getString();
    for (int n = 0; n < 4; ++n)
        in.get<std::int32_t>();
    getMeta(in, out);
    return in.ok;
}

bool allocateFrames(SampleBuffer& buffer, std::int64_t frames, std::uint16_t align, std::string* error)
{
    const std::uint64_t bytes = static_cast<std::uint64_t>(std::max<std::int64_t>(frames, 0)) * align;
    if (!memoryRoomFor(bytes)) {
        *error = noMemoryReason("the state's sound", bytes);
        return false;
    }
    buffer = SampleBuffer::allocate(static_cast<std::size_t>(bytes));
    if (buffer.isNull()) {
        *error = "メモリがたりません";
        return false;
    }
    return true;
}

// The samples of state k made forward from the first kept state.
bool rebuildForward(const std::string& folder, const Loaded& l, int k, SoundDocument& out, std::string* error)
{
    const std::size_t count = static_cast<std::size_t>(k - l.firstState);
    std::int64_t longest = l.baseFrames;
    for (std::size_t i = 0; i < count; ++i)
        longest = std::max<std::int64_t>(longest, l.frames[i]);
    SampleBuffer buffer;
    if (!allocateFrames(buffer, longest, l.align, error))
        return false;
    auto base = DurableFile::open(folder + baseName(l.generation), DurableFile::Mode::Read);
    auto log = DurableFile::open(folder + logName(l.generation), DurableFile::Mode::Read);
    const std::size_t a = l.align;
    if (!base || !base->readAt(16 + l.baseHeaderSize, buffer.data(), static_cast<std::size_t>(l.baseFrames) * a)
        || (count > 0 && !log)) {
        *error = "履歴を読めません";
        return false;
    }
    std::int64_t frames = l.baseFrames;
    for (std::size_t i = 0; i < count; ++i) {
        const HistoryEntry& e = l.entries[i];
        unsigned char* p = buffer.data();
        const std::size_t tail = static_cast<std::size_t>(frames - e.start - e.oldCount) * a;
        std::memmove(p + (static_cast<std::size_t>(e.start) + e.newCount) * a, p + (static_cast<std::size_t>(e.start) + e.oldCount) * a, tail);
        if (!log->readAt(e.payload + static_cast<std::uint64_t>(e.oldCount) * a, p + static_cast<std::size_t>(e.start) * a,
                         static_cast<std::size_t>(e.newCount) * a)) {
            *error = "履歴を読めません";
            return false;
        }
        frames = l.frames[i];
    }
    if (!readStateMeta(folder, l, k, out)) {
        *error = "履歴を読めません";
        return false;
    }
    buffer.truncate(static_cast<std::size_t>(frames) * a);
    out.samples = std::move(buffer);
    out.summary.clear();
    return true;
}

std::string withSlash(std::string folder)
{
    if (!folder.empty() && folder.back() != '/')
        folder += '/';
    return folder;
}

} // namespace

namespace {

// The first state's file: its header, then the samples, then the hashes of both. Returns its size, or 0
// with *error set (or with nothing set when *stop turned true on the way). With check, quickCheck of the
// samples, a chunk at a time, goes there too.
std::uint64_t writeBaseFile(const std::string& name, const std::string& header, const unsigned char* samples,
                            std::size_t bytes, const std::atomic<bool>* stop, std::string* error,
                            std::uint64_t* check = nullptr)
{
    auto file = DurableFile::open(name, DurableFile::Mode::Create, error);
    if (!file)
        return 0;
    const std::uint64_t prefix[2] = {kBaseMagic, header.size()};
    std::uint64_t at = 0;
    if (!file->writeAt(at, prefix, sizeof prefix, error) || !file->writeAt(at += sizeof prefix, header.data(), header.size(), error))
        return 0;
    at += header.size();
    std::uint64_t hash = kHashSeed;
    for (std::size_t done = 0; done < bytes;) {
        if (stop && stop->load(std::memory_order_relaxed))
            return 0;
        const std::size_t n = std::min(bytes - done, kChunk);
        if (!file->writeAt(at, samples + done, n, error))
            return 0;
        hash = hashBytes(hash, samples + done, n);
        if (check)
            *check = quickCheck(*check, samples + done, n);
        at += n;
        done += n;
    }
    const std::uint64_t trailer[3] = {hashBytes(kHashSeed, reinterpret_cast<const unsigned char*>(header.data()), header.size()),
                                      hash, kEndMagic};
    if (!file->writeAt(at, trailer, sizeof trailer, error) || !file->sync(error))
        return 0;
    return at + sizeof trailer;
}

// Below this the first state is written when the first change comes, as quickly as the change itself.
constexpr std::size_t kBackgroundBaseBytes = std::size_t{8} << 20;

} // namespace

struct EditHistory::Files {
    std::optional<ProcessLock> lock;
    std::optional<DurableFile> log;
    Loaded loaded;  // header positions of the entries
};

// The first state of an opened sound, written on a thread of its own from the moment it was opened, so
// that the first change does not wait seconds for an hour of sound to reach the disk. The sound is read
// where it lies; settle() waits for the thread before anything may change it, and the first change takes
// the file only when the sound before it is what was written (same header, same hash).
struct EditHistory::PendingBase {
    std::thread thread;
    std::atomic<bool> stop{false};
    std::string header;
    std::size_t bytes = 0;
    std::uint64_t size = 0;  // of the file once written, 0 when it was not
    std::uint64_t check = 0; // quickCheck, chunk by chunk, of the samples written

    ~PendingBase() { cancel(); }
    void cancel()
    {
        stop = true;
        wait();
    }
    void wait()
    {
        if (thread.joinable())
            thread.join();
    }
};

EditHistory::EditHistory() : files_(std::make_unique<Files>()) {}
EditHistory::~EditHistory() { pending_.reset(); }

std::unique_ptr<EditHistory> EditHistory::create(const std::string& root, std::string* error)
{
    const std::string base = withSlash(root);
    if (base.empty() || !makeFolders(base)) {
        *error = base + " を作れません";
        return nullptr;
    }
    std::random_device random;
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::string folder = base + std::to_string(::getpid()) + "-" + std::to_string(nowSeconds()) + "-"
                                   + std::to_string(random() % 100000) + "/";
        if (isFolder(folder) || !makeFolders(folder))
            continue;
        auto lock = ProcessLock::tryLock(folder + "lock");
        if (!lock)
            continue;
        std::unique_ptr<EditHistory> h(new EditHistory());
        h->folder_ = folder;
        h->files_->lock = std::move(lock);
        syncFolder(base);
        return h;
    }
    *error = base + " に履歴のフォルダを作れません";
    return nullptr;
}

std::unique_ptr<EditHistory> EditHistory::adopt(const std::string& folderIn, std::string* error)
{
    const std::string folder = withSlash(folderIn);
    auto lock = ProcessLock::tryLock(folder + "lock");
    if (!lock) {
        *error = folder + " は使われています";
        return nullptr;
    }
    std::unique_ptr<EditHistory> h(new EditHistory());
    h->folder_ = folder;
    h->files_->lock = std::move(lock);
    Loaded& l = h->files_->loaded;
    if (!loadFolder(folder, l, error)) {
        if (error->empty())
            *error = "復元できる状態がありません";
        return nullptr;
    }
    // A record cut short at the end is dropped, so the next one follows the last whole state.
    auto log = DurableFile::open(folder + logName(l.generation), DurableFile::Mode::ReadWrite);
    if (!log)
        log = DurableFile::open(folder + logName(l.generation), DurableFile::Mode::Create);
    if (!log || !log->truncate(l.logSize)) {
        *error = folder + " に書けません";
        return nullptr;
    }
    h->files_->log = std::move(log);
    h->active_ = true;
    h->baseWritten_ = true;
    h->origin_ = l.origin;
    h->originTime_ = l.originTime;
    h->savedState_ = l.savedState;
    h->firstState_ = l.firstState;
    h->generation_ = l.generation;
    h->entries_ = l.entries;
    h->logSize_ = l.logSize;
    h->baseSize_ = l.baseSize;
    h->measureAutoLimit();
    return h;
}

void EditHistory::measureAutoLimit()
{
    if (autoLimit_ != 0)
        return;
    const auto free = freeSpaceAt(folder_);
    autoLimit_ = free ? std::min(kDefaultLimit, (*free + baseSize_) / 4) : kDefaultLimit;
}

void EditHistory::clearFiles()
{
    pending_.reset();
    files_->log.reset();
    files_->loaded = Loaded{};
    for (const std::string& name : folderEntries(folder_))
        if (name != "lock")
            ::unlink((folder_ + name).c_str());
    syncFolder(folder_);
    entries_.clear();
    logSize_ = 0;
    baseSize_ = 0;
    baseWritten_ = false;
    firstState_ = 0;
    generation_ = 0;
}

void EditHistory::removeFolder()
{
    clearFiles();
    active_ = false;
    removeFlatFolder(folder_);
    files_->lock.reset();
}

void EditHistory::begin(const SoundDocument& doc, HistoryOrigin origin)
{
    clearFiles();
    partnerIsPrevious_ = false;
    failure_.clear();
    active_ = doc.hasData();
    origin_ = origin;
    originTime_ = nowSeconds();
    savedState_ = doc.modified ? -1 : 0;
    // A sound that is on no disk (a recording) is kept at once; an opened file only once it changes, but
    // a long one is written meanwhile.
    if (active_ && doc.modified) {
        writeBase(doc);
    } else if (active_ && doc.byteCount() >= kBackgroundBaseBytes && doc.samples.size() >= doc.byteCount()) {
        auto pending = std::make_unique<PendingBase>();
        PendingBase* p = pending.get();
        p->header = baseHeader(doc);
        p->bytes = doc.byteCount();
        const unsigned char* samples = doc.samples.data();
        const std::string name = folder_ + baseName(generation_);
        try {
            // A failure here only means the first change writes the file itself, and says why if it fails too.
            p->thread = std::thread([p, samples, name] {
                std::string error;
                p->size = writeBaseFile(name, p->header, samples, p->bytes, &p->stop, &error, &p->check);
            });
            pending_ = std::move(pending);
        } catch (const std::system_error&) {
            // No thread to be had: the first change writes it, as for a short sound.
        }
    }
}

void EditHistory::settle()
{
    if (pending_)
        pending_->wait();
}

std::string EditHistory::baseHeader(const SoundDocument& doc) const
{
    Out header;
    header.put<std::int32_t>(firstState_);
    header.put<std::int32_t>(static_cast<std::int32_t>(origin_));
    header.put<std::int64_t>(originTime_);
    putMeta(header, doc);
    return header.s;
}

void EditHistory::end()
{
    clearFiles();
    partnerIsPrevious_ = false;
    active_ = false;
}

bool EditHistory::takePendingBase(const SoundDocument& before)
{
    if (!pending_)
        return false;
    settle();
    const std::unique_ptr<PendingBase> p = std::move(pending_);
    // Anything else (the writing failed, or the sound changed in some way that did not settle first) is
    // written again from the sound before the change.
    if (p->size == 0 || p->bytes != before.byteCount() || before.samples.size() < p->bytes || p->header != baseHeader(before))
        return false;
    std::uint64_t check = 0;
    for (std::size_t done = 0; done < p->bytes; done += kChunk)
        check = quickCheck(check, before.samples.data() + done, std::min(kChunk, p->bytes - done));
    if (check != p->check)
        return false;
    return baseWritten(before, p->header.size(), p->size, true);
}

bool EditHistory::fail(const std::string& why)
{
    if (failure_.empty())
        failure_ = why;
    return false;
}

bool EditHistory::writeInfo()
{
    const std::string text = "sonavik2 history\ngeneration " + std::to_string(generation_) + "\nsaved "
                             + std::to_string(savedState_) + "\n";
    std::string error;
    if (!replaceFileDurably(folder_ + "info", text, &error))
        return fail(error);
    return true;
}

bool EditHistory::writeBase(const SoundDocument& doc, bool commit)
{
    pending_.reset();
    const std::string header = baseHeader(doc);
    std::string error;
    const std::uint64_t size =
        writeBaseFile(folder_ + baseName(generation_), header, doc.samples.data(), doc.byteCount(), nullptr, &error);
    if (size == 0)
        return fail(error);
    return baseWritten(doc, header.size(), size, commit);
}

// The first state written: the history from here on refers to it.
bool EditHistory::baseWritten(const SoundDocument& doc, std::size_t headerSize, std::uint64_t size, bool commit)
{
    std::string error;
    baseSize_ = size;
    auto log = DurableFile::open(folder_ + logName(generation_), DurableFile::Mode::Create, &error);
    if (!log || !log->sync(&error))
        return fail(error);
    files_->log = std::move(log);
    Loaded& l = files_->loaded;
    l = Loaded{};
    l.generation = generation_;
    l.firstState = firstState_;
    l.align = doc.format.nBlockAlign;
    l.baseFrames = doc.frameCount;
    l.baseHeader = 2 * sizeof(std::uint64_t);
    l.baseHeaderSize = headerSize;
    l.baseSize = baseSize_;
    baseWritten_ = true;
    measureAutoLimit();
    return !commit || writeInfo();
}

namespace {

std::size_t firstDifference(const unsigned char* a, const unsigned char* b, std::size_t n)
{
    std::size_t i = 0;
    constexpr std::size_t kStep = 4096;
    while (i + kStep <= n && std::memcmp(a + i, b + i, kStep) == 0)
        i += kStep;
    while (i < n && a[i] == b[i])
        ++i;
    return i;
}

// Equal bytes at the ends of [a, a + n) and [b, b + n).
std::size_t commonTail(const unsigned char* a, const unsigned char* b, std::size_t n)
{
    std::size_t i = 0;
    constexpr std::size_t kStep = 4096;
    while (i + kStep <= n && std::memcmp(a + n - i - kStep, b + n - i - kStep, kStep) == 0)
        i += kStep;
    while (i < n && a[n - 1 - i] == b[n - 1 - i])
        ++i;
    return i;
}

} // namespace

bool EditHistory::recordChange(const SoundDocument& before, const SoundDocument& after, const ChangeNote& note)
{
    dropped_ = 0;
    if (!active_ || failed())
        return !failed();
    if (!before.hasData() || !after.hasData() || before.byteCount() > before.samples.size()
        || after.byteCount() > after.samples.size())
        return true;
    if (!baseWritten_ && !takePendingBase(before) && !writeBase(before))
        return false;
    const Loaded& l = files_->loaded;
    const std::size_t a = l.align;
    if (before.format.nBlockAlign != a || after.format.nBlockAlign != a) {
        // Another kind of sound altogether: its history starts over.
        begin(after, HistoryOrigin::Opened);
        return true;
    }
    const std::int64_t framesBefore = before.frameCount;
    const std::int64_t framesAfter = after.frameCount;
    // Frames [lo, hiBefore) of before became [lo, hiAfter) of after.
    std::int64_t lo = 0;
    std::int64_t hiBefore = framesBefore;
    std::int64_t hiAfter = framesAfter;
    const unsigned char* pb = before.samples.data();
    const unsigned char* pa = after.samples.data();
    if (note.hintFirst >= 0 && framesBefore == framesAfter) {
        lo = std::clamp<std::int64_t>(note.hintFirst, 0, framesBefore);
        hiBefore = hiAfter = std::clamp<std::int64_t>(note.hintLast + 1, lo, framesBefore);
    }
    {
        const std::size_t span = static_cast<std::size_t>(std::min(hiBefore, hiAfter) - lo) * a;
        lo += static_cast<std::int64_t>(firstDifference(pb + lo * a, pa + lo * a, span) / a);
        const std::size_t rest = static_cast<std::size_t>(std::min(hiBefore, hiAfter) - lo) * a;
        const std::int64_t tail = static_cast<std::int64_t>(commonTail(pb + hiBefore * a - rest, pa + hiAfter * a - rest, rest) / a);
        hiBefore -= tail;
        hiAfter -= tail;
    }
    HistoryEntry e;
    e.index = lastState() + 1;
    e.note = note;
    e.time = nowSeconds();
    e.start = static_cast<std::int32_t>(lo);
    e.oldCount = static_cast<std::int32_t>(hiBefore - lo);
    e.newCount = static_cast<std::int32_t>(hiAfter - lo);

    Out header;
    header.put<std::uint32_t>(static_cast<std::uint32_t>(e.index));
    header.put<std::int64_t>(e.time);
    header.put(e.start);
    header.put(e.oldCount);
    header.put(e.newCount);
    header.put<std::uint16_t>(static_cast<std::uint16_t>(a));
    header.put<std::int32_t>(note.commandId);
    header.putString(note.name);
    header.put<std::int32_t>(note.target);
    header.put<std::int32_t>(note.slot);
    header.put<std::int32_t>(note.targetFirst);
    header.put<std::int32_t>(note.targetLast);
    putMeta(header, after);
    const unsigned char* oldBytes = pb + static_cast<std::size_t>(e.start) * a;
    const unsigned char* newBytes = pa + static_cast<std::size_t>(e.start) * a;
    const std::size_t oldSize = static_cast<std::size_t>(e.oldCount) * a;
    const std::size_t newSize = static_cast<std::size_t>(e.newCount) * a;
    const std::uint64_t prefix[2] = {kRecordMagic, header.s.size()};
    const std::uint64_t trailer[3] = {hashBytes(kHashSeed, reinterpret_cast<const unsigned char*>(header.s.data()), header.s.size()),
                                      hashBytes(hashBytes(kHashSeed, oldBytes, oldSize), newBytes, newSize), kEndMagic};
    DurableFile& log = *files_->log;
    std::string error;
    std::uint64_t at = logSize_;
    e.offset = at;
    e.payload = at + sizeof prefix + header.s.size();
    if (!log.writeAt(at, prefix, sizeof prefix, &error) || !log.writeAt(at += sizeof prefix, header.s.data(), header.s.size(), &error)
        || !log.writeAt(at += header.s.size(), oldBytes, oldSize, &error) || !log.writeAt(at += oldSize, newBytes, newSize, &error)
        || !log.writeAt(at += newSize, trailer, sizeof trailer, &error) || !log.sync(&error)) {
        log.truncate(logSize_);
        return fail(error);
    }
    Loaded& loaded = files_->loaded;
    loaded.entries.push_back(e);
    loaded.frames.push_back(after.frameCount);
    loaded.headerOffsets.push_back(e.offset + sizeof prefix);
    loaded.headerSizes.push_back(header.s.size());
    loaded.logSize = logSize_ = at + sizeof trailer;
    entries_.push_back(e);
    partnerIsPrevious_ = true;
    keepWithinLimit(after);
    return true;
}

void EditHistory::noteSaved(const std::string& path)
{
    path_ = path;
    if (!active_)
        return;
    savedState_ = lastState();
    if (baseWritten_)
        writeInfo();
}

std::uint64_t EditHistory::bytesOnDisk() const { return baseSize_ + logSize_; }

bool EditHistory::rebuildState(const SoundDocument& current, int k, SoundDocument& out, std::string* error) const
{
    const Loaded& l = files_->loaded;
    if (k == lastState()) {
        out = current.copyWithSamples();
        if (out.samples.isNull()) {
            *error = "メモリがたりません";
            return false;
        }
        return true;
    }
    if (!baseWritten_ || k < firstState_ || k > lastState() || current.format.nBlockAlign != l.align
        || current.frameCount != (entries_.empty() ? l.baseFrames : l.frames.back())) {
        *error = "その状態はありません";
        return false;
    }
    const std::size_t a = l.align;
    const std::size_t last = entries_.size();
    const std::size_t stop = static_cast<std::size_t>(k - firstState_);
    std::int64_t longest = current.frameCount;
    for (std::size_t i = stop; i < last; ++i)
        longest = std::max<std::int64_t>(longest, i == 0 ? l.baseFrames : l.frames[i - 1]);
    SampleBuffer buffer;
    if (!allocateFrames(buffer, longest, l.align, error))
        return false;
    std::memcpy(buffer.data(), current.samples.data(), current.byteCount());
    const DurableFile& log = *files_->log;
    std::int64_t frames = current.frameCount;
    // Each change taken back: its new frames give way to the old ones it stored.
    for (std::size_t i = last; i-- > stop;) {
        const HistoryEntry& e = entries_[i];
        unsigned char* p = buffer.data();
        const std::size_t tail = static_cast<std::size_t>(frames - e.start - e.newCount) * a;
        std::memmove(p + (static_cast<std::size_t>(e.start) + e.oldCount) * a, p + (static_cast<std::size_t>(e.start) + e.newCount) * a, tail);
        if (!log.readAt(e.payload, p + static_cast<std::size_t>(e.start) * a, static_cast<std::size_t>(e.oldCount) * a)) {
            *error = "履歴を読めません";
            return false;
        }
        frames = frames - e.newCount + e.oldCount;
    }
    if (!readStateMeta(folder_, l, k, out)) {
        *error = "履歴を読めません";
        return false;
    }
    buffer.truncate(static_cast<std::size_t>(frames) * a);
    out.samples = std::move(buffer);
    out.summary.clear();
    out.leftView = current.leftView;
    out.rightView = current.rightView;
    return true;
}

int EditHistory::applySizeLimit(std::uint64_t bytes, const SoundDocument& current)
{
    sizeLimit_ = bytes;
    dropped_ = 0;
    if (active_ && baseWritten_ && !failed())
        keepWithinLimit(current);
    return dropped_;
}

bool EditHistory::keepWithinLimit(const SoundDocument& current)
{
    const std::uint64_t limit = sizeLimit_ ? sizeLimit_ : autoLimit_;
    if (limit == 0 || bytesOnDisk() <= limit || entries_.size() < 2)
        return true;
    const Loaded& l = files_->loaded;
    // The oldest states go until the rest, with the new first state written in full, fit; under a limit
    // too small for even that, the last change stays (and with it the state before it).
    const std::size_t a = l.align;
    std::size_t drop = 1;
    for (; drop + 1 < entries_.size(); ++drop) {
        const std::uint64_t rest = logSize_ - entries_[drop].offset;
        const std::uint64_t newBase = static_cast<std::uint64_t>(l.frames[drop - 1]) * a + 65536;
        if (rest + newBase <= limit)
            break;
    }
    const int newFirst = firstState_ + static_cast<int>(drop);
    SoundDocument first;
    std::string error;
    if (!rebuildState(current, newFirst, first, &error))
        return false;  // kept as it is: it is only over its size
    const std::string oldFolderBase = folder_ + baseName(generation_);
    const std::string oldLog = folder_ + logName(generation_);
    const std::vector<HistoryEntry> kept(entries_.begin() + static_cast<std::ptrdiff_t>(drop), entries_.end());
    std::optional<DurableFile> oldLogFile = std::move(files_->log);
    Loaded oldLoaded = files_->loaded;
    const std::uint64_t keptFrom = kept.front().offset;
    const std::uint64_t keptSize = logSize_ - keptFrom;
    firstState_ = newFirst;
    ++generation_;
    const std::string failureBefore = failure_;
    if (!writeBase(first, false)) {
        // Go on with the old generation; the new one is not named in info yet.
        --generation_;
        firstState_ -= static_cast<int>(drop);
        files_->log = std::move(oldLogFile);
        files_->loaded = oldLoaded;
        failure_ = failureBefore;
        return false;
    }
    first = SoundDocument{};
    // The kept records move unchanged (their offsets shift), through a fixed buffer.
    std::vector<unsigned char> buffer(kChunk);
    DurableFile& log = *files_->log;
    for (std::uint64_t done = 0; done < keptSize;) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(keptSize - done, kChunk));
        if (!oldLogFile->readAt(keptFrom + done, buffer.data(), n) || !log.writeAt(done, buffer.data(), n, &error))
            return fail(error.empty() ? "履歴を読めません" : error);
        done += n;
    }
    if (!log.sync(&error))
        return fail(error);
    Loaded& nl = files_->loaded;
    for (std::size_t i = drop; i < entries_.size(); ++i) {
        HistoryEntry e = entries_[i];
        e.offset -= keptFrom;
        e.payload -= keptFrom;
        nl.entries.push_back(e);
        nl.frames.push_back(oldLoaded.frames[i]);
        nl.headerOffsets.push_back(oldLoaded.headerOffsets[i] - keptFrom);
        nl.headerSizes.push_back(oldLoaded.headerSizes[i]);
    }
    nl.logSize = logSize_ = keptSize;
    entries_ = nl.entries;
    if (!writeInfo())
        return false;
    oldLogFile.reset();
    ::unlink(oldFolderBase.c_str());
    ::unlink(oldLog.c_str());
    syncFolder(folder_);
    dropped_ = static_cast<int>(drop);
    return true;
}

std::vector<RecoverableSound> findRecoverable(const std::string& rootIn)
{
    std::vector<RecoverableSound> found;
    const std::string root = withSlash(rootIn);
    if (root.empty())
        return found;
    for (const std::string& name : folderEntries(root)) {
        const std::string folder = root + name + "/";
        if (!isFolder(folder))
            continue;
        auto lock = ProcessLock::tryLock(folder + "lock");
        if (!lock)
            continue;  // its program still runs
        RecoverableSound r;
        r.folder = folder;
        Loaded l;
        if (!loadFolder(folder, l, &r.problem)) {
            r.saved = r.problem.empty();  // nothing was ever changed
        } else {
            r.stateCount = static_cast<int>(l.entries.size());
            r.lastState = l.firstState + r.stateCount;
            r.lastChange = l.entries.empty() ? l.originTime : l.entries.back().time;
            r.saved = l.savedState == r.lastState;
            SoundDocument meta;
            if (readStateMeta(folder, l, r.lastState, meta))
                r.path = meta.path;
        }
        found.push_back(r);
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const RecoverableSound& a, const RecoverableSound& b) { return a.lastChange > b.lastChange; });
    return found;
}

bool recoverState(const std::string& folderIn, std::optional<int> k, SoundDocument& out, std::string* error)
{
    const std::string folder = withSlash(folderIn);
    Loaded l;
    if (!loadFolder(folder, l, error)) {
        if (error->empty())
            *error = "復元できる状態がありません";
        return false;
    }
    const int last = l.firstState + static_cast<int>(l.entries.size());
    const int state = k.value_or(last);
    if (state < l.firstState || state > last) {
        *error = "状態 " + std::to_string(state) + " はありません（" + std::to_string(l.firstState) + "〜"
                 + std::to_string(last) + "）";
        return false;
    }
    return rebuildForward(folder, l, state, out, error);
}

bool removeHistoryFolder(const std::string& folderIn)
{
    const std::string folder = withSlash(folderIn);
    auto lock = ProcessLock::tryLock(folder + "lock");
    if (!lock)
        return false;
    return removeFlatFolder(folder);
}

std::string historyRoot()
{
    const std::string state = userStateDir();
    return state.empty() ? state : state + "sessions/";
}

namespace {

void showDropped(Ui& ui, int dropped)
{
    if (dropped > 0)
        ui.setStatusText(0, "履歴が上限を超えたため、古い状態を " + std::to_string(dropped) + " 個消しました");
}

} // namespace

void applyHistoryLimit(Workspace& ws, Ui& ui)
{
    if (ws.history)
        showDropped(ui, ws.history->applySizeLimit(historyLimitBytes(ws.settings), ws.document));
}

bool snapshotForChange(Workspace& ws, Ui& ui)
{
    if (ws.history)
        ws.history->settle();
    return snapshotForEdit(ws.document, ws.undoStore, ui);
}

void noteChange(Workspace& ws, Ui& ui, const ChangeNote& note)
{
    EditHistory* history = ws.history;
    if (!history || !history->active())
        return;
    const bool wasFailed = history->failed();
    history->recordChange(ws.undoStore, ws.document, note);
    if (history->failed() && !wasFailed)
        ui.setStatusText(0, "履歴を保存できません: " + history->failure());
    else
        showDropped(ui, history->droppedByLastChange());
}

void noteUndo(Workspace& ws, Ui& ui)
{
    EditHistory* history = ws.history;
    if (!history)
        return;
    if (history->active() && history->undoPartnerIsPrevious() && ws.document.hasData() && ws.undoStore.hasData()) {
        ChangeNote note;
        note.name = kUndoChangeName;
        noteChange(ws, ui, note);
    } else if (ws.document.hasData()) {
        history->begin(ws.document, HistoryOrigin::Opened);
    } else {
        history->end();
    }
}

std::string goToStateName(int k) { return "状態 " + std::to_string(k) + " に戻す"; }

bool goToState(Workspace& ws, Ui& ui, int k)
{
    EditHistory* history = ws.history;
    if (!history || !history->active() || !ws.document.hasData())
        return false;
    SoundDocument state;
    std::string error;
    if (!history->rebuildState(ws.document, k, state, &error)) {
        ui.setStatusText(0, error);
        return false;
    }
    ws.undoStore = std::move(ws.document);
    ws.document = std::move(state);
    markModified(ws, ui);
    ChangeNote note;
    note.name = goToStateName(k);
    noteChange(ws, ui, note);
    return true;
}

} // namespace sonavik
