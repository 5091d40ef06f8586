#include "edit/edit_commands.h"

#include "app/main_menu.h"
#include "dsp/convolution.h"
#include "dsp/equalizer.h"
#include "dsp/reverb.h"
#include "edit/amplitude_transforms.h"
#include "edit/time_domain_edits.h"

#include <array>

namespace sonavik {
namespace {

template <SampleEdit Edit, bool UsesPosition>
constexpr EditCommand sampleWise(int id, const char* menuText, const char* cliName)
{
    return {id, menuText, cliName, EditKind::InPlace, false, Edit, UsesPosition, &sampleWiseEdit<Edit, UsesPosition>, true};
}

// In-place commands whose parameters and edit come with their own dialog; regionEdit is filled in then.
constexpr EditCommand withDialog(int id, const char* menuText)
{
    return {id, menuText, nullptr, EditKind::InPlace, true, nullptr, false, nullptr, false};
}

namespace se = sample_edits;

constexpr std::array kCommands = {
    sampleWise<&se::silence, false>(cmd::Silence, "無音", "silence"),
    sampleWise<&se::halve, false>(cmd::Halve, "振幅を半減", "halve"),
    sampleWise<&se::twice, false>(cmd::Double, "振幅を倍増", "double"),
    EditCommand{cmd::Nonlinear, "振幅の非線形変換...", "nonlinear", EditKind::InPlace, true, nullptr, false, &nonlinearRegion, true},
    sampleWise<&se::fadeInLinear, true>(cmd::FadeInLinear, "フェードイン( 直線 )", "fade-in"),
    sampleWise<&se::fadeOutLinear, true>(cmd::FadeOutLinear, "フェードアウト( 直線 )", "fade-out"),
    sampleWise<&se::fadeInCos, true>(cmd::FadeInCos, "フェードイン( Cos カーブ )", "cos-fade-in"),
    sampleWise<&se::fadeOutCos, true>(cmd::FadeOutCos, "フェードアウト( Cos カーブ )", "cos-fade-out"),
    EditCommand{cmd::Reverse, "リバース", "reverse", EditKind::InPlace, false, nullptr, false, &reverseRegion, true},
    sampleWise<&se::invert, false>(cmd::Invert, "逆相", "invert"),
    EditCommand{cmd::Equalize, "イコライザー...", "equalize", EditKind::InPlace, true, nullptr, false, &equalizeRegion, false},
    EditCommand{cmd::Reverb, "リバーブ...", "reverb", EditKind::InPlace, true, nullptr, false, &reverbRegion, false},
    EditCommand{cmd::Convolve, "任意の音で畳み込み...", "convolve", EditKind::InPlace, true, nullptr, false, &convolveFileRegion, false},
    EditCommand{cmd::Coarsen, "振幅量子化の間引き...", "coarsen", EditKind::InPlace, true, nullptr, false, &coarsenRegion, true},
    EditCommand{cmd::Trim, "トリミング", "trim", EditKind::Trim, false, nullptr, false, nullptr, false},
    EditCommand{cmd::Delete, "削除", "delete", EditKind::Delete, false, nullptr, false, nullptr, false},
    EditCommand{cmd::Fft, "FFT", nullptr, EditKind::Analysis, true, nullptr, false, nullptr, false},
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
