#include "app/big_button.h"

#include "edit/command_ids.h"

namespace sonavik {

const BigButtonSpec* bigButtonSpecs()
{
    static const BigButtonSpec specs[kBigButtonCount] = {
        {"読込", "読み込み", cmd::Open, 319, 320, 321, true, false},
        {"保存", "保存", cmd::SaveAs, 322, 323, 324, false, true},
        {"再生", "再生", cmd::PlayButton, 325, 326, 327, false, true},
        {"録音", "録音", cmd::New, 328, 329, 330, true, false},
        {"ﾘﾊﾞｰﾌﾞ", "リバーブ", cmd::Reverb, 331, 332, 333, false, true},
        {"ｲｺﾗｲｻﾞ", "イコライザ", cmd::Equalize, 334, 335, 336, false, true},
    };
    return specs;
}

bool BigButtonState::pointerMoved()
{
    if (look != BigButtonLook::Normal)
        return false;
    look = BigButtonLook::Hot;
    return true;
}

bool BigButtonState::timerTick(bool pointerInside)
{
    if (look != BigButtonLook::Hot || pointerInside)
        return false;
    look = BigButtonLook::Normal;
    return true;
}

bool BigButtonState::pressed()
{
    if (look != BigButtonLook::Hot)
        return false;
    look = BigButtonLook::Pressed;
    return true;
}

bool BigButtonState::released()
{
    if (look != BigButtonLook::Pressed)
        return false;
    look = BigButtonLook::Hot;
    return true;
}

void BigButtonState::setEnabled(bool enabled) { look = enabled ? BigButtonLook::Normal : BigButtonLook::Disabled; }

BigButtonPlacement placeBigButton(int width, int height, int labelColumns, bool pressed)
{
    BigButtonPlacement p;
    p.labelX = (width - 6 * labelColumns) / 2 + (pressed ? 1 : 0);
    p.labelY = height - (pressed ? 15 : 16);
    p.pictureX = (width - 24) / 2 + (pressed ? 1 : 0);
    p.pictureY = (height - 40) / 2 + (pressed ? 1 : 0);
    return p;
}

int textColumns(const std::string& s)
{
    int columns = 0;
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        // U+FF61..U+FF9F, half-width katakana, is EF BD A1..EF BE 9F in UTF-8.
        bool halfWidth = c < 0x80;
        if (len == 3 && i + 2 < s.size() && c == 0xEF) {
            const auto c1 = static_cast<unsigned char>(s[i + 1]);
            const auto c2 = static_cast<unsigned char>(s[i + 2]);
            halfWidth = (c1 == 0xBD && c2 >= 0xA1) || c1 == 0xBE;
        }
        columns += halfWidth ? 1 : 2;
        i += len;
    }
    return columns;
}

} // namespace sonavik
