#include "spectrogram/selection_sound.h"

#include "document/workspace.h"
#include "platform/os.h"
#include "platform/ui.h"
#include "spectrogram/resynthesis.h"
#include "spectrogram/spectral_edits.h"
#include "spectrogram/spectrogram.h"

#include <cstdint>
#include <cstring>
#include <new>

namespace sonavik {

namespace {

// Passes boxes and beeps on, keeps the progress texts of the scratch resynthesis off the status bar.
class QuietStatusUi : public Ui {
public:
    explicit QuietStatusUi(Ui& ui) : ui_(ui) {}
    MessageAnswer messageBox(const MessageRequest& r) override { return ui_.messageBox(r); }
    void beep(BeepKind kind) override { ui_.beep(kind); }
    std::optional<std::string> openFileName(const FileDialogRequest& r) override { return ui_.openFileName(r); }
    std::optional<std::string> saveFileName(const FileDialogRequest& r) override { return ui_.saveFileName(r); }
    void setCursor(CursorKind cursor) override { ui_.setCursor(cursor); }
    void setStatusText(int, const std::string&) override {}
    void setTitle(const std::string&) override {}

private:
    Ui& ui_;
};

} // namespace

bool selectionSound(const Spectrogram& s, Ui& ui, SoundDocument& out)
{
    const auto rect = selectionRect(s);
    // 8-bit sound is analysed at the scale 256.
    const int bits = s.amplitudeScale > 1.0 ? 8 : 16;
    const std::uint32_t rate = s.sampleRate;
    if (!rect || s.fftSize < 16 || rate == 0)
        return false;
    const std::size_t n = static_cast<std::size_t>(s.fftSize);
    const std::int64_t count = static_cast<std::int64_t>(rect->frameHi) - rect->frameLo + 1;
    const std::int64_t length = (count + 1) * (s.fftSize / 2);
    if (length > INT32_MAX) {
        ui.beep(BeepKind::Error);
        return false;
    }

    Workspace scratch;
    Spectrogram part;
    try {
        part.spectra.assign(s.spectra.begin() + static_cast<std::ptrdiff_t>(rect->frameLo * n),
                            s.spectra.begin() + static_cast<std::ptrdiff_t>((rect->frameHi + 1) * n));
    } catch (const std::bad_alloc&) {
        ui.beep(BeepKind::Error);
        return false;
    }
    part.spectrumCount = static_cast<std::int32_t>(count);
    part.binCount = s.binCount;
    part.fftSize = s.fftSize;
    part.sampleRate = s.sampleRate;
    part.windowType = s.windowType;
    part.firstSample = 0;
    part.lastSample = static_cast<std::int32_t>(length - 1);
    // Only the selected band is heard.
    applySpectralEdit(part, SpectralEdit::Keep, {0, part.spectrumCount - 1, rect->binLo, rect->binHi});

    SoundDocument& doc = scratch.document;
    doc.format.wFormatTag = 1;
    doc.format.nChannels = 1;
    doc.format.nSamplesPerSec = rate;
    doc.format.wBitsPerSample = static_cast<std::uint16_t>(bits);
    doc.format.nBlockAlign = static_cast<std::uint16_t>(bits / 8);
    doc.format.nAvgBytesPerSec = rate * doc.format.nBlockAlign;
    doc.frameCount = static_cast<std::int32_t>(length);
    if (memoryRoomFor(doc.byteCount()))
        doc.samples = SampleBuffer::allocate(doc.byteCount());
    if (doc.samples.isNull()) {
        ui.beepWithReason(BeepKind::Error, noMemoryReason("the selection's sound", doc.byteCount()));
        return false;
    }
    std::memset(doc.samples.data(), bits == 8 ? 128 : 0, doc.byteCount());

    Settings& settings = scratch.settings;
    settings.applyUseAlpha = 0;
    settings.applyLeft = 1;
    settings.applyRight = 0;
    settings.applyNewPosition = 0;
    QuietStatusUi quiet(ui);
    if (resynthesizeSpectrogram(scratch, quiet, part) == 0)
        return false;
    out = std::move(doc);
    return true;
}

} // namespace sonavik
