#pragma once
// What desktop users reach for beyond the program's own texts: keyboard shortcuts shown beside the
// unchanged menu items, and tooltips on the big and small buttons and the spectrogram window's buttons.

namespace sonavik {

// The shortcut of a menu command in Qt's portable form ("Ctrl+O"), or nullptr for none.
const char* menuShortcut(int commandId);
// A Japanese sentence saying what a big, small or spectrogram button does, or nullptr for an unknown
// command.
const char* buttonToolTip(int commandId);

} // namespace sonavik
