// Settings records that no dialog would write: every layout field at the ends of its type. The window
// layout, the views and their pictures must stay the size of a normal window (the work done follows
// the picture sizes), and the arithmetic must not overflow (run under UBSan by ./test --sanitize).

#include "app/layout.h"
#include "app/view_scale.h"
#include "document/workspace.h"
#include "settings/settings.h"
#include "support/scripted_ui.h"
#include "views/test_documents.h"
#include "views/wave_views.h"

#include <gtest/gtest.h>

#include <climits>

namespace sonavik {
namespace {

class QuietHost : public WaveViewHost {
public:
    void pictureChanged(int) override {}
    void setViewCursor(int, CursorKind) override {}
    void setScrollBars(int, const ScrollBarValues&) override {}
    void setMouseCapture(int, bool) override {}
    void openRedSelectionMenu(int) override {}
    void openSelectionMenu(int, int) override {}
};

void setEveryLayoutField(Settings& s, std::int32_t value)
{
    for (std::int32_t* field : {&s.clientWidth, &s.clientHeight, &s.toolbarHeight, &s.bigButtonWidth, &s.sideBarWidth,
                                &s.statusBarHeight, &s.leftMarginWidth, &s.alphaBandHeight, &s.rulerHeight})
        *field = value;
}

bool inside(const Rect& r, int width, int height)
{
    return r.x >= 0 && r.y >= 0 && r.width >= 0 && r.height >= 0 && r.x + r.width <= width && r.y + r.height <= height;
}

TEST(ExtremeSettings, LayoutAndViewsStayTheSizeOfADefaultWindow)
{
    for (std::int32_t value : {INT_MIN, -1569479094, -761372448, -1, 0, 16385, INT_MAX}) {
        for (bool stereo : {false, true}) {
            SCOPED_TRACE(testing::Message() << value << (stereo ? " stereo" : " mono"));
            Workspace ws;
            applyDefaultSettings(ws.settings);
            setEveryLayoutField(ws.settings, value);
            const LayoutSizes sizes = layoutSizes(ws.settings);
            const int width = sizes.clientWidth;
            const int height = sizes.clientHeight;
            EXPECT_LE(width, kMaxWindowExtent);
            EXPECT_LE(height, kMaxWindowExtent);

            const MainLayout layout = computeLayout(ws.settings, stereo);
            EXPECT_TRUE(inside(layout.leftView, width, height));
            if (stereo) {
                EXPECT_TRUE(inside(layout.rightView, width, height));
            }
            for (const Rect& r : layout.leftButtons)
                EXPECT_TRUE(inside(r, width, height));

            ws.document = test::randomDocument(16, stereo ? 2 : 1, 50000, 3);
            QuietHost host;
            test::ScriptedUi ui;
            WaveViews views(ws, ui, host);
            for (int channel = 0; channel < (stereo ? 2 : 1); ++channel) {
                const Rect& r = channel == 0 ? layout.leftView : layout.rightView;
                views.resize(channel, r.width, r.height);
                ViewState& state = channel == 0 ? ws.document.leftView : ws.document.rightView;
                fitView(state, ws.document, plotSizeOf(ws.settings, r.width, r.height));
                views.render(channel);
                applyViewScale(state, ViewScaleAction::ZoomInX, ws.document, plotSizeOf(ws.settings, r.width, r.height));
                views.render(channel);
                views.leftPress(channel, r.width / 2, r.height / 2);
                views.mouseMove(channel, r.width / 2 + 5, r.height / 2);
                views.leftRelease(channel, r.width / 2 + 5, r.height / 2);
                views.positionText(channel, r.width / 2, r.height / 2);
                const PixelImage* picture = views.picture(channel);
                ASSERT_NE(picture, nullptr);
                // The work of drawing follows the picture's size: it is the view's own, inside the window.
                EXPECT_EQ(picture->width(), r.width);
                EXPECT_EQ(picture->height(), r.height);
            }
        }
    }
}

} // namespace
} // namespace sonavik
