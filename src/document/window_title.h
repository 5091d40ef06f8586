#pragma once

#include <string>

namespace sonavik {

class Ui;
struct Workspace;

// The main window's title for the current state of the document, the red selection and the undo store.
std::string mainWindowTitle(const Workspace& ws);
void refreshTitle(const Workspace& ws, Ui& ui);
// Marks the document changed and shows it in the title.
void markModified(Workspace& ws, Ui& ui);

} // namespace sonavik
