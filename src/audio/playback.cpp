#include "audio/playback.h"

#include "document/workspace.h"
#include "platform/ui.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <cstring>

namespace sonavik {

WaveDeviceFormat toDeviceFormat(const WaveFormat& f)
{
    WaveDeviceFormat d;
    d.formatTag = f.wFormatTag;
    d.channels = f.nChannels;
    d.samplesPerSec = f.nSamplesPerSec;
    d.avgBytesPerSec = f.nAvgBytesPerSec;
    d.blockAlign = f.nBlockAlign;
    d.bitsPerSample = f.wBitsPerSample;
    return d;
}

Player::Player(Workspace& ws, Ui& ui, WaveOut& device) : ws_(ws), ui_(ui), device_(device) {}

Player::~Player()
{
    stateChanged = nullptr;
    if (open_ || ring_.inUse())
        finish(false);
}

const SoundDocument& Player::source() const
{
    if (other_)
        return *other_;
    return before_ ? ws_.undoStore : ws_.document;
}

bool Player::toggleBefore()
{
    const SoundDocument& now = ws_.document;
    const SoundDocument& then = ws_.undoStore;
    if (ws_.playing != 1 || !open_ || other_ || preview_ || !then.hasData() || then.frameCount != now.frameCount
        || then.format.nBlockAlign != now.format.nBlockAlign || then.format.nChannels != now.format.nChannels
        || then.format.nSamplesPerSec != now.format.nSamplesPerSec || then.byteCount() > then.samples.size())
        return false;
    std::uint64_t resumeAt = 0;
    if (device_.replaceQueued(resumeAt) != mm::NoError)
        return false;
    // As for a preview's change, now from the other record.
    resumeFrom(resumeAt, loops());
    before_ = !before_;
    return true;
}


const WaveFormat& Player::playedFormat() const { return preview_ ? preview_->format() : source().format; }

void crossfadeFrames(const unsigned char* old, unsigned char* fresh, std::size_t frames, std::size_t first,
                     std::size_t count, const WaveFormat& format)
{
    const bool eight = format.wBitsPerSample == 8;
    const std::size_t channels = format.nChannels;
    const std::size_t sampleBytes = eight ? 1 : 2;
    for (std::size_t f = 0; f < frames; ++f) {
        const double turn = (static_cast<double>(first + f) + 0.5) / static_cast<double>(count) * (M_PI / 2.0);
        const double keep = std::cos(turn);
        const double take = std::sin(turn);
        for (std::size_t c = 0; c < channels; ++c) {
            const std::size_t at = f * format.nBlockAlign + c * sampleBytes;
            if (eight) {
                const double v = (old[at] - 128) * keep + (fresh[at] - 128) * take;
                fresh[at] = static_cast<unsigned char>(std::clamp(std::lround(v), -128L, 127L) + 128);
            } else {
                const auto a = static_cast<std::int16_t>(old[at] | old[at + 1] << 8);
                const auto b = static_cast<std::int16_t>(fresh[at] | fresh[at + 1] << 8);
                const auto v = static_cast<std::int16_t>(std::clamp(std::lround(a * keep + b * take), -32768L, 32767L));
                fresh[at] = static_cast<unsigned char>(static_cast<std::uint16_t>(v) & 0xFF);
                fresh[at + 1] = static_cast<unsigned char>(static_cast<std::uint16_t>(v) >> 8);
            }
        }
    }
}

bool Player::running() const { return ws_.playing == 1; }

bool Player::loops() const
{
    if (preview_)
        return previewLoops_;
    if (other_)
        return false;
    return ws_.loopMode == -1 ? ws_.settings.playButtonLoops != 0 : ws_.loopMode != 0;
}

bool Player::refuseOrStop()
{
    if (ws_.capturing == 1) {
        showNotice(ui_, "録音中は、再生を開始できません");
        return true;
    }
    if (ws_.playing == 1) {
        finish(true);
        return true;
    }
    return false;
}

void Player::playOrStop()
{
    if (refuseOrStop())
        return;
    other_.reset();
    preview_.reset();
    before_ = false;
    start();
}

void Player::playSound(std::shared_ptr<const SoundDocument> sound)
{
    if (refuseOrStop())
        return;
    preview_.reset();
    other_ = std::move(sound);
    if (!other_)
        return;
    start();
    if (ws_.playing != 1)
        other_.reset();
}

void Player::playPreview(std::shared_ptr<PreviewRender> preview, bool loop)
{
    if (refuseOrStop())
        return;
    other_.reset();
    preview_ = std::move(preview);
    previewLoops_ = loop;
    if (!preview_ || preview_->empty()) {
        preview_.reset();
        return;
    }
    start();
    if (ws_.playing != 1)
        preview_.reset();
}

void Player::previewChanged()
{
    if (ws_.playing != 1 || !preview_ || !open_)
        return;
    // The work that does not depend on the place (a reverb's response) is done before the place is
    // taken, so that the new frames reach the device before it plays there.
    preview_->prepareSettings();
    const std::uint64_t block = playedFormat().nBlockAlign;
    const std::uint64_t length = static_cast<std::uint64_t>(playLast_) - static_cast<std::uint64_t>(playFirst_) + 1;
    {
        // So is the piece the device is about to play: it reads at most two rings behind what was handed to
        // it (one held at the server, one on its way there).
        const std::uint64_t behind = std::uint64_t{2} * kRingSize * capacity_;
        const std::uint64_t guess = streamBytes_ > behind ? (streamBytes_ - behind) / block : 0;
        std::vector<unsigned char> frame(block);
        preview_->read(static_cast<std::int64_t>(guess % length), 1, frame.data());
    }
    std::uint64_t resumeAt = 0;
    if (device_.replaceQueued(resumeAt) != mm::NoError)
        return;
    // The device plays on up to resumeAt; every buffer it held comes back and is filled again from the
    // frame that lands there.
    // What was handed to the device from there on is what the new sound fades in over, as far as it
    // reaches and is still kept.
    fadeLength_ = fadeDone_ = 0;
    if (streamBytes_ > resumeAt && streamBytes_ - resumeAt <= history_.size() && block) {
        fadeLength_ = std::min<std::size_t>(fadeOld_.size() / block, (streamBytes_ - resumeAt) / block);
        for (std::size_t i = 0; i < fadeLength_ * block; ++i)
            fadeOld_[i] = history_[(resumeAt + i) % history_.size()];
    }
    streamBytes_ = resumeAt;
    resumeFrom(resumeAt, previewLoops_);
}

void Player::resumeFrom(std::uint64_t resumeAt, bool loop)
{
    const std::uint64_t block = playedFormat().nBlockAlign;
    const std::uint64_t length = static_cast<std::uint64_t>(playLast_) - static_cast<std::uint64_t>(playFirst_) + 1;
    const std::uint64_t frames = block ? resumeAt / block : 0;
    playPos_ = loop || frames < length ? playFirst_ + static_cast<std::int32_t>(frames % length) : playLast_ + 1;
    framesPlayed_ = static_cast<std::int64_t>(frames);
}

void Player::copyFrames(std::int32_t first, std::size_t count, unsigned char* out)
{
    const std::size_t frameBytes = playedFormat().nBlockAlign;
    // A preview works out its frames as they are needed; one that cannot keeps the sound as it is.
    if (preview_)
        preview_->read(first, static_cast<std::int64_t>(count), out);
    else
        std::memcpy(out, source().samples.data() + static_cast<std::size_t>(first) * frameBytes, count * frameBytes);
}

void Player::crossfade(unsigned char* data, std::size_t bytes)
{
    const WaveFormat& format = playedFormat();
    if (fadeDone_ >= fadeLength_ || format.nBlockAlign == 0)
        return;
    const std::size_t frames = std::min(bytes / format.nBlockAlign, fadeLength_ - fadeDone_);
    crossfadeFrames(fadeOld_.data() + fadeDone_ * format.nBlockAlign, data, frames, fadeDone_, fadeLength_, format);
    fadeDone_ += frames;
}

void Player::start()
{
    const WaveFormat& format = playedFormat();
    const std::int32_t frameCount = preview_ ? preview_->frameCount() : source().frameCount;
    const bool hasData = preview_ ? !preview_->empty() : source().hasData();
    // The red selection belongs to the document; another sound plays whole.
    const RedSelection red = other_ || preview_ ? RedSelection{} : ws_.red;
    if (!hasData || frameCount <= 0 || format.nBlockAlign == 0 || (red.exists() && red.redStart >= red.redEnd)) {
        ui_.beep(BeepKind::Error);
        return;
    }
    // A red selection reaching past the sound plays what there is of it.
    const std::int32_t first = red.exists() ? std::max<std::int32_t>(red.redStart, 0) : 0;
    const std::int32_t last = red.exists() ? std::min(red.redEnd, frameCount - 1) : frameCount - 1;
    if (first > last) {
        ui_.beep(BeepKind::Error);
        return;
    }
    if (device_.deviceCount() <= 0) {
        if (device_.serverNotAnswering())
            showError(ui_, kServerNotAnsweringText);
        else
            showNotice(ui_, "使用可能な再生デバイスがインストールされていません");
        return;
    }
    if (ws_.settings.playPackets < 1) {
        ui_.beep(BeepKind::Error);
        ws_.settings.playPackets = 1;
    }
    capacity_ = ringBufferBytes(ws_.settings.playPackets, ws_.pageSize);
    // A buffer always holds at least one frame.
    capacity_ = std::max<std::uint32_t>(capacity_, format.nBlockAlign);
    if (!ring_.allocate(ui_, capacity_)) {
        showError(ui_, "mem not allo!");
        return;
    }
    history_.clear();
    fadeOld_.clear();
    fadeLength_ = fadeDone_ = 0;
    streamBytes_ = 0;
    if (preview_) {
        // What the device can hold beyond what it plays: the ring at the server and the ring on its way.
        const std::size_t fade = static_cast<std::size_t>(std::lround(format.nSamplesPerSec * kPreviewFadeSeconds));
        try {
            history_.assign(std::size_t{3} * kRingSize * capacity_, 0);
            fadeOld_.assign(std::max<std::size_t>(fade, 1) * format.nBlockAlign, 0);
        } catch (const std::bad_alloc&) {
            ring_.release();
            showError(ui_, "mem not allo!");
            return;
        }
    }

    if (open_) {
        // A device left open by an earlier playback is closed before another is opened.
        ui_.beep(BeepKind::Error);
        device_.reset();
        device_.close();
        open_ = false;
    }
    const int device = ws_.settings.playUseMapper == 1 ? kWaveMapper : ws_.settings.playDeviceIndex;
    const int opened = device_.open(
        device, toDeviceFormat(format), [this](WaveBuffer* b) { onPlayBufferDone(b); },
        [this](int code) { deviceFailed(code); });
    if (opened != mm::NoError) {
        showError(ui_, device_.serverNotAnswering() ? kServerNotAnsweringText : mmErrorText(opened));
        showError(ui_, "デバイスはオープンされませんでした。");
        ring_.release();
        return;
    }
    open_ = true;

    const Settings& s = ws_.settings;
    volumeSaved_ = pitchSaved_ = rateSaved_ = false;
    if (s.playStoreInDevice != 1) {
        volumeSaved_ = device_.getVolume(savedVolume_) == mm::NoError;
        pitchSaved_ = device_.getPitch(savedPitch_) == mm::NoError;
        rateSaved_ = device_.getPlaybackRate(savedRate_) == mm::NoError;
    }
    if (s.playUseDeviceSettings != 1) {
        // Controls the device lacks answer "not supported"; playback goes on without them.
        device_.setVolume((static_cast<std::uint32_t>(s.playVolumeRight) << 16) | (static_cast<std::uint32_t>(s.playVolumeLeft) & 0xFFFFu));
        device_.setPitch(s.playPitch);
        device_.setPlaybackRate(s.playRate);
    }
    device_.pause();

    playFirst_ = first;
    playLast_ = last;
    playPos_ = first;
    framesPlayed_ = 0;
    ws_.playing = 1;

    ui_.setCursor(CursorKind::Wait);
    int failed = mm::NoError;
    for (int i = 0; i < kRingSize && failed == mm::NoError; ++i)
        failed = fillAndQueue(ring_[i]);
    ui_.setCursor(CursorKind::Arrow);
    if (failed != mm::NoError) {
        finish(false);
        showError(ui_, mmErrorText(failed));
        return;
    }
    device_.restart();
    if (stateChanged)
        stateChanged(true);
}

int Player::fillAndQueue(WaveBuffer& buffer)
{
    const bool loop = loops();
    device_.prepare(buffer);
    const std::size_t frameBytes = playedFormat().nBlockAlign;
    std::size_t used = 0;
    for (;;) {
        // Whole frames from playPos while they lie in the range and fit.
        std::size_t frames = 0;
        if (playPos_ >= playFirst_ && playPos_ <= playLast_)
            frames = std::min<std::size_t>(static_cast<std::size_t>(playLast_ - playPos_) + 1, (capacity_ - used) / frameBytes);
        if (frames > 0)
            copyFrames(playPos_, frames, buffer.data + used);
        used += frames * frameBytes;
        playPos_ += static_cast<std::int32_t>(frames);
        if (!loop || used + frameBytes > capacity_)
            break;
        if (frames == 0)
            playPos_ = playFirst_;
    }
    buffer.bufferLength = static_cast<std::uint32_t>(used);
    if (preview_) {
        crossfade(buffer.data, used);
        for (std::size_t i = 0; i < used && !history_.empty(); ++i)
            history_[(streamBytes_ + i) % history_.size()] = buffer.data[i];
        streamBytes_ += used;
    }
    return device_.write(buffer);
}

void Player::onPlayBufferDone(WaveBuffer* buffer)
{
    if (ws_.playing != 1 || !ring_.owns(buffer))
        return;
    if (const int block = playedFormat().nBlockAlign)
        framesPlayed_ += buffer->bufferLength / block;
    if (buffer->bufferLength != 0) {
        if (int code = fillAndQueue(*buffer); code != mm::NoError) {
            finish(false);
            showError(ui_, mmErrorText(code));
        }
        return;
    }
    finish(false);
}

void Player::deviceFailed(int code)
{
    if (!open_)
        return;
    finish(false);
    showError(ui_, mmErrorText(code));
}

void Player::finish(bool reportErrors)
{
    const bool wasPlaying = ws_.playing == 1;
    ws_.playing = 0;
    if (open_) {
        if (ws_.settings.playStoreInDevice != 1) {
            if (volumeSaved_)
                device_.setVolume(savedVolume_);
            if (pitchSaved_)
                device_.setPitch(savedPitch_);
            if (rateSaved_)
                device_.setPlaybackRate(savedRate_);
        }
        for (int code : {device_.reset(), device_.close()}) {
            if (code != mm::NoError && reportErrors) {
                ui_.beep(BeepKind::Error);
                showError(ui_, mmErrorText(code));
            }
        }
        open_ = false;
    }
    ring_.release();
    other_.reset();
    preview_.reset();
    history_.clear();
    history_.shrink_to_fit();
    fadeOld_.clear();
    if (wasPlaying && stateChanged)
        stateChanged(false);
}

} // namespace sonavik
