#pragma once
// The wave devices on PulseAudio's client library (PipeWire desktops serve the same protocol): the
// server's sinks and sources are the devices, its default sink or source the "audio mapper".
//
// Each device object runs one connection to the server on a thread of its own; the calls below are
// made on the user-interface thread, and every notification is handed to that thread through the
// PostToUi given at construction. The server keeps the sound: playback hands buffers over as the
// server asks for them and ends with the server's drain, so the last frame is heard; recording takes
// whatever the server sends at once into the queued buffers or, while none is queued, into a holding
// queue, so a stall of the program costs nothing. A server that went away is connected to again by the
// next call that needs it.

#include "platform/task_queue.h"
#include "platform/wave_device.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sonavik {

// 0 when a device can carry the format at all (PCM, 8 or 16 bits, 1 or 2 channels, a consistent block
// size, 1 to 384000 frames a second), mm::BadFormat otherwise.
int checkPcmFormat(const WaveDeviceFormat& format);

struct PulseDeviceInfo {
    std::string name;         // the server's name for it ("alsa_output.pci-…", "null")
    std::string description;  // what people read
    bool isDefault = false;
};

struct PulseDeviceLists {
    std::vector<PulseDeviceInfo> sinks;
    std::vector<PulseDeviceInfo> sources;
};

// The server's sinks and sources in its own order, the default ones marked, devices of one description
// numbered ("Null Output (2)"); nothing when no server answers, with notAnswering set when one is there
// but does not answer in time.
std::optional<PulseDeviceLists> listPulseDevices(bool* notAnswering = nullptr);

// The number of the device whose name or description is nameOrDescription in list, or -1.
int pulseDeviceNumber(const std::vector<PulseDeviceInfo>& list, const std::string& nameOrDescription);

class PulseWaveOut : public WaveOut {
public:
    explicit PulseWaveOut(PostToUi post);
    // Disconnects the stream and the server connection and stops the connection's thread.
    ~PulseWaveOut() override;
    PulseWaveOut(const PulseWaveOut&) = delete;
    PulseWaveOut& operator=(const PulseWaveOut&) = delete;

    int deviceCount() override;
    int capabilities(int device, WaveDeviceCaps& caps) override;
    int open(int device, const WaveDeviceFormat& format, WaveDoneCallback onDone, WaveFailedCallback onFailed) override;
    int prepare(WaveBuffer& buffer) override;
    int unprepare(WaveBuffer& buffer) override;
    int write(WaveBuffer& buffer) override;
    int pause() override;
    int restart() override;
    int reset() override;
    int close() override;
    int getVolume(std::uint32_t& volume) override;
    int setVolume(std::uint32_t volume) override;
    int getPitch(std::uint32_t& pitch) override;
    int setPitch(std::uint32_t pitch) override;
    int getPlaybackRate(std::uint32_t& rate) override;
    int setPlaybackRate(std::uint32_t rate) override;
    // The server lets a stream write over what it holds: from a little after the byte it reads now.
    int replaceQueued(std::uint64_t& resumeAt) override;

    bool serverNotAnswering() override;

    // Bytes heard since the device was opened or last reset, by the server's clock (for a play position).
    std::uint64_t playedBytes() const;
    bool isOpen() const;
    // The name of the sink the stream plays into now; empty while none.
    std::string sinkName() const;

    struct Impl;

private:
    std::shared_ptr<Impl> impl_;
};

class PulseWaveIn : public WaveIn {
public:
    explicit PulseWaveIn(PostToUi post);
    ~PulseWaveIn() override;
    PulseWaveIn(const PulseWaveIn&) = delete;
    PulseWaveIn& operator=(const PulseWaveIn&) = delete;

    int deviceCount() override;
    int capabilities(int device, WaveDeviceCaps& caps) override;
    int queryFormat(int device, const WaveDeviceFormat& format) override;
    int open(int device, const WaveDeviceFormat& format, WaveDoneCallback onDone, WaveFailedCallback onFailed) override;
    int prepare(WaveBuffer& buffer) override;
    int unprepare(WaveBuffer& buffer) override;
    int addBuffer(WaveBuffer& buffer) override;
    int start() override;
    int reset() override;
    int close() override;
    std::uint64_t lostBytes() const override;
    bool serverNotAnswering() override;

    // What the input holds for a program that does not take its buffers back, from the next open on:
    // bytes (whole frames of them); 0, the default, is a minute of sound and at least 4 MiB.
    void setHeldLimit(std::size_t bytes);

    bool isOpen() const;
    // The name of the source the stream records from now; empty while none.
    std::string sourceName() const;

    struct Impl;

private:
    std::shared_ptr<Impl> impl_;
};

} // namespace sonavik
