#include "pulse/pulse_connection.h"

#include <algorithm>

namespace sonavik::pulse {

Connection::Connection() : loop_(pa_threaded_mainloop_new())
{
    if (loop_ && pa_threaded_mainloop_start(loop_) < 0) {
        pa_threaded_mainloop_free(loop_);
        loop_ = nullptr;
    }
}

Connection::~Connection()
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

pa_context* Connection::ready()
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

void Connection::beginCall()
{
    callEnds_ = pa_rtclock_now() + kSlowServerWait;
    unanswered_ = false;
}

namespace {

// The mainloop's time for a moment on the monotonic clock.
timeval wallTimeOf(pa_usec_t at)
{
    const pa_usec_t now = pa_rtclock_now();
    timeval when{};
    pa_gettimeofday(&when);
    pa_timeval_add(&when, at > now ? at - now : 0);
    return when;
}

} // namespace

bool Connection::waitUntil(const std::function<bool()>& done)
{
    if (done())
        return true;
    if (silent_) {
        unanswered_ = true;
        probe();
        return false;
    }
    const pa_usec_t start = pa_rtclock_now();
    const pa_usec_t cap = callEnds_ != 0 ? callEnds_ : start + kSlowServerWait;
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop_);
    timeval when = wallTimeOf(std::min(cap, start + kServerWait));
    Alarm alarm{this, false};
    pa_time_event* event = api->time_new(api, &when, &Connection::onAlarm, &alarm);
    while (!done() && !alarm.rang) {
        pa_threaded_mainloop_wait(loop_);
        // Woken by a callback: the server answered something, so it is slow rather than gone.
        if (!done() && !alarm.rang && event) {
            when = wallTimeOf(std::min(cap, pa_rtclock_now() + kServerWait));
            api->time_restart(event, &when);
        }
    }
    if (event)
        api->time_free(event);
    if (done())
        return true;
    unanswered_ = true;
    if (context_ && pa_context_get_state(context_) == PA_CONTEXT_READY) {
        silent_ = true;
        probe();
    }
    return false;
}

void Connection::probe()
{
    if (probing_ || !context_ || pa_context_get_state(context_) != PA_CONTEXT_READY)
        return;
    if (pa_operation* o = pa_context_get_server_info(context_, &Connection::onProbe, this)) {
        probing_ = true;
        pa_operation_unref(o);
    }
}

void Connection::onProbe(pa_context* context, const pa_server_info*, void* self)
{
    auto* c = static_cast<Connection*>(self);
    if (context != c->context_)
        return;
    c->probing_ = false;
    c->silent_ = false;
    c->signal();
}

bool Connection::finish(pa_operation* operation)
{
    if (!operation)
        return false;
    const bool ended = waitUntil([operation] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; });
    if (!ended)
        pa_operation_cancel(operation);
    pa_operation_unref(operation);
    return ended;
}

void Connection::onAlarm(pa_mainloop_api*, pa_time_event*, const timeval*, void* alarm)
{
    auto* a = static_cast<Alarm*>(alarm);
    a->rang = true;
    a->connection->signal();
}

void Connection::drop()
{
    silent_ = false;
    probing_ = false;
    if (!context_)
        return;
    pa_context_set_state_callback(context_, nullptr, nullptr);
    pa_context_disconnect(context_);
    pa_context_unref(context_);
    context_ = nullptr;
}

pa_sample_spec specOf(const WaveDeviceFormat& f)
{
    pa_sample_spec spec{};
    spec.format = f.bitsPerSample == 8 ? PA_SAMPLE_U8 : PA_SAMPLE_S16LE;
    spec.channels = static_cast<std::uint8_t>(f.channels);
    spec.rate = f.samplesPerSec;
    return spec;
}

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
    pa_stream_set_latency_update_callback(stream, nullptr, nullptr);
    pa_stream_set_suspended_callback(stream, nullptr, nullptr);
    pa_stream_set_moved_callback(stream, nullptr, nullptr);
    if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream)))
        pa_stream_disconnect(stream);
    pa_stream_unref(stream);
    stream = nullptr;
}

void signalOnState(pa_stream*, void* connection) { static_cast<Connection*>(connection)->signal(); }

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

void DeviceCore::stopStream()
{
    if (!connection.works())
        return;
    LoopLock lock(connection.loop());
    dropStream();
}

pa_stream* DeviceCore::newStream(pa_context* context)
{
    dropStream();
    stream = pa_stream_new(context, kClientName, &spec, nullptr);
    if (stream)
        pa_stream_set_state_callback(stream, &DeviceCore::onStreamState, this);
    return stream;
}

int DeviceCore::settle(pa_context* context)
{
    if (!connection.waitUntil([this] { return streamSettled(stream); }) || pa_stream_get_state(stream) != PA_STREAM_READY) {
        const int code = refusalCode(context);
        dropStream();
        return code;
    }
    streamUp = true;
    return mm::NoError;
}

std::string DeviceCore::deviceName()
{
    if (!connection.works())
        return {};
    LoopLock lock(connection.loop());
    const char* name = stream && streamUp ? pa_stream_get_device_name(stream) : nullptr;
    return name ? name : "";
}

void DeviceCore::onStreamState(pa_stream* s, void* self)
{
    auto* d = static_cast<DeviceCore*>(self);
    d->connection.signal();
    if (s == d->stream && d->streamUp && !PA_STREAM_IS_GOOD(pa_stream_get_state(s)))
        d->lost();
}

void DeviceCore::beginOpen(WaveDoneCallback done, WaveFailedCallback failedCallback)
{
    onDone = std::move(done);
    onFailed = std::move(failedCallback);
    ++generation;
    failed = false;
    inFlight.clear();
    open = true;
}

void DeviceCore::endOpen()
{
    ++generation;
    open = false;
    onDone = nullptr;
    onFailed = nullptr;
}

void DeviceCore::deliver(std::vector<Finished> finished)
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

void DeviceCore::notify(std::uint64_t of, const std::vector<Finished>& finished)
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

void DeviceCore::lost()
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

void DeviceCore::returnAll(std::vector<Finished> queued)
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

} // namespace sonavik::pulse
