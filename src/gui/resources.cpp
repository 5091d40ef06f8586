#include "gui/resources.h"

#include <QApplication>
#include <QHash>
#include <QImage>
#include <QPalette>
#include <QString>

#include <mutex>

// The .qrc is compiled into the static gui library, where nothing else would pull its registration
// into the program; this reference does. Q_INIT_RESOURCE must be used outside any namespace.
static void registerProgramResources()
{
    Q_INIT_RESOURCE(resources);
}

namespace sonavik {

namespace {

void ensureResources()
{
    static std::once_flag once;
    std::call_once(once, registerProgramResources);
}

struct CursorInfo {
    int id;
    QPoint hotSpot;
};

// 202 points with the arrow tip; all other shapes act at their centre (the I-beam's middle, the
// centre of the circled cross, the gap of the split bar).
constexpr CursorInfo kCursors[] = {
    {201, {15, 15}}, {202, {1, 1}}, {203, {15, 15}}, {204, {15, 15}},
    {205, {15, 15}}, {206, {15, 15}}, {207, {15, 15}},
};

const CursorInfo* findCursor(int id)
{
    for (const CursorInfo& c : kCursors)
        if (c.id == id)
            return &c;
    return nullptr;
}

QImage loadImage(const QString& path)
{
    ensureResources();
    return QImage(path);
}

// Loaded once; the face colour is put in on every call so palette changes are followed.
QImage rawPicture(int id)
{
    static std::mutex lock;
    static QHash<int, QImage> cache;
    std::lock_guard<std::mutex> guard(lock);
    auto it = cache.find(id);
    if (it == cache.end())
        it = cache.insert(id, loadImage(QStringLiteral(":/sonavik/pictures/%1.xpm").arg(id)));
    return *it;
}

QRgb buttonFace()
{
    return QApplication::palette().color(QPalette::Button).rgb();
}

} // namespace

QPixmap buttonPicture(int id)
{
    if (id < 302 || id > 336)
        return {};
    QImage image = rawPicture(id);
    if (image.isNull())
        return {};
    const QRgb white = qRgb(255, 255, 255);
    const QRgb face = buttonFace();
    if (image.format() == QImage::Format_Indexed8) {
        QList<QRgb> table = image.colorTable();
        for (QRgb& c : table)
            if (c == white)
                c = face;
        image.setColorTable(table);
    } else {
        image = image.convertToFormat(QImage::Format_RGB32);
        for (int y = 0; y < image.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x)
                if (line[x] == white)
                    line[x] = face;
        }
    }
    return QPixmap::fromImage(image);
}

std::optional<QPoint> cursorHotSpot(int id)
{
    if (const CursorInfo* c = findCursor(id))
        return c->hotSpot;
    return std::nullopt;
}

QCursor programCursor(int id)
{
    const CursorInfo* info = findCursor(id);
    if (!info)
        return QCursor(Qt::ArrowCursor);
    const QImage image = loadImage(QStringLiteral(":/sonavik/cursors/%1.xpm").arg(id));
    if (image.isNull())
        return QCursor(Qt::ArrowCursor);
    return QCursor(QPixmap::fromImage(image), info->hotSpot.x(), info->hotSpot.y());
}

QIcon applicationIcon()
{
    QIcon icon;
    for (const char* path : {":/sonavik/icon/301-32.xpm", ":/sonavik/icon/301.xpm"}) {
        const QImage image = loadImage(QString::fromLatin1(path));
        if (!image.isNull())
            icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}

} // namespace sonavik
