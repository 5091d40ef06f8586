#pragma once
// The file chooser of "任意の音で畳み込み...": which sound serves as the impulse response.

namespace sonavik {

class Ui;
struct Workspace;

// Asks for a WAV file; on a choice stores it as responsePath and its folder as openDir. False when the
// user cancels.
bool chooseResponseFile(Workspace& ws, Ui& ui);

} // namespace sonavik
