#include "audio/recording.h"

#include "audio/playback.h"
#include "audio/record_settings.h"
#include "document/sample_summary.h"
#include "document/workspace.h"
#include "platform/os.h"
#include "platform/ui.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace sonavik {

namespace {

// Names of the results the set-up and close steps report.
const char* addFailureName(int code)
{
    switch (code) {
    case mm::HandleBusy:
        return "MMSYSERR_HANDLEBUSY";
    case mm::InvalidHandle:
        return "MMSYSERR_INVALHANDLE";
    case mm::NoDriver:
        return "MMSYSERR_NODRIVER";
    case mm::NoMemory:
        return "MMSYSERR_NOMEM";
    case mm::Unprepared:
        return "WAVERR_UNPREPARED";
    default:
        return nullptr;
    }
}

const char* closeFailureName(int code)
{
    switch (code) {
    case mm::InvalidHandle:
        return "MMSYSERR_INVALHANDLE";
    case mm::NoDriver:
        return "MMSYSERR_NODRIVER";
    case mm::NoMemory:
        return "MMSYSERR_NOMEM";
    case mm::StillPlaying:
        return "WAVERR_STILLPLAYING";
    default:
        return "close other err";
    }
}

} // namespace

std::string recordingLossText(std::uint64_t lostBytes, std::uint32_t bytesPerSecond)
{
    char text[96];
    std::snprintf(text, sizeof text, "録音中に %.1f 秒の音が失われました",
                  static_cast<double>(lostBytes) / std::max<std::uint32_t>(bytesPerSecond, 1));
    return text;
}

std::optional<WaveFormat> recordFormatFromSettings(Settings& s)
{
    WaveFormat f;
    f.wFormatTag = 1;
    if (s.recordChannels != 1)
        s.recordChannels = 2;
    f.nChannels = static_cast<std::uint16_t>(s.recordChannels);
    const std::optional<std::uint32_t> rate = recordRateOf(s);
    if (!rate)
        return std::nullopt;
    // A damaged custom rate of 0 or less records at 1 Hz, as the settings dialog would show it.
    f.nSamplesPerSec = static_cast<std::int32_t>(*rate) < 1 ? 1u : *rate;
    if (s.recordBits != 8)
        s.recordBits = 16;
    f.wBitsPerSample = static_cast<std::uint16_t>(s.recordBits);
    f.nBlockAlign = static_cast<std::uint16_t>(f.nChannels * f.wBitsPerSample / 8);
    const std::uint64_t bytesPerSec = std::uint64_t{f.nBlockAlign} * f.nSamplesPerSec;
    if (bytesPerSec > 0xFFFFFFFFu)
        return std::nullopt;
    f.nAvgBytesPerSec = static_cast<std::uint32_t>(bytesPerSec);
    f.cbSize = 0;
    return f;
}

Recorder::Recorder(Workspace& ws, Ui& ui, WaveIn& device) : ws_(ws), ui_(ui), device_(device) {}

Recorder::~Recorder()
{
    if (open_) {
        device_.reset();
        unprepareAll(false);
        device_.close();
    }
}

void Recorder::recordNewDocument()
{
    if (ws_.playing == 1 || ws_.capturing == 1) {
        showNotice(ui_, "再生／録音中は、録音を開始できません");
        return;
    }
    if (hooks.closeDocument)
        hooks.closeDocument();
    if (device_.deviceCount() <= 0) {
        if (device_.serverNotAnswering())
            showError(ui_, kServerNotAnsweringText);
        else
            showNotice(ui_, "使用可能な録音デバイスがインストールされていません");
        return;
    }
    if (!hooks.settingsDialog || !hooks.settingsDialog())
        return;
    SoundDocument& doc = ws_.document;
    Settings& s = ws_.settings;
    if (doc.hasData()) {
        ui_.beep(BeepKind::Error);
        showError(ui_, "strange!");
        return;
    }
    const std::optional<WaveFormat> format = recordFormatFromSettings(s);
    if (!format) {
        ui_.beep(BeepKind::Error);
        showError(ui_, "strange!");
        return;
    }
    doc.format = *format;
    if (open_) {
        ui_.beep(BeepKind::Error);
        showError(ui_, "hwi is not NULL!");
        return;
    }

    if (s.recordPackets < 1)
        s.recordPackets = 1;
    packetBytes_ = ringBufferBytes(s.recordPackets, ws_.pageSize);
    if (!ring_.allocate(ui_, packetBytes_)) {
        showError(ui_, "mem not allo!");
        return;
    }
    const int device = s.recordUseMapper == 1 ? kWaveMapper : s.recordDeviceIndex;
    const int opened = device_.open(
        device, toDeviceFormat(doc.format), [this](WaveBuffer* b) { onRecordBufferDone(b); },
        [this](int code) { deviceFailed(code); });
    if (opened != mm::NoError) {
        showError(ui_, device_.serverNotAnswering() ? kServerNotAnsweringText : mmErrorText(opened));
        showError(ui_, "デバイスはオープンされませんでした。");
        ring_.release();
        return;
    }
    open_ = true;
    lost_ = false;
    lostSeen_ = 0;
    lostWhileStoring_ = 0;

    pendingBuffers_ = 0;
    for (int i = 0; i < kRingSize; ++i) {
        if (device_.prepare(ring_[i]) != mm::NoError) {
            ui_.beep(BeepKind::Error);
            showError(ui_, "not Prepared!");
            closeDeviceAfterSetupFailure();
            return;
        }
    }
    for (int i = 0; i < kRingSize; ++i) {
        ring_[i].bufferLength = packetBytes_;
        if (const int code = device_.addBuffer(ring_[i]); code != mm::NoError) {
            if (const char* name = addFailureName(code))
                showError(ui_, name);
            showError(ui_, "not Added!");
            // Buffers already handed over come back first, so that they can be unprepared and the
            // device closed.
            device_.reset();
            unprepareAll(false);
            closeDeviceAfterSetupFailure();
            return;
        }
        ++pendingBuffers_;
    }
    if (device_.start() != mm::NoError) {
        ui_.beep(BeepKind::Error);
        showError(ui_, "not Started!");
        device_.reset();
        unprepareAll(false);
        closeDeviceAfterSetupFailure();
        return;
    }

    ws_.capturing = 0;
    recordedBytes_ = 0;
    const std::uint64_t seconds = static_cast<std::uint64_t>(std::max(s.recordSeconds, 0));
    recordAreaSize_ = std::min<std::uint64_t>(std::uint64_t{doc.format.nAvgBytesPerSec} * seconds, kMaxRecordArea);
    recordArea_ = hooks.reserve ? hooks.reserve(static_cast<std::size_t>(recordAreaSize_))
                                : AddressReservation::reserve(static_cast<std::size_t>(recordAreaSize_));
    if (!recordArea_) {
        ui_.beep(BeepKind::Error);
    } else {
        levelOptions_.channels = doc.format.nChannels;
        levelOptions_.bitsPerSample = doc.format.wBitsPerSample;
        levelOptions_.monoTrace = s.peakMonoWave != 0;
        levelOptions_.stereoTrace = s.peakStereoWave != 0;
        levelOptions_.lissajousTrace = s.peakLissajous != 0;
        levelOptions_.lissajousDecor = s.peakLissajousDecor != 0;
        levelOptions_.lissajousType = s.peakStereoType != 0;
        // A device that failed before the standby appeared would leave it waiting for nothing.
        if (hooks.standby && !lost_)
            hooks.standby();
        ws_.capturing = 0;
        levelWindow_ = false;
        if (!levelBits_ && !lost_)
            ui_.beep(BeepKind::Error);
        levelBits_.reset();
        takeRecording();
        recordArea_.reset();
        if (lostWhileStoring_ > 0)
            ui_.setStatusText(1, recordingLossText(lostWhileStoring_, doc.format.nAvgBytesPerSec));
    }

    if (open_) {
        if (device_.reset() != mm::NoError)
            ui_.beep(BeepKind::Error);
        unprepareAll(true);
        if (!closeDevice())
            showError(ui_, "not closed!");
    }
    ring_.release();
    pendingBuffers_ = 0;
}

void Recorder::takeRecording()
{
    SoundDocument& doc = ws_.document;
    if (recordedBytes_ == 0) {
        showNotice(ui_, "録音は行なわれませんでした。");
        return;
    }
    SampleBuffer samples = memoryRoomFor(recordedBytes_) ? SampleBuffer::allocate(recordedBytes_) : SampleBuffer();
    if (samples.isNull()) {
        showError(ui_, "mem not allo!");
        return;
    }
    std::memcpy(samples.data(), recordArea_->data(), recordedBytes_);
    doc.samples = std::move(samples);
    doc.frameCount = static_cast<std::int32_t>(recordedBytes_ / doc.format.nBlockAlign);
    doc.summary = SampleSummary{};
    ensureSummary(doc);
    if (hooks.layoutNewDocument && !hooks.layoutNewDocument()) {
        ui_.beep(BeepKind::Error);
        return;
    }
    ws_.red.clear();
    ++ws_.newDataCounter;
    char name[64];
    std::snprintf(name, sizeof name, "New Data(%d).wav", ws_.newDataCounter);
    doc.path = name;
    doc.modified = 1;
    if (hooks.showNewDocument)
        hooks.showNewDocument();
}

void Recorder::onRecordBufferDone(WaveBuffer* buffer)
{
    if (!ring_.owns(buffer))
        return;
    --pendingBuffers_;
    if (!levelWindow_)
        return;
    // Sound the device could not keep arrived before this buffer: it counts when it fell into storing.
    if (const std::uint64_t lost = device_.lostBytes(); lost > lostSeen_) {
        if (ws_.capturing == 1)
            lostWhileStoring_ += lost - lostSeen_;
        lostSeen_ = lost;
    }
    if (!levelBits_) {
        ui_.beep(BeepKind::Error);
        return;
    }
    const std::uint32_t got = std::min(buffer->bytesRecorded, packetBytes_);
    const int level = drawLevelPicture(*levelBits_, buffer->data, got, levelOptions_);
    if (ws_.settings.recordOnlyWhenSound == 1)
        ws_.capturing = level >= kSoundLevel ? 1 : 0;
    if (ws_.capturing == 1) {
        if (std::uint64_t{recordedBytes_} + packetBytes_ > recordAreaSize_) {
            ws_.capturing = 0;
        } else if (!recordArea_ || !recordArea_->commit(recordedBytes_, packetBytes_)) {
            ui_.beep(BeepKind::Error);
            ws_.capturing = 0;
        } else {
            // Only whole frames the device delivered are kept.
            const std::uint32_t whole = got - got % std::max<std::uint32_t>(ws_.document.format.nBlockAlign, 1);
            std::memcpy(recordArea_->data() + recordedBytes_, buffer->data, whole);
            recordedBytes_ += whole;
        }
    }
    if (ws_.capturing == 1)
        markRecording(*levelBits_);
    if (hooks.levelChanged)
        hooks.levelChanged();
    buffer->bytesRecorded = 0;
    buffer->bufferLength = packetBytes_;
    if (device_.prepare(*buffer) != mm::NoError || device_.addBuffer(*buffer) != mm::NoError)
        ui_.beep(BeepKind::Error);
    else
        ++pendingBuffers_;
}

bool Recorder::openLevelPicture(int width, int height)
{
    if (levelWindow_ || levelBits_) {
        ui_.beep(BeepKind::Error);
        return false;
    }
    levelWindow_ = true;
    levelBits_ = PixelImage::create(std::max(width, 0), std::max(height, 0));
    if (!levelBits_)
        ui_.beep(BeepKind::Error);
    return true;
}

std::string Recorder::secondsText() const
{
    const std::uint32_t perSecond = ws_.document.format.nAvgBytesPerSec;
    return std::to_string(perSecond ? recordedBytes_ / perSecond : 0) + " 秒";
}

std::string Recorder::kilobytesText() const { return std::to_string(recordedBytes_ / 1024) + " kB"; }

const char* Recorder::toggleCapturing()
{
    ws_.capturing = ws_.capturing == 1 ? 0 : 1;
    return ws_.capturing == 1 ? kStopStoringLabel : kStartStoringLabel;
}

void Recorder::stopCapturing() { ws_.capturing = 0; }

void Recorder::unprepareAll(bool beepOnce)
{
    bool beeped = false;
    for (int i = 0; i < kRingSize && ring_.inUse(); ++i) {
        if (device_.unprepare(ring_[i]) != mm::NoError && beepOnce && !beeped) {
            ui_.beep(BeepKind::Error);
            beeped = true;
        }
    }
}

bool Recorder::closeDevice()
{
    const int code = device_.close();
    if (code == mm::NoError) {
        open_ = false;
        return true;
    }
    showError(ui_, closeFailureName(code));
    return false;
}

void Recorder::closeDeviceAfterSetupFailure()
{
    if (closeDevice())
        showNotice(ui_, "closed!");
    else
        showError(ui_, "not closed!");
    ring_.release();
    pendingBuffers_ = 0;
}

void Recorder::deviceFailed(int code)
{
    if (!open_)
        return;
    lost_ = true;
    ws_.capturing = 0;
    showError(ui_, mmErrorText(code));
    if (levelWindow_ && hooks.closeStandby)
        hooks.closeStandby();
}

} // namespace sonavik
