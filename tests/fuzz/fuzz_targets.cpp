#include "fuzz/fuzz_targets.h"

#include "app/layout.h"
#include "app/view_scale.h"
#include "app/file_flows.h"
#include "document/wav_file.h"
#include "formats/sound_export.h"
#include "document/workspace.h"
#include "settings/settings.h"
#include "views/wave_views.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <unistd.h>

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

} // namespace sonavik::fuzz
