#pragma once
// The program's own pictures, cursors and icon, compiled in from resources/resources.qrc.

#include <QCursor>
#include <QIcon>
#include <QPixmap>
#include <QPoint>

#include <optional>

namespace sonavik {

// Button pictures 302-318 (16 x 16) and 319-336 (24 x 24; big buttons as active, normal, disabled).
// Pure white in a picture stands for the button face: it comes back as the application palette's
// QPalette::Button colour of the moment. Unknown ids give a null pixmap.
QPixmap buttonPicture(int id);

// Cursors 201-207 with their hot spots; unknown ids give Qt::ArrowCursor.
QCursor programCursor(int id);

// Hot spot of cursor 201-207 in its 32 x 32 picture, or nothing for an unknown id.
std::optional<QPoint> cursorHotSpot(int id);

// Application icon 301, at 32 x 32 and 48 x 48.
QIcon applicationIcon();

} // namespace sonavik
