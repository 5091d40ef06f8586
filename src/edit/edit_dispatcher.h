#pragma once
// The one entry point of every edit and transform command: target checks, parameters, the undo
// snapshot, and each region of the target handed to its edit.

#include "document/selection.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace sonavik {

class Ui;
struct ChangeNote;
struct EditCommand;
struct SoundDocument;
struct Workspace;

// One region of one channel with its alpha envelope, as every per-region edit receives it.
struct EditRegion {
    std::int32_t channel = 0;
    std::int32_t start = 0;
    std::int32_t end = 0;
    double alphaStart = 1.0;
    double alphaEnd = 1.0;
    SelectionShape shape = SelectionShape::Linear;
    double shapeParameter = 0.0;
    std::int32_t selectionNumber = -1;  // slot index of a numbered selection; -1 for whole channels and red
};

// What the dispatcher needs from around it: parameter dialogs, the spectrogram analysis and the views'
// sizes. Each has a do-nothing default, which is what the command-line tool uses.
class EditHost {
public:
    virtual ~EditHost() = default;
    // Shows the command's parameter dialog or file chooser (40109, 40110, 40111, 40112, 40115, 40123) and
    // stores the answers in the settings; false when it was cancelled or the command has none here.
    virtual bool askParameters(int commandId);
    // The same, knowing the target the edit is for (a dialog that lets it be heard plays that); by
    // default askParameters.
    virtual bool askParametersFor(int commandId, int target, int slot);
    // 40123, once per region of the target, in target order.
    virtual void analyseSpectrogram(const EditRegion& region, int channelCount);
    // 40123 with every region of the target at once, in target order: by default each is handed to
    // analyseSpectrogram in turn; a window runs them as one long edit instead.
    virtual void analyseRegions(const std::vector<EditRegion>& regions, int channelCount);
    // Client width of the view of a channel, for keeping the views inside the sound; nullopt without it.
    virtual std::optional<int> viewClientWidth(int channel) const;
    // A long-running command (equaliser, reverb, convolution) once its target and parameters have been
    // checked: true when it ran. The default runs it on every core and waits (long_edit.h); a window
    // starts it, returns false and finishes it later while its event loop goes on.
    virtual bool runLongEdit(Workspace& ws, Ui& ui, int commandId, int target, int slot);
};

// Runs commandId on target (a processing-target code 0 to 14; slot matters for 13 and 14). True when
// the command ran; the caller then redraws the views. Every refusal has shown its message and left
// everything as it was. An id that is not an edit command returns false without a message.
bool runEditCommand(Workspace& ws, Ui& ui, EditHost& host, int commandId, int target, int slot);

// The checks of the sound and the target that runEditCommand makes before it asks for parameters: true
// when an edit of target may go ahead; otherwise false after the refusal's message (a mono sound with a
// stereo target: "これはステレオのデータではありません").
bool editTargetAccepted(const Workspace& ws, Ui& ui, int target, int slot);

// The edit itself without any check or snapshot: every region of the target through its edit, or to the
// analysis, as runEditCommand does once everything has been checked. For benchmarks and callers that
// have checked already.
void editTarget(Workspace& ws, Ui& ui, EditHost& host, int commandId, int target, int slot);

// What the history records of command on target of doc (its name, target and the frames it may touch),
// worked out before the edit runs.
ChangeNote changeNoteFor(const EditCommand& command, const SoundDocument& doc, const RedSelection& red, int target, int slot);

// Keeps each view's first frame and zoom inside the sound after its length changed. A view the host
// reports no width for, or one no wider than the left margin, is left alone.
void clampViewsToLength(Workspace& ws, const EditHost& host);

// The regions a target names in doc, in the order the edits take them: whole channels (Linear, levels
// 1, parameter 0), the matching occupied slots of the left table then the right one in slot order, the
// red selection, or the one slot of 13 and 14. Nothing is checked against the sound.
std::vector<EditRegion> targetRegions(const SoundDocument& doc, const RedSelection& red, int target, int slot);
// Whether target acts on channel (0 left, 1 right); for 12 the red selection's channel.
bool targetsChannel(int target, int channel, const RedSelection& red);

} // namespace sonavik
