#pragma once
// Inside the wave devices on PulseAudio: one connection to the server on a thread of its own, and what
// the output and the input share on top of it (the stream, the owner's callbacks, the hand-over of
// finished buffers to the user-interface thread).

#include "platform/task_queue.h"
#include "platform/wave_device.h"

#include <pulse/pulseaudio.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace sonavik::pulse {

inline constexpr const char* kClientName = "Sonavik 2";
// How long a call on the user-interface thread waits for a server that gives no sign of life before it
// gives up: one that is there but does not answer (stopped, swapped out) must not freeze the window.
inline constexpr pa_usec_t kServerWait = PA_USEC_PER_SEC / 2;
// How long one call waits for a server that answers, but slowly (a loaded machine), all its steps
// together.
inline constexpr pa_usec_t kSlowServerWait = 5 * PA_USEC_PER_SEC;

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
    Connection();
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    pa_threaded_mainloop* loop() const { return loop_; }
    bool works() const { return loop_ != nullptr; }

    // A ready context, connected again when the last one was lost; null when no server answers.
    pa_context* ready();

    pa_context* context() const { return context_; }

    // Waits (the lock is given up meanwhile) until done() holds, the server gave no sign of life for
    // kServerWait, or the call's kSlowServerWait is up. While the server has let a wait run out and not
    // answered since, nothing is waited for: a question is sent instead, and its answer makes the server
    // count as answering again.
    bool waitUntil(const std::function<bool()>& done);

    // A call on the user-interface thread begins (lock held): its waits share kSlowServerWait from now on.
    void beginCall();
    void endCall() { callEnds_ = 0; }
    // Whether the last call gave up waiting for a server that is there (as opposed to one that is gone).
    bool unanswered() const { return unanswered_; }

    // Waits for an operation whose callback signals, then lets it go; false when it did not end in time.
    bool finish(pa_operation* operation);

    void signal() { pa_threaded_mainloop_signal(loop_, 0); }

private:
    struct Alarm {
        Connection* connection;
        bool rang;
    };

    static void onContextState(pa_context*, void* self) { static_cast<Connection*>(self)->signal(); }
    static void onAlarm(pa_mainloop_api*, pa_time_event*, const timeval*, void* alarm);
    static void onProbe(pa_context*, const pa_server_info*, void* self);
    void drop();
    void probe();

    pa_threaded_mainloop* loop_;
    pa_context* context_ = nullptr;
    // With the lock held.
    pa_usec_t callEnds_ = 0;  // 0 outside a call
    bool unanswered_ = false;
    bool silent_ = false;     // a wait ran out on this context, and no answer came since
    bool probing_ = false;
};

// The lock, for one call on the user-interface thread: its waits for the server share one time limit.
class CallLock {
public:
    explicit CallLock(Connection& c) : lock_(c.loop()), connection_(c) { c.beginCall(); }
    ~CallLock() { connection_.endCall(); }
    CallLock(const CallLock&) = delete;
    CallLock& operator=(const CallLock&) = delete;

private:
    LoopLock lock_;
    Connection& connection_;
};

pa_sample_spec specOf(const WaveDeviceFormat& f);

// The result code for a stream the server refused.
int refusalCode(pa_context* context);

bool streamSettled(pa_stream* s);

// Lock held: the stream's callbacks cleared, the stream disconnected and let go; stream is null after.
void forget(pa_stream*& stream);

// A stream state callback that wakes the thread waiting on connection (a Connection*).
void signalOnState(pa_stream*, void* connection);

int prepareBuffer(WaveBuffer& buffer);
int unprepareBuffer(WaveBuffer& buffer);

// Why buffer cannot join a queue now, or mm::NoError after marking it queued.
int enterQueue(bool open, WaveBuffer& buffer);

struct Finished {
    WaveBuffer* buffer;
    std::size_t recorded;
};

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
    void stopStream();

    // Lock held: a new stream for spec whose state changes wake the waiting thread and report a breakdown.
    pa_stream* newStream(pa_context* context);

    // Lock held, after connecting: waits until the server has the stream; the result code otherwise.
    int settle(pa_context* context);

    std::string deviceName();

    static void onStreamState(pa_stream* s, void* self);

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

    void beginOpen(WaveDoneCallback done, WaveFailedCallback failedCallback);
    void endOpen();

    // Pa thread or user-interface thread, lock held: hands the finished buffers to the owner later.
    void deliver(std::vector<Finished> finished);

    // User-interface thread.
    void notify(std::uint64_t of, const std::vector<Finished>& finished);

    // Lock held: the stream broke down on its own (the server went away, the device vanished).
    void lost();

    // User-interface thread, lock held: every buffer still queued or on its way, marked done at once for
    // the owner; their notifications follow unless the device is closed first.
    void returnAll(std::vector<Finished> queued);
};

} // namespace sonavik::pulse
