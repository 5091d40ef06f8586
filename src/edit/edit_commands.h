#pragma once
// Every edit and transform command in one table: the dispatcher, the menus and sonavik2-cli all read it.
// Each sample-wise edit is one small function e(x, t); the region loop around it is shared.

#include <cstdint>
#include <span>
#include <string_view>

namespace sonavik {

class EditControl;
class Ui;
struct EditRegion;
struct Settings;
struct SoundDocument;

enum class EditKind { InPlace, Trim, Delete, Analysis };

// The edited value of one sample: x is the signed sample (-32768..32767, or -128..127 for 8 bits), t the
// frame's place in the region, (p - start) / (end - start). A one-frame region gets t = 0.5, where every
// fade gives exactly 0.5 x.
using SampleEdit = double (*)(double x, double t);

struct EditContext {
    SoundDocument& document;
    Ui& ui;
    const Settings& settings;
    // Set while the edit runs on worker threads (see long_edit.h); the block loops then check it
    // before every block instead of painting their progress.
    EditControl* control = nullptr;
    // The reverb noise's state, carried from one reverb to the next; null: every reverb starts afresh.
    std::uint32_t* noiseState = nullptr;
};

// Edits frames [start, end] of channelCount channels from region.channel on, each frame weighted by the
// region's envelope. The region has been checked against the document. channelCount is 1, or the
// document's channel count for a whole-sound region when the command has wholeSoundAtOnce.
using RegionEdit = void (*)(EditContext& context, const EditRegion& region, int channelCount);

struct EditCommand {
    int id = 0;
    const char* menuText = nullptr;
    const char* cliName = nullptr;         // nullptr: not offered by sonavik2-cli
    EditKind kind = EditKind::InPlace;
    bool needsParameters = false;          // asked through EditHost::askParameters before the snapshot
    SampleEdit sampleEdit = nullptr;       // the sample-wise edits; nullptr for the others
    bool usesPosition = false;             // sampleEdit reads t
    RegionEdit regionEdit = nullptr;       // in-place edits; nullptr where the edit is not built yet (it then does nothing)
    bool wholeSoundAtOnce = false;         // regionEdit takes both channels of a whole stereo sound in one pass
    bool longRunning = false;              // runs on worker threads through EditHost::runLongEdit
};

// In the order of the menus: the edits of "エディット", then "FFT".
std::span<const EditCommand> editCommands();
const EditCommand* findEditCommand(int id);
const EditCommand* findEditCommandByCliName(std::string_view name);

} // namespace sonavik
