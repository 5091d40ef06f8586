#pragma once
// The "L Wave" / "R Wave" window: a canvas that shows the core's picture and forwards the mouse, and
// the two scroll bars. All rules live in WaveViews.

#include "views/waveform_renderer.h"

#include <QWidget>

class QScrollBar;

namespace sonavik {

class WaveViews;

class WaveCanvas : public QWidget {
    Q_OBJECT
public:
    WaveCanvas(WaveViews& views, int channel, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    WaveViews& views_;
    int channel_;
    int wheelRemainder_ = 0;  // eighths of a degree short of a whole notch (fine-grained wheels)
};

class WaveView : public QWidget {
    Q_OBJECT
public:
    WaveView(WaveViews& views, int channel, QWidget* parent);
    ~WaveView() override;

    WaveCanvas* canvas() const { return canvas_; }
    QScrollBar* horizontalBar() const { return hBar_; }
    QScrollBar* verticalBar() const { return vBar_; }
    void setScrollBars(const ScrollBarValues& bars);
    // Places the canvas and the bars for the view's current size. The main window calls it right after
    // moving the view, so the canvas size is right even before Qt delivers the resize event.
    void layoutChildren();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void onAction(QScrollBar* bar, int action, bool horizontal);

    WaveViews& views_;
    int channel_;
    WaveCanvas* canvas_;
    QScrollBar* hBar_;
    QScrollBar* vBar_;
    bool settingBars_ = false;
};

} // namespace sonavik
