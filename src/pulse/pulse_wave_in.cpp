#include "pulse/pulse_wave_device.h"

#include "pulse/pulse_connection.h"
#include "pulse/pulse_device_lists.h"

#include <algorithm>
#include <cstring>
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
    // What arrived while no buffer was queued, in order, from heldFrom on.
    std::vector<unsigned char> held;
    std::size_t heldFrom = 0;
    std::size_t heldLimit = 0;
    std::uint64_t lostBytes = 0;

    // Lock held: takes everything the server has sent, then fills the queued buffers from it.
    void take()
    {
        if (!stream)
            return;
        for (;;) {
            const void* data = nullptr;
            std::size_t n = 0;
            if (pa_stream_peek(stream, &data, &n) < 0 || n == 0)
                break;
            if (data)
                hold(static_cast<const unsigned char*>(data), n);
            else
                lostBytes += n;  // a hole: the server had dropped this much
            pa_stream_drop(stream);
        }
        fill();
    }

    void hold(const unsigned char* data, std::size_t n)
    {
        if (heldFrom > 0 && heldFrom * 2 >= held.size()) {
            held.erase(held.begin(), held.begin() + static_cast<std::ptrdiff_t>(heldFrom));
            heldFrom = 0;
        }
        const std::size_t frame = pa_frame_size(&spec);
        const std::size_t room = heldLimit - std::min(heldLimit, held.size() - heldFrom);
        std::size_t keep = std::min(n, room);
        keep -= keep % frame;
        lostBytes += n - keep;
        held.insert(held.end(), data, data + keep);
    }

    void fill()
    {
        std::vector<Finished> full;
        while (!queue.empty() && heldFrom < held.size()) {
            Slot& s = queue.front();
            const std::size_t n = std::min(s.capacity - s.filled, held.size() - heldFrom);
            std::memcpy(s.buffer->data + s.filled, held.data() + heldFrom, n);
            s.filled += n;
            heldFrom += n;
            if (s.filled < s.capacity)
                break;
            full.push_back({s.buffer, s.filled});
            queue.pop_front();
        }
        if (heldFrom == held.size()) {
            held.clear();
            heldFrom = 0;
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
        if (pa_stream_connect_record(stream, target.empty() ? nullptr : target.c_str(), &attr, PA_STREAM_ADJUST_LATENCY) < 0) {
            dropStream();
            return refusalCode(context);
        }
        return settle(context);
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

int PulseWaveIn::capabilities(int device, WaveDeviceCaps& caps)
{
    return capabilitiesOf(impl_->connection, false, device, 0, caps);
}

int PulseWaveIn::queryFormat(int device, const WaveDeviceFormat& format)
{
    Impl& d = *impl_;
    if (!d.connection.works())
        return mm::NoDriver;
    LoopLock lock(d.connection.loop());
    std::string target;
    if (const int code = lookUp(d.connection, false, device, format, target); code != mm::NoError)
        return code;
    return probeRecording(d.connection, target, specOf(format));
}

int PulseWaveIn::open(int device, const WaveDeviceFormat& format, WaveDoneCallback onDone, WaveFailedCallback onFailed)
{
    Impl& d = *impl_;
    if (d.open)
        return mm::Allocated;
    if (!d.connection.works())
        return mm::NoDriver;
    LoopLock lock(d.connection.loop());
    std::string target;
    if (const int code = lookUp(d.connection, false, device, format, target); code != mm::NoError)
        return code;
    const pa_sample_spec spec = specOf(format);
    if (const int code = probeRecording(d.connection, target, spec); code != mm::NoError)
        return code;
    d.spec = spec;
    d.target = target;
    d.queue.clear();
    d.held.clear();
    d.heldFrom = 0;
    d.heldLimit = static_cast<std::size_t>(std::max<std::uint64_t>(kHeldSeconds * pa_bytes_per_second(&spec), std::uint64_t{1} << 22));
    d.lostBytes = 0;
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
    LoopLock lock(d.connection.loop());
    d.queue.push_back({&buffer, capacity, 0});
    d.fill();
    return mm::NoError;
}

int PulseWaveIn::start()
{
    Impl& d = *impl_;
    if (!d.open)
        return mm::InvalidHandle;
    LoopLock lock(d.connection.loop());
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
    LoopLock lock(d.connection.loop());
    d.dropStream();
    const std::size_t frame = std::max<std::size_t>(pa_frame_size(&d.spec), 1);
    std::vector<Finished> queued;
    for (const Impl::Slot& s : d.queue)
        queued.push_back({s.buffer, s.filled - s.filled % frame});
    d.queue.clear();
    d.held.clear();
    d.heldFrom = 0;
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
    LoopLock lock(d.connection.loop());
    return d.lostBytes;
}

bool PulseWaveIn::isOpen() const { return impl_->open; }

std::string PulseWaveIn::sourceName() const { return impl_->deviceName(); }

} // namespace sonavik
