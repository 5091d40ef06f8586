#include "pulse/pulse_wave_device.h"

#include "pulse/pulse_connection.h"
#include "pulse/pulse_device_lists.h"
#include "pulse/record_hold.h"

#include <algorithm>
#include <deque>

namespace sonavik {

using namespace pulse;

namespace {

// What recording holds for a program that does not take its buffers back: a minute of sound.
constexpr std::uint64_t kHeldSeconds = 60;

// Whether the server can record format from the device named name, asked by opening a stream for it.
int probeRecording(Connection& c, const std::string& name, const pa_sample_spec& spec)
{
    pa_context* context = c.ready();
    if (!context)
        return mm::NoDriver;
    pa_stream* stream = pa_stream_new(context, kClientName, &spec, nullptr);
    if (!stream)
        return mm::BadFormat;
    pa_stream_set_state_callback(stream, &signalOnState, &c);
    int code = mm::NoError;
    if (pa_stream_connect_record(stream, name.empty() ? nullptr : name.c_str(), nullptr, PA_STREAM_START_CORKED) < 0)
        code = refusalCode(context);
    else if (!c.waitUntil([stream] { return streamSettled(stream); }) || pa_stream_get_state(stream) != PA_STREAM_READY)
        code = refusalCode(context);
    forget(stream);
    return code;
}

} // namespace

struct PulseWaveIn::Impl : DeviceCore {
    using DeviceCore::DeviceCore;

    ~Impl() { stopStream(); }

    struct Slot {
        WaveBuffer* buffer;
        std::size_t capacity;
        std::size_t filled;
    };
    std::deque<Slot> queue;
    // What arrived while no buffer was queued, and what was lost.
    RecordHold hold;
    SourceClockCheck clock;
    // 0: a minute of sound, at least 4 MiB.
    std::size_t heldLimit = 0;

    // When the stream was last read or timed, and whether that paused for long since the last report:
    // the server's queue overflows only then, and an uneven source alone is never taken for a loss.
    pa_usec_t lastRead = 0;
    bool readPaused = false;

    // Lock held, on the connection's thread: a second or more since it last ran for the stream means the
    // whole program (or that thread) was held up.
    void noteRunning()
    {
        const pa_usec_t now = pa_rtclock_now();
        if (lastRead != 0 && now - lastRead > PA_USEC_PER_SEC)
            readPaused = true;
        lastRead = now;
    }

    // Lock held: takes everything the server has sent, then fills the queued buffers from it.
    void take()
    {
        if (!stream)
            return;
        noteRunning();
        hold.takeAll([this](const void*& data, std::size_t& n) { return pa_stream_peek(stream, &data, &n) >= 0; },
                     [this] { pa_stream_drop(stream); });
        fill();
    }

    void fill()
    {
        std::vector<Finished> full;
        while (!queue.empty() && hold.heldBytes() > 0) {
            Slot& s = queue.front();
            s.filled += hold.moveInto(s.buffer->data + s.filled, s.capacity - s.filled);
            if (s.filled < s.capacity)
                break;
            full.push_back({s.buffer, s.filled});
            queue.pop_front();
        }
        deliver(std::move(full));
    }

    int connectStream()
    {
        pa_context* context = connection.ready();
        if (!context)
            return mm::NoDriver;
        if (!newStream(context))
            return mm::BadFormat;
        pa_stream_set_read_callback(stream, &Impl::onReadable, this);
        pa_buffer_attr attr{};
        attr.maxlength = attr.tlength = attr.prebuf = attr.minreq = attr.fragsize = static_cast<std::uint32_t>(-1);
        // Pieces of one buffer at the most: a source that hands out seconds at a time is cut up by the
        // server, not by a buffer that overflows here.
        if (!queue.empty())
            attr.fragsize = static_cast<std::uint32_t>(queue.front().capacity);
        // The server's queue for the stream is left at its largest (maxlength -1): it holds what the
        // source makes while the whole program is stopped. What overflows it is found by the clock check.
        pa_stream_set_latency_update_callback(stream, &Impl::onTiming, this);
        pa_stream_set_suspended_callback(stream, &Impl::onSourceChanged, this);
        pa_stream_set_moved_callback(stream, &Impl::onSourceChanged, this);
        const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_AUTO_TIMING_UPDATE);
        if (pa_stream_connect_record(stream, target.empty() ? nullptr : target.c_str(), &attr, flags) < 0) {
            dropStream();
            return refusalCode(context);
        }
        if (const int code = settle(context); code != mm::NoError)
            return code;
        // The source is uneven by up to a piece of what it hands over; a quarter of a second is allowed
        // besides.
        const pa_buffer_attr* granted = pa_stream_get_buffer_attr(stream);
        const std::uint64_t piece = granted && granted->fragsize != static_cast<std::uint32_t>(-1) ? granted->fragsize : 0;
        const auto perSecond = static_cast<std::uint32_t>(pa_bytes_per_second(&spec));
        clock.reset(perSecond, static_cast<std::uint32_t>(pa_frame_size(&spec)), perSecond / 4 + 2 * piece);
        lastRead = 0;
        readPaused = false;
        return mm::NoError;
    }

    static void onTiming(pa_stream* s, void* self)
    {
        auto* d = static_cast<Impl*>(self);
        if (s != d->stream)
            return;
        const pa_timing_info* t = pa_stream_get_timing_info(s);
        d->noteRunning();
        if (!t || t->write_index_corrupt)
            return;
        const std::int64_t position = t->write_index + static_cast<std::int64_t>(pa_usec_to_bytes(t->source_usec, &d->spec));
        const std::uint64_t lost = d->clock.report(pa_timeval_load(&t->timestamp), position);
        if (lost > 0 && d->readPaused)
            d->hold.countLost(lost);
        d->readPaused = false;
    }

    static void onSourceChanged(pa_stream* s, void* self)
    {
        auto* d = static_cast<Impl*>(self);
        if (s == d->stream)
            d->clock.restart();
    }

    static void onReadable(pa_stream* s, std::size_t, void* self)
    {
        auto* d = static_cast<Impl*>(self);
        if (s == d->stream)
            d->take();
    }
};

PulseWaveIn::PulseWaveIn(PostToUi post) : impl_(std::make_shared<Impl>(std::move(post))) { impl_->self = impl_; }

PulseWaveIn::~PulseWaveIn() = default;

int PulseWaveIn::deviceCount() { return impl_->connection.works() ? deviceCountOf(impl_->connection, false) : 0; }

namespace {

// The server's name of the source to record format from, in target, once the server has shown by
// opening a stream for it that it can; the result code otherwise.
int recordableSource(Connection& c, int device, const WaveDeviceFormat& format, std::string& target)
{
    if (const int code = lookUp(c, false, device, format, target); code != mm::NoError)
        return code;
    return probeRecording(c, target, specOf(format));
}

} // namespace

int PulseWaveIn::capabilities(int device, WaveDeviceCaps& caps)
{
    return capabilitiesOf(impl_->connection, false, device, 0, caps);
}

int PulseWaveIn::queryFormat(int device, const WaveDeviceFormat& format)
{
    Impl& d = *impl_;
    if (!d.connection.works())
        return mm::NoDriver;
    CallLock lock(d.connection);
    std::string target;
    return recordableSource(d.connection, device, format, target);
}

int PulseWaveIn::open(int device, const WaveDeviceFormat& format, WaveDoneCallback onDone, WaveFailedCallback onFailed)
{
    Impl& d = *impl_;
    if (d.open)
        return mm::Allocated;
    if (!d.connection.works())
        return mm::NoDriver;
    CallLock lock(d.connection);
    std::string target;
    if (const int code = recordableSource(d.connection, device, format, target); code != mm::NoError)
        return code;
    const pa_sample_spec spec = specOf(format);
    d.spec = spec;
    d.target = target;
    d.queue.clear();
    const std::size_t minute = static_cast<std::size_t>(std::max<std::uint64_t>(kHeldSeconds * pa_bytes_per_second(&spec), std::uint64_t{1} << 22));
    d.hold.reset(pa_frame_size(&spec), d.heldLimit > 0 ? d.heldLimit : minute);
    d.beginOpen(std::move(onDone), std::move(onFailed));
    return mm::NoError;
}

int PulseWaveIn::prepare(WaveBuffer& buffer) { return prepareBuffer(buffer); }

int PulseWaveIn::unprepare(WaveBuffer& buffer) { return unprepareBuffer(buffer); }

int PulseWaveIn::addBuffer(WaveBuffer& buffer)
{
    Impl& d = *impl_;
    if (!d.open)
        return mm::InvalidHandle;
    const std::size_t frame = std::max<std::size_t>(pa_frame_size(&d.spec), 1);
    const std::size_t capacity = buffer.bufferLength - buffer.bufferLength % frame;
    if (capacity == 0 || !buffer.data)
        return mm::InvalidParameter;
    if (const int refused = enterQueue(d.open, buffer); refused != mm::NoError)
        return refused;
    buffer.bytesRecorded = 0;
    CallLock lock(d.connection);
    d.queue.push_back({&buffer, capacity, 0});
    d.fill();
    return mm::NoError;
}

int PulseWaveIn::start()
{
    Impl& d = *impl_;
    if (!d.open)
        return mm::InvalidHandle;
    CallLock lock(d.connection);
    if (d.stream)
        return mm::NoError;
    d.failed = false;
    return d.connectStream();
}

int PulseWaveIn::reset()
{
    Impl& d = *impl_;
    if (!d.open)
        return mm::InvalidHandle;
    CallLock lock(d.connection);
    d.dropStream();
    const std::size_t frame = std::max<std::size_t>(pa_frame_size(&d.spec), 1);
    std::vector<Finished> queued;
    for (const Impl::Slot& s : d.queue)
        queued.push_back({s.buffer, s.filled - s.filled % frame});
    d.queue.clear();
    d.hold.dropHeld();
    d.returnAll(std::move(queued));
    return mm::NoError;
}

int PulseWaveIn::close()
{
    return impl_->close([this] { return !impl_->queue.empty(); });
}

std::uint64_t PulseWaveIn::lostBytes() const
{
    Impl& d = *impl_;
    if (!d.connection.works())
        return 0;
    CallLock lock(d.connection);
    return d.hold.lostBytes();
}

void PulseWaveIn::setHeldLimit(std::size_t bytes)
{
    Impl& d = *impl_;
    CallLock lock(d.connection);
    d.heldLimit = bytes;
}

bool PulseWaveIn::serverNotAnswering() { return impl_->connection.unanswered(); }

bool PulseWaveIn::isOpen() const { return impl_->open; }

std::string PulseWaveIn::sourceName() const { return impl_->deviceName(); }

} // namespace sonavik
