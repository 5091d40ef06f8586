#include "edit/parameter_rules.h"

#include "curve/curve_editor.h"
#include "edit/amplitude_transforms.h"
#include "edit/command_ids.h"
#include "edit/equalizer.h"
#include "edit/reverb.h"
#include "settings/settings.h"

namespace sonavik {

void prepareParametersWithoutDialog(Settings& settings, int commandId)
{
    switch (commandId) {
    case cmd::Nonlinear:
        prepareNonlinearCurve(settings.nonlinear);
        normaliseCurve(settings.nonlinear);
        break;
    case cmd::Equalize:
        prepareEqualizerSettings(settings);
        normaliseCurve(settings.eq);
        break;
    case cmd::Reverb:
        prepareReverbSettings(settings);
        normaliseCurve(settings.reverb);
        break;
    default:
        break;
    }
}

} // namespace sonavik
