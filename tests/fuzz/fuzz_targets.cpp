#include "fuzz/fuzz_targets.h"

#include "app/layout.h"
#include "app/view_scale.h"
#include "app/file_flows.h"
#include "document/wav_file.h"
#include "formats/sound_export.h"
#include "document/workspace.h"
#include "edit/command_ids.h"
#include "edit/edit_dispatcher.h"
#include "edit/long_edit.h"
#include "edit/parameter_rules.h"
#include "edit/preview_render.h"
#include "edit/reverb.h"
#include "settings/settings.h"
#include "views/wave_views.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace sonavik::fuzz {
namespace {

void require(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "fuzz target: %s\n", what);
        std::abort();
    }
}

// Answers every question with its own answer and counts them.
class CountingUi : public SilentUi {
public:
    explicit CountingUi(MessageAnswer answer) : SilentUi(answer) {}
    int questions = 0;
    MessageAnswer messageBox(const MessageRequest& request) override
    {
        if (request.buttons == MessageButtons::YesNo)
            ++questions;
        return SilentUi::messageBox(request);
    }
};

class QuietHost : public WaveViewHost {
public:
    void pictureChanged(int) override {}
    void setViewCursor(int, CursorKind) override {}
    void setScrollBars(int, const ScrollBarValues&) override {}
    void setMouseCapture(int, bool) override {}
    void openRedSelectionMenu(int) override {}
    void openSelectionMenu(int, int) override {}
};

// A private folder for the files of one run, removed again afterwards.
class Scratch {
public:
    Scratch()
    {
        char pattern[] = "/tmp/sonavik-fuzz-XXXXXX";
        require(mkdtemp(pattern) != nullptr, "no scratch folder");
        dir_ = std::string(pattern) + "/";
    }
    ~Scratch()
    {
        for (const char* name : {"in.wav", "out.wav", "parameter.ini"})
            unlink((dir_ + name).c_str());
        rmdir(dir_.c_str());
    }
    std::string put(const char* name, const std::uint8_t* data, std::size_t size) const
    {
        const std::string path = dir_ + name;
        std::FILE* f = std::fopen(path.c_str(), "wb");
        require(f != nullptr, "cannot write a scratch file");
        if (size > 0)
            std::fwrite(data, 1, size, f);
        std::fclose(f);
        return path;
    }
    std::string file(const char* name) const { return dir_ + name; }

private:
    std::string dir_;
};

SoundDocument smallSound()
{
    SoundDocument doc;
    doc.format = {1, 2, 8000, 32000, 4, 16, 0};
    doc.frameCount = 3000;
    doc.samples = SampleBuffer::allocate(doc.byteCount());
    for (std::size_t i = 0; i < doc.samples.size(); ++i)
        doc.samples.data()[i] = static_cast<unsigned char>(i * 37);
    return doc;
}

// The input read a field at a time; past its end every field reads 0.
class Fields {
public:
    Fields(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    unsigned byte() { return at_ < size_ ? data_[at_++] : 0; }
    unsigned word() { return byte() | byte() << 8; }
    bool more() const { return at_ < size_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// A curve of the dialogs with two points the input places.
void placePoints(CurveData& curve, Fields& in)
{
    for (int k = 3; k < 5; ++k) {
        CurvePoint& p = curve.points[k];
        p = CurvePoint{};
        p.state = 1;
        p.x = p.xGray = in.byte() / 255.0;
        p.y = in.byte() / 255.0;
        p.yGray = in.byte() / 255.0;
    }
}

// What OK writes: the equaliser and the reverb through the long edit, the nonlinear curve in place.
SoundDocument editedBy(const Workspace& from, int commandId, int target, int slot)
{
    Workspace ws;
    ws.settings = from.settings;
    ws.red = from.red;
    ws.reverbNoiseState = from.reverbNoiseState;
    ws.document = from.document.copyWithSamples();
    SilentUi ui;
    EditHost host;
    if (commandId == cmd::Nonlinear)
        editTarget(ws, ui, host, commandId, target, slot);
    else
        require(runLongEditToEnd(ws, ui, host, commandId, target, slot), "the edit did not run");
    return std::move(ws.document);
}

} // namespace

int settingsFile(const std::uint8_t* data, std::size_t size)
{
    Scratch scratch;
    scratch.put("parameter.ini", data, size);
    Workspace ws;
    CountingUi ui(MessageAnswer::Yes);
    loadSettings(ws.settings, scratch.file(""), ui);
    // As the main window does on a usual screen: the window fitted to it, its size stored back.
    const WindowGeometry placed = placeWindow(clampWindowGeometry(ws.settings), {{0, 0, 1920, 1080}}, 60);
    ws.settings.clientWidth = placed.width;
    ws.settings.clientHeight = placed.height;
    const LayoutSizes sizes = layoutSizes(ws.settings);
    ws.document = smallSound();
    QuietHost host;
    WaveViews views(ws, ui, host);
    const MainLayout layout = computeLayout(ws.settings, true);
    for (int channel = 0; channel < 2; ++channel) {
        const Rect& r = channel == 0 ? layout.leftView : layout.rightView;
        require(r.width <= sizes.clientWidth && r.height <= sizes.clientHeight, "a view larger than the window");
        views.resize(channel, r.width, r.height);
        fitView(channel == 0 ? ws.document.leftView : ws.document.rightView, ws.document,
                plotSizeOf(ws.settings, r.width, r.height));
        views.render(channel);
        views.leftPress(channel, r.width / 2, r.height - 40);
        views.mouseMove(channel, r.width / 2 + 3, r.height - 41);
        views.leftRelease(channel, r.width / 2 + 3, r.height - 41);
        const PixelImage* picture = views.picture(channel);
        // A side bar or margin as wide as the window leaves a view with no area, and so an empty picture.
        const bool area = r.width > 0 && r.height > 0;
        require(!picture || (area ? picture->width() == r.width && picture->height() == r.height : picture->empty()),
                "picture size");
    }
    return 0;
}

int wavFile(const std::uint8_t* data, std::size_t size)
{
    Scratch scratch;
    const std::string in = scratch.put("in.wav", data, size);
    Workspace ws;
    applyDefaultSettings(ws.settings);
    CountingUi yes(MessageAnswer::Yes);
    if (!openWavFile(ws, yes, in))
        return 0;
    const SoundDocument& first = ws.document;
    require(first.samples.size() == first.byteCount(), "samples and frame count disagree");
    if (!writeWavFile(yes, first, scratch.file("out.wav")))
        return 0;
    Workspace again;
    applyDefaultSettings(again.settings);
    CountingUi no(MessageAnswer::No);
    require(openWavFile(again, no, scratch.file("out.wav")), "a saved file does not open");
    require(no.questions == 0, "a saved file asks to be repaired");
    const WaveFormat& a = first.format;
    const WaveFormat& b = again.document.format;
    require(a.nChannels == b.nChannels && a.nSamplesPerSec == b.nSamplesPerSec && a.nAvgBytesPerSec == b.nAvgBytesPerSec
                && a.nBlockAlign == b.nBlockAlign && a.wBitsPerSample == b.wBitsPerSample,
            "the saved format differs");
    require(again.document.frameCount == first.frameCount
                && std::memcmp(again.document.samples.data(), first.samples.data(), first.byteCount()) == 0,
            "the saved samples differ");
    return 0;
}

int soundImport(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    static const char* const kNames[] = {"in.flac", "in.ogg", "in.mp3", "in.aiff", "in.wav", "in.caf", "in.opus"};
    Scratch scratch;
    const std::string in = scratch.put(kNames[data[0] % std::size(kNames)], data + 1, size - 1);
    Workspace ws;
    applyDefaultSettings(ws.settings);
    CountingUi yes(MessageAnswer::Yes);
    if (!openWavFile(ws, yes, in))
        return 0;
    const SoundDocument& first = ws.document;
    const WaveFormat& f = first.format;
    require(first.frameCount > 0 && first.samples.size() == first.byteCount(), "samples and frame count disagree");
    require((f.nChannels == 1 || f.nChannels == 2) && (f.wBitsPerSample == 8 || f.wBitsPerSample == 16)
                && f.nBlockAlign == f.nChannels * f.wBitsPerSample / 8 && f.nSamplesPerSec > 0,
            "an opened sound the editor cannot hold");
    // FLAC takes rates up to 655350 Hz; beyond that the save is refused with its message.
    if (!writeSoundFile(yes, first, scratch.file("out.flac"), SaveKind::Flac))
        return 0;
    Workspace again;
    CountingUi no(MessageAnswer::No);
    require(openWavFile(again, no, scratch.file("out.flac")), "a saved FLAC file does not open");
    require(again.document.format.nChannels == f.nChannels && again.document.format.wBitsPerSample == f.wBitsPerSample
                && again.document.frameCount == first.frameCount
                && std::memcmp(again.document.samples.data(), first.samples.data(), first.byteCount()) == 0,
            "the saved FLAC differs");
    return 0;
}

int previewRender(const std::uint8_t* data, std::size_t size)
{
    Fields in(data, size);
    const int bits = in.byte() & 1 ? 16 : 8;
    const int channels = in.byte() & 1 ? 2 : 1;
    const std::int32_t frames = 1 + static_cast<std::int32_t>(in.word() % 6000);
    Workspace ws;
    applyDefaultSettings(ws.settings);
    SoundDocument& doc = ws.document;
    doc.format = {1, static_cast<std::uint16_t>(channels), 8000, static_cast<std::uint32_t>(8000 * channels * bits / 8),
                  static_cast<std::uint16_t>(channels * bits / 8), static_cast<std::uint16_t>(bits), 0};
    doc.frameCount = frames;
    doc.samples = SampleBuffer::allocate(doc.byteCount());
    std::uint32_t noise = in.word() | 1;
    for (std::size_t i = 0; i < doc.samples.size(); ++i) {
        noise = noise * 1103515245u + 12345u;
        doc.samples.data()[i] = static_cast<unsigned char>(noise >> 16);
    }
    // Selections anywhere, levels a little outside 0…1 too (as a damaged table has them).
    for (unsigned n = in.byte() % 5, k = 0; k < n; ++k) {
        Selection& s = (channels == 2 && (in.byte() & 1) ? doc.rightSelections : doc.leftSelections)[in.byte() % kSelectionSlots];
        s.kind = in.byte() & 1 ? SelectionKind::Blue : SelectionKind::Green;
        s.start = static_cast<std::int32_t>(in.word() % (frames + 100));
        s.end = s.start + static_cast<std::int32_t>(in.word() % frames);
        s.alphaStart = (static_cast<int>(in.byte()) - 8) / 240.0;
        s.alphaEnd = (static_cast<int>(in.byte()) - 8) / 240.0;
        s.shape = static_cast<SelectionShape>(in.byte() % 5);
        s.shapeParameter = in.byte() / 32.0;
    }
    if (in.byte() & 1) {
        ws.red.redStart = static_cast<std::int32_t>(in.word() % frames);
        ws.red.redEnd = ws.red.redStart + static_cast<std::int32_t>(in.word() % frames);
        ws.red.redChannel = static_cast<std::int32_t>(in.byte() % channels);
    }
    const int commands[] = {cmd::Nonlinear, cmd::Equalize, cmd::Reverb};
    const int commandId = commands[in.byte() % 3];
    const int target = static_cast<int>(in.byte() % 15);
    const int slot = static_cast<int>(in.byte() % kSelectionSlots);
    ws.reverbNoiseState = in.word() | 1;
    // Settings of the moment: blocks of 16 to 2048 frames, two points on each curve, a reverb preset.
    auto settle = [&](Settings& s) {
        s.eqFftSize() = 16 << (in.byte() % 8);
        s.eqWindow = static_cast<std::int32_t>(in.byte() % 5);
        s.eqGainLog() = static_cast<std::int32_t>(in.byte() % 2);
        s.eqFrequencyLog() = static_cast<std::int32_t>(in.byte() % 2);
        s.nonlinearMode() = static_cast<std::int32_t>(in.byte() % 2);
        placePoints(s.eq, in);
        placePoints(s.nonlinear, in);
        applyReverbPreset(s, static_cast<ReverbPreset>(1 + in.byte() % 5), doc.format.nSamplesPerSec);
        s.reverbRatio() = static_cast<std::int32_t>(in.byte() % 101);
        prepareParametersWithoutDialog(s, commandId);
    };
    settle(ws.settings);
    SilentUi ui;
    if (!editTargetAccepted(ws, ui, target, slot))
        return 0;
    PreviewRender preview(doc, ws.red, commandId, target, slot, ws.reverbNoiseState);
    if (preview.empty())
        return 0;
    const std::int64_t span = preview.frameCount();
    const std::size_t block = doc.format.nBlockAlign;
    std::vector<unsigned char> piece;
    // Pieces where the input says, then (once) new settings and pieces again.
    for (int round = 0; round < 2; ++round) {
        if (round == 1) {
            if (!(in.byte() & 1))
                break;
            settle(ws.settings);
        }
        const SoundDocument edited = editedBy(ws, commandId, target, slot);
        preview.setSettings(ws.settings);
        for (int reads = 0; reads < 24 && in.more(); ++reads) {
            const std::int64_t first = in.word() % span;
            const std::int64_t count = std::min<std::int64_t>(1 + in.word() % 4000, span - first);
            piece.assign(static_cast<std::size_t>(count) * block, 0);
            require(preview.read(first, count, piece.data()), "a piece could not be worked out");
            require(std::memcmp(piece.data(), edited.samples.data() + static_cast<std::size_t>(preview.firstFrame() + first) * block,
                                piece.size()) == 0,
                    "a piece differs from what the edit writes");
        }
    }
    return 0;
}

} // namespace sonavik::fuzz
