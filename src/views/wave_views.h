#pragma once
// The two waveform views without their windows: each view's cached render and the picture shown on
// top of it, the mouse gestures that make and edit selections, scrolling, resizing and the status-bar
// texts. The widgets forward their events here and show what comes back.

#include "platform/ui.h"
#include "raster/pixel_image.h"
#include "views/view_geometry.h"
#include "views/view_wheel.h"
#include "views/waveform_renderer.h"

#include <optional>
#include <string>

namespace sonavik {

struct Workspace;

enum class ScrollRequest { LineBack, LineForward, Thumb, Other };

// What the views ask of their windows.
class WaveViewHost {
public:
    virtual ~WaveViewHost() = default;
    virtual void pictureChanged(int channel) = 0;
    virtual void setViewCursor(int channel, CursorKind cursor) = 0;
    virtual void setScrollBars(int channel, const ScrollBarValues& bars) = 0;
    virtual void setMouseCapture(int channel, bool captured) = 0;
    virtual void openRedSelectionMenu(int channel) = 0;
    virtual void openSelectionMenu(int channel, int slot) = 0;
};

class WaveViews {
public:
    WaveViews(Workspace& ws, Ui& ui, WaveViewHost& host);

    // A view gets its image with its first size; the zoom is scaled so the same span stays visible.
    void resize(int channel, int width, int height);
    void destroy(int channel);
    bool hasImage(int channel) const;
    ViewGeometry geometry(int channel) const;

    // Render again from the samples: after the samples, the size, the zoom or the scroll changed.
    void render(int channel);
    void renderAll();
    // Show again from the cached render: after only the selections changed.
    void refresh(int channel);
    // The picture to show; null while the view has no image.
    const PixelImage* picture(int channel);
    // The frame being heard, shown as a line over both views; -1 removes it.
    void setPlayPosition(std::int64_t frame);
    std::int64_t playPosition() const { return playFrame_; }

    void leftPress(int channel, int x, int y);
    void rightPress(int channel, int x, int y);
    void mouseMove(int channel, int x, int y);
    void leftRelease(int channel, int x, int y);
    void rightRelease(int channel, int x, int y);
    void scrollHorizontal(int channel, ScrollRequest request, int thumbPosition = 0);
    void scrollVertical(int channel, ScrollRequest request, int thumbPosition = 0);
    // The mouse wheel with the pointer at (px, y) of the view (see view_wheel.h); ignored during a
    // gesture. The position text then names what lies under the pointer now.
    void wheel(int channel, WheelAction action, int notches, int px, int y);

    std::string positionText(int channel, int x, int y) const;
    std::string redSelectionText() const;
    const ScrollBarValues& scrollBars(int channel) const { return views_[index(channel)].bars; }

private:
    struct View {
        bool hasImage = false;
        int width = 0;
        int height = 0;
        PixelImage cached;
        PixelImage shown;
        bool shownStale = true;
        ScrollBarValues bars{};
        // The plot size the document's zoom was last scaled for; 0 before the first size with a plot.
        double scaleWidth = 0;
        double scaleHeight = 0;
    };
    struct Span {
        std::int64_t first;
        std::int64_t last;
    };

    // What a pointer in the alpha band is over. The order of Kind matches the press modes.
    struct BandHit {
        enum Kind { None, LevelStart, LevelEnd, EdgeStart, EdgeEnd, Body } kind = None;
        int slot = -1;
    };
    BandHit hitBand(const ViewGeometry& g, const SelectionTable& table, std::int64_t x, int y, bool stopAtBody) const;

    static int index(int channel) { return channel == 1 ? 1 : 0; }
    ViewState& viewState(int channel);
    Span documentColumns(const ViewGeometry& g) const;
    // The pointer is over the sound's columns and inside the view's rows: where every gesture starts.
    bool onDocument(const ViewGeometry& g, std::int64_t x, int y) const;
    // Presses count only between gestures, with sound and a picture to hit.
    bool pressAllowed(int channel) const;
    Span rangeColumns(const ViewGeometry& g, std::int64_t start, std::int64_t end) const;
    std::int64_t levelRow(const ViewGeometry& g, double alpha) const;
    void startRedSelection(int channel, const ViewGeometry& g, std::int64_t x);
    void redDragStep(int channel, std::int64_t x);
    void drop(int channel, std::int64_t x, int y);
    void hoverCursor(int channel, std::int64_t x, int y);
    void updateStatus(int channel, int x, int y);
    void refreshTitle();

    Workspace& ws_;
    Ui& ui_;
    WaveViewHost& host_;
    View views_[2];
    std::int64_t playFrame_ = -1;
    // The row a level handle was pressed on, and whether the pointer has left it since.
    int levelPressRow_ = 0;
    bool levelMoved_ = false;
};

} // namespace sonavik
