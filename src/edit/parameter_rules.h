#pragma once
// Runs without a dialog (sonavik2-cli) still get what the dialogs do to the settings when they open:
// values limited to their controls and the drawn curve normalised as the curve editor takes it (points
// in ascending order, coordinates within the plot). A curve read from a file then acts exactly as it
// would after the dialog was opened on it.

namespace sonavik {

struct Settings;

void prepareParametersWithoutDialog(Settings& settings, int commandId);

} // namespace sonavik
