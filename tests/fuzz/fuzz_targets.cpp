#include "fuzz/fuzz_targets.h"

#include "app/layout.h"
#include "app/view_scale.h"
#include "app/file_flows.h"
#include "cli/spectral_ops.h"
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
#include "spectrogram/spectral_repair.h"
#include "spectrogram/spectrogram.h"
#include "views/wave_views.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <iterator>
#include <string>
#include <string_view>
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

// Reads the bytes in order; zeros once they run out.
class ByteReader {
public:
    ByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    std::uint32_t word()
    {
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v |= static_cast<std::uint32_t>(byte()) << (8 * i);
        return v;
    }
    std::string_view rest() const
    {
        return pos_ < size_ ? std::string_view(reinterpret_cast<const char*>(data_) + pos_, size_ - pos_) : std::string_view();
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// Up to 256 bins and 24 frames of cells from a fixed generator; with odd, some cells are not numbers,
// infinite or the largest floats.
Spectrogram randomSpectrogram(ByteReader& in, bool& odd)
{
    Spectrogram s;
    s.fftSize = 2 << (in.byte() % 9);
    s.binCount = s.fftSize / 2 + 1;
    s.spectrumCount = 1 + in.byte() % 24;
    constexpr std::uint32_t rates[] = {8000, 44100, 1, 192000, 11025, 4294967295u};
    s.sampleRate = rates[in.byte() % std::size(rates)];
    const std::uint8_t flags = in.byte();
    odd = (flags & 1) != 0;
    std::uint64_t state = in.word() | (std::uint64_t{in.word()} << 32);
    const auto next = [&] {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<std::uint32_t>(state >> 32);
    };
    s.spectra.resize(static_cast<std::size_t>(s.spectrumCount) * static_cast<std::size_t>(s.fftSize));
    for (float& v : s.spectra) {
        const std::uint32_t r = next();
        // Mostly quiet cells, some loud and some exactly zero.
        v = (r & 7) == 0 ? 0.0f : static_cast<float>(static_cast<std::int32_t>(r) >> (r & 15)) * ((flags & 2) ? 1e25f : 1.0f);
        if (odd && (r & 63) == 1) {
            const float specials[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                                      -std::numeric_limits<float>::max(), std::numeric_limits<float>::denorm_min()};
            v = specials[(r >> 8) % 4];
        }
    }
    return s;
}

bool sameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Whether (frame, bin) lies in the frames lo ... hi and one of the bands.
bool inBands(const std::vector<BinRange>& bands, std::int32_t lo, std::int32_t hi, std::int32_t frame, std::int32_t bin)
{
    if (frame < lo || frame > hi)
        return false;
    for (const BinRange& b : bands)
        if (bin >= b.lo && bin <= b.hi)
            return true;
    return false;
}

// Both packed parts of bin b in frame j.
bool cellUnchanged(const Spectrogram& was, const Spectrogram& now, std::int32_t j, std::int32_t b)
{
    const std::size_t n = static_cast<std::size_t>(now.fftSize);
    const std::size_t at = static_cast<std::size_t>(j) * n;
    const bool complex = b > 0 && b < now.fftSize / 2;
    return sameBits(was.spectra[at + b], now.spectra[at + b])
           && (!complex || sameBits(was.spectra[at + n - b], now.spectra[at + n - b]));
}

void checkBands(const Spectrogram& s, const std::vector<BinRange>& bands, const CellRect& limited, int harmonics)
{
    require(!bands.empty() && bands.size() <= static_cast<std::size_t>(harmonics) + 1, "band count");
    require(bands.front().lo == limited.binLo && bands.front().hi >= limited.binHi, "the band itself first");
    for (std::size_t i = 0; i < bands.size(); ++i) {
        require(bands[i].lo <= bands[i].hi && bands[i].lo >= 0 && bands[i].hi < s.binCount, "band outside the bins");
        require(i == 0 || bands[i].lo > bands[i - 1].hi + 1, "bands not sorted and apart");
    }
}

// One edit as the command line applies it, and what it may have changed.
void checkEdit(Spectrogram& s, SpectralEdit edit, const CellRect& rect, int harmonics, bool odd)
{
    const Spectrogram was = s;
    const bool changed = applyHarmonicEdit(s, edit, rect, harmonics);
    const std::optional<CellRect> r = limitedRect(s, rect);
    if (!r) {
        require(!changed && std::memcmp(s.spectra.data(), was.spectra.data(), s.spectra.size() * sizeof(float)) == 0,
                "an edit outside the spectrogram changed it");
        return;
    }
    const std::vector<BinRange> bands = bandBins(s, r->binLo, r->binHi, harmonics);
    checkBands(s, bands, *r, harmonics);
    const bool spans = r->frameLo == 0 && r->frameHi == s.spectrumCount - 1;
    require(changed == !(edit == SpectralEdit::Repair && spans), "an edit's result");
    for (std::int32_t j = 0; j < s.spectrumCount; ++j)
        for (std::int32_t b = 0; b < s.binCount; ++b) {
            const bool inside = inBands(bands, r->frameLo, r->frameHi, j, b);
            if (edit == SpectralEdit::Keep) {
                const std::size_t at = static_cast<std::size_t>(j) * static_cast<std::size_t>(s.fftSize);
                require(inside ? cellUnchanged(was, s, j, b) : s.spectra[at + b] == 0.0f, "keep");
                continue;
            }
            if (!inside) {
                require(cellUnchanged(was, s, j, b), "a cell outside the bands changed");
            } else if (edit == SpectralEdit::Erase) {
                require(s.spectra[static_cast<std::size_t>(j) * static_cast<std::size_t>(s.fftSize) + b] == 0.0f, "erase");
            }
        }
    if (edit == SpectralEdit::Repair && !odd)
        for (float v : s.spectra)
            require(std::isfinite(v), "a repair of finite cells made one infinite or not a number");
}

} // namespace

int spectralOps(const std::uint8_t* data, std::size_t size)
{
    ByteReader in(data, size);
    bool odd = false;
    Spectrogram s = randomSpectrogram(in, odd);
    Settings settings;
    applyDefaultSettings(settings);
    settings.spectralHarmonics = static_cast<std::int32_t>(in.word());
    const int stored = harmonicCount(settings);
    require(stored >= 1 && stored <= kMaxHarmonics, "the stored harmonic count");
    // A repair and a snap of a rectangle straight from the bytes, so that every input reaches them.
    const auto cell = [&](std::int32_t count) { return static_cast<std::int32_t>(static_cast<std::int8_t>(in.byte())) % (count + 3); };
    const CellRect rect{cell(s.spectrumCount), cell(s.spectrumCount), cell(s.binCount), cell(s.binCount)};
    const int harmonics = in.byte() % 12;
    checkEdit(s, SpectralEdit::Repair, rect, harmonics, odd);
    if (const auto snapped = snappedToPeak(s, rect)) {
        const CellRect r = *limitedRect(s, rect);
        require(snapped->frameLo == r.frameLo && snapped->frameHi == r.frameHi, "a snap moved the frames");
        require(snapped->binHi - snapped->binLo == r.binHi - r.binLo && snapped->binLo >= 0 && snapped->binHi < s.binCount,
                "a snapped band's width or place");
    } else {
        require(!limitedRect(s, rect), "no snap of a rectangle inside");
    }
    // The rest: OP strings, one a line.
    std::string_view text = in.rest();
    for (int line = 0; line < 8 && !text.empty(); ++line) {
        const std::size_t end = text.find('\n');
        const std::string op(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        const std::optional<cli::RectOp> parsed = cli::parseRectOp(op);
        if (!parsed)
            continue;
        const int n = cli::harmonicsOf(*parsed, settings);
        require(parsed->harmonics ? n >= 1 && n <= kMaxHarmonics : n == 0, "an op's harmonic count");
        // Doubling may overflow a float: only the cells it names are looked at for that.
        checkEdit(s, parsed->edit, cli::rectOf(*parsed, s), n, odd || parsed->edit == SpectralEdit::Double);
        // Whatever an edit leaves, the next ones see: no longer finite after a doubling.
        odd = odd || parsed->edit == SpectralEdit::Double;
    }
    return 0;
}

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
