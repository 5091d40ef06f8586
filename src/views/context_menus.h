#pragma once
// The right-click menus of the waveform views, the processing-target choice and the selection
// parameter field, without their widgets: what the menus hold, which entries are grayed, and what each
// choice does.

#include <array>
#include <string>
#include <vector>

namespace sonavik {

class EditHost;
class Ui;
struct Settings;
struct SoundDocument;
struct RedSelection;
struct Workspace;

namespace menu {
inline constexpr int ShowRed = 40701;
inline constexpr int RedToBlue = 40703;
inline constexpr int RedToGreen = 40704;
inline constexpr int RedCancel = 40705;
inline constexpr int ZoomSelection = 40612;
inline constexpr int DeleteSelection = 40607;
inline constexpr int CopySelection = 40613;
inline constexpr int ClearBlue = 40608;
inline constexpr int ClearGreen = 40609;
inline constexpr int ClearAll = 40610;
inline constexpr int ShapeLinear = 40601;  // to 40605 for the five shapes
inline constexpr int ShapeParameter = 40606;
inline constexpr int SelectionCancel = 40611;
} // namespace menu

struct MenuEntry {
    int id = 0;              // 0 for a submenu
    std::string text;
    bool enabled = true;
    std::vector<MenuEntry> submenu;
};

std::vector<MenuEntry> redSelectionMenu();
// Empty when the slot is out of range or free (the caller beeps).
std::vector<MenuEntry> selectionMenu(const SoundDocument& doc, int channel, int slot);

// What the views must do after a menu choice.
enum class ViewUpdate { None, Repaint, Rerender };

// viewWidth is the width of the view's waveform area (client width less the margin).
ViewUpdate runRedSelectionMenuCommand(Workspace& ws, Ui& ui, EditHost& host, int channel, int viewWidth, int commandId);
// Returns Repaint for 40606 too: the caller shows the parameter field first (editShapeParameter).
ViewUpdate runSelectionMenuCommand(Workspace& ws, Ui& ui, EditHost& host, int channel, int slot, int viewWidth,
                                   int commandId);

// The processing-target choice: which of the thirteen codes (0 to 12) can be chosen, and the code
// checked at the start. Mono and "no red selection" map the stored code, which stays stored.
struct TargetChoice {
    std::array<bool, 13> enabled{};
    int checked = 0;
};
TargetChoice prepareTargetChoice(Settings& settings, const SoundDocument& doc, const RedSelection& red);
const char* targetText(int code);

// The parameter field: shown with six decimals; any text is read as its longest leading number, 0 if
// none, whatever the locale.
std::string formatShapeParameter(double value);
double parseShapeParameter(const std::string& text);

} // namespace sonavik
