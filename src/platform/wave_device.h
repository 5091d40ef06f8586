#pragma once
// Wave-audio output and input devices as the playback and recording engines use them: open with a PCM
// format, queue caller-owned buffers, get one "done" notification per buffer, in queue order, on the
// user-interface thread. Every call returns a device result code (0 = success); mmErrorText() names it.
// Implementations: PulseAudio's client library in pulse/, a scripted virtual device in the tests.

#include <cstdint>
#include <functional>
#include <string>

namespace sonavik {

// Device result codes: 0 to 20 general, 32 to 35 wave-specific.
namespace mm {
inline constexpr int NoError = 0;
inline constexpr int Error = 1;
inline constexpr int BadDeviceId = 2;
inline constexpr int NotEnabled = 3;
inline constexpr int Allocated = 4;
inline constexpr int InvalidHandle = 5;
inline constexpr int NoDriver = 6;
inline constexpr int NoMemory = 7;
inline constexpr int NotSupported = 8;
inline constexpr int BadErrorNumber = 9;
inline constexpr int InvalidFlag = 10;
inline constexpr int InvalidParameter = 11;
inline constexpr int HandleBusy = 12;
inline constexpr int InvalidAlias = 13;
inline constexpr int BadDatabase = 14;
inline constexpr int KeyNotFound = 15;
inline constexpr int ReadError = 16;
inline constexpr int WriteError = 17;
inline constexpr int DeleteError = 18;
inline constexpr int ValueNotFound = 19;
inline constexpr int NoDriverCallback = 20;
inline constexpr int BadFormat = 32;
inline constexpr int StillPlaying = 33;
inline constexpr int Unprepared = 34;
inline constexpr int Synchronous = 35;
} // namespace mm

// The text shown for a result code; unknown codes give "その他のエラー ( N )".
std::string mmErrorText(int code);

// Shown instead of "no device" when the sound server is there but did not answer in time.
inline constexpr const char* kServerNotAnsweringText = "サウンドサーバーが応答しません";

// Device number of the system's default device (the "audio mapper").
inline constexpr int kWaveMapper = -1;

// Capability bits of an output device.
inline constexpr std::uint32_t kCapsPitch = 1;
inline constexpr std::uint32_t kCapsPlaybackRate = 2;
inline constexpr std::uint32_t kCapsVolume = 4;
inline constexpr std::uint32_t kCapsLrVolume = 8;

struct WaveDeviceCaps {
    std::string name;          // UTF-8, as the device reports it
    std::uint32_t support = 0; // kCaps* bits; always 0 for input devices
};

// PCM only: 8-bit unsigned or 16-bit signed little-endian, interleaved, 1 or 2 channels, any rate.
struct WaveDeviceFormat {
    std::uint16_t formatTag = 1;
    std::uint16_t channels = 0;
    std::uint32_t samplesPerSec = 0;
    std::uint32_t avgBytesPerSec = 0;
    std::uint16_t blockAlign = 0;
    std::uint16_t bitsPerSample = 0;
};

// One buffer handed to a device. The caller owns the bytes and must keep the buffer in place from
// write/addBuffer until its done notification (or reset) has returned it.
struct WaveBuffer {
    unsigned char* data = nullptr;
    // Output: the bytes to play. Input: the capacity to fill.
    std::uint32_t bufferLength = 0;
    // Input: the bytes the device filled, set before the done notification.
    std::uint32_t bytesRecorded = 0;
    bool prepared = false;  // set by prepare(), cleared by unprepare()
    bool inQueue = false;   // true from write/addBuffer until the device is done with it
    bool done = false;      // set when the device is done with it (played, filled, or returned by reset)
    int user = 0;           // free for the caller (the engines keep the ring slot here)
};

// Called on the user-interface thread, once per queued buffer, in queue order. The owner may refill and
// queue the buffer again, or reset and close the device, from inside the call.
using WaveDoneCallback = std::function<void(WaveBuffer* buffer)>;
// Called on the user-interface thread when an open device stops working (unplugged, sound server gone),
// with the result code to report. No done notifications follow; the owner still calls reset() and close().
using WaveFailedCallback = std::function<void(int code)>;

// An output device system; at most one device is open per object.
class WaveOut {
public:
    virtual ~WaveOut() = default;
    virtual int deviceCount() = 0;
    // device 0 .. deviceCount()-1, or kWaveMapper.
    virtual int capabilities(int device, WaveDeviceCaps& caps) = 0;
    // Opens device (or kWaveMapper) for format; mm::BadFormat when the device cannot play it,
    // mm::Allocated while a device is already open.
    virtual int open(int device, const WaveDeviceFormat& format, WaveDoneCallback onDone, WaveFailedCallback onFailed) = 0;
    // Preparing a prepared buffer is harmless.
    virtual int prepare(WaveBuffer& buffer) = 0;
    virtual int unprepare(WaveBuffer& buffer) = 0;  // mm::StillPlaying while it is queued
    // Queues a prepared buffer (mm::Unprepared otherwise); buffers play in the order written.
    virtual int write(WaveBuffer& buffer) = 0;
    // While paused, written buffers wait; restart() plays them.
    virtual int pause() = 0;
    virtual int restart() = 0;
    // Stops at once and returns every queued buffer as done (their notifications still follow unless the
    // device is closed first).
    virtual int reset() = 0;
    // mm::StillPlaying while buffers are queued. After close() no notification of that open arrives.
    virtual int close() = 0;
    // Volume: low 16 bits left (or mono), high 16 bits right. Pitch and rate: 16.16 fixed-point factors.
    // mm::NotSupported where the device lacks the capability.
    virtual int getVolume(std::uint32_t& volume) = 0;
    virtual int setVolume(std::uint32_t volume) = 0;
    virtual int getPitch(std::uint32_t& pitch) = 0;
    virtual int setPitch(std::uint32_t pitch) = 0;
    virtual int getPlaybackRate(std::uint32_t& rate) = 0;
    virtual int setPlaybackRate(std::uint32_t rate) = 0;
    // Sound queued but not yet played is to be replaced: every buffer still queued comes back as done
    // (as after reset(), but playback goes on), resumeAt is the byte of the stream, counted from the
    // open, that the device plays up to, and the next write() lands there. mm::NotSupported where the
    // device cannot; nothing changes then.
    virtual int replaceQueued(std::uint64_t& resumeAt)
    {
        resumeAt = 0;
        return mm::NotSupported;
    }
    // Whether the last call failed because the sound server is there but did not answer in time.
    virtual bool serverNotAnswering() { return false; }
};

// An input device system; at most one device is open per object.
class WaveIn {
public:
    virtual ~WaveIn() = default;
    virtual int deviceCount() = 0;
    virtual int capabilities(int device, WaveDeviceCaps& caps) = 0;
    // Whether device (or kWaveMapper) can record format, without opening it: 0 or mm::BadFormat.
    virtual int queryFormat(int device, const WaveDeviceFormat& format) = 0;
    virtual int open(int device, const WaveDeviceFormat& format, WaveDoneCallback onDone, WaveFailedCallback onFailed) = 0;
    virtual int prepare(WaveBuffer& buffer) = 0;
    virtual int unprepare(WaveBuffer& buffer) = 0;
    // Queues a prepared buffer to be filled; buffers fill in the order added.
    virtual int addBuffer(WaveBuffer& buffer) = 0;
    virtual int start() = 0;
    // Stops and returns every queued buffer as done, partly filled ones with their bytesRecorded.
    virtual int reset() = 0;
    virtual int close() = 0;
    // Bytes the source delivered since open() that could not be kept (the program stalled for longer
    // than the device holds sound, or the server itself dropped some); 0 for a device that loses nothing.
    virtual std::uint64_t lostBytes() const { return 0; }
    // Whether the last call failed because the sound server is there but did not answer in time.
    virtual bool serverNotAnswering() { return false; }
};

} // namespace sonavik
