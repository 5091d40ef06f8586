#include "spectrogram/spectrogram_view.h"

#include "document/workspace.h"
#include "settings/settings.h"
#include "spectrogram/selection_sound.h"
#include "spectrogram/spectrogram.h"
#include "spectrogram/spectrogram_test_support.h"
#include "support/scripted_ui.h"

#include "dsp/fft.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

namespace sonavik {
namespace {

using namespace spectrogram_cmd;
using test::ScriptedUi;

constexpr Rgb kGrid{51, 119, 136};
constexpr Rgb kTick{136, 238, 255};
constexpr Rgb kRed{255, 0, 0};

// A spectrogram of F frames at FFT size n whose picture is colourOf(frame, bin); the spectra are zero.
Spectrogram pictureOnly(int frames, int n, std::uint32_t rate, const std::function<Rgb(int, int)>& colourOf)
{
    Spectrogram s;
    s.spectrumCount = frames;
    s.fftSize = n;
    s.binCount = n / 2 + 1;
    s.sampleRate = rate;
    s.spectra.assign(static_cast<std::size_t>(frames) * n, 0.0f);
    s.colourBitmap.assign(s.bitmapStride() * s.binCount, 0);
    for (int b = 0; b < s.binCount; ++b)
        for (int j = 0; j < frames; ++j) {
            const Rgb c = colourOf(j, b);
            unsigned char* p = s.colourBitmap.data() + b * s.bitmapStride() + 3 * j;
            p[0] = c.b;
            p[1] = c.g;
            p[2] = c.r;
        }
    return s;
}

// 20 frames x 9 bins (n = 16) in a client area whose plot is 40 x 36: two pixels per frame, four per bin.
class SpectrogramViewTest : public ::testing::Test {
protected:
    static constexpr int kFrames = 20;
    static constexpr int kWidth = 48 + 64 + 40;
    static constexpr int kHeight = 36 + 64 + 64;

    SpectrogramViewTest()
    {
        applyDefaultSettings(ws.settings);
        s = pictureOnly(kFrames, 16, 8000, [](int j, int b) {
            return Rgb{static_cast<std::uint8_t>(10 * j), 128, static_cast<std::uint8_t>(20 * b)};
        });
        view = std::make_unique<SpectrogramView>(s, ws, ui);
        view->resize(kWidth, kHeight);
    }

    // Client coordinates of the middle of a cell at the fitted zoom.
    static int xOf(int frame) { return 112 + 2 * frame; }
    static int yOf(int bin) { return 35 - (4 * bin + 1); }

    Workspace ws;
    ScriptedUi ui;
    Spectrogram s;
    std::unique_ptr<SpectrogramView> view;
};

TEST_F(SpectrogramViewTest, TheFirstSizeShowsTheWholeSpectrogramAndLaterSizesKeepTheSpan)
{
    EXPECT_EQ(view->plotWidth(), 40);
    EXPECT_EQ(view->plotHeight(), 36);
    EXPECT_DOUBLE_EQ(s.zoomX, 40.0 / 20);
    EXPECT_DOUBLE_EQ(s.zoomY, 36.0 / 9);
    EXPECT_EQ(s.plotWidth, 40);

    view->resize(kWidth + 40, kHeight - 18);
    EXPECT_DOUBLE_EQ(s.zoomX, 4.0);
    EXPECT_DOUBLE_EQ(s.zoomY, 2.0);
    // Too small for a plot: the zoom waits for the next size with an area.
    view->resize(100, 100);
    EXPECT_DOUBLE_EQ(s.zoomX, 4.0);
    view->resize(kWidth, kHeight);
    EXPECT_DOUBLE_EQ(s.zoomX, 2.0);
    EXPECT_DOUBLE_EQ(s.zoomY, 4.0);
}

TEST_F(SpectrogramViewTest, ZoomButtonsWorkAboutTheCentreAndSnapBackToTheData)
{
    struct Step {
        int command;
        double originX, zoomX, originY, zoomY;
    };
    const Step steps[] = {
        {ZoomOut, 0, 2, 0, 4},             // already the whole picture: back to the fit
        {TimeZoomIn, 5, 4, 0, 4},          // a quarter of the shown frames in from the left
        {FrequencyZoomIn, 5, 4, 2.25, 8},
        {TimeZoomIn, 7.5, 8, 2.25, 8},
        {TimeZoomOut, 5, 4, 2.25, 8},
        {FrequencyZoomOut, 5, 4, 0, 4},   // past the top: shows the highest bins, then all of them
        {Fit, 0, 2, 0, 4},
    };
    for (const Step& step : steps) {
        view->command(step.command);
        EXPECT_DOUBLE_EQ(s.originX, step.originX) << step.command;
        EXPECT_DOUBLE_EQ(s.zoomX, step.zoomX) << step.command;
        EXPECT_DOUBLE_EQ(s.originY, step.originY) << step.command;
        EXPECT_DOUBLE_EQ(s.zoomY, step.zoomY) << step.command;
    }
}

TEST_F(SpectrogramViewTest, ScrollBarsFollowTheViewAndMoveIt)
{
    EXPECT_EQ(view->horizontalBar().page, 32768);
    EXPECT_EQ(view->horizontalBar().pos, 0);
    view->command(TimeZoomIn);  // frames 5 ... 14 of 20 shown
    EXPECT_EQ(view->horizontalBar().page, 16384);
    EXPECT_EQ(view->horizontalBar().pos, 8192);

    view->scroll(true, ScrollRequest::LineForward);  // ten pixels: 2.5 frames
    EXPECT_DOUBLE_EQ(s.originX, 7.5);
    EXPECT_EQ(view->horizontalBar().pos, 12288);
    view->scroll(true, ScrollRequest::LineForward);  // stops where the last frame is at the right edge
    EXPECT_DOUBLE_EQ(s.originX, 10.0);
    view->scroll(true, ScrollRequest::Thumb, 0);
    EXPECT_DOUBLE_EQ(s.originX, 0.0);
    view->scroll(true, ScrollRequest::LineBack);
    EXPECT_DOUBLE_EQ(s.originX, 0.0);

    // The vertical bar counts from the top: position 0 shows the highest bins.
    view->command(FrequencyZoomIn);
    EXPECT_EQ(view->verticalBar().pos, 8192);
    view->scroll(false, ScrollRequest::Thumb, 0);
    EXPECT_DOUBLE_EQ(s.originY, 9 - 36.0 / 8);
    EXPECT_EQ(view->verticalBar().pos, 0);
}

TEST_F(SpectrogramViewTest, DraggingSelectsARectangleAndClicksClearIt)
{
    view->leftPress(xOf(5), yOf(3));
    EXPECT_EQ(ws.dragMode, 100);
    view->mouseMove(xOf(2), yOf(7));
    EXPECT_EQ(ws.dragMode, 101);
    view->leftRelease(xOf(2), yOf(7));
    EXPECT_EQ(ws.dragMode, 0);
    EXPECT_EQ((std::array{s.selFrameLo, s.selFrameHi, s.selBinLo, s.selBinHi}), (std::array{2, 5, 3, 7}));
    EXPECT_EQ(s.anchorCell, (std::array{5, 5, 3, 3}));
    EXPECT_EQ(s.currentCell, (std::array{2, 2, 7, 7}));

    // The overlay: the selection's pixels of the plot, exclusive-or red.
    const PixelImage& shown = view->picture();
    const auto plotPixel = [&](int x, int y) { return view->plot().pixel(x - 112, y); };
    const Rgb inside = plotPixel(xOf(3), yOf(5));
    EXPECT_EQ(shown.pixel(xOf(3), yOf(5)), (Rgb{static_cast<std::uint8_t>(inside.r ^ 255), inside.g, inside.b}));
    EXPECT_EQ(shown.pixel(xOf(6), yOf(5)), plotPixel(xOf(6), yOf(5)));
    EXPECT_TRUE(view->rightRelease(xOf(4), yOf(6)));
    EXPECT_FALSE(view->rightRelease(xOf(9), yOf(6)));

    // A click into the selection only clears it, and its overlay goes.
    view->leftPress(xOf(3), yOf(5));
    EXPECT_EQ(s.selFrameLo, -1);
    EXPECT_EQ(view->picture().pixel(xOf(3), yOf(5)), inside);
    EXPECT_EQ(ws.dragMode, 0);
    EXPECT_FALSE(view->rightRelease(xOf(3), yOf(5)));

    // A click without a move leaves no selection either; a press past the data starts nothing.
    view->leftPress(xOf(8), yOf(1));
    view->leftRelease(xOf(8), yOf(1));
    EXPECT_EQ(s.selFrameLo, -1);
    view->leftPress(112 + 40 + 3, yOf(1));
    EXPECT_EQ(ws.dragMode, 0);

    // Dragging out of the plot limits the selection to the spectrogram.
    view->leftPress(xOf(18), yOf(1));
    view->mouseMove(kWidth + 50, -20);
    view->leftRelease(kWidth + 50, -20);
    EXPECT_EQ((std::array{s.selFrameLo, s.selFrameHi, s.selBinLo, s.selBinHi}), (std::array{18, 19, 1, 8}));
}

TEST_F(SpectrogramViewTest, HarmonicsShowInTheOverlayAndGoWithTheNextEdit)
{
    std::fill(s.spectra.begin(), s.spectra.end(), 1.0f);
    view->leftPress(xOf(2), yOf(2));
    view->mouseMove(xOf(5), yOf(2));
    view->leftRelease(xOf(5), yOf(2));
    const auto red = [&](int frame, int bin) {
        const Rgb under = view->plot().pixel(xOf(frame) - 112, yOf(bin));
        return view->picture().pixel(xOf(frame), yOf(bin)) == Rgb{static_cast<std::uint8_t>(under.r ^ 255), under.g, under.b};
    };
    EXPECT_TRUE(red(3, 2));
    EXPECT_FALSE(red(3, 4));
    // Turning it on asks how many first: the window turns it on after OK.
    EXPECT_EQ(view->menuCommand(Harmonics), SpectrogramAction::AskHarmonics);
    EXPECT_FALSE(view->harmonicsOn());
    // As many harmonics as the settings hold: one takes bin 4.
    ws.settings.spectralHarmonics = 1;
    view->setHarmonics(true);
    for (int bin = 0; bin <= 8; ++bin)
        EXPECT_EQ(red(3, bin), bin == 2 || bin == 4) << bin;
    // Eight: bins 4, 6 and 8 (the top) join bin 2, over the same frames, and none past the top.
    ws.settings.spectralHarmonics = 8;
    view->setHarmonics(true);
    EXPECT_TRUE(view->harmonicsOn());
    for (int bin = 0; bin <= 8; ++bin) {
        EXPECT_EQ(red(3, bin), bin % 2 == 0 && bin > 0) << bin;
        EXPECT_FALSE(red(7, bin)) << bin;
    }
    view->menuCommand(Double);
    EXPECT_FALSE(view->harmonicsOn());
    for (int bin = 0; bin <= 8; ++bin) {
        EXPECT_EQ(test::magnitude(s, 3, bin), (bin % 2 == 0 && bin > 0 ? 2 : 1) * std::sqrt(bin % 8 ? 2.0 : 1.0)) << bin;
        EXPECT_EQ(red(3, bin), bin == 2) << bin;
    }
    EXPECT_EQ(test::magnitude(s, 1, 4), std::sqrt(2.0));
    // Chosen while on, it turns off without asking.
    view->setHarmonics(true);
    EXPECT_EQ(view->menuCommand(Harmonics), SpectrogramAction::None);
    EXPECT_FALSE(view->harmonicsOn());

    // The band of two bins moves onto bin 7, the strongest within two bins of it.
    for (int j = 2; j <= 5; ++j)
        s.spectra[static_cast<std::size_t>(j) * 16 + 7] = 9.0f;
    view->leftPress(xOf(2), yOf(5));
    view->mouseMove(xOf(5), yOf(6));
    view->leftRelease(xOf(5), yOf(6));
    view->menuCommand(SnapToPeak);
    EXPECT_EQ((std::array{s.selFrameLo, s.selFrameHi, s.selBinLo, s.selBinHi}), (std::array{2, 5, 7, 8}));
    EXPECT_TRUE(red(3, 8));
    EXPECT_FALSE(red(3, 6));

    // Repair rebuilds from the frames around; with every frame chosen there are none, and it says so.
    view->menuCommand(Repair);
    EXPECT_NEAR(test::magnitude(s, 3, 7), test::magnitude(s, 1, 7), 1e-5);
    EXPECT_TRUE(ui.beeps.empty());
    s.selFrameLo = 0;
    s.selFrameHi = kFrames - 1;
    const SpectrumValues before = s.spectra;
    view->menuCommand(Repair);
    EXPECT_EQ(ui.beeps.size(), 1u);
    EXPECT_EQ(s.spectra, before);
}

TEST_F(SpectrogramViewTest, StripsShowGridTicksLabelsAndCrossSections)
{
    const PixelImage& freq = view->frequencyStrip();
    const PixelImage& time = view->timeStrip();
    const PixelImage& status = view->statusStrip();
    // Grid: column 6 of the frequency strip from the bottom row up to the second row; row 6 of the time
    // strip (57 from its bottom) from column 0 to the last but one.
    EXPECT_EQ(freq.pixel(6, 35), kGrid);
    EXPECT_EQ(freq.pixel(6, 1), kGrid);
    EXPECT_EQ(freq.pixel(6, 0), (Rgb{}));
    EXPECT_EQ(time.pixel(20, 6), kGrid);
    EXPECT_EQ(time.pixel(39, 6), (Rgb{}));
    // Frame 0 and bin 0 are labelled, with ticks next to the plot.
    EXPECT_EQ(time.pixel(1, 0), kTick);
    EXPECT_EQ(time.pixel(1, 5), kTick);
    EXPECT_EQ(time.pixel(2, 0), (Rgb{}));
    EXPECT_EQ(freq.pixel(63, 35), kTick);
    EXPECT_EQ(freq.pixel(59, 32), kTick);
    EXPECT_EQ(freq.pixel(58, 32), (Rgb{}));
    // Status strip: a sunken frame on the face colour.
    const StripColours c;
    EXPECT_EQ(status.pixel(0, 3), c.shadow);
    EXPECT_EQ(status.pixel(151, 3), c.face);
    EXPECT_EQ(status.pixel(150, 3), c.shadow);
    EXPECT_EQ(status.pixel(0, 63), c.shadow);
    EXPECT_EQ(status.pixel(151, 63), c.highlight);
    EXPECT_EQ(status.pixel(5, 63), c.highlight);
    EXPECT_EQ(status.pixel(5, 30), c.face);

    // Every plot pixel has green 128: bars of 32 rows on the time strip and 32 columns on the
    // frequency strip, green set over what was there.
    view->mouseMove(xOf(4), yOf(2));
    EXPECT_EQ(time.pixel(17, 63).g, 255);
    EXPECT_EQ(time.pixel(17, 32).g, 255);
    EXPECT_EQ(time.pixel(17, 30), (Rgb{}));
    EXPECT_EQ(freq.pixel(31, 20).g, 255);
    EXPECT_EQ(freq.pixel(33, 20), (Rgb{}));
    EXPECT_EQ(freq.pixel(6, 20), (Rgb{51, 255, 136}));
    view->pointerLeft();
    view->render(false);
    EXPECT_EQ(time.pixel(17, 62), (Rgb{}));
}

// A black spectrogram of frames x (n / 2 + 1) cells at 44100 Hz, in a view with the usual settings whose
// plot is width x height.
struct BlackView {
    BlackView(int frames, int n, int width, int height) : s(pictureOnly(frames, n, 44100, [](int, int) { return Rgb{}; }))
    {
        applyDefaultSettings(ws.settings);
        view = std::make_unique<SpectrogramView>(s, ws, ui);
        view->resize(112 + width, 128 + height);
    }
    Workspace ws;
    ScriptedUi ui;
    Spectrogram s;
    std::unique_ptr<SpectrogramView> view;
};

TEST(SpectrogramViewLabels, FrequencyLabelsStartAtTheStripsLeftAndTopEdgesRatherThanBeCut)
{
    // n = 16 at 44100 Hz: 9 bins of 2756.25 Hz, ten rows each in a plot 40 x 90.
    BlackView black(20, 16, 40, 90);
    const PixelImage& strip = black.view->frequencyStrip();
    // Whether every lit pixel of text drawn from column left at row top is white in the strip.
    const auto shows = [&](int left, int top, const std::string& text) {
        PixelImage alone(strip.width(), strip.height());
        alone.textLeft(left, top, text, Rgb{255, 255, 255});
        int lit = 0;
        for (int y = 0; y < strip.height(); ++y)
            for (int x = 0; x < strip.width(); ++x)
                if (alone.pixel(x, y) == (Rgb{255, 255, 255})) {
                    ++lit;
                    if (strip.pixel(x, y) != (Rgb{255, 255, 255}))
                        return false;
                }
        return lit > 0;
    };
    // Every fifth bin is labelled on its middle row 10 b + 4, the text's top four rows above it (82 - 10 b
    // from the strip's top). Centred on column 24, ten characters would start at column -8.
    EXPECT_TRUE(shows(0, 82 - 50, "13781.2 Hz"));
    EXPECT_FALSE(shows(-8, 82 - 50, "13781.2 Hz"));
    // Labels that fit stay centred.
    EXPECT_TRUE(shows(4, 82, "0.0 Hz"));
    EXPECT_FALSE(shows(0, 82, "0.0 Hz"));

    // Zoomed to 40 rows a bin (every bin labelled) and scrolled so that only the lowest two rows of bin 5
    // show at the top: its label, on row 88, would start two rows above the strip. It starts at the top;
    // bin 4's, on row 67, stays where it was.
    black.s.zoomY = 40;
    black.s.originY = 2.8;
    black.view->render(true);
    EXPECT_TRUE(shows(0, 0, "13781.2 Hz"));
    EXPECT_FALSE(shows(0, -2, "13781.2 Hz"));
    EXPECT_TRUE(shows(0, 90 - 4 - 67, "11025.0 Hz"));
}

TEST(SpectrogramViewReadout, StatusTextsGiveCellsSecondsAndHertz)
{
    // n = 4096 at 44100 Hz, 40 frames in a plot 40 pixels wide and 2049 bins in 2049 rows. Frames start
    // a hop (n / 2 samples) apart: frame 10 starts 10 x 2048 / 44100 s in.
    BlackView black(40, 4096, 40, 2049);
    Spectrogram& s = black.s;
    SpectrogramView& view = *black.view;
    view.mouseMove(112 + 10, 2048 - 3);
    s.selFrameLo = 10;
    s.selFrameHi = 12;
    s.selBinLo = 3;
    s.selBinHi = 2100;  // past the top: limited
    std::vector<std::string> texts;
    for (const auto& line : view.statusLines())
        texts.push_back(std::to_string(line.top) + " " + line.text);
    const std::vector<std::string> expected = {
        "10 Pos: ( 10 p , 3 p )-( 10 p , 3 p )",
        "20 Pos: ( 0.4644 s , 32.3 Hz )-( 0.5108 s , 43.1 Hz )",
        "35 Sel: ( 10 p , 3 p )-( 12 p , 2048 p ) = ( 3 p , 2046 p )",
        "45 Sel: ( 0.4644 s , 32.3 Hz )-( 0.6037 s , 22060.8 Hz ) = ( 0.1393 s , 22028.5 Hz )",
    };
    EXPECT_EQ(texts, expected);

    // A pointer over the buttons is left of every frame: no position texts.
    view.mouseMove(5, 5);
    s.selFrameLo = -1;
    EXPECT_TRUE(view.statusLines().empty());
}

TEST(SpectrogramViewEdits, MenuEditsChangeTheSpectraAndThePicture)
{
    ScriptedUi ui;
    // 1000 Hz loud in bin 2, 3000 Hz soft in bin 6.
    Workspace ws = test::toneWorkspace(16, 1, 8 * 21, 8000, 1000, 500, 3000);
    auto s = test::analyse(ws, ui, test::regionOf(0, 0, 8 * 21 - 1), 16);
    ASSERT_TRUE(s);
    SpectrogramView view(*s, ws, ui);
    view.resize(112 + 40, 128 + 36);
    const PictureBytes before = s->colourBitmap;
    s->selFrameLo = 0;
    s->selFrameHi = 19;
    s->selBinLo = 2;
    s->selBinHi = 2;  // 1000 Hz at 8000 Hz and n = 16
    EXPECT_EQ(view.menuCommand(Cancel), SpectrogramAction::None);
    EXPECT_EQ(s->colourBitmap, before);
    EXPECT_EQ(view.menuCommand(PlaySelection), SpectrogramAction::PlaySelection);

    view.menuCommand(Erase);
    EXPECT_EQ(test::magnitude(*s, 7, 2), 0.0);
    EXPECT_NE(s->colourBitmap, before);
    const int row = 4 * 2 + 1;  // bin 2 at the fitted four rows per bin
    EXPECT_EQ(view.plot().pixel(15, 35 - row), (Rgb{}));

    // Gain and colouring buttons colour again; the second "LOG" does nothing.
    const PictureBytes erased = s->colourBitmap;
    view.command(LogColours);
    EXPECT_EQ(s->logDisplay, 1);
    const PictureBytes logColours = s->colourBitmap;
    EXPECT_NE(logColours, erased);
    view.command(GainUp);
    EXPECT_DOUBLE_EQ(s->gain, 2.0);
    view.command(GainDown);
    EXPECT_EQ(s->colourBitmap, logColours);
    EXPECT_EQ(view.command(SaveBitmap), SpectrogramAction::SaveBitmap);
    EXPECT_EQ(view.command(SaveSpectra), SpectrogramAction::SaveSpectra);
    EXPECT_EQ(view.command(Resynthesize), SpectrogramAction::Resynthesize);
    EXPECT_EQ(view.command(Dot), SpectrogramAction::None);

    // Without a plot area the buttons do nothing.
    view.resize(100, 100);
    ui.beeps.clear();
    view.command(GainUp);
    EXPECT_DOUBLE_EQ(s->gain, 1.0);
    EXPECT_TRUE(ui.beeps.empty());
}

TEST(SpectrogramViewEdits, TheBlockSumsFollowEveryNewColouring)
{
    ScriptedUi ui;
    Workspace ws = test::toneWorkspace(16, 1, 8 * 301, 8000, 1000, 500, 3000);
    auto s = test::analyse(ws, ui, test::regionOf(0, 0, 8 * 301 - 1), 16);
    ASSERT_TRUE(s);
    SpectrogramView fast(*s, ws, ui);
    fast.useBlockSums(SpectrogramView::BlockSums::Always);
    fast.resize(112 + 70, 128 + 36);  // 300 frames in 70 columns
    for (int command : {GainUp, LogColours, GainDown}) {
        fast.command(command);
        SpectrogramView slow(*s, ws, ui);
        slow.useBlockSums(SpectrogramView::BlockSums::Never);
        slow.resize(112 + 70, 128 + 36);
        const PixelImage& a = fast.plot();
        const PixelImage& b = slow.plot();
        ASSERT_EQ(std::vector<std::uint8_t>(a.data(), a.data() + a.byteSize()),
                  std::vector<std::uint8_t>(b.data(), b.data() + b.byteSize()))
            << command;
    }
}

// Magnitude of the bin nearest to hertz over the whole sound, by one FFT of its middle.
double toneLevel(const SoundDocument& doc, double hertz)
{
    const std::size_t n = 1024;
    std::vector<double> x(n);
    const std::size_t start = (static_cast<std::size_t>(doc.frameCount) - n) / 2;
    for (std::size_t k = 0; k < n; ++k) {
        std::int16_t v;
        std::memcpy(&v, doc.samples.data() + 2 * (start + k), 2);
        x[k] = v;
    }
    fftForward(n, x.data());
    const auto b = static_cast<std::size_t>(std::lround(hertz * n / doc.format.nSamplesPerSec));
    return std::hypot(x[b], x[n - b]) / (n / 2);
}

TEST(SelectionSound, PlaysOnlyTheSelectedBandAndFramesAndLeavesEverythingElse)
{
    ScriptedUi ui;
    // 500 Hz and 2500 Hz at 8000 Hz; n = 64 puts them in bins 4 and 20.
    const std::int32_t length = 32 * 101;
    Workspace ws = test::toneWorkspace(16, 1, length, 8000, 500, 6000, 2500);
    auto s = test::analyse(ws, ui, test::regionOf(0, 0, length - 1), 64, 1);
    ASSERT_TRUE(s);
    const SpectrumValues spectra = s->spectra;
    SoundDocument sound;
    EXPECT_FALSE(selectionSound(*s, ui, sound));  // nothing selected

    s->selFrameLo = 10;
    s->selFrameHi = 69;
    s->selBinLo = 15;
    s->selBinHi = 25;
    ASSERT_TRUE(selectionSound(*s, ui, sound));
    EXPECT_EQ(sound.format.nChannels, 1);
    EXPECT_EQ(sound.format.nSamplesPerSec, 8000u);
    EXPECT_EQ(sound.frameCount, 61 * 32);
    EXPECT_NEAR(toneLevel(sound, 2500), 6000, 600);
    EXPECT_LT(toneLevel(sound, 500), 60);
    EXPECT_EQ(s->spectra, spectra);
    EXPECT_EQ(ws.document.modified, 0);
    EXPECT_TRUE(ui.texts().empty());
}

} // namespace
} // namespace sonavik
