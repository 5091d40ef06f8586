#pragma once
// A spectrogram window without its widgets: the plot, the frequency, time and status strips in their
// pixel buffers, zoom and scrolling, the rectangle selection dragged with the mouse and the edits of its
// context menu. The Qt window forwards its events here and shows picture().

#include "raster/pixel_image.h"
#include "spectrogram/spectrogram_plot.h"
#include "views/wave_views.h"
#include "views/waveform_renderer.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sonavik {

class Ui;
struct Spectrogram;
struct Workspace;

namespace spectrogram_cmd {
inline constexpr int GainUp = 40401;
inline constexpr int LogColours = 40402;
inline constexpr int ZoomIn = 40403;
inline constexpr int TimeZoomOut = 40404;
inline constexpr int TimeZoomIn = 40405;
inline constexpr int Dot = 40406;
inline constexpr int Blank = 40407;
inline constexpr int SaveBitmap = 40408;
inline constexpr int GainDown = 40409;
inline constexpr int LinearColours = 40410;
inline constexpr int ZoomOut = 40411;
inline constexpr int FrequencyZoomOut = 40412;
inline constexpr int FrequencyZoomIn = 40413;
inline constexpr int Fit = 40414;
inline constexpr int Resynthesize = 40415;
inline constexpr int SaveSpectra = 40416;

inline constexpr int Erase = 40501;
inline constexpr int Double = 40502;
inline constexpr int Halve = 40503;
inline constexpr int Keep = 40508;
inline constexpr int Cancel = 40509;
// Our own: hear what the selected rectangle alone sounds like.
inline constexpr int PlaySelection = 40520;
// Our own: rebuild the rectangle from the frames around it; let the next edit take the band's harmonics
// too (a toggle); move the band onto the strongest bin near it.
inline constexpr int Repair = 40521;
inline constexpr int Harmonics = 40522;
inline constexpr int SnapToPeak = 40523;
} // namespace spectrogram_cmd

// A button of the column: its caption (window text, not drawn), picture, column and row.
struct SpectrogramButton {
    int command;
    const char* caption;
    int picture;
    int column;  // 0 or 1
    int row;     // 0 ... 7
};
const std::vector<SpectrogramButton>& spectrogramButtons();

// The context menu of the selection; id 0 is a separator.
struct SpectrogramMenuItem {
    int id;
    const char* text;
};
const std::vector<SpectrogramMenuItem>& spectrogramMenu();

// The system colours of the status strip.
struct StripColours {
    Rgb face{240, 240, 240};
    Rgb shadow{160, 160, 160};
    Rgb highlight{255, 255, 255};
    Rgb text{0, 0, 0};
};

// What a button or a menu choice leaves for the window to do.
// AskHarmonics: 倍音も was chosen while off; the window asks how many harmonics (harmonicCount of the
// settings) and, on OK, turns it on with setHarmonics.
enum class SpectrogramAction { None, SaveBitmap, SaveSpectra, Resynthesize, PlaySelection, AskHarmonics };

struct ScrollBarState {
    int max = 32767;
    int page = 0;
    int pos = 0;
    friend bool operator==(const ScrollBarState&, const ScrollBarState&) = default;
};

class SpectrogramView {
public:
    // The view works on spectrogram, which must outlive it; dragMode and the layout come from ws.
    SpectrogramView(Spectrogram& spectrogram, Workspace& ws, Ui& ui, StripColours colours = {});
    ~SpectrogramView();

    Spectrogram& spectrogram() { return s_; }
    const Spectrogram& spectrogram() const { return s_; }

    // The client area got a new size: buffers anew, zoom kept (or fitted the first time), full render.
    void resize(int clientWidth, int clientHeight);
    int clientWidth() const { return clientWidth_; }
    int clientHeight() const { return clientHeight_; }
    int plotWidth() const { return clientWidth_ - buttons_ - axisWidth_; }
    int plotHeight() const { return clientHeight_ - axisHeight_ - status_; }
    int buttonsWidth() const { return buttons_; }
    int buttonHeight() const;

    // Draws the strips; with full also the plot and the scroll bars.
    void render(bool full);
    // The whole client area as shown: black, the four buffers and the selection's overlay.
    const PixelImage& picture();
    const PixelImage& plot() const { return plot_; }
    const PixelImage& frequencyStrip() const { return frequencyStrip_; }
    const PixelImage& timeStrip() const { return timeStrip_; }
    const PixelImage& statusStrip() const { return statusStrip_; }
    const ScrollBarState& horizontalBar() const { return hBar_; }
    const ScrollBarState& verticalBar() const { return vBar_; }
    PlotAxis timeAxis() const;
    PlotAxis frequencyAxis() const;

    // The texts of the status strip with their top rows: the pointer's cells and the selection.
    struct StatusLine {
        int top;
        std::string text;
    };
    std::vector<StatusLine> statusLines() const;

    SpectrogramAction command(int id);
    // The brightness factor as presses of the gain buttons leave it (each doubles or halves it),
    // coloured and drawn again; a factor that is not above 0 is ignored.
    void setGain(double gain);
    void scroll(bool horizontal, ScrollRequest request, int thumbPosition = 0);

    // Client coordinates, y from the top.
    void mouseMove(int x, int y);
    void leftPress(int x, int y);
    void leftRelease(int x, int y);
    // True when the context menu is to be shown.
    bool rightRelease(int x, int y);
    void pointerLeft();
    SpectrogramAction menuCommand(int id);
    bool selectionShown() const;
    // Whether the next edit also takes the band's harmonics ("倍音も", shown ticked in the menu and as
    // the extra bands of the overlay), as many as the settings' harmonicCount; the edit turns it off again.
    bool harmonicsOn() const { return harmonics_; }
    void setHarmonics(bool on);

    // Whether the plot is drawn with the block sums: by default only where adding every cell would be
    // slow (they cost some 0.42 bytes per cell); always or never for comparisons.
    enum class BlockSums { Auto, Always, Never };
    void useBlockSums(BlockSums use) { useSums_ = use; }

private:
    struct PixelRect {
        std::int64_t x0, x1, y0, y1;  // plot pixels, rows from the bottom
        friend bool operator==(const PixelRect&, const PixelRect&) = default;
    };
    bool ready() const;
    bool commandAllowed();
    void recolour();
    void fitAxes();
    void zoomIn(bool time);
    void zoomOut(bool time);
    std::optional<PixelRect> selectionPixels() const;
    std::optional<PixelRect> cellPixels(std::int64_t frameLo, std::int64_t frameHi, std::int64_t binLo,
                                        std::int64_t binHi) const;
    std::vector<PixelRect> overlayPixels() const;
    bool onDataPixels(int px, int py) const;
    void clearSelection();
    void drawGrid();
    void drawTimeLabels();
    void drawFrequencyLabels();
    void drawCrossSections();
    void drawStatus();
    void updateBars();
    ColourGrid grid() const;

    Spectrogram& s_;
    Workspace& ws_;
    Ui& ui_;
    StripColours colours_;
    int buttons_;
    int axisWidth_;
    int axisHeight_;
    int status_;
    int clientWidth_ = 0;
    int clientHeight_ = 0;
    PixelImage plot_;
    PixelImage frequencyStrip_;
    PixelImage timeStrip_;
    PixelImage statusStrip_;
    PixelImage shown_;
    bool shownStale_ = true;
    bool plotShownStale_ = true;
    std::vector<PixelRect> shownOverlay_;
    bool harmonics_ = false;
    ScrollBarState hBar_;
    ScrollBarState vBar_;
    std::optional<std::pair<int, int>> pointer_;
    bool dragging_ = false;
    BlockSums useSums_ = BlockSums::Auto;
    std::unique_ptr<FrameBlockSums> sums_;
    bool sumsTried_ = false;
};

} // namespace sonavik
