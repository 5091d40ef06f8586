#pragma once
// The "OK" / "ｷｬﾝｾﾙ" row every parameter dialog ends with.

class QBoxLayout;
class QDialog;

namespace sonavik {

// Adds the row to layout; withCancel false gives "OK" alone. OK is the default button.
void addDialogButtons(QDialog* dialog, QBoxLayout* layout, bool withCancel = true);

} // namespace sonavik
