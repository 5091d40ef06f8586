#include "gui/japanese_texts.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <clocale>
#include <cstdlib>
#include <cstring>

namespace sonavik {

namespace {
constexpr const char* kJapanese = "ja_JP.UTF-8";
}

JapaneseSystemLocale::JapaneseSystemLocale()
{
    if (const char* value = std::getenv("LC_ALL")) {
        had_ = true;
        saved_ = strdup(value);
    }
    setenv("LC_ALL", kJapanese, 1);
}

JapaneseSystemLocale::~JapaneseSystemLocale()
{
    giveBack();
    std::free(saved_);
}

void JapaneseSystemLocale::giveBack()
{
    if (given_)
        return;
    given_ = true;
    if (had_ && saved_)
        setenv("LC_ALL", saved_, 1);
    else
        unsetenv("LC_ALL");
    // The application object set the C library's locale from the Japanese name, which the machine may
    // not have: set again from what the machine asks for.
    std::setlocale(LC_ALL, "");
}

void useJapaneseQtTexts(QTranslator& translator)
{
    const QLocale japanese(QLocale::Japanese, QLocale::Japan);
    if (translator.load(japanese, "qtbase", "_", QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&translator);
    QLocale::setDefault(japanese);
}

} // namespace sonavik
