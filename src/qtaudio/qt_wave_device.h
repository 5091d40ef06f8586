#pragma once
// The wave devices on Qt Multimedia: output through QAudioSink, input through QAudioSource, the devices
// QMediaDevices lists, the system's default device as the "audio mapper". Everything runs on the
// user-interface thread: a short timer feeds the sink and collects what the source recorded, and the
// done notifications come from it in queue order.

#include "audio/device_queue.h"
#include "platform/wave_device.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

class QAudioSink;
class QAudioSource;
class QIODevice;

namespace sonavik {

// 0 when a device can carry the format at all (PCM, 8 or 16 bits, 1 or 2 channels, a consistent block
// size, 1000 to 384000 frames a second), mm::BadFormat otherwise.
int checkPcmFormat(const WaveDeviceFormat& format);
QAudioFormat toQtFormat(const WaveDeviceFormat& format);

// Ends the process with status once the standard streams are flushed, without the library teardown an
// ordinary exit runs. Qt Multimedia's PulseAudio connection is torn down at exit without holding its
// client thread's lock, while that thread may still be handling the server's answers to a stream closed
// a moment earlier (playback stopped just before quitting): under load that crashes on the way out.
// Call it last, when everything of the program's own has been destroyed, saved and closed.
[[noreturn]] void exitWithoutAudioTeardown(int status);

// What the two devices share: device lookup, the returned-buffer notifications that reset() owes, and
// dropping every notification of an open that close() ended.
class QtWaveDeviceBase : public QObject {
    Q_OBJECT
protected:
    explicit QtWaveDeviceBase(QObject* parent) : QObject(parent) {}
    // The device of a number, or of kWaveMapper; null when there is none.
    static QAudioDevice lookup(const QList<QAudioDevice>& devices, const QAudioDevice& mapper, int number);
    static int capabilitiesOf(const QList<QAudioDevice>& devices, const QAudioDevice& mapper, int number,
                              std::uint32_t support, WaveDeviceCaps& caps);
    // Delivers the done notifications of buffers returned by reset(), later, unless close() comes first.
    void postReturned(std::vector<WaveBuffer*> buffers);
    void reportFailure(int code);
    // Calls onDone_, which must be set, for buffer.
    void notifyDone(WaveBuffer* buffer);
    static int prepareBuffer(WaveBuffer& buffer);
    static int unprepareBuffer(WaveBuffer& buffer);
    // Why buffer cannot join the queue now (closed, unprepared, already queued), or mm::NoError; on
    // NoError it is marked queued and not done.
    int enterQueue(WaveBuffer& buffer) const;

    WaveDoneCallback onDone_;
    WaveFailedCallback onFailed_;
    bool open_ = false;
    bool failed_ = false;
    // Counts opens and closes, so that a notification of an earlier open is never delivered.
    std::uint64_t generation_ = 0;
};

class QtWaveOut : public QtWaveDeviceBase, public WaveOut {
    Q_OBJECT
public:
    explicit QtWaveOut(QObject* parent = nullptr);
    ~QtWaveOut() override;

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

    // Bytes the device has played since it was opened or last reset, for a play position.
    std::uint64_t playedBytes() const;
    bool isOpen() const { return open_; }

private:
    bool startSink();
    void stopSink(bool now = false);
    void pump();

    QAudioDevice device_;
    QAudioFormat format_;
    int blockAlign_ = 1;
    std::unique_ptr<QAudioSink> sink_;
    // Owned by the sink or source, which may delete it when the device fails.
    QPointer<QIODevice> stream_;
    OutputQueue queue_;
    // Bytes taken from the queue that the sink had no room for yet.
    std::vector<unsigned char> staged_;
    std::size_t stagedFrom_ = 0;
    bool paused_ = false;
    double volume_ = 1.0;
    QTimer timer_;
    // Where the sink's clock stood when it last moved, to tell a drained sink from a slow one.
    qint64 lastProcessed_ = -1;
    int stillTicks_ = 0;
    bool drained_ = false;
};

class QtWaveIn : public QtWaveDeviceBase, public WaveIn {
    Q_OBJECT
public:
    explicit QtWaveIn(QObject* parent = nullptr);
    ~QtWaveIn() override;

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

private:
    void stopSource(bool now = false);
    void pump();

    QAudioDevice device_;
    QAudioFormat format_;
    std::unique_ptr<QAudioSource> source_;
    // Owned by the sink or source, which may delete it when the device fails.
    QPointer<QIODevice> stream_;
    InputQueue queue_;
    QTimer timer_;
};

} // namespace sonavik
