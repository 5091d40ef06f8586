#include "views/context_menus.h"

#include "document/selection.h"
#include "document/workspace.h"
#include "edit/command_ids.h"
#include "edit/edit_commands.h"
#include "edit/edit_dispatcher.h"
#include "platform/ui.h"
#include "settings/settings.h"

#include <charconv>
#include <cstdio>

namespace sonavik {

namespace {

std::vector<MenuEntry> editEntries()
{
    static const int ids[] = {cmd::Silence,     cmd::Halve,         cmd::Double,   cmd::Nonlinear,
                              cmd::FadeInLinear, cmd::FadeOutLinear, cmd::FadeInCos, cmd::FadeOutCos,
                              cmd::Reverse,     cmd::Invert,        cmd::Equalize, cmd::Reverb,
                              cmd::Convolve,    cmd::Coarsen,       cmd::Trim,     cmd::Delete};
    std::vector<MenuEntry> entries;
    // The texts are those of the menu bar's edit menu, which reads the same table.
    for (int id : ids)
        if (const EditCommand* command = findEditCommand(id))
            entries.push_back({id, command->menuText, true, {}});
    return entries;
}

MenuEntry submenu(const char* title, std::vector<MenuEntry> entries) { return {0, title, true, std::move(entries)}; }

bool hasKind(const SelectionTable& table, SelectionKind kind)
{
    for (const Selection& s : table)
        if (s.kind == kind)
            return true;
    return false;
}

bool isEditCommand(int id) { return id >= 40101 && id <= 40124; }

} // namespace

std::vector<MenuEntry> redSelectionMenu()
{
    return {
        {menu::ShowRed, "この部分を表示", true, {}},
        {menu::RedToBlue, "この赤選択を青選択に移す", true, {}},
        {menu::RedToGreen, "この赤選択を緑選択に移す", true, {}},
        submenu("エディット", editEntries()),
        submenu("変換", {{cmd::Fft, "FFT", true, {}}}),
        {menu::RedCancel, "キャンセル", true, {}},
    };
}

std::vector<MenuEntry> selectionMenu(const SoundDocument& doc, int channel, int slot)
{
    const SelectionTable& table = selectionTable(doc, channel);
    if (!isValidSlot(table, slot))
        return {};
    const char* colour = table[slot].kind == SelectionKind::Blue ? "青" : "緑";
    const std::string number = std::to_string(slot + 1);
    const char* other = channel == 1 ? "左" : "右";
    return {
        {menu::ZoomSelection, "この部分を拡大表示", true, {}},
        {menu::DeleteSelection, std::string(colour) + " " + number + " 番を消去", true, {}},
        {menu::CopySelection, std::string(colour) + " " + number + " 番を" + other + "チャンネルにコピー",
         doc.format.nChannels != 1, {}},
        {menu::ClearBlue, "全ての青を消去", hasKind(table, SelectionKind::Blue), {}},
        {menu::ClearGreen, "全ての緑を消去", hasKind(table, SelectionKind::Green), {}},
        {menu::ClearAll, "全ての青と緑を消去", true, {}},
        submenu("編集", editEntries()),
        submenu("変換", {{cmd::Fft, "FFT", true, {}}}),
        submenu("プロパティ",
                {{menu::ShapeLinear, "直線", true, {}},
                 {menu::ShapeLinear + 1, "Cos 型", true, {}},
                 {menu::ShapeLinear + 2, "Exp+ 型", true, {}},
                 {menu::ShapeLinear + 3, "Exp- 型", true, {}},
                 {menu::ShapeLinear + 4, "階段型", true, {}},
                 {menu::ShapeParameter, "パラメーターの指定...", true, {}}}),
        {menu::SelectionCancel, "キャンセル", true, {}},
    };
}

ViewUpdate runRedSelectionMenuCommand(Workspace& ws, Ui& ui, EditHost& host, int channel, int viewWidth, int commandId)
{
    RedSelection& red = ws.red;
    switch (commandId) {
    case menu::RedToBlue:
    case menu::RedToGreen:
        convertRedSelection(ui, ws.document, red, commandId == menu::RedToBlue ? SelectionKind::Blue : SelectionKind::Green);
        return ViewUpdate::Repaint;
    case menu::ShowRed: {
        if (!red.exists())
            return ViewUpdate::None;
        ViewState& view = channel == 1 ? ws.document.rightView : ws.document.leftView;
        view.x0 = red.redStart;
        view.sx = static_cast<double>(viewWidth) / (static_cast<double>(red.redEnd) - red.redStart + 1.0);
        return ViewUpdate::Rerender;
    }
    default:
        if (isEditCommand(commandId) && runEditCommand(ws, ui, host, commandId, 12, -1))
            return ViewUpdate::Rerender;
        return ViewUpdate::None;
    }
}

ViewUpdate runSelectionMenuCommand(Workspace& ws, Ui& ui, EditHost& host, int channel, int slot, int viewWidth,
                                   int commandId)
{
    SelectionTable& table = selectionTable(ws.document, channel);
    if (isEditCommand(commandId))
        return runEditCommand(ws, ui, host, commandId, 13 + (channel == 1 ? 1 : 0), slot) ? ViewUpdate::Rerender
                                                                                          : ViewUpdate::None;
    if (!isValidSlot(table, slot))
        return ViewUpdate::None;
    switch (commandId) {
    case menu::ZoomSelection: {
        const Selection& s = table[slot];
        ViewState& view = channel == 1 ? ws.document.rightView : ws.document.leftView;
        view.x0 = s.start;
        view.sx = static_cast<double>(viewWidth) / (static_cast<double>(s.end) - s.start + 1.0);
        return ViewUpdate::Rerender;
    }
    case menu::CopySelection:
        copySelectionToOtherChannel(ui, ws.document, channel, slot);
        return ViewUpdate::Repaint;
    case menu::DeleteSelection:
        deleteSelection(table, slot);
        return ViewUpdate::Repaint;
    case menu::ClearBlue:
        clearSelections(table, SelectionClear::Blue);
        return ViewUpdate::Repaint;
    case menu::ClearGreen:
        clearSelections(table, SelectionClear::Green);
        return ViewUpdate::Repaint;
    case menu::ClearAll:
        clearSelections(table, SelectionClear::All);
        return ViewUpdate::Repaint;
    case menu::ShapeParameter:
        return ViewUpdate::Repaint;
    default:
        if (commandId >= menu::ShapeLinear && commandId <= menu::ShapeLinear + 4) {
            setSelectionShape(table, slot, static_cast<SelectionShape>(commandId - menu::ShapeLinear));
            return ViewUpdate::Repaint;
        }
        return ViewUpdate::None;
    }
}

TargetChoice prepareTargetChoice(Settings& settings, const SoundDocument& doc, const RedSelection& red)
{
    TargetChoice choice;
    choice.enabled.fill(true);
    int code = settings.processingTarget;
    if (code < 0 || code > 12)
        code = 0;
    if (doc.format.nChannels == 1) {
        for (int off : {0, 2, 3, 4, 5, 9, 10, 11})
            choice.enabled[off] = false;
        static constexpr int toLeft[13] = {1, 1, 1, 6, 7, 8, 6, 7, 8, 6, 7, 8, 12};
        code = toLeft[code];
    }
    if (!red.exists()) {
        choice.enabled[12] = false;
        if (code == 12)
            code = 1;
    }
    settings.processingTarget = code;
    choice.checked = code;
    return choice;
}

const char* targetText(int code)
{
    static const char* texts[13] = {"左と右の全て",     "左の全て",     "右の全て",   "左と右の青選択と緑選択",
                                    "左と右の青選択",   "左と右の緑選択", "左の青選択と緑選択", "左の青選択",
                                    "左の緑選択",       "右の青選択と緑選択", "右の青選択", "右の緑選択",
                                    "赤選択"};
    return code >= 0 && code < 13 ? texts[code] : "";
}

std::string formatShapeParameter(double value)
{
    char buf[512];
    auto result = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 6);
    if (result.ec != std::errc())
        return "0.000000";
    return std::string(buf, result.ptr);
}

double parseShapeParameter(const std::string& text)
{
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        return 0.0;
    double value = 0.0;
    const char* first = text.data() + i;
    auto result = std::from_chars(first, text.data() + text.size(), value, std::chars_format::general);
    if (result.ec == std::errc::invalid_argument || result.ptr == first)
        return 0.0;
    // An out-of-range number keeps whatever from_chars produced.
    return negative ? -value : value;
}

} // namespace sonavik
