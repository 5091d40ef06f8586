#pragma once
// Trim and delete: the commands that change the length of the sound.

namespace sonavik {

class Ui;
struct Workspace;

// Trim (40116) keeps only the targeted parts of each channel, delete (40117) removes them; the other
// channel of a stereo sound is emptied on trim and kept on delete. Samples and selections come from the
// undo store, which must hold the state just before (runEditCommand snapshots first); the new length is
// the longer channel's, the shorter one ends in silence. Selections follow their frames, the red
// selection goes. Regions reaching outside the sound only count with their frames inside it.
// False after "新しい長さがゼロ未満（バグ）" (overlapping selections) or
// "メモリ割り当てに失敗しました。undo してください。" (the document is then left without data).
bool trimOrDelete(Workspace& ws, Ui& ui, int commandId, int target, int slot);

} // namespace sonavik
