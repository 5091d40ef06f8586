#pragma once
// Qt's own dialogs (file choosers, standard buttons, message boxes) in Japanese like the rest of the
// program, whatever locale the machine runs in.

class QTranslator;

namespace sonavik {

// Made before the application object: Qt reads its "system" locale (the file chooser's dates and
// sizes) from the environment once, while the application object is made, so LC_ALL names Japanese
// until giveBack(). That gives the environment and the C library's locale back as the machine had them.
class JapaneseSystemLocale {
public:
    JapaneseSystemLocale();
    ~JapaneseSystemLocale();
    JapaneseSystemLocale(const JapaneseSystemLocale&) = delete;
    JapaneseSystemLocale& operator=(const JapaneseSystemLocale&) = delete;
    void giveBack();

private:
    bool given_ = false;
    bool had_ = false;
    char* saved_ = nullptr;
};

// Installs Qt's Japanese translations (when the system has them) into the running application and
// makes Japanese the default locale, which names file types and formats numbers.
void useJapaneseQtTexts(QTranslator& translator);

} // namespace sonavik
