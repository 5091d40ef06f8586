#include "qtaudio/qt_wave_device.h"

#include <QAudioSink>
#include <QAudioSource>
#include <QMediaDevices>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>

namespace sonavik {

namespace {

constexpr int kTickMs = 10;
// Ticks of an unmoving clock after which a sink that has been given everything counts as drained.
constexpr int kDrainTicks = 20;

std::uint32_t volumeWord(double volume)
{
    const auto v = static_cast<std::uint32_t>(std::lround(std::clamp(volume, 0.0, 1.0) * 65535.0));
    return v | (v << 16);
}

// A device that stopped on its own: the sound server went away or the device was unplugged.
bool sinkFailed(QAudio::Error error) { return error == QAudio::OpenError || error == QAudio::FatalError || error == QAudio::IOError; }

} // namespace

int checkPcmFormat(const WaveDeviceFormat& f)
{
    const bool ok = f.formatTag == 1 && (f.channels == 1 || f.channels == 2) &&
                    (f.bitsPerSample == 8 || f.bitsPerSample == 16) &&
                    f.blockAlign == f.channels * f.bitsPerSample / 8 && f.samplesPerSec >= 1000 &&
                    f.samplesPerSec <= 384000;
    return ok ? mm::NoError : mm::BadFormat;
}

QAudioFormat toQtFormat(const WaveDeviceFormat& f)
{
    QAudioFormat q;
    q.setSampleRate(static_cast<int>(f.samplesPerSec));
    q.setChannelCount(f.channels);
    q.setSampleFormat(f.bitsPerSample == 8 ? QAudioFormat::UInt8 : QAudioFormat::Int16);
    return q;
}

void exitWithoutAudioTeardown(int status)
{
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    std::_Exit(status);
}

QAudioDevice QtWaveDeviceBase::lookup(const QList<QAudioDevice>& devices, const QAudioDevice& mapper, int number)
{
    if (number == kWaveMapper)
        return devices.isEmpty() ? QAudioDevice() : mapper;
    if (number < 0 || number >= devices.size())
        return QAudioDevice();
    return devices[number];
}

int QtWaveDeviceBase::capabilitiesOf(const QList<QAudioDevice>& devices, const QAudioDevice& mapper, int number,
                                     std::uint32_t support, WaveDeviceCaps& caps)
{
    const QAudioDevice device = lookup(devices, mapper, number);
    if (device.isNull())
        return mm::BadDeviceId;
    caps.name = device.description().toStdString();
    caps.support = support;
    return mm::NoError;
}

void QtWaveDeviceBase::postReturned(std::vector<WaveBuffer*> buffers)
{
    if (buffers.empty())
        return;
    const std::uint64_t generation = generation_;
    QMetaObject::invokeMethod(
        this,
        [this, generation, buffers = std::move(buffers)] {
            for (WaveBuffer* b : buffers) {
                if (generation != generation_ || !onDone_)
                    return;
                notifyDone(b);
            }
        },
        Qt::QueuedConnection);
}

void QtWaveDeviceBase::notifyDone(WaveBuffer* buffer)
{
    // The owner may close the device from inside the call, which clears onDone_ and with it the callable
    // that is running: call a copy.
    const WaveDoneCallback done = onDone_;
    done(buffer);
}

int QtWaveDeviceBase::prepareBuffer(WaveBuffer& buffer)
{
    buffer.prepared = true;
    return mm::NoError;
}

int QtWaveDeviceBase::unprepareBuffer(WaveBuffer& buffer)
{
    if (buffer.inQueue)
        return mm::StillPlaying;
    buffer.prepared = false;
    return mm::NoError;
}

int QtWaveDeviceBase::enterQueue(WaveBuffer& buffer) const
{
    if (!open_)
        return mm::InvalidHandle;
    if (!buffer.prepared)
        return mm::Unprepared;
    if (buffer.inQueue)
        return mm::StillPlaying;
    buffer.inQueue = true;
    buffer.done = false;
    return mm::NoError;
}

void QtWaveDeviceBase::reportFailure(int code)
{
    if (failed_)
        return;
    failed_ = true;
    if (const WaveFailedCallback failed = onFailed_)
        failed(code);
}

// ---- output

QtWaveOut::QtWaveOut(QObject* parent) : QtWaveDeviceBase(parent)
{
    timer_.setInterval(kTickMs);
    connect(&timer_, &QTimer::timeout, this, &QtWaveOut::pump);
}

QtWaveOut::~QtWaveOut()
{
    ++generation_;
    stopSink(true);
}

int QtWaveOut::deviceCount() { return static_cast<int>(QMediaDevices::audioOutputs().size()); }

int QtWaveOut::capabilities(int device, WaveDeviceCaps& caps)
{
    // Qt gives one volume for all channels and neither pitch nor playback rate.
    return capabilitiesOf(QMediaDevices::audioOutputs(), QMediaDevices::defaultAudioOutput(), device, kCapsVolume, caps);
}

int QtWaveOut::open(int device, const WaveDeviceFormat& format, WaveDoneCallback onDone, WaveFailedCallback onFailed)
{
    if (open_)
        return mm::Allocated;
    const QAudioDevice chosen = lookup(QMediaDevices::audioOutputs(), QMediaDevices::defaultAudioOutput(), device);
    if (chosen.isNull())
        return device == kWaveMapper ? mm::NoDriver : mm::BadDeviceId;
    if (int code = checkPcmFormat(format))
        return code;
    const QAudioFormat qtFormat = toQtFormat(format);
    if (!chosen.isFormatSupported(qtFormat))
        return mm::BadFormat;
    device_ = chosen;
    format_ = qtFormat;
    blockAlign_ = format.blockAlign;
    onDone_ = std::move(onDone);
    onFailed_ = std::move(onFailed);
    ++generation_;
    failed_ = false;
    paused_ = false;
    queue_.clear();
    staged_.clear();
    stagedFrom_ = 0;
    if (!startSink()) {
        stopSink();
        onDone_ = nullptr;
        onFailed_ = nullptr;
        return mm::NoDriver;
    }
    open_ = true;
    return mm::NoError;
}

bool QtWaveOut::startSink()
{
    sink_ = std::make_unique<QAudioSink>(device_, format_);
    sink_->setVolume(volume_);
    stream_ = sink_->start();
    lastProcessed_ = -1;
    stillTicks_ = 0;
    drained_ = false;
    if (!stream_ || sinkFailed(sink_->error()))
        return false;
    if (paused_)
        sink_->suspend();
    timer_.start();
    return true;
}

void QtWaveOut::stopSink(bool now)
{
    timer_.stop();
    if (sink_) {
        sink_->stop();
        // Usually called from inside one of the sink's own signals or a notification: deleted later.
        if (now)
            sink_.reset();
        else
            sink_.release()->deleteLater();
    }
    stream_ = nullptr;
}

int QtWaveOut::prepare(WaveBuffer& buffer) { return prepareBuffer(buffer); }

int QtWaveOut::unprepare(WaveBuffer& buffer) { return unprepareBuffer(buffer); }

int QtWaveOut::write(WaveBuffer& buffer)
{
    if (const int refused = enterQueue(buffer); refused != mm::NoError)
        return refused;
    queue_.queue(&buffer, buffer.data, buffer.bufferLength);
    if (!sink_ && !failed_ && !startSink())
        reportFailure(mm::NoDriver);
    drained_ = false;
    return mm::NoError;
}

int QtWaveOut::pause()
{
    if (!open_)
        return mm::InvalidHandle;
    paused_ = true;
    if (sink_)
        sink_->suspend();
    return mm::NoError;
}

int QtWaveOut::restart()
{
    if (!open_)
        return mm::InvalidHandle;
    paused_ = false;
    if (sink_) {
        sink_->resume();
        pump();
    }
    return mm::NoError;
}

int QtWaveOut::reset()
{
    if (!open_)
        return mm::InvalidHandle;
    // A new sink starts the byte count again from 0, as the cleared queue does.
    stopSink();
    staged_.clear();
    stagedFrom_ = 0;
    std::vector<void*> tags = queue_.clear();
    std::vector<WaveBuffer*> returned;
    for (void* tag : tags) {
        auto* b = static_cast<WaveBuffer*>(tag);
        b->inQueue = false;
        b->done = true;
        returned.push_back(b);
    }
    postReturned(std::move(returned));
    return mm::NoError;
}

int QtWaveOut::close()
{
    if (!open_)
        return mm::InvalidHandle;
    if (!queue_.empty())
        return mm::StillPlaying;
    stopSink();
    ++generation_;
    open_ = false;
    onDone_ = nullptr;
    onFailed_ = nullptr;
    return mm::NoError;
}

int QtWaveOut::getVolume(std::uint32_t& volume)
{
    volume = volumeWord(sink_ ? sink_->volume() : volume_);
    return mm::NoError;
}

int QtWaveOut::setVolume(std::uint32_t volume)
{
    volume_ = (volume & 0xFFFF) / 65535.0;
    if (sink_)
        sink_->setVolume(volume_);
    return mm::NoError;
}

int QtWaveOut::getPitch(std::uint32_t&) { return mm::NotSupported; }
int QtWaveOut::setPitch(std::uint32_t) { return mm::NotSupported; }
int QtWaveOut::getPlaybackRate(std::uint32_t&) { return mm::NotSupported; }
int QtWaveOut::setPlaybackRate(std::uint32_t) { return mm::NotSupported; }

std::uint64_t QtWaveOut::playedBytes() const
{
    if (!sink_ || format_.sampleRate() <= 0)
        return 0;
    if (drained_)
        return queue_.takenBytes();
    // The clock counts microseconds of sound played; the nearest whole frame is the one heard.
    const qint64 usecs = std::max<qint64>(sink_->processedUSecs(), 0);
    const auto frames = static_cast<std::uint64_t>(std::llround(static_cast<double>(usecs) * format_.sampleRate() / 1e6));
    return std::min<std::uint64_t>(frames * static_cast<std::uint64_t>(blockAlign_), queue_.takenBytes());
}

void QtWaveOut::pump()
{
    if (!open_ || !sink_ || failed_)
        return;
    if (!stream_ || (sinkFailed(sink_->error()) && sink_->state() == QAudio::StoppedState)) {
        stopSink();
        reportFailure(mm::NoDriver);
        return;
    }
    if (!paused_) {
        unsigned char chunk[16384];
        for (;;) {
            if (stagedFrom_ == staged_.size()) {
                const std::size_t room = static_cast<std::size_t>(std::max<qint64>(sink_->bytesFree(), 0));
                const std::size_t n = queue_.take(chunk, std::min(room, sizeof chunk));
                if (n == 0)
                    break;
                staged_.assign(chunk, chunk + n);
                stagedFrom_ = 0;
            }
            const qint64 written = stream_->write(reinterpret_cast<const char*>(staged_.data() + stagedFrom_),
                                                  static_cast<qint64>(staged_.size() - stagedFrom_));
            if (written <= 0)
                break;
            stagedFrom_ += static_cast<std::size_t>(written);
        }
        // Everything handed over and the clock standing still: the sink has played it all, even when its
        // clock ends a frame short of the last byte.
        const qint64 processed = sink_->processedUSecs();
        const bool allGiven = stagedFrom_ == staged_.size() && queue_.takenBytes() == queue_.queuedBytes();
        stillTicks_ = processed == lastProcessed_ ? stillTicks_ + 1 : 0;
        lastProcessed_ = processed;
        drained_ = allGiven && stillTicks_ >= kDrainTicks && sink_->state() == QAudio::IdleState;
    }
    const std::uint64_t generation = generation_;
    for (void* tag : queue_.finishedBy(playedBytes())) {
        // The owner may close the device and free its buffers from inside a notification; nothing more
        // of this open is touched then.
        if (generation != generation_ || !onDone_)
            return;
        auto* b = static_cast<WaveBuffer*>(tag);
        b->inQueue = false;
        b->done = true;
        notifyDone(b);
    }
}

// ---- input

QtWaveIn::QtWaveIn(QObject* parent) : QtWaveDeviceBase(parent)
{
    timer_.setInterval(kTickMs);
    connect(&timer_, &QTimer::timeout, this, &QtWaveIn::pump);
}

QtWaveIn::~QtWaveIn()
{
    ++generation_;
    stopSource(true);
}

int QtWaveIn::deviceCount() { return static_cast<int>(QMediaDevices::audioInputs().size()); }

int QtWaveIn::capabilities(int device, WaveDeviceCaps& caps)
{
    return capabilitiesOf(QMediaDevices::audioInputs(), QMediaDevices::defaultAudioInput(), device, 0, caps);
}

int QtWaveIn::queryFormat(int device, const WaveDeviceFormat& format)
{
    const QAudioDevice chosen = lookup(QMediaDevices::audioInputs(), QMediaDevices::defaultAudioInput(), device);
    if (chosen.isNull())
        return device == kWaveMapper ? mm::NoDriver : mm::BadDeviceId;
    if (int code = checkPcmFormat(format))
        return code;
    return chosen.isFormatSupported(toQtFormat(format)) ? mm::NoError : mm::BadFormat;
}

int QtWaveIn::open(int device, const WaveDeviceFormat& format, WaveDoneCallback onDone, WaveFailedCallback onFailed)
{
    if (open_)
        return mm::Allocated;
    if (int code = queryFormat(device, format))
        return code;
    device_ = lookup(QMediaDevices::audioInputs(), QMediaDevices::defaultAudioInput(), device);
    format_ = toQtFormat(format);
    queue_.clear();
    queue_.setFrameSize(format.blockAlign);
    onDone_ = std::move(onDone);
    onFailed_ = std::move(onFailed);
    ++generation_;
    failed_ = false;
    open_ = true;
    return mm::NoError;
}

int QtWaveIn::prepare(WaveBuffer& buffer) { return prepareBuffer(buffer); }

int QtWaveIn::unprepare(WaveBuffer& buffer) { return unprepareBuffer(buffer); }

int QtWaveIn::addBuffer(WaveBuffer& buffer)
{
    if (const int refused = enterQueue(buffer); refused != mm::NoError)
        return refused;
    buffer.bytesRecorded = 0;
    queue_.queue(&buffer, buffer.data, buffer.bufferLength);
    return mm::NoError;
}

int QtWaveIn::start()
{
    if (!open_)
        return mm::InvalidHandle;
    if (source_)
        return mm::NoError;
    source_ = std::make_unique<QAudioSource>(device_, format_);
    stream_ = source_->start();
    if (!stream_ || sinkFailed(source_->error())) {
        stopSource();
        return mm::NoDriver;
    }
    connect(stream_, &QIODevice::readyRead, this, &QtWaveIn::pump);
    timer_.start();
    return mm::NoError;
}

void QtWaveIn::stopSource(bool now)
{
    timer_.stop();
    if (stream_)
        disconnect(stream_, nullptr, this, nullptr);
    if (source_) {
        source_->stop();
        // Usually called from inside the source's own readyRead or a notification: deleted later.
        if (now)
            source_.reset();
        else
            source_.release()->deleteLater();
    }
    stream_ = nullptr;
}

int QtWaveIn::reset()
{
    if (!open_)
        return mm::InvalidHandle;
    stopSource();
    std::vector<WaveBuffer*> returned;
    for (const InputQueue::Done& d : queue_.clear()) {
        auto* b = static_cast<WaveBuffer*>(d.tag);
        b->bytesRecorded = static_cast<std::uint32_t>(d.recorded);
        b->inQueue = false;
        b->done = true;
        returned.push_back(b);
    }
    postReturned(std::move(returned));
    return mm::NoError;
}

int QtWaveIn::close()
{
    if (!open_)
        return mm::InvalidHandle;
    if (queue_.queued() > 0)
        return mm::StillPlaying;
    stopSource();
    ++generation_;
    open_ = false;
    onDone_ = nullptr;
    onFailed_ = nullptr;
    return mm::NoError;
}

void QtWaveIn::pump()
{
    if (!open_ || !source_ || failed_)
        return;
    if (!stream_ || (sinkFailed(source_->error()) && source_->state() == QAudio::StoppedState)) {
        stopSource();
        reportFailure(mm::NoDriver);
        return;
    }
    const QByteArray bytes = stream_->readAll();
    if (bytes.isEmpty())
        return;
    const std::uint64_t generation = generation_;
    for (const InputQueue::Done& d : queue_.store(reinterpret_cast<const unsigned char*>(bytes.constData()),
                                                  static_cast<std::size_t>(bytes.size()))) {
        if (generation != generation_ || !onDone_)
            return;
        auto* b = static_cast<WaveBuffer*>(d.tag);
        b->bytesRecorded = static_cast<std::uint32_t>(d.recorded);
        b->inQueue = false;
        b->done = true;
        notifyDone(b);
    }
}

} // namespace sonavik
