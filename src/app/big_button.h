#pragma once
// The toolbar's picture buttons: four looks (disabled, normal, hot, pressed), a hover that ends when a
// timer finds the pointer gone, and a click that counts even when the button is released outside.

#include <string>

namespace sonavik {

enum class BigButtonLook { Disabled = 0, Normal = 1, Hot = 2, Pressed = 3 };

struct BigButtonSpec {
    const char* windowText;
    const char* label;
    int commandId;
    int activePicture;
    int normalPicture;
    int disabledPicture;
    bool initiallyEnabled;
    bool needsDocument;  // enabled exactly while there is sound
};

// The six buttons, left to right.
const BigButtonSpec* bigButtonSpecs();
inline constexpr int kBigButtonCount = 6;

struct BigButtonState {
    BigButtonLook look = BigButtonLook::Normal;

    // Each returns true when the button must be painted again.
    bool pointerMoved();            // true also means: start the hover timer
    bool timerTick(bool pointerInside);
    bool pressed();                 // true also means: capture the mouse
    // Returns true when the click completes: paint again, release the mouse and send the command.
    bool released();
    void setEnabled(bool enabled);
};

// Where the label and picture go on a button of the given size; label length in half-width columns.
struct BigButtonPlacement {
    int labelX;
    int labelY;
    int pictureX;
    int pictureY;
};
BigButtonPlacement placeBigButton(int width, int height, int labelColumns, bool pressed);
// Width of a text in half-width columns: ASCII and half-width katakana count 1, everything else 2.
int textColumns(const std::string& utf8);

} // namespace sonavik
