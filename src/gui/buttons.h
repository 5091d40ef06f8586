#pragma once
// The toolbar's big picture buttons and the small owner-drawn buttons beside each view.

#include "app/big_button.h"

#include <QPushButton>
#include <QTimer>
#include <QWidget>

namespace sonavik {

struct Settings;

class BigButton : public QWidget {
    Q_OBJECT
public:
    BigButton(const BigButtonSpec& spec, QWidget* parent);

    BigButtonLook look() const { return state_.look; }
    void setEnabledState(bool enabled);
    // The play button's label switches between "再生" and "停止".
    void setLabel(const QString& label);
    QString label() const { return label_; }

signals:
    void commandRequested(int id);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    BigButtonSpec spec_;
    BigButtonState state_;
    QString label_;
    QTimer hoverTimer_;
};

class SmallButton : public QPushButton {
    Q_OBJECT
public:
    SmallButton(const QString& text, int commandId, int picture, QWidget* parent);
    int commandId() const { return commandId_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int commandId_;
    int picture_;
};

// The central area: toolbar background and the side column behind the small buttons.
class MainArea : public QWidget {
    Q_OBJECT
public:
    MainArea(const Settings& settings, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const Settings& settings_;
};

} // namespace sonavik
