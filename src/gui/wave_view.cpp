#include "gui/wave_view.h"

#include "gui/scroll_bar_action.h"
#include "views/wave_views.h"

#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>

namespace sonavik {

WaveCanvas::WaveCanvas(WaveViews& views, int channel, QWidget* parent)
    : QWidget(parent), views_(views), channel_(channel)
{
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void WaveCanvas::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const PixelImage* picture = views_.picture(channel_);
    if (!picture || picture->empty()) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    // The picture is stored bottom-up; flip it while drawing instead of copying it.
    const QImage image(picture->data(), picture->width(), picture->height(), picture->stride(), QImage::Format_BGR888);
    painter.setTransform(QTransform(1, 0, 0, -1, 0, picture->height()));
    painter.drawImage(0, 0, image);
}

void WaveCanvas::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    views_.resize(channel_, width(), height());
}

void WaveCanvas::mousePressEvent(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
    if (event->button() == Qt::LeftButton)
        views_.leftPress(channel_, p.x(), p.y());
    else if (event->button() == Qt::RightButton)
        views_.rightPress(channel_, p.x(), p.y());
}

void WaveCanvas::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
    views_.mouseMove(channel_, p.x(), p.y());
}

void WaveCanvas::mouseReleaseEvent(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
    if (event->button() == Qt::LeftButton)
        views_.leftRelease(channel_, p.x(), p.y());
    else if (event->button() == Qt::RightButton)
        views_.rightRelease(channel_, p.x(), p.y());
}

void WaveCanvas::wheelEvent(QWheelEvent* event)
{
    const QPoint delta = event->angleDelta();
    wheelRemainder_ += delta.y() != 0 ? delta.y() : delta.x();
    const int notches = wheelRemainder_ / 120;
    wheelRemainder_ %= 120;
    event->accept();
    if (notches == 0)
        return;
    const Qt::KeyboardModifiers keys = event->modifiers();
    const WheelAction action = keys & Qt::ControlModifier ? WheelAction::ZoomTime
                               : keys & Qt::ShiftModifier ? WheelAction::ZoomAmplitude
                                                          : WheelAction::Scroll;
    const QPoint at = event->position().toPoint();
    views_.wheel(channel_, action, notches, at.x(), at.y());
}

WaveView::WaveView(WaveViews& views, int channel, QWidget* parent)
    : QWidget(parent), views_(views), channel_(channel)
{
    setObjectName(channel == 1 ? "R Wave" : "L Wave");
    canvas_ = new WaveCanvas(views, channel, this);
    hBar_ = new QScrollBar(Qt::Horizontal, this);
    vBar_ = new QScrollBar(Qt::Vertical, this);
    for (QScrollBar* bar : {hBar_, vBar_}) {
        bar->setRange(0, 0);
        const bool horizontal = bar == hBar_;
        connect(bar, &QScrollBar::actionTriggered, this, [this, bar, horizontal](int action) { onAction(bar, action, horizontal); });
    }
}

WaveView::~WaveView() { views_.destroy(channel_); }

void WaveView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    layoutChildren();
}

void WaveView::layoutChildren()
{
    const int barW = vBar_->sizeHint().width();
    const int barH = hBar_->sizeHint().height();
    const int w = std::max(0, width() - barW);
    const int h = std::max(0, height() - barH);
    vBar_->setGeometry(w, 0, barW, h);
    hBar_->setGeometry(0, h, w, barH);
    canvas_->setGeometry(0, 0, w, h);
}

void WaveView::setScrollBars(const ScrollBarValues& b)
{
    settingBars_ = true;
    showScrollBar(hBar_, b.hMin, b.hMax, b.hPage, b.hPos);
    showScrollBar(vBar_, b.vMin, b.vMax, b.vPage, b.vPos);
    settingBars_ = false;
}

void WaveView::onAction(QScrollBar* bar, int action, bool horizontal)
{
    if (settingBars_)
        return;
    int thumb = 0;
    const ScrollRequest request = scrollRequestOf(bar, action, thumb);
    // The core decides the new position and writes it back when it renders; a request it ignores
    // must not move the thumb either.
    const int before = bar->value();
    if (request != ScrollRequest::Other) {
        if (horizontal)
            views_.scrollHorizontal(channel_, request, thumb);
        else
            views_.scrollVertical(channel_, request, thumb);
    }
    if (request == ScrollRequest::Other || bar->sliderPosition() != bar->value()) {
        settingBars_ = true;
        bar->setSliderPosition(request == ScrollRequest::Other ? before : bar->value());
        settingBars_ = false;
    }
}

} // namespace sonavik
