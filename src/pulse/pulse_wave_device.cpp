#include "pulse/pulse_wave_device.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>
#include <functional>
#include <utility>

namespace sonavik {

namespace {

constexpr const char* kClientName = "Sonavik 2";
// How long a call on the user-interface thread waits for the server before it counts as gone.
constexpr pa_usec_t kServerWait = 5 * PA_USEC_PER_SEC;
// What recording holds for a program that does not take its buffers back: a minute of sound.
constexpr std::uint64_t kHeldSeconds = 60;

class LoopLock {
public:
    explicit LoopLock(pa_threaded_mainloop* loop) : loop_(loop) { pa_threaded_mainloop_lock(loop_); }
    ~LoopLock() { pa_threaded_mainloop_unlock(loop_); }
    LoopLock(const LoopLock&) = delete;
    LoopLock& operator=(const LoopLock&) = delete;

private:
    pa_threaded_mainloop* loop_;
};

// One connection to the server on a thread of its own. Everything but the constructor and the
// destructor is called with the lock held.
class Connection {
public:
    Connection() : loop_(pa_threaded_mainloop_new())
    {
        if (loop_ && pa_threaded_mainloop_start(loop_) < 0) {
            pa_threaded_mainloop_free(loop_);
            loop_ = nullptr;
        }
    }

    ~Connection()
    {
        if (!loop_)
            return;
        {
            LoopLock lock(loop_);
            if (context_) {
                pa_context_set_state_callback(context_, nullptr, nullptr);
                pa_context_disconnect(context_);
            }
        }
        pa_threaded_mainloop_stop(loop_);
        if (context_)
            pa_context_unref(context_);
        pa_threaded_mainloop_free(loop_);
    }

    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    pa_threaded_mainloop* loop() const { return loop_; }
    bool works() const { return loop_ != nullptr; }

    // A ready context, connected again when the last one was lost; null when no server answers.
    pa_context* ready()
    {
        if (!loop_)
            return nullptr;
        if (context_ && pa_context_get_state(context_) == PA_CONTEXT_READY)
            return context_;
        drop();
        pa_proplist* props = pa_proplist_new();
        pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, kClientName);
        pa_proplist_sets(props, PA_PROP_APPLICATION_ID, "sonavik2");
        pa_proplist_sets(props, PA_PROP_APPLICATION_ICON_NAME, "sonavik2");
        context_ = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(loop_), kClientName, props);
        pa_proplist_free(props);
        if (!context_)
            return nullptr;
        pa_context_set_state_callback(context_, &Connection::onContextState, this);
        // A server that is not there is not started behind the user's back.
        if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            drop();
            return nullptr;
        }
        waitUntil([this] { return !PA_CONTEXT_IS_GOOD(pa_context_get_state(context_)) || pa_context_get_state(context_) == PA_CONTEXT_READY; });
        if (pa_context_get_state(context_) != PA_CONTEXT_READY) {
            drop();
            return nullptr;
        }
        return context_;
    }

    pa_context* context() const { return context_; }

    // Waits (the lock is given up meanwhile) until done() holds or the time is up.
    bool waitUntil(const std::function<bool()>& done, pa_usec_t usec = kServerWait)
    {
        if (done())
            return true;
        pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop_);
        timeval when{};
        pa_gettimeofday(&when);
        pa_timeval_add(&when, usec);
        Alarm alarm{this, false};
        pa_time_event* event = api->time_new(api, &when, &Connection::onAlarm, &alarm);
        while (!done() && !alarm.rang)
            pa_threaded_mainloop_wait(loop_);
        if (event)
            api->time_free(event);
        return done();
    }

    // Waits for an operation whose callback signals, then lets it go; false when it did not end in time.
    bool finish(pa_operation* operation)
    {
        if (!operation)
            return false;
        const bool ended = waitUntil([operation] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; });
        if (!ended)
            pa_operation_cancel(operation);
        pa_operation_unref(operation);
        return ended;
    }

    void signal() { pa_threaded_mainloop_signal(loop_, 0); }

private:
    struct Alarm {
        Connection* connection;
        bool rang;
    };

    static void onContextState(pa_context*, void* self) { static_cast<Connection*>(self)->signal(); }

    static void onAlarm(pa_mainloop_api*, pa_time_event*, const timeval*, void* alarm)
    {
        auto* a = static_cast<Alarm*>(alarm);
        a->rang = true;
        a->connection->signal();
    }

    void drop()
    {
        if (!context_)
            return;
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        context_ = nullptr;
    }

    pa_threaded_mainloop* loop_;
    pa_context* context_ = nullptr;
};

// ---- device lists

struct ListQuery {
    Connection* connection;
    std::vector<PulseDeviceInfo>* out;
    bool failed = false;
};

template <typename Info>
void collect(pa_context*, const Info* info, int eol, void* query)
{
    auto* q = static_cast<ListQuery*>(query);
    if (eol < 0)
        q->failed = true;
    if (eol != 0 || !info) {
        q->connection->signal();
        return;
    }
    q->out->push_back({info->name ? info->name : "", info->description ? info->description : "", false});
}

struct DefaultsQuery {
    Connection* connection;
    std::string sink;
    std::string source;
};

void collectDefaults(pa_context*, const pa_server_info* info, void* query)
{
    auto* q = static_cast<DefaultsQuery*>(query);
    if (info) {
        q->sink = info->default_sink_name ? info->default_sink_name : "";
        q->source = info->default_source_name ? info->default_source_name : "";
    }
    q->connection->signal();
}

// The devices of one direction with the default marked; nothing when the server does not answer.
std::optional<std::vector<PulseDeviceInfo>> queryDevices(Connection& c, bool sinks)
{
    pa_context* context = c.ready();
    if (!context)
        return std::nullopt;
    DefaultsQuery defaults{&c, {}, {}};
    if (!c.finish(pa_context_get_server_info(context, &collectDefaults, &defaults)))
        return std::nullopt;
    std::vector<PulseDeviceInfo> list;
    ListQuery query{&c, &list};
    pa_operation* operation = sinks ? pa_context_get_sink_info_list(context, &collect<pa_sink_info>, &query)
                                    : pa_context_get_source_info_list(context, &collect<pa_source_info>, &query);
    if (!c.finish(operation) || query.failed)
        return std::nullopt;
    const std::string& wanted = sinks ? defaults.sink : defaults.source;
    for (PulseDeviceInfo& d : list)
        d.isDefault = d.name == wanted;
    return list;
}

// The server name of device (or of the default device for kWaveMapper) into name.
int resolveDevice(Connection& c, bool sinks, int device, std::string& name, std::string* description = nullptr)
{
    const auto list = queryDevices(c, sinks);
    if (!list)
        return mm::NoDriver;
    if (device == kWaveMapper) {
        if (list->empty())
            return mm::NoDriver;
        const auto found = std::find_if(list->begin(), list->end(), [](const PulseDeviceInfo& d) { return d.isDefault; });
        // A server without a default lets a stream go where it routes it.
        const PulseDeviceInfo& chosen = found != list->end() ? *found : list->front();
        name = found != list->end() ? chosen.name : std::string();
        if (description)
            *description = chosen.description;
        return mm::NoError;
    }
    if (device < 0 || static_cast<std::size_t>(device) >= list->size())
        return mm::BadDeviceId;
    name = (*list)[static_cast<std::size_t>(device)].name;
    if (description)
        *description = (*list)[static_cast<std::size_t>(device)].description;
    return mm::NoError;
}

// The device to open for format, in target: the server's name of it; the result code otherwise.
int lookUp(Connection& c, bool sinks, int device, const WaveDeviceFormat& format, std::string& target)
{
    if (const int code = resolveDevice(c, sinks, device, target); code != mm::NoError)
        return code;
    return checkPcmFormat(format);
}

int deviceCountOf(Connection& c, bool sinks)
{
    LoopLock lock(c.loop());
    const auto list = queryDevices(c, sinks);
    return list ? static_cast<int>(list->size()) : 0;
}

int capabilitiesOf(Connection& c, bool sinks, int device, std::uint32_t support, WaveDeviceCaps& caps)
{
    if (!c.works())
        return mm::NoDriver;
    LoopLock lock(c.loop());
    std::string name, description;
    if (const int code = resolveDevice(c, sinks, device, name, &description); code != mm::NoError)
        return code;
    caps.name = description.empty() ? name : description;
    caps.support = support;
    return mm::NoError;
}

pa_sample_spec specOf(const WaveDeviceFormat& f)
{
    pa_sample_spec spec{};
    spec.format = f.bitsPerSample == 8 ? PA_SAMPLE_U8 : PA_SAMPLE_S16LE;
    spec.channels = static_cast<std::uint8_t>(f.channels);
    spec.rate = f.samplesPerSec;
    return spec;
}

// The result code for a stream the server refused.
int refusalCode(pa_context* context)
{
    switch (context ? pa_context_errno(context) : PA_ERR_CONNECTIONTERMINATED) {
    case PA_ERR_NOENTITY:
        return mm::BadDeviceId;
    case PA_ERR_NOTSUPPORTED:
    case PA_ERR_INVALID:
        return mm::BadFormat;
    default:
        return mm::NoDriver;
    }
}

bool streamSettled(pa_stream* s)
{
    const pa_stream_state_t state = pa_stream_get_state(s);
    return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
}

void forget(pa_stream*& stream)
{
    if (!stream)
        return;
    pa_stream_set_state_callback(stream, nullptr, nullptr);
    pa_stream_set_write_callback(stream, nullptr, nullptr);
    pa_stream_set_read_callback(stream, nullptr, nullptr);
    if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream)))
        pa_stream_disconnect(stream);
    pa_stream_unref(stream);
    stream = nullptr;
}

void signalOnState(pa_stream*, void* connection) { static_cast<Connection*>(connection)->signal(); }

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

pa_volume_t paVolume(std::uint32_t word)
{
    const std::uint32_t v = word & 0xFFFFu;
    return v >= 0xFFFFu ? PA_VOLUME_NORM : pa_sw_volume_from_linear(v / 65535.0);
}

int prepareBuffer(WaveBuffer& buffer)
{
    buffer.prepared = true;
    return mm::NoError;
}

int unprepareBuffer(WaveBuffer& buffer)
{
    if (buffer.inQueue)
        return mm::StillPlaying;
    buffer.prepared = false;
    return mm::NoError;
}

// Why buffer cannot join a queue now, or mm::NoError after marking it queued.
int enterQueue(bool open, WaveBuffer& buffer)
{
    if (!open)
        return mm::InvalidHandle;
    if (!buffer.prepared)
        return mm::Unprepared;
    if (buffer.inQueue)
        return mm::StillPlaying;
    buffer.inQueue = true;
    buffer.done = false;
    return mm::NoError;
}

struct Finished {
    WaveBuffer* buffer;
    std::size_t recorded;
};

} // namespace

int checkPcmFormat(const WaveDeviceFormat& f)
{
    const bool ok = f.formatTag == 1 && (f.channels == 1 || f.channels == 2) &&
                    (f.bitsPerSample == 8 || f.bitsPerSample == 16) &&
                    f.blockAlign == f.channels * f.bitsPerSample / 8 && f.samplesPerSec >= 1 &&
                    f.samplesPerSec <= PA_RATE_MAX;
    return ok ? mm::NoError : mm::BadFormat;
}

std::optional<PulseDeviceLists> listPulseDevices()
{
    Connection c;
    if (!c.works())
        return std::nullopt;
    LoopLock lock(c.loop());
    auto sinks = queryDevices(c, true);
    auto sources = queryDevices(c, false);
    if (!sinks || !sources)
        return std::nullopt;
    return PulseDeviceLists{std::move(*sinks), std::move(*sources)};
}

int pulseDeviceNumber(const std::vector<PulseDeviceInfo>& list, const std::string& wanted)
{
    for (std::size_t i = 0; i < list.size(); ++i)
        if (list[i].name == wanted || list[i].description == wanted)
            return static_cast<int>(i);
    return -1;
}

// What both directions share: the connection, the owner's callbacks on the user-interface thread, and
// the numbering of opens that keeps a notification of an earlier open from ever being delivered.
struct DeviceCore {
    explicit DeviceCore(PostToUi p) : post(std::move(p)) {}

    Connection connection;
    PostToUi post;
    // The notifications on their way hold this, so that a device destroyed meanwhile is left alone.
    std::weak_ptr<DeviceCore> self;
    // User-interface thread only.
    WaveDoneCallback onDone;
    WaveFailedCallback onFailed;
    bool open = false;
    // Written on the user-interface thread with the lock held; read by both.
    std::uint64_t generation = 0;
    // With the lock held.
    pa_stream* stream = nullptr;
    pa_sample_spec spec{};
    std::string target;  // the server's name of the device; empty lets the server choose
    bool streamUp = false;
    bool failed = false;
    // Finished buffers whose notification is on its way to the user-interface thread.
    std::vector<Finished> inFlight;

    // Lock held: the stream goes, and with it what the server held of it.
    void dropStream()
    {
        forget(stream);
        streamUp = false;
    }

    // The same, taking the lock: before a device's own parts go, so that no callback reaches them.
    void stopStream()
    {
        if (!connection.works())
            return;
        LoopLock lock(connection.loop());
        dropStream();
    }

    // Lock held: a new stream for spec whose state changes wake the waiting thread and report a breakdown.
    pa_stream* newStream(pa_context* context)
    {
        dropStream();
        stream = pa_stream_new(context, kClientName, &spec, nullptr);
        if (stream)
            pa_stream_set_state_callback(stream, &DeviceCore::onStreamState, this);
        return stream;
    }

    // Lock held, after connecting: waits until the server has the stream; the result code otherwise.
    int settle(pa_context* context)
    {
        if (!connection.waitUntil([this] { return streamSettled(stream); }) || pa_stream_get_state(stream) != PA_STREAM_READY) {
            const int code = refusalCode(context);
            dropStream();
            return code;
        }
        streamUp = true;
        return mm::NoError;
    }

    std::string deviceName()
    {
        if (!connection.works())
            return {};
        LoopLock lock(connection.loop());
        const char* name = stream && streamUp ? pa_stream_get_device_name(stream) : nullptr;
        return name ? name : "";
    }

    static void onStreamState(pa_stream* s, void* self)
    {
        auto* d = static_cast<DeviceCore*>(self);
        d->connection.signal();
        if (s == d->stream && d->streamUp && !PA_STREAM_IS_GOOD(pa_stream_get_state(s)))
            d->lost();
    }

    // User-interface thread: closes unless buffersQueued() says buffers are still queued (asked with the
    // lock held, since the connection's thread takes buffers off the queue).
    template <typename Queued>
    int close(const Queued& buffersQueued)
    {
        if (!open)
            return mm::InvalidHandle;
        LoopLock lock(connection.loop());
        if (buffersQueued())
            return mm::StillPlaying;
        dropStream();
        endOpen();
        return mm::NoError;
    }

    void beginOpen(WaveDoneCallback done, WaveFailedCallback failedCallback)
    {
        onDone = std::move(done);
        onFailed = std::move(failedCallback);
        ++generation;
        failed = false;
        inFlight.clear();
        open = true;
    }

    void endOpen()
    {
        ++generation;
        open = false;
        onDone = nullptr;
        onFailed = nullptr;
    }

    // Pa thread or user-interface thread, lock held: hands the finished buffers to the owner later.
    void deliver(std::vector<Finished> finished)
    {
        if (finished.empty())
            return;
        inFlight.insert(inFlight.end(), finished.begin(), finished.end());
        const std::weak_ptr<DeviceCore> weak = self;
        const std::uint64_t of = generation;
        post([weak, of, finished = std::move(finished)] {
            if (const auto d = weak.lock())
                d->notify(of, finished);
        });
    }

    // User-interface thread.
    void notify(std::uint64_t of, const std::vector<Finished>& finished)
    {
        {
            LoopLock lock(connection.loop());
            for (const Finished& f : finished)
                std::erase_if(inFlight, [&](const Finished& g) { return g.buffer == f.buffer; });
        }
        for (const Finished& f : finished) {
            // The owner may close the device, and free its buffers, from inside a notification.
            if (of != generation || !open || !onDone)
                return;
            f.buffer->bytesRecorded = static_cast<std::uint32_t>(f.recorded);
            f.buffer->inQueue = false;
            f.buffer->done = true;
            // The owner may also clear onDone from inside the call: call a copy.
            const WaveDoneCallback done = onDone;
            done(f.buffer);
        }
    }

    // Lock held: the stream broke down on its own (the server went away, the device vanished).
    void lost()
    {
        if (failed)
            return;
        failed = true;
        const std::weak_ptr<DeviceCore> weak = self;
        const std::uint64_t of = generation;
        post([weak, of] {
            const auto d = weak.lock();
            if (!d || of != d->generation || !d->open || !d->onFailed)
                return;
            const WaveFailedCallback failed = d->onFailed;
            failed(mm::NoDriver);
        });
    }

    // User-interface thread, lock held: every buffer still queued or on its way, marked done at once for
    // the owner; their notifications follow unless the device is closed first.
    void returnAll(std::vector<Finished> queued)
    {
        for (const Finished& f : inFlight) {
            f.buffer->inQueue = false;
            f.buffer->done = true;
        }
        for (const Finished& f : queued) {
            f.buffer->bytesRecorded = static_cast<std::uint32_t>(f.recorded);
            f.buffer->inQueue = false;
            f.buffer->done = true;
        }
        deliver(std::move(queued));
    }
};

// ---- output

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

    static void onDrained(pa_stream* s, int, void* self)
    {
        auto* d = static_cast<Impl*>(self);
        if (s != d->stream || !d->draining)
            return;
        d->draining = false;
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
    LoopLock lock(d.connection.loop());
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
    LoopLock lock(d.connection.loop());
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
    LoopLock lock(d.connection.loop());
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
    LoopLock lock(d.connection.loop());
    d.paused = false;
    d.run();
    return mm::NoError;
}

int PulseWaveOut::reset()
{
    Impl& d = *impl_;
    if (!d.open)
        return mm::InvalidHandle;
    LoopLock lock(d.connection.loop());
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
    LoopLock lock(d.connection.loop());
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
    LoopLock lock(d.connection.loop());
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
    LoopLock lock(d.connection.loop());
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
    LoopLock lock(d.connection.loop());
    pa_usec_t heard = 0;
    if (!d.stream || pa_stream_get_state(d.stream) != PA_STREAM_READY || pa_stream_get_time(d.stream, &heard) < 0)
        return 0;
    return std::min<std::uint64_t>(pa_usec_to_bytes(heard, &d.spec), d.writtenBytes);
}

bool PulseWaveOut::isOpen() const { return impl_->open; }

std::string PulseWaveOut::sinkName() const { return impl_->deviceName(); }

// ---- input

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
