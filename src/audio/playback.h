#pragma once
// Playback of the current sound, or of its red selection, once or in a loop, through a ring of ten
// buffers kept queued at an output device.
//
// Use: construct one Player per window with the Workspace, the Ui and the output device; set
// stateChanged to switch the play button's label ("再生" / "停止") and the other big buttons. The
// play commands set ws.loopMode and call playOrStop(); the device's done notifications reach
// onPlayBufferDone() by themselves (the Player registers for them when it opens the device).

#include "audio/wave_ring.h"
#include "document/sound_document.h"
#include "edit/preview_render.h"
#include "platform/wave_device.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace sonavik {

class Ui;
struct Workspace;

inline constexpr const char* kPlayLabel = "再生";
inline constexpr const char* kStopLabel = "停止";

class Player {
public:
    Player(Workspace& ws, Ui& ui, WaveOut& device);
    // Stops a playback that still runs, without messages.
    ~Player();
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;

    // true when playback starts: label "停止", "読込", "保存", "録音", "ﾘﾊﾞｰﾌﾞ", "ｲｺﾗｲｻﾞ" disabled;
    // false when it ends: label "再生", those five enabled again.
    std::function<void(bool running)> stateChanged;

    // Starts playback, or stops it when it runs.
    void playOrStop();
    // Plays a sound that is not the document (a spectrogram rectangle written back into a scratch
    // buffer) once, from its first frame to its last, through the same device and ring; stops a
    // playback that runs instead. The Player keeps the sound until the playback ends.
    void playSound(std::shared_ptr<const SoundDocument> sound);
    // The playback that runs is of such a sound, not of the document.
    bool playingOtherSound() const { return other_ != nullptr || preview_ != nullptr; }
    // Plays a curve dialog's preview over and over (or once), its frames worked out as they are queued;
    // stops a playback that runs instead. The Player keeps the preview until the playback ends.
    void playPreview(std::shared_ptr<PreviewRender> preview, bool loop = true);
    bool playingPreview() const { return preview_ != nullptr; }
    // The preview's settings changed: what the device holds but has not played yet is replaced by the
    // preview worked out anew from where it stands (a device that cannot replace plays it out first).
    // The sound heard crossfades into the new one over kPreviewFadeSeconds (equal power); from the end of
    // the crossfade on, the frames are the new settings' own.
    void previewChanged();
    // While the document plays: switches what is heard between it and the undo store (the state before
    // the last change) at the frame the device stands at, by replacing what it holds but has not played.
    // False, with nothing changed, when the document is not what plays, the two differ in format or
    // length, or the device cannot replace its queue.
    bool toggleBefore();
    // The state before the last change is what is heard.
    bool hearingBefore() const { return before_; }
    // A buffer has been played: refill and queue it again, or end a playback that reached its end.
    void onPlayBufferDone(WaveBuffer* buffer);

    bool running() const;
    // Whether the playback that runs (or the next one) loops: loopMode, or playButtonLoops for the button.
    bool loops() const;
    // The range being played, inclusive.
    std::int32_t firstFrame() const { return playFirst_; }
    std::int32_t lastFrame() const { return playLast_; }
    // Frames in the buffers the device has finished since playback started (for a play position).
    std::int64_t framesPlayed() const { return framesPlayed_; }

private:
    // While recording: the notice; while playing: stops. True when either happened.
    bool refuseOrStop();
    void start();
    // The sound being played: another sound, or the document (a preview has its own frames).
    const SoundDocument& source() const;
    const WaveFormat& playedFormat() const;
    int fillAndQueue(WaveBuffer& buffer);
    // Frames [first, first + count) of what plays, into out.
    void copyFrames(std::int32_t first, std::size_t count, unsigned char* out);
    // After the device gave back what it held from byte resumeAt of the stream on: the next frame to
    // hand over is the one that lands there.
    void resumeFrom(std::uint64_t resumeAt, bool loop);
    // A preview's crossfade over the frames of buffer from byte from on, while one runs.
    void crossfade(unsigned char* data, std::size_t bytes);
    // Ends playback: restores the device's values, resets and closes it, releases the ring.
    void finish(bool reportErrors);
    void deviceFailed(int code);

    Workspace& ws_;
    Ui& ui_;
    WaveOut& device_;
    WaveRing ring_;
    bool open_ = false;
    std::uint32_t capacity_ = 0;
    std::int32_t playFirst_ = 0;
    std::int32_t playLast_ = -1;
    std::int32_t playPos_ = 0;
    std::int64_t framesPlayed_ = 0;
    std::uint32_t savedVolume_ = 0;
    std::uint32_t savedPitch_ = 0;
    std::uint32_t savedRate_ = 0;
    bool volumeSaved_ = false;
    bool pitchSaved_ = false;
    bool rateSaved_ = false;
    std::shared_ptr<const SoundDocument> other_;
    std::shared_ptr<PreviewRender> preview_;
    bool previewLoops_ = true;
    // A preview keeps the last bytes it handed to the device, by their place in the stream, so that
    // the sound a change cuts into can be faded out.
    std::vector<unsigned char> history_;
    std::uint64_t streamBytes_ = 0;
    // The frames heard before a change, fading out over the first fadeLength_ frames after it.
    std::vector<unsigned char> fadeOld_;
    std::size_t fadeLength_ = 0;
    std::size_t fadeDone_ = 0;
    bool before_ = false;
};

// How long a change of a preview takes to fade in.
inline constexpr double kPreviewFadeSeconds = 0.010;

// Equal-power crossfade of 8-bit unsigned or 16-bit signed samples: frame i of count goes from old to
// fresh as cos and sin of (i + 0.5) / count quarter turns, into fresh; frames from first on of count.
void crossfadeFrames(const unsigned char* old, unsigned char* fresh, std::size_t frames, std::size_t first,
                     std::size_t count, const WaveFormat& format);

// The device format of a document's format fields.
WaveDeviceFormat toDeviceFormat(const WaveFormat& format);

} // namespace sonavik
