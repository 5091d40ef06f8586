#include "gui/curve_editor_widget.h"

#include "gui/resources.h"

#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>

#include <type_traits>

namespace sonavik {

namespace {

QColor toQColor(Rgb c) { return QColor(c.r, c.g, c.b); }

QFont labelFont()
{
    QFont font("IPAGothic");
    font.setStyleHint(QFont::Monospace);
    font.setPixelSize(12);
    // The labels are small pixel text; smoothing only blurs them into the grid.
    font.setStyleStrategy(QFont::NoAntialias);
    return font;
}

// A one-pixel pen that, like a pen moved to a point, leaves the end pixel of a line undrawn.
QPen thinPen(Rgb colour)
{
    QPen pen(toQColor(colour));
    pen.setWidth(1);
    pen.setCosmetic(true);
    pen.setCapStyle(Qt::FlatCap);
    pen.setJoinStyle(Qt::MiterJoin);
    return pen;
}

} // namespace

CurveEditorWidget::CurveEditorWidget(CurveData& data, Ui& ui, std::function<std::uint32_t()> sampleRate, QWidget* parent)
    : QWidget(parent), editor_(data, ui), sampleRate_(std::move(sampleRate)), plotCursor_(programCursor(203)),
      grabCursor_(programCursor(204))
{
    setObjectName("Wnd");
    setWindowTitle("Wnd");
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setCursor(plotCursor_);
}

void CurveEditorWidget::paintPicture(QPainter& painter, const CurvePicture& picture)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.fillRect(0, 0, picture.width, picture.height, toQColor(curve_colour::kBackground));
    painter.setFont(labelFont());
    const QFontMetrics metrics(painter.font());

    for (const DrawItem& item : picture.items) {
        std::visit(
            [&](const auto& op) {
                using T = std::decay_t<decltype(op)>;
                if constexpr (std::is_same_v<T, DrawLine>) {
                    if (op.from == op.to)
                        return;
                    painter.setPen(thinPen(op.colour));
                    painter.drawLine(op.from.x, op.from.y, op.to.x, op.to.y);
                } else if constexpr (std::is_same_v<T, DrawPolyline>) {
                    if (op.points.empty())
                        return;
                    painter.setPen(thinPen(op.colour));
                    QPolygon polygon;
                    polygon.reserve(static_cast<int>(op.points.size()));
                    for (const PixelPoint& p : op.points)
                        polygon << QPoint(p.x, p.y);
                    if (polygon.size() > 1)
                        painter.drawPolyline(polygon);
                    painter.drawPoint(polygon.last());
                } else if constexpr (std::is_same_v<T, DrawCircle>) {
                    painter.setPen(thinPen(curve_colour::kOutline));
                    painter.setBrush(toQColor(op.fill));
                    // A stroked box covers its size plus one pixel.
                    painter.drawEllipse(QRect(op.left, op.top, op.right - op.left - 1, op.bottom - op.top - 1));
                    painter.setBrush(Qt::NoBrush);
                } else {
                    const QString text = QString::fromUtf8(op.text.data(), static_cast<int>(op.text.size()));
                    const QRect cell(op.at.x, op.at.y, metrics.horizontalAdvance(text), metrics.height());
                    painter.fillRect(cell, toQColor(curve_colour::kTextBackground));
                    painter.setPen(toQColor(curve_colour::kText));
                    painter.drawText(op.at.x, op.at.y + metrics.ascent(), text);
                }
            },
            item);
    }
    painter.restore();
}

void CurveEditorWidget::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const std::uint32_t rate = sampleRate_ ? sampleRate_() : 0;
    paintPicture(painter, drawCurveEditor(editor_.data(), width(), height(), rate));
}

void CurveEditorWidget::apply(const EditorResponse& response)
{
    // Qt keeps the mouse with this window from a press to its release, which is the capture the editor
    // asks for; grabbing it explicitly as well could leave it grabbed after a lost release.
    if (response.cursor && *response.cursor != shownCursor_) {
        shownCursor_ = *response.cursor;
        switch (shownCursor_) {
        case CursorKind::C203:
            setCursor(plotCursor_);
            break;
        case CursorKind::C204:
            setCursor(grabCursor_);
            break;
        default:
            setCursor(Qt::ArrowCursor);
            break;
        }
    }
    if (response.repaint)
        update();
}

void CurveEditorWidget::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const QPoint p = event->position().toPoint();
    apply(editor_.leftPress(p.x(), p.y(), width(), height()));
}

void CurveEditorWidget::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
    apply(editor_.mouseMove(p.x(), p.y(), width(), height()));
}

void CurveEditorWidget::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    apply(editor_.leftRelease());
}

} // namespace sonavik
