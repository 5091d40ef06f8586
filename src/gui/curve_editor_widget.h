#pragma once
// The curve editor window "Wnd" that the curve dialogs place over their frame control. It passes the
// mouse to CurveEditor and paints the picture that drawCurveEditor describes.

#include "curve/curve_editor.h"

#include <QCursor>
#include <QWidget>

#include <cstdint>
#include <functional>

namespace sonavik {

class Ui;

class CurveEditorWidget : public QWidget {
    Q_OBJECT
public:
    // sampleRate gives the open sound's rate, or 0 without a sound. The block is normalised here and
    // edited in place; after changing it from outside, call update().
    CurveEditorWidget(CurveData& data, Ui& ui, std::function<std::uint32_t()> sampleRate, QWidget* parent = nullptr);

    const CurveEditor& editor() const { return editor_; }

    // The picture exactly as the window paints it, for any size.
    static void paintPicture(QPainter& painter, const CurvePicture& picture);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void apply(const EditorResponse& response);

    CurveEditor editor_;
    std::function<std::uint32_t()> sampleRate_;
    QCursor plotCursor_;  // 203
    QCursor grabCursor_;  // 204
    CursorKind shownCursor_ = CursorKind::C203;
};

} // namespace sonavik
