#pragma once
// Wave devices for tests: nothing happens until the test says so. completeNext() finishes the oldest
// queued buffer and delivers its done notification at once, as the user-interface thread would.
// Any call can be made to fail with a chosen code, a format can be refused, there can be no devices,
// and an open device can disappear.

#include "platform/wave_device.h"

#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace sonavik::test {

class VirtualWaveBase {
public:
    int devices = 1;
    bool mapperAvailable = true;
    std::uint32_t support = kCapsVolume;
    // Formats the device accepts; the default takes any 8- or 16-bit PCM of 1 or 2 channels.
    std::function<bool(const WaveDeviceFormat&)> accepts = [](const WaveDeviceFormat& f) {
        return f.formatTag == 1 && (f.channels == 1 || f.channels == 2) &&
               (f.bitsPerSample == 8 || f.bitsPerSample == 16) && f.samplesPerSec > 0;
    };
    // Call name ("open", "prepare", "write", "addBuffer", "start", "reset", "close", "unprepare", "pause",
    // "restart", "caps", "setVolume", ...) -> the code it returns from now on.
    std::map<std::string, int> failures;
    // Every call by name, in order.
    std::vector<std::string> calls;

    bool isOpen = false;
    int openedDevice = -2;
    WaveDeviceFormat format{};
    std::deque<WaveBuffer*> queue;
    // Buffers returned by reset() whose notifications have not been delivered yet.
    std::deque<WaveBuffer*> returned;
    bool gone = false;

    int deviceCount() { return gone ? 0 : devices; }
    int capabilities(int device, WaveDeviceCaps& caps)
    {
        if (int code = check("caps"))
            return code;
        if (device == kWaveMapper ? !mapperAvailable || devices == 0 : device < 0 || device >= devices)
            return mm::BadDeviceId;
        caps.name = device == kWaveMapper ? "Virtual mapper" : "Virtual " + std::to_string(device);
        caps.support = support;
        return mm::NoError;
    }
    int prepare(WaveBuffer& b)
    {
        if (int code = check("prepare"))
            return code;
        b.prepared = true;
        return mm::NoError;
    }
    int unprepare(WaveBuffer& b)
    {
        if (int code = check("unprepare"))
            return code;
        if (b.inQueue)
            return mm::StillPlaying;
        b.prepared = false;
        return mm::NoError;
    }
    int reset()
    {
        if (int code = check("reset"))
            return code;
        for (WaveBuffer* b : queue) {
            b->inQueue = false;
            b->done = true;
            returned.push_back(b);
        }
        queue.clear();
        running = false;
        return mm::NoError;
    }
    int close()
    {
        if (int code = check("close"))
            return code;
        if (!queue.empty())
            return mm::StillPlaying;
        isOpen = false;
        returned.clear();
        onDone = nullptr;
        onFailed = nullptr;
        return mm::NoError;
    }
    // Delivers the notifications of the buffers reset() returned.
    void deliverReturned()
    {
        while (!returned.empty() && onDone) {
            WaveBuffer* b = returned.front();
            returned.pop_front();
            onDone(b);
        }
    }
    // The device goes away: the failure is reported and every later call answers mm::NoDriver.
    void disappear(int code = mm::NoDriver)
    {
        gone = true;
        if (onFailed)
            onFailed(code);
    }
    int queued() const { return static_cast<int>(queue.size()); }

protected:
    int check(const char* name)
    {
        calls.push_back(name);
        if (gone && std::strcmp(name, "close") != 0 && std::strcmp(name, "reset") != 0 &&
            std::strcmp(name, "unprepare") != 0)
            return mm::NoDriver;
        auto it = failures.find(name);
        return it == failures.end() ? mm::NoError : it->second;
    }
    int openDevice(int device, const WaveDeviceFormat& f, WaveDoneCallback done, WaveFailedCallback failed)
    {
        if (int code = check("open"))
            return code;
        if (isOpen)
            return mm::Allocated;
        if (devices == 0 || (device == kWaveMapper ? !mapperAvailable : device < 0 || device >= devices))
            return mm::BadDeviceId;
        if (!accepts(f))
            return mm::BadFormat;
        isOpen = true;
        openedDevice = device;
        format = f;
        onDone = std::move(done);
        onFailed = std::move(failed);
        return mm::NoError;
    }
    int enqueue(const char* name, WaveBuffer& b)
    {
        if (int code = check(name))
            return code;
        if (!isOpen)
            return mm::InvalidHandle;
        if (!b.prepared)
            return mm::Unprepared;
        b.inQueue = true;
        b.done = false;
        queue.push_back(&b);
        return mm::NoError;
    }
    // Takes the oldest buffer off the queue and tells its owner; false when nothing is queued.
    bool finishFront(const std::function<void(WaveBuffer&)>& work)
    {
        if (queue.empty() || !running)
            return false;
        WaveBuffer* b = queue.front();
        queue.pop_front();
        work(*b);
        b->inQueue = false;
        b->done = true;
        if (onDone)
            onDone(b);
        return true;
    }

    WaveDoneCallback onDone;
    WaveFailedCallback onFailed;
    bool running = false;
};

class VirtualWaveOut : public WaveOut, public VirtualWaveBase {
public:
    // Every byte the device has played, in order.
    std::vector<unsigned char> played;
    std::uint32_t volume = 0x80008000u;
    std::uint32_t pitch = 0x10000;
    std::uint32_t rate = 0x10000;
    bool paused = false;

    VirtualWaveOut() { running = true; }

    int deviceCount() override { return VirtualWaveBase::deviceCount(); }
    int capabilities(int device, WaveDeviceCaps& caps) override { return VirtualWaveBase::capabilities(device, caps); }
    int open(int device, const WaveDeviceFormat& f, WaveDoneCallback done, WaveFailedCallback failed) override
    {
        int code = openDevice(device, f, std::move(done), std::move(failed));
        if (code == mm::NoError) {
            paused = false;
            running = true;
        }
        return code;
    }
    int prepare(WaveBuffer& b) override { return VirtualWaveBase::prepare(b); }
    int unprepare(WaveBuffer& b) override { return VirtualWaveBase::unprepare(b); }
    int write(WaveBuffer& b) override { return enqueue("write", b); }
    int pause() override
    {
        if (int code = check("pause"))
            return code;
        paused = true;
        return mm::NoError;
    }
    int restart() override
    {
        if (int code = check("restart"))
            return code;
        paused = false;
        return mm::NoError;
    }
    int reset() override { return VirtualWaveBase::reset(); }
    int close() override { return VirtualWaveBase::close(); }
    // As a device that plays on up to what it has played so far: every queued buffer comes back.
    int replaceQueued(std::uint64_t& resumeAt) override
    {
        if (!canReplace)
            return WaveOut::replaceQueued(resumeAt);
        resumeAt = played.size();
        for (WaveBuffer* b : queue) {
            b->inQueue = false;
            b->done = true;
            returned.push_back(b);
        }
        queue.clear();
        return mm::NoError;
    }
    bool canReplace = false;
    int getVolume(std::uint32_t& v) override { return get("getVolume", kCapsVolume, volume, v); }
    int setVolume(std::uint32_t v) override { return set("setVolume", kCapsVolume, volume, v); }
    int getPitch(std::uint32_t& v) override { return get("getPitch", kCapsPitch, pitch, v); }
    int setPitch(std::uint32_t v) override { return set("setPitch", kCapsPitch, pitch, v); }
    int getPlaybackRate(std::uint32_t& v) override { return get("getPlaybackRate", kCapsPlaybackRate, rate, v); }
    int setPlaybackRate(std::uint32_t v) override { return set("setPlaybackRate", kCapsPlaybackRate, rate, v); }

    // Plays the oldest queued buffer; false when nothing is queued or the device is paused.
    bool completeNext()
    {
        if (paused)
            return false;
        return finishFront([this](WaveBuffer& b) { played.insert(played.end(), b.data, b.data + b.bufferLength); });
    }
    // Plays buffers until none is queued or limit is reached; returns how many were played.
    int completeAll(int limit = 10000)
    {
        int n = 0;
        while (n < limit && completeNext())
            ++n;
        return n;
    }

private:
    int get(const char* name, std::uint32_t bit, std::uint32_t value, std::uint32_t& out)
    {
        if (int code = check(name))
            return code;
        if (!(support & bit))
            return mm::NotSupported;
        out = value;
        return mm::NoError;
    }
    int set(const char* name, std::uint32_t bit, std::uint32_t& value, std::uint32_t v)
    {
        if (int code = check(name))
            return code;
        if (!(support & bit))
            return mm::NotSupported;
        value = v;
        return mm::NoError;
    }
};

class VirtualWaveIn : public WaveIn, public VirtualWaveBase {
public:
    // The sound the device hears: called with (buffer, capacity) and returns the bytes it filled.
    std::function<std::uint32_t(unsigned char*, std::uint32_t)> source = [](unsigned char* p, std::uint32_t n) {
        std::memset(p, 0, n);
        return n;
    };

    int deviceCount() override { return VirtualWaveBase::deviceCount(); }
    int capabilities(int device, WaveDeviceCaps& caps) override
    {
        int code = VirtualWaveBase::capabilities(device, caps);
        caps.support = 0;
        return code;
    }
    int queryFormat(int device, const WaveDeviceFormat& f) override
    {
        if (int code = check("queryFormat"))
            return code;
        if (devices == 0 || (device == kWaveMapper ? !mapperAvailable : device < 0 || device >= devices))
            return mm::BadDeviceId;
        return accepts(f) ? mm::NoError : mm::BadFormat;
    }
    int open(int device, const WaveDeviceFormat& f, WaveDoneCallback done, WaveFailedCallback failed) override
    {
        int code = openDevice(device, f, std::move(done), std::move(failed));
        if (code == mm::NoError)
            running = false;
        return code;
    }
    int prepare(WaveBuffer& b) override { return VirtualWaveBase::prepare(b); }
    int unprepare(WaveBuffer& b) override { return VirtualWaveBase::unprepare(b); }
    int addBuffer(WaveBuffer& b) override { return enqueue("addBuffer", b); }
    int start() override
    {
        if (int code = check("start"))
            return code;
        if (!isOpen)
            return mm::InvalidHandle;
        running = true;
        return mm::NoError;
    }
    int reset() override { return VirtualWaveBase::reset(); }
    int close() override { return VirtualWaveBase::close(); }
    std::uint64_t lostBytes() const override { return lost; }

    // Bytes the device says it could not keep.
    std::uint64_t lost = 0;

    // Fills the oldest queued buffer from source; false when nothing is queued or the device is stopped.
    bool completeNext()
    {
        return finishFront([this](WaveBuffer& b) { b.bytesRecorded = source(b.data, b.bufferLength); });
    }
};

} // namespace sonavik::test
