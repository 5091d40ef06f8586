#pragma once
// What the widget tests share: answering the next dialog or menu, and finding a menu bar item.

#include <QAction>
#include <QApplication>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <functional>

namespace sonavik::test {

// Runs `answer` on the next modal dialog or popup menu that opens.
inline void whenShown(std::function<void(QWidget*)> answer)
{
    QTimer::singleShot(0, [answer] {
        QWidget* w = QApplication::activePopupWidget();
        if (!w)
            w = QApplication::activeModalWidget();
        ASSERT_NE(w, nullptr) << "nothing opened";
        answer(w);
    });
}

// The item of a window's menu bar whose data is the command id, or null.
inline QAction* menuActionOf(QMainWindow* window, int id)
{
    for (QAction* top : window->menuBar()->actions())
        if (QMenu* menu = top->menu())
            for (QAction* a : menu->actions())
                if (a->data().toInt() == id)
                    return a;
    return nullptr;
}

} // namespace sonavik::test
