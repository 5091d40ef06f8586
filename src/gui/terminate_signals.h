#pragma once
// SIGTERM, SIGINT and SIGHUP close the main window the ordinary way, so that the user is asked about
// unsaved sound and the settings are written, instead of the process just vanishing.

namespace sonavik {

class MainWindow;

// From now on each of the three signals closes window as its close button does; an edit running on
// worker threads is stopped first, leaving the sound as it was.
void closeOnTerminateSignals(MainWindow* window);

} // namespace sonavik
