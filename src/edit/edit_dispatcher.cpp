#include "edit/edit_dispatcher.h"

#include "document/window_title.h"
#include "document/workspace.h"
#include "edit/edit_commands.h"
#include "edit/long_edit.h"
#include "edit/time_domain_edits.h"
#include "edit/trim_delete.h"
#include "history/edit_history.h"
#include "platform/ui.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

namespace sonavik {

bool EditHost::askParameters(int) { return false; }
bool EditHost::askParametersFor(int commandId, int, int) { return askParameters(commandId); }
void EditHost::analyseSpectrogram(const EditRegion&, int) {}
void EditHost::analyseRegions(const std::vector<EditRegion>& regions, int channelCount)
{
    for (const EditRegion& r : regions)
        analyseSpectrogram(r, channelCount);
}
std::optional<int> EditHost::viewClientWidth(int) const { return std::nullopt; }
bool EditHost::runLongEdit(Workspace& ws, Ui& ui, int commandId, int target, int slot)
{
    return runLongEditToEnd(ws, ui, *this, commandId, target, slot);
}

namespace {

constexpr int kBlueKind = 1;
constexpr int kGreenKind = 2;

// Kinds that the selection targets 3 to 11 take.
int kindsOf(int target)
{
    switch (target % 3) {
    case 0:
        return kBlueKind | kGreenKind;
    case 1:
        return kBlueKind;
    default:
        return kGreenKind;
    }
}

bool matches(const Selection& s, int kinds)
{
    return (s.kind == SelectionKind::Blue && (kinds & kBlueKind)) || (s.kind == SelectionKind::Green && (kinds & kGreenKind));
}

bool hasKind(const SelectionTable& table, int kinds)
{
    for (const Selection& s : table)
        if (matches(s, kinds))
            return true;
    return false;
}

const char* missingKindText(int kinds)
{
    if (kinds == kBlueKind)
        return "青がありません";
    if (kinds == kGreenKind)
        return "緑がありません";
    return "青または緑がありません";
}

EditRegion regionOf(const Selection& s, int channel, int slot)
{
    return {channel, s.start, s.end, s.alphaStart, s.alphaEnd, s.shape, s.shapeParameter, slot};
}

EditRegion fullRegion(int channel, std::int32_t start, std::int32_t end)
{
    return {channel, start, end, 1.0, 1.0, SelectionShape::Linear, 0.0};
}

void addMatching(std::vector<EditRegion>& out, const SelectionTable& table, int channel, int kinds)
{
    for (int slot = 0; slot < kSelectionSlots; ++slot)
        if (matches(table[slot], kinds))
            out.push_back(regionOf(table[slot], channel, slot));
}

constexpr const char* kNotStereo = "これはステレオのデータではありません";
constexpr const char* kNoRight = "右チャンネルがありません";

// The refusal text of step 6 for a target that cannot run on doc, or empty.
std::string targetProblem(const SoundDocument& doc, const RedSelection& red, int target, int slot)
{
    const bool mono = doc.format.nChannels == 1;
    switch (target) {
    case 0:
        return mono ? kNotStereo : "";
    case 1:
        return "";
    case 2:
        return mono ? kNoRight : "";
    case 3:
    case 4:
    case 5:
        if (mono)
            return kNotStereo;
        if (!hasKind(doc.leftSelections, kindsOf(target)) && !hasKind(doc.rightSelections, kindsOf(target)))
            return missingKindText(kindsOf(target));
        return "";
    case 6:
    case 7:
    case 8:
        return hasKind(doc.leftSelections, kindsOf(target)) ? "" : missingKindText(kindsOf(target));
    case 9:
    case 10:
    case 11:
        if (mono)
            return kNoRight;
        return hasKind(doc.rightSelections, kindsOf(target)) ? "" : missingKindText(kindsOf(target));
    case 12:
        if (!red.exists())
            return "赤がありません";
        if ((red.redChannel == 1 && mono) || (red.redChannel != 0 && red.redChannel != 1))
            return "選択が異常です（バグ）";
        return "";
    case 13:
        if (doc.leftSelections[slot].kind == SelectionKind::None)
            return "左α " + std::to_string(slot + 1) + " 番は存在しません";
        return "";
    case 14:
        if (mono)
            return kNoRight;
        if (doc.rightSelections[slot].kind == SelectionKind::None)
            return "右α " + std::to_string(slot + 1) + " 番は存在しません";
        return "";
    default:
        return "処理の対象が不正です";
    }
}

} // namespace

std::vector<EditRegion> targetRegions(const SoundDocument& doc, const RedSelection& red, int target, int slot)
{
    std::vector<EditRegion> out;
    const std::int32_t last = doc.frameCount - 1;
    switch (target) {
    case 0:
        out = {fullRegion(0, 0, last), fullRegion(1, 0, last)};
        break;
    case 1:
        out = {fullRegion(0, 0, last)};
        break;
    case 2:
        out = {fullRegion(1, 0, last)};
        break;
    case 3:
    case 4:
    case 5:
        addMatching(out, doc.leftSelections, 0, kindsOf(target));
        addMatching(out, doc.rightSelections, 1, kindsOf(target));
        break;
    case 6:
    case 7:
    case 8:
        addMatching(out, doc.leftSelections, 0, kindsOf(target));
        break;
    case 9:
    case 10:
    case 11:
        addMatching(out, doc.rightSelections, 1, kindsOf(target));
        break;
    case 12:
        if (red.exists())
            out = {fullRegion(red.redChannel, red.redStart, red.redEnd)};
        break;
    case 13:
    case 14: {
        const int channel = target == 13 ? 0 : 1;
        const SelectionTable& table = selectionTable(doc, channel);
        if (isValidSlot(table, slot))
            out = {regionOf(table[slot], channel, slot)};
        break;
    }
    default:
        break;
    }
    return out;
}

bool targetsChannel(int target, int channel, const RedSelection& red)
{
    switch (target) {
    case 0:
    case 3:
    case 4:
    case 5:
        return channel == 0 || channel == 1;
    case 1:
    case 6:
    case 7:
    case 8:
    case 13:
        return channel == 0;
    case 2:
    case 9:
    case 10:
    case 11:
    case 14:
        return channel == 1;
    case 12:
        return red.redChannel == channel;
    default:
        return false;
    }
}

bool editTargetAccepted(const Workspace& ws, Ui& ui, int target, int slot)
{
    if ((target == 13 || target == 14) && (slot < 0 || slot >= kSelectionSlots)) {
        showError(ui, "処理対象αが指定されていません");
        return false;
    }
    const SoundDocument& doc = ws.document;
    if (!doc.hasData()) {
        showError(ui, "処理対象データがありません");
        return false;
    }
    const int channels = doc.format.nChannels;
    if (channels != 1 && channels != 2) {
        showError(ui, "チャンネル数が異常です");
        return false;
    }
    if (doc.frameCount < 1) {
        showError(ui, "データ長がゼロです");
        return false;
    }
    // Every edit addresses sample i x nChannels + c; a record whose buffer is shorter than that would be
    // read past its end.
    const std::size_t sampleSize = doc.format.wBitsPerSample == 8 ? 1 : 2;
    if (doc.format.nBlockAlign < channels * sampleSize || doc.samples.size() < doc.byteCount()) {
        showError(ui, "データの形式が異常です");
        return false;
    }
    const std::string problem = targetProblem(doc, ws.red, target, slot);
    if (!problem.empty()) {
        showError(ui, problem);
        return false;
    }
    return true;
}

bool runEditCommand(Workspace& ws, Ui& ui, EditHost& host, int commandId, int target, int slot)
{
    const EditCommand* command = findEditCommand(commandId);
    if (!command)
        return false;
    if (refusedForLongEdit(ws, ui))
        return false;
    if (ws.busy()) {
        showNotice(ui, "再生／録音中は、ファイルを編集できません");
        return false;
    }
    if (!editTargetAccepted(ws, ui, target, slot))
        return false;
    SoundDocument& doc = ws.document;
    if (command->needsParameters && !host.askParametersFor(commandId, target, slot))
        return false;

    if (command->longRunning)
        return host.runLongEdit(ws, ui, commandId, target, slot);

    const bool analysis = command->kind == EditKind::Analysis;
    if (!analysis && !snapshotForChange(ws, ui))
        return false;
    ChangeNote note = changeNoteFor(*command, doc, ws.red, target, slot);

    if (command->kind == EditKind::Trim || command->kind == EditKind::Delete) {
        if (!trimOrDelete(ws, ui, commandId, target, slot))
            return false;
    } else {
        ui.setCursor(CursorKind::Wait);
        editTarget(ws, ui, host, commandId, target, slot);
    }
    ui.setCursor(CursorKind::Arrow);
    if (!analysis) {
        markModified(ws, ui);
        noteChange(ws, ui, note);
    }
    clampViewsToLength(ws, host);
    return true;
}

ChangeNote changeNoteFor(const EditCommand& command, const SoundDocument& doc, const RedSelection& red, int target, int slot)
{
    ChangeNote note;
    note.commandId = command.id;
    note.name = command.menuText;
    note.target = target;
    note.slot = slot;
    const std::vector<EditRegion> regions = targetRegions(doc, red, target, slot);
    if (target >= 12 && regions.size() == 1) {
        note.targetFirst = regions.front().start;
        note.targetLast = regions.front().end;
    }
    // An edit in place touches only the frames of its regions; one that changes the length is compared.
    if (command.kind == EditKind::InPlace && !regions.empty()) {
        note.hintFirst = regions.front().start;
        note.hintLast = regions.front().end;
        for (const EditRegion& r : regions) {
            note.hintFirst = std::min<std::int64_t>(note.hintFirst, std::min(r.start, r.end));
            note.hintLast = std::max<std::int64_t>(note.hintLast, std::max(r.start, r.end));
        }
    }
    return note;
}

void editTarget(Workspace& ws, Ui& ui, EditHost& host, int commandId, int target, int slot)
{
    const EditCommand* command = findEditCommand(commandId);
    if (!command)
        return;
    SoundDocument& doc = ws.document;
    const std::vector<EditRegion> regions = targetRegions(doc, ws.red, target, slot);
    EditContext context{doc, ui, ws.settings, nullptr, &ws.reverbNoiseState};
    if (command->kind == EditKind::Analysis) {
        host.analyseRegions(regions, doc.format.nChannels);
    } else if (target == 0 && doc.format.nChannels == 2 && command->wholeSoundAtOnce && command->regionEdit
               && doc.frameCount > 0) {
        // Both whole channels in one pass over the frames: the same result as one after the other.
        command->regionEdit(context, regions.front(), 2);
    } else {
        for (const EditRegion& r : regions)
            editRegion(context, commandId, r);
    }
}

void clampViewsToLength(Workspace& ws, const EditHost& host)
{
    SoundDocument& doc = ws.document;
    const int views = doc.format.nChannels == 2 ? 2 : 1;
    const double frames = doc.frameCount;
    for (int channel = 0; channel < views; ++channel) {
        const std::optional<int> client = host.viewClientWidth(channel);
        if (!client)
            continue;
        const double width = static_cast<double>(*client) - layoutSizes(ws.settings).leftMarginWidth;
        if (!(width > 0.0))
            continue;
        ViewState& view = channel == 0 ? doc.leftView : doc.rightView;
        double first = view.x0;
        double zoom = view.sx;
        if (!(first >= 0.0))
            first = 0.0;
        // A zoom that is not a positive number shows no sensible range: let the whole sound fill the view.
        const double visible = zoom > 0.0 && std::isfinite(zoom) ? width / zoom : std::numeric_limits<double>::infinity();
        if (frames < visible + first)
            first = frames - visible;
        if (first < 0.0) {
            first = 0.0;
            if (frames > 0.0)
                zoom = width / frames;
        }
        view.x0 = first;
        view.sx = zoom;
    }
}

} // namespace sonavik
