#pragma once
// Pictures the widget tests render are kept for a look only when asked: set SONAVIK_PICTURES to a folder.

#include <QImage>
#include <QString>

#include <cstdlib>

namespace sonavik::test {

inline void keepPicture(const QImage& image, const char* name)
{
    if (const char* folder = std::getenv("SONAVIK_PICTURES"))
        image.save(QString::fromLocal8Bit(folder) + "/" + QString::fromLatin1(name));
}

} // namespace sonavik::test
