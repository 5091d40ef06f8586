#include "gui/buttons.h"

#include "gui/resources.h"
#include "settings/settings.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionButton>

namespace sonavik {

namespace {
constexpr int kHoverTimerMs = 50;

QFont buttonLabelFont()
{
    QFont font("IPAGothic");
    font.setStyleHint(QFont::Monospace);
    font.setPixelSize(12);
    return font;
}
} // namespace

BigButton::BigButton(const BigButtonSpec& spec, QWidget* parent)
    : QWidget(parent), spec_(spec), label_(QString::fromUtf8(spec.label))
{
    setObjectName(QString::fromUtf8(spec.windowText));
    setMouseTracking(true);
    state_.setEnabled(spec.initiallyEnabled);
    hoverTimer_.setInterval(kHoverTimerMs);
    connect(&hoverTimer_, &QTimer::timeout, this, [this] {
        const bool inside = rect().contains(mapFromGlobal(QCursor::pos()));
        if (state_.timerTick(inside)) {
            hoverTimer_.stop();
            update();
        }
    });
}

void BigButton::setEnabledState(bool enabled)
{
    state_.setEnabled(enabled);
    if (!enabled)
        hoverTimer_.stop();
    update();
}

void BigButton::setLabel(const QString& label)
{
    label_ = label;
    update();
}

void BigButton::mouseMoveEvent(QMouseEvent*)
{
    if (state_.pointerMoved()) {
        hoverTimer_.start();
        update();
    }
}

void BigButton::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && state_.pressed())
        update();  // Qt keeps the mouse with this button until release
}

void BigButton::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && state_.released()) {
        update();
        emit commandRequested(spec_.commandId);
    }
}

void BigButton::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QPalette pal = palette();
    const int w = width();
    const int h = height();
    p.fillRect(rect(), pal.color(QPalette::Button));
    const bool pressed = state_.look == BigButtonLook::Pressed;
    const BigButtonPlacement place = placeBigButton(w, h, textColumns(label_.toStdString()), pressed);
    int picture = spec_.normalPicture;
    QColor text = Qt::black;
    switch (state_.look) {
    case BigButtonLook::Disabled:
        picture = spec_.disabledPicture;
        text = pal.color(QPalette::Dark);
        break;
    case BigButtonLook::Normal:
        break;
    case BigButtonLook::Hot:
    case BigButtonLook::Pressed: {
        picture = spec_.activePicture;
        text = pal.color(QPalette::Highlight);
        const QColor light = pal.color(QPalette::Light);
        const QColor dark = pal.color(QPalette::Dark);
        const QColor topLeft = pressed ? dark : light;
        const QColor bottomRight = pressed ? light : dark;
        p.setPen(topLeft);
        p.drawLine(1, 1, w - 1, 1);
        p.drawLine(1, 1, 1, h - 2);
        p.setPen(bottomRight);
        p.drawLine(w - 2, 1, w - 2, h - 2);
        p.drawLine(1, h - 2, w - 1, h - 2);
        p.setPen(Qt::black);
        p.drawRect(0, 0, w - 1, h - 1);
        break;
    }
    }
    p.drawPixmap(place.pictureX, place.pictureY, buttonPicture(picture));
    p.setFont(buttonLabelFont());
    p.setPen(text);
    const QFontMetrics metrics(p.font());
    p.drawText(place.labelX, place.labelY + metrics.ascent(), label_);
}

SmallButton::SmallButton(const QString& text, int commandId, int picture, QWidget* parent)
    : QPushButton(text, parent), commandId_(commandId), picture_(picture)
{
    setObjectName(text);
    setFocusPolicy(Qt::NoFocus);
}

void SmallButton::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    QStyleOptionButton option;
    option.initFrom(this);
    option.features = QStyleOptionButton::None;
    if (isDown())
        option.state |= QStyle::State_Sunken;
    else
        option.state |= QStyle::State_Raised;
    style()->drawControl(QStyle::CE_PushButtonBevel, &option, &p, this);
    const int shift = isDown() ? 1 : 0;
    p.drawPixmap((width() - 16) / 2 + shift, (height() - 16) / 2 + shift, buttonPicture(picture_));
}

MainArea::MainArea(const Settings& settings, QWidget* parent) : QWidget(parent), settings_(settings)
{
    setObjectName("area");
}

void MainArea::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QPalette pal = palette();
    const int w = width();
    const LayoutSizes sizes = layoutSizes(settings_);
    const int toolbar = sizes.toolbarHeight;
    p.fillRect(0, 0, w, toolbar, pal.color(QPalette::Button));
    p.setPen(pal.color(QPalette::Dark));
    p.drawLine(0, 0, w, 0);
    p.setPen(pal.color(QPalette::Light));
    p.drawLine(0, 1, w, 1);
    // Half the shadow colour, each component halved on its own.
    const QColor shadow = pal.color(QPalette::Dark);
    const QColor side(shadow.red() / 2, shadow.green() / 2, shadow.blue() / 2);
    p.fillRect(0, toolbar, sizes.sideBarWidth, height() - toolbar, side);
}

} // namespace sonavik
