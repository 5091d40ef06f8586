#include "pulse/pulse_wave_device.h"

#include "pulse/pulse_connection.h"
#include "pulse/pulse_device_lists.h"

#include <algorithm>
#include <cmath>
#include <deque>

namespace sonavik {

using namespace pulse;

namespace {

pa_volume_t paVolume(std::uint32_t word)
{
    const std::uint32_t v = word & 0xFFFFu;
    return v >= 0xFFFFu ? PA_VOLUME_NORM : pa_sw_volume_from_linear(v / 65535.0);
}

} // namespace

struct PulseWaveOut::Impl : DeviceCore {
    using DeviceCore::DeviceCore;

    ~Impl() { stopStream(); }

    struct Entry {
        WaveBuffer* buffer;
        const unsigned char* data;
        std::size_t length;
        std::size_t written;
    };
    std::deque<Entry> queue;
    bool paused = false;
    bool corked = true;
    // The stream's target length has been set to the ring that was queued when it first played.
    bool tuned = false;
    bool draining = false;
    bool drained = false;
    bool variableRate = false;
    std::uint64_t writtenBytes = 0;
    // The next write goes to this byte of the stream instead of after the last one.
    bool seekPending = false;
    std::int64_t seekTo = 0;
    std::uint32_t volume = 0xFFFFFFFFu;
    bool volumeSet = false;
    std::uint32_t rate = 0x10000;

    std::uint32_t rateHz() const
    {
        return static_cast<std::uint32_t>(std::llround(static_cast<double>(spec.rate) * rate / 65536.0));
    }

    // Lock held. Connects the stream, corked, and waits until the server has it.
    int connectStream()
    {
        pa_context* context = connection.ready();
        if (!context)
            return mm::NoDriver;
        if (!newStream(context))
            return mm::BadFormat;
        pa_stream_set_write_callback(stream, &Impl::onWritable, this);
        pa_buffer_attr attr{};
        attr.maxlength = attr.tlength = attr.prebuf = attr.minreq = attr.fragsize = static_cast<std::uint32_t>(-1);
        // A variable rate puts a resampler in the way even at the device's own rate: only when asked for.
        variableRate = rate != 0x10000;
        auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_START_CORKED | PA_STREAM_INTERPOLATE_TIMING |
                                                    PA_STREAM_AUTO_TIMING_UPDATE | (variableRate ? PA_STREAM_VARIABLE_RATE : 0));
        pa_cvolume volumes;
        if (volumeSet)
            fillVolumes(volumes);
        if (pa_stream_connect_playback(stream, target.empty() ? nullptr : target.c_str(), &attr, flags,
                                       volumeSet ? &volumes : nullptr, nullptr) < 0) {
            dropStream();
            return refusalCode(context);
        }
        if (const int code = settle(context); code != mm::NoError)
            return code;
        corked = true;
        tuned = false;
        draining = drained = false;
        writtenBytes = 0;
        seekPending = false;
        if (variableRate)
            pa_operation_unref(pa_stream_update_sample_rate(stream, rateHz(), nullptr, nullptr));
        return mm::NoError;
    }

    void fillVolumes(pa_cvolume& volumes) const
    {
        pa_cvolume_init(&volumes);
        volumes.channels = spec.channels;
        volumes.values[0] = paVolume(volume);
        if (spec.channels == 2)
            volumes.values[1] = paVolume(volume >> 16);
    }

    // Lock held: plays what is queued, connecting again after a reset and setting the target length to
    // what is queued the first time.
    void run()
    {
        if (failed)
            return;
        if (!stream || (variableRate != (rate != 0x10000) && writtenBytes == 0)) {
            if (connectStream() != mm::NoError) {
                lost();
                return;
            }
        }
        if (!tuned) {
            std::size_t queued = 0;
            for (const Entry& e : queue)
                queued += e.length - e.written;
            if (queued > 0) {
                // The server keeps the whole ring: that much is ahead of what is heard, and a stall of the
                // program shorter than the ring leaves no gap.
                pa_buffer_attr attr{};
                attr.maxlength = attr.prebuf = attr.minreq = attr.fragsize = static_cast<std::uint32_t>(-1);
                attr.tlength = static_cast<std::uint32_t>(std::min<std::size_t>(queued, 0x7FFFFFFF));
                if (pa_operation* o = pa_stream_set_buffer_attr(stream, &attr, nullptr, nullptr))
                    pa_operation_unref(o);
                tuned = true;
            }
        }
        if (corked) {
            if (pa_operation* o = pa_stream_cork(stream, 0, nullptr, nullptr))
                pa_operation_unref(o);
            corked = false;
        }
        pump();
    }

    // Lock held: hands the server as much as it asks for, in queue order, then finishes what is done.
    void pump()
    {
        if (!stream || corked || failed || pa_stream_get_state(stream) != PA_STREAM_READY)
            return;
        std::size_t room = pa_stream_writable_size(stream);
        if (room == static_cast<std::size_t>(-1))
            room = 0;
        const std::size_t frame = pa_frame_size(&spec);
        for (Entry& e : queue) {
            // Only whole frames are played; a part-frame at the end of a buffer is left out.
            const std::size_t rest = e.length - e.written;
            const std::size_t whole = rest - rest % frame;
            if (whole == 0) {
                e.written = e.length;
                continue;
            }
            std::size_t n = std::min(room, whole);
            n -= n % frame;
            if (n == 0)
                break;
            if (pa_stream_write(stream, e.data + e.written, n, nullptr, seekPending ? seekTo : 0,
                                seekPending ? PA_SEEK_ABSOLUTE : PA_SEEK_RELATIVE) < 0) {
                lost();
                return;
            }
            seekPending = false;
            e.written += n;
            writtenBytes += n;
            room -= n;
            if (n < whole)
                break;
            e.written = e.length;
        }
        finishEntries();
    }

    // Lock held. A buffer is done once the server holds all of it; an empty buffer, which ends a
    // playback, once the server has played everything before it to the end.
    void finishEntries()
    {
        std::vector<Finished> finished;
        while (!queue.empty()) {
            const Entry& e = queue.front();
            if (e.length > 0) {
                if (e.written < e.length)
                    break;
            } else if (drained) {
                drained = false;
            } else {
                if (!draining && !corked && stream && pa_stream_get_state(stream) == PA_STREAM_READY) {
                    draining = true;
                    if (pa_operation* o = pa_stream_drain(stream, &Impl::onDrained, this))
                        pa_operation_unref(o);
                    else
                        draining = false;
                }
                break;
            }
            finished.push_back({e.buffer, 0});
            queue.pop_front();
        }
        deliver(std::move(finished));
    }

    // Lock held: every buffer not yet done comes back, as reset() and replaceQueued() promise.
    void returnQueue()
    {
        std::vector<Finished> queued;
        for (const Entry& e : queue)
            queued.push_back({e.buffer, 0});
        queue.clear();
        returnAll(std::move(queued));
    }

    static void onWritable(pa_stream* s, std::size_t, void* self)
    {
        auto* d = static_cast<Impl*>(self);
        if (s == d->stream)
            d->pump();
    }

    static void onDrained(pa_stream* s, int success, void* self)
    {
        auto* d = static_cast<Impl*>(self);
        if (s != d->stream || !d->draining)
            return;
        d->draining = false;
        // The server could not play the end (the stream was killed): the sound was not all heard.
        if (!success) {
            d->lost();
            return;
        }
        d->drained = true;
        d->finishEntries();
    }
};

PulseWaveOut::PulseWaveOut(PostToUi post) : impl_(std::make_shared<Impl>(std::move(post))) { impl_->self = impl_; }

PulseWaveOut::~PulseWaveOut() = default;

int PulseWaveOut::deviceCount() { return impl_->connection.works() ? deviceCountOf(impl_->connection, true) : 0; }

int PulseWaveOut::capabilities(int device, WaveDeviceCaps& caps)
{
    // Each channel's volume and the rate are the stream's own; the pitch cannot be changed.
    return capabilitiesOf(impl_->connection, true, device, kCapsVolume | kCapsLrVolume | kCapsPlaybackRate, caps);
}

int PulseWaveOut::open(int device, const WaveDeviceFormat& format, WaveDoneCallback onDone, WaveFailedCallback onFailed)
{
    Impl& d = *impl_;
    if (d.open)
        return mm::Allocated;
    if (!d.connection.works())
        return mm::NoDriver;
    CallLock lock(d.connection);
    std::string target;
    if (const int code = lookUp(d.connection, true, device, format, target); code != mm::NoError)
        return code;
    d.spec = specOf(format);
    d.target = target;
    d.queue.clear();
    d.paused = false;
    d.volumeSet = false;
    d.volume = 0xFFFFFFFFu;
    d.rate = 0x10000;
    if (const int code = d.connectStream(); code != mm::NoError)
        return code;
    d.beginOpen(std::move(onDone), std::move(onFailed));
    return mm::NoError;
}

int PulseWaveOut::prepare(WaveBuffer& buffer) { return prepareBuffer(buffer); }

int PulseWaveOut::unprepare(WaveBuffer& buffer) { return unprepareBuffer(buffer); }

int PulseWaveOut::write(WaveBuffer& buffer)
{
    Impl& d = *impl_;
    if (const int refused = enterQueue(d.open, buffer); refused != mm::NoError)
        return refused;
    CallLock lock(d.connection);
    d.queue.push_back({&buffer, buffer.data, buffer.bufferLength, 0});
    if (!d.paused)
        d.run();
    return mm::NoError;
}

int PulseWaveOut::pause()
{
    Impl& d = *impl_;
    if (!d.open)
        return mm::InvalidHandle;
    CallLock lock(d.connection);
    d.paused = true;
    if (d.stream && !d.corked) {
        if (pa_operation* o = pa_stream_cork(d.stream, 1, nullptr, nullptr))
            pa_operation_unref(o);
        d.corked = true;
    }
    return mm::NoError;
}

int PulseWaveOut::restart()
{
    Impl& d = *impl_;
    if (!d.open)
        return mm::InvalidHandle;
    CallLock lock(d.connection);
    d.paused = false;
    d.run();
    return mm::NoError;
}

int PulseWaveOut::reset()
{
    Impl& d = *impl_;
    if (!d.open)
        return mm::InvalidHandle;
    CallLock lock(d.connection);
    // Stops at once: the server drops what it holds with the stream; the next write connects again.
    d.dropStream();
    d.returnQueue();
    return mm::NoError;
}

int PulseWaveOut::close()
{
    return impl_->close([this] { return !impl_->queue.empty(); });
}

int PulseWaveOut::getVolume(std::uint32_t& volume)
{
    volume = impl_->volume;
    return mm::NoError;
}

int PulseWaveOut::setVolume(std::uint32_t volume)
{
    Impl& d = *impl_;
    if (!d.connection.works())
        return mm::NoDriver;
    CallLock lock(d.connection);
    d.volume = volume;
    d.volumeSet = true;
    if (d.stream && d.streamUp && d.connection.context()) {
        pa_cvolume volumes;
        d.fillVolumes(volumes);
        if (pa_operation* o = pa_context_set_sink_input_volume(d.connection.context(), pa_stream_get_index(d.stream),
                                                              &volumes, nullptr, nullptr))
            pa_operation_unref(o);
    }
    return mm::NoError;
}

int PulseWaveOut::getPitch(std::uint32_t&) { return mm::NotSupported; }
int PulseWaveOut::setPitch(std::uint32_t) { return mm::NotSupported; }

int PulseWaveOut::getPlaybackRate(std::uint32_t& rate)
{
    rate = impl_->rate;
    return mm::NoError;
}

int PulseWaveOut::setPlaybackRate(std::uint32_t rate)
{
    Impl& d = *impl_;
    if (!d.connection.works())
        return mm::NoDriver;
    CallLock lock(d.connection);
    const std::uint32_t before = d.rate;
    d.rate = rate;
    const std::uint32_t hz = d.rateHz();
    if (rate == 0 || hz < 1 || hz > PA_RATE_MAX) {
        d.rate = before;
        return mm::InvalidParameter;
    }
    if (d.stream && d.writtenBytes > 0) {
        // A stream that already plays changes its rate only when it was made for it.
        if (!d.variableRate) {
            d.rate = before;
            return mm::NotSupported;
        }
        if (pa_operation* o = pa_stream_update_sample_rate(d.stream, hz, nullptr, nullptr))
            pa_operation_unref(o);
    }
    // Otherwise the stream is made again, with or without a variable rate, when it starts to play.
    return mm::NoError;
}

int PulseWaveOut::replaceQueued(std::uint64_t& resumeAt)
{
    Impl& d = *impl_;
    resumeAt = 0;
    if (!d.open)
        return mm::InvalidHandle;
    CallLock lock(d.connection);
    if (!d.stream || !d.streamUp || d.failed || d.corked)
        return mm::NotSupported;
    // Where the server reads now, asked afresh: the timing it sends by itself may be a second old.
    struct Asked {
        Connection* connection;
        bool answered;
    } asked{&d.connection, false};
    pa_operation* o = pa_stream_update_timing_info(
        d.stream,
        [](pa_stream*, int, void* a) {
            auto* x = static_cast<Asked*>(a);
            x->answered = true;
            x->connection->signal();
        },
        &asked);
    if (!d.connection.finish(o) || !asked.answered)
        return mm::NotSupported;
    const pa_timing_info* timing = pa_stream_get_timing_info(d.stream);
    if (!timing || timing->read_index_corrupt || timing->read_index < 0)
        return mm::NotSupported;
    // The new sound starts a little after the byte being read, for the time it takes to get there.
    const std::int64_t frame = static_cast<std::int64_t>(pa_frame_size(&d.spec));
    std::int64_t at = timing->read_index + static_cast<std::int64_t>(pa_usec_to_bytes(20 * PA_USEC_PER_MSEC, &d.spec));
    at = std::min<std::int64_t>(at, static_cast<std::int64_t>(d.writtenBytes));
    at -= at % frame;
    d.seekPending = true;
    d.seekTo = at;
    d.writtenBytes = static_cast<std::uint64_t>(at);
    d.returnQueue();
    resumeAt = static_cast<std::uint64_t>(at);
    return mm::NoError;
}

std::uint64_t PulseWaveOut::playedBytes() const
{
    Impl& d = *impl_;
    if (!d.connection.works())
        return 0;
    CallLock lock(d.connection);
    pa_usec_t heard = 0;
    if (!d.stream || pa_stream_get_state(d.stream) != PA_STREAM_READY || pa_stream_get_time(d.stream, &heard) < 0)
        return 0;
    return std::min<std::uint64_t>(pa_usec_to_bytes(heard, &d.spec), d.writtenBytes);
}

bool PulseWaveOut::serverNotAnswering() { return impl_->connection.unanswered(); }

bool PulseWaveOut::isOpen() const { return impl_->open; }

std::string PulseWaveOut::sinkName() const { return impl_->deviceName(); }

} // namespace sonavik
