#pragma once
// Every state of the open sound, kept on disk rather than in memory: a folder per running program, locked
// while it runs, holding the sound as its first change found it and, per change, only the frames that
// change replaced and the frames it put in their place. Any state is rebuilt from the sound in memory by
// taking changes back, and after a crash from the first state by making them again.

#include "document/sound_document.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sonavik {

class Ui;
struct Workspace;

// How the first state of a history came to be.
enum class HistoryOrigin : std::int32_t { Opened = 0, Recorded = 1, New = 2 };
// The list's words for it: "開いた時", "録音", "新規".
const char* historyOriginText(HistoryOrigin origin);

// What the code that made a change knows about it. The span hint, when given, promises that no frame
// outside [hintFirst, hintLast] of the state before changed and that the length stayed the same.
struct ChangeNote {
    int commandId = 0;        // 0 for changes that are not edit commands (undo, going to a state)
    std::string name;         // the edit's menu text, or what the change was
    int target = -1;          // processing-target code, -1 when none
    int slot = -1;
    std::int32_t targetFirst = -1;  // the red or numbered selection's frames, for the list
    std::int32_t targetLast = -1;
    std::int64_t hintFirst = -1;
    std::int64_t hintLast = -1;
};

// One state of the list: 0 is the first, state k the sound after the k-th change.
struct HistoryEntry {
    int index = 0;
    ChangeNote note;
    std::int64_t time = 0;  // seconds since the epoch of when the state came to be
    std::int32_t start = 0;     // frames [start, start + oldCount) of the state before ...
    std::int32_t oldCount = 0;
    std::int32_t newCount = 0;  // ... became newCount frames
    std::uint64_t offset = 0;   // of the record in the log
    std::uint64_t payload = 0;  // of its old frames in the log
};

// The folder of one running program's history under root (userStateDir() + "sessions/").
class EditHistory {
public:
    // A fresh folder under root, created and locked. Null with *error set when that cannot be done.
    static std::unique_ptr<EditHistory> create(const std::string& root, std::string* error);
    // Takes over the folder of a program that ended without removing it (its lock must be free): its
    // states stay, later changes are added to them. Null with *error when it is locked or unreadable.
    static std::unique_ptr<EditHistory> adopt(const std::string& folder, std::string* error);
    ~EditHistory();
    EditHistory(const EditHistory&) = delete;
    EditHistory& operator=(const EditHistory&) = delete;

    const std::string& folder() const { return folder_; }
    // The program ends cleanly: the folder goes. Nothing is kept afterwards.
    void removeFolder();

    // A new sound (opened, recorded, new): earlier states are dropped from the folder. The first state of
    // a recording is written at once; that of an opened sound counts once the first change comes, and a
    // long one is written from now on, on a thread that reads doc's samples: until settle() (or the first
    // change, or end()) they must stay where they are, unchanged.
    void begin(const SoundDocument& doc, HistoryOrigin origin);
    // Waits until the first state that begin() started writing is written: to be called before the
    // document's samples are changed in place or let go.
    void settle();
    // No sound any more (closed): the folder holds nothing to recover.
    void end();
    bool active() const { return active_; }
    // The undo store holds the state before the last one (after a recorded change), so that swapping
    // with it is a change of this history.
    bool undoPartnerIsPrevious() const { return partnerIsPrevious_; }

    // after is before changed as note says. Writes the change's record and flushes it to disk before it
    // returns. False once the folder cannot be written; the reason is then failure() and nothing more is
    // recorded until the next begin().
    bool recordChange(const SoundDocument& before, const SoundDocument& after, const ChangeNote& note);
    // The sound was saved as it is in the current (last) state, under path.
    void noteSaved(const std::string& path);

    bool failed() const { return !failure_.empty(); }
    const std::string& failure() const { return failure_; }
    HistoryOrigin origin() const { return origin_; }
    std::int64_t originTime() const { return originTime_; }
    // Entries of the states after the first, oldest first; the last is the current state.
    const std::vector<HistoryEntry>& entries() const { return entries_; }
    int lastState() const { return firstState_ + static_cast<int>(entries_.size()); }
    // The oldest state still kept (0 until the size limit dropped some).
    int firstState() const { return firstState_; }

    // The sound of state k, rebuilt from current, which must be the last state. Every field but the view
    // states comes from state k. False with *error when k is not kept, the folder cannot be read or the
    // memory cannot be had.
    bool rebuildState(const SoundDocument& current, int k, SoundDocument& out, std::string* error) const;

    // Bytes the folder may hold before the oldest states are dropped; 0: the default (the smaller of 4 GB
    // and a quarter of the free space, measured when the first state is written).
    void setSizeLimit(std::uint64_t bytes) { sizeLimit_ = bytes; }
    // The limit as set and, once the folder holds a state, its oldest states dropped now when it is passed;
    // current must be the last state. Returns how many went (also droppedByLastChange()).
    int applySizeLimit(std::uint64_t bytes, const SoundDocument& current);
    std::uint64_t bytesOnDisk() const;
    // States dropped by the last recordChange to keep within the limit (0 when none).
    int droppedByLastChange() const { return dropped_; }

private:
    struct Files;
    struct PendingBase;
    EditHistory();
    // The first kept state in full; commit names it in the info file, which makes it the one recovery reads.
    bool writeBase(const SoundDocument& doc, bool commit = true);
    bool baseWritten(const SoundDocument& doc, std::size_t headerSize, std::uint64_t size, bool commit);
    // The first state begin() wrote, when it is before's: taken as written.
    bool takePendingBase(const SoundDocument& before);
    std::string baseHeader(const SoundDocument& doc) const;
    bool fail(const std::string& why);
    bool writeInfo();
    bool keepWithinLimit(const SoundDocument& current);
    // The default limit, from the free space, once a folder holds a first state.
    void measureAutoLimit();
    void clearFiles();

    std::string folder_;
    int lockFd_ = -1;
    bool active_ = false;
    bool partnerIsPrevious_ = false;
    bool baseWritten_ = false;
    HistoryOrigin origin_ = HistoryOrigin::Opened;
    std::int64_t originTime_ = 0;
    std::string path_;
    int savedState_ = -1;
    int firstState_ = 0;
    int generation_ = 0;
    std::vector<HistoryEntry> entries_;
    std::uint64_t logSize_ = 0;
    std::uint64_t baseSize_ = 0;
    std::uint64_t sizeLimit_ = 0;
    // The default, measured when the first state is written.
    std::uint64_t autoLimit_ = 0;
    int dropped_ = 0;
    std::string failure_;
    std::unique_ptr<Files> files_;
    std::unique_ptr<PendingBase> pending_;
};

// A folder left by a program that ended without removing it.
struct RecoverableSound {
    std::string folder;
    std::string path;          // the sound's file name as its last state had it
    int stateCount = 0;        // whole states after the first
    int lastState = 0;
    std::int64_t lastChange = 0;  // seconds since the epoch
    bool saved = false;        // its last state was saved: nothing to recover
    std::string problem;       // why it cannot be read, when it cannot
};

// Folders under root whose lock is free (their program has ended), newest last change first. Folders of
// running programs are not listed and not touched.
std::vector<RecoverableSound> findRecoverable(const std::string& root);
// Rebuilds state k (or the last whole state when k is empty) of a folder without changing it.
bool recoverState(const std::string& folder, std::optional<int> k, SoundDocument& out, std::string* error);
// Removes a folder whose program has ended; false when it is locked.
bool removeHistoryFolder(const std::string& folder);

// userStateDir() + "sessions/", or empty when there is no state folder.
std::string historyRoot();

// Where edits that change the sound in place start: once the history has finished reading the sound as
// opened (EditHistory::settle), the undo copy of the sound (snapshotForEdit). False as snapshotForEdit.
bool snapshotForChange(Workspace& ws, Ui& ui);
// Where edits complete: records the change from ws.undoStore to ws.document in ws.history, if any. The
// first failure shows "履歴を保存できません: …" in the status bar; editing goes on as before.
void noteChange(Workspace& ws, Ui& ui, const ChangeNote& note);
// After 元に戻す／やり直し swapped the two records: a change of the history when they were its last two
// states; otherwise the history starts over with the sound now current (or ends without one).
void noteUndo(Workspace& ws, Ui& ui);
// The settings' size limit into ws.history, its oldest states dropped at once when it is passed, with the
// same status message as when a change passes it.
void applyHistoryLimit(Workspace& ws, Ui& ui);
// Makes the document state k: the current sound goes to the undo store and going there is recorded as a
// change at the end. False, with the reason in the status bar and nothing changed, when it cannot be had.
bool goToState(Workspace& ws, Ui& ui, int k);
// The list's words for a change: "振幅を半分に" etc., and where a name was not given, what it was.
inline constexpr const char* kUndoChangeName = "元に戻す／やり直し";
std::string goToStateName(int k);

} // namespace sonavik
