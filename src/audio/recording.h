#pragma once
// Recording into a new document from an input device: the settings dialog, a ring of ten buffers kept
// at the device, the standby dialog with its live level picture while incoming packets are stored, and
// the new sound "New Data(N).wav" made of what was stored.
//
// Use: construct one Recorder per window with the Workspace, the Ui and the input device, and fill in
// the hooks. Command 40207 (after its busy guard and the close command) calls recordNewDocument(),
// which returns when the standby dialog has closed. The standby dialog, while it runs, calls
// openLevelPicture() once, shows levelPicture(), secondsText() and kilobytesText() whenever
// levelChanged fires, and calls toggleCapturing() for "録音開始"/"録音停止" and stopCapturing() when it
// closes. The device's notifications reach onRecordBufferDone() by themselves.

#include "audio/level_picture.h"
#include "audio/wave_ring.h"
#include "document/sound_document.h"
#include "platform/os.h"
#include "platform/wave_device.h"
#include "raster/pixel_image.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace sonavik {

class Ui;
struct Settings;
struct Workspace;

inline constexpr const char* kStartStoringLabel = "録音開始";
inline constexpr const char* kStopStoringLabel = "録音停止";
// The level at which "音が検出された時のみ録音" starts storing a packet.
inline constexpr int kSoundLevel = 6;
// The recording area never reserves more than this, whatever recordSeconds says: what the document's
// frame count and a WAV file's sizes can hold.
inline constexpr std::uint64_t kMaxRecordArea = 0x7FFFFFFFu;

struct RecordingHooks {
    // Closes the current sound with its save prompt (command 40210); may be empty.
    std::function<void()> closeDocument;
    // Dialog 102: true for OK.
    std::function<bool()> settingsDialog;
    // Dialog 103, modal; returns when it has closed.
    std::function<void()> standby;
    // A packet has been drawn and maybe stored.
    std::function<void()> levelChanged;
    // The device stopped working: the standby dialog is to close.
    std::function<void()> closeStandby;
    // The new sound is in the document: lay out the windows for its channels and reset views,
    // selections and modified; false when the layout failed.
    std::function<bool()> layoutNewDocument;
    // The new sound is named and marked modified: refresh the title, redraw the views and enable
    // "保存", "再生", "ﾘﾊﾞｰﾌﾞ", "ｲｺﾗｲｻﾞ".
    std::function<void()> showNewDocument;
    // Reserves the recording area; empty means AddressReservation::reserve.
    std::function<std::optional<AddressReservation>(std::size_t)> reserve;
};

// "録音中に %.1f 秒の音が失われました": what the device could not keep while sound was being stored.
std::string recordingLossText(std::uint64_t lostBytes, std::uint32_t bytesPerSecond);

// The record format the settings ask for; recordChannels and recordBits other than 1/8 are stored
// back as 2/16. Nothing for a rate index outside 0..5 or a rate the format cannot carry.
std::optional<WaveFormat> recordFormatFromSettings(Settings& settings);

class Recorder {
public:
    Recorder(Workspace& ws, Ui& ui, WaveIn& device);
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    RecordingHooks hooks;

    void recordNewDocument();
    void onRecordBufferDone(WaveBuffer* buffer);

    // For the standby dialog.
    // Takes the level picture of width x height; false (with the error beep) when one is already taken.
    bool openLevelPicture(int width, int height);
    // Null while no picture exists.
    const PixelImage* levelPicture() const { return levelBits_ ? &*levelBits_ : nullptr; }
    std::string secondsText() const;
    std::string kilobytesText() const;
    // Button 1107: switches storing on or off; returns the button's new label.
    const char* toggleCapturing();
    // "録音終了" and cancel.
    void stopCapturing();

    std::uint32_t recordedBytes() const { return recordedBytes_; }
    // Bytes the device lost while sound was being stored, in the last recording (shown in the right half
    // of the status bar when the recording ends).
    std::uint64_t lostWhileStoring() const { return lostWhileStoring_; }
    std::uint64_t recordAreaSize() const { return recordAreaSize_; }
    int pendingBuffers() const { return pendingBuffers_; }

private:
    bool closeDevice();
    void closeDeviceAfterSetupFailure();
    void unprepareAll(bool beepOnce);
    void deviceFailed(int code);
    void takeRecording();

    Workspace& ws_;
    Ui& ui_;
    WaveIn& device_;
    WaveRing ring_;
    bool open_ = false;
    // The open device reported that it stopped working.
    bool lost_ = false;
    std::uint32_t packetBytes_ = 0;
    int pendingBuffers_ = 0;
    std::optional<AddressReservation> recordArea_;
    std::uint64_t recordAreaSize_ = 0;
    std::uint32_t recordedBytes_ = 0;
    std::uint64_t lostSeen_ = 0;
    std::uint64_t lostWhileStoring_ = 0;
    bool levelWindow_ = false;
    std::optional<PixelImage> levelBits_;
    LevelPictureOptions levelOptions_;
};

} // namespace sonavik
