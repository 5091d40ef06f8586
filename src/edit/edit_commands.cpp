#include "edit/edit_commands.h"

#include "edit/amplitude_transforms.h"
#include "edit/command_ids.h"
#include "edit/convolution.h"
#include "edit/equalizer.h"
#include "edit/reverb.h"
#include "edit/time_domain_edits.h"

#include <array>

namespace sonavik {
namespace {

template <SampleEdit Edit, bool UsesPosition>
constexpr EditCommand sampleWise(int id, const char* menuText, const char* cliName)
{
    return {.id = id,
            .menuText = menuText,
            .cliName = cliName,
            .sampleEdit = Edit,
            .usesPosition = UsesPosition,
            .regionEdit = &sampleWiseEdit<Edit, UsesPosition>,
            .wholeSoundAtOnce = true};
}

namespace se = sample_edits;

constexpr std::array kCommands = {
    sampleWise<&se::silence, false>(cmd::Silence, "無音", "silence"),
    sampleWise<&se::halve, false>(cmd::Halve, "振幅を半減", "halve"),
    sampleWise<&se::twice, false>(cmd::Double, "振幅を倍増", "double"),
    EditCommand{.id = cmd::Nonlinear, .menuText = "振幅の非線形変換...", .cliName = "nonlinear",
                .needsParameters = true, .regionEdit = &nonlinearRegion, .wholeSoundAtOnce = true},
    sampleWise<&se::fadeInLinear, true>(cmd::FadeInLinear, "フェードイン( 直線 )", "fade-in"),
    sampleWise<&se::fadeOutLinear, true>(cmd::FadeOutLinear, "フェードアウト( 直線 )", "fade-out"),
    sampleWise<&se::fadeInCos, true>(cmd::FadeInCos, "フェードイン( Cos カーブ )", "cos-fade-in"),
    sampleWise<&se::fadeOutCos, true>(cmd::FadeOutCos, "フェードアウト( Cos カーブ )", "cos-fade-out"),
    EditCommand{.id = cmd::Reverse, .menuText = "リバース", .cliName = "reverse",
                .regionEdit = &reverseRegion, .wholeSoundAtOnce = true},
    sampleWise<&se::invert, false>(cmd::Invert, "逆相", "invert"),
    EditCommand{.id = cmd::Equalize, .menuText = "イコライザー...", .cliName = "equalize",
                .needsParameters = true, .regionEdit = &equalizeRegion, .longRunning = true},
    EditCommand{.id = cmd::Reverb, .menuText = "リバーブ...", .cliName = "reverb",
                .needsParameters = true, .regionEdit = &reverbRegion, .longRunning = true},
    EditCommand{.id = cmd::Convolve, .menuText = "任意の音で畳み込み...", .cliName = "convolve",
                .needsParameters = true, .regionEdit = &convolveFileRegion, .longRunning = true},
    EditCommand{.id = cmd::Coarsen, .menuText = "振幅量子化の間引き...", .cliName = "coarsen",
                .needsParameters = true, .regionEdit = &coarsenRegion, .wholeSoundAtOnce = true},
    EditCommand{.id = cmd::Trim, .menuText = "トリミング", .cliName = "trim", .kind = EditKind::Trim},
    EditCommand{.id = cmd::Delete, .menuText = "削除", .cliName = "delete", .kind = EditKind::Delete},
    EditCommand{.id = cmd::Fft, .menuText = "FFT", .kind = EditKind::Analysis, .needsParameters = true},
};

} // namespace

std::span<const EditCommand> editCommands() { return kCommands; }

const EditCommand* findEditCommand(int id)
{
    for (const EditCommand& c : kCommands)
        if (c.id == id)
            return &c;
    return nullptr;
}

const EditCommand* findEditCommandByCliName(std::string_view name)
{
    for (const EditCommand& c : kCommands)
        if (c.cliName && name == c.cliName)
            return &c;
    return nullptr;
}

} // namespace sonavik
