#pragma once
// The equaliser, the reverb and the convolution off the user-interface thread. Each region of the
// target is cut into runs of blocks that worker threads take in target order; the workers read the
// sound as it was and write into a copy of it. The window meanwhile keeps showing the untouched
// sound, a cancel only drops the copy (document, undo store and title stay exactly as they were),
// and the frames come out the same whatever the number of threads.

#include "edit/edit_commands.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace sonavik {

class EditControl;
class EditHost;
class Ui;
struct EditRegion;
struct SoundDocument;
struct Workspace;

struct LongEditOptions {
    int threads = 0;  // worker threads; 0: one per processor core
    // Tests: called on a worker thread before each block of a region, to cancel or fail there.
    std::function<void(const EditRegion& region, std::int64_t block)> onBlock;
};

enum class LongEditOutcome { Done, Cancelled, Failed };

// Work from a layer above that the same machinery runs: the workers take pieces until none is left,
// each reading the untouched sound and writing only its own frames of the copy.
class LongEditJob {
public:
    virtual ~LongEditJob() = default;
    // Worker threads, several at once: does the next piece and returns true, or false when none is
    // left. Calls control.beforeBlock before each block (it throws EditStopped after a cancel) and
    // control.framesWritten after it.
    virtual bool runNextPiece(const SoundDocument& source, SoundDocument& working, EditControl& control) = 0;
    // Once every piece is done, before finish(): what the written frames need besides (the summary).
    virtual void completed(SoundDocument& working) = 0;
    // The frames control.framesWritten counts in all, for percent().
    virtual std::int64_t totalFrames() const = 0;
    // Any thread while it runs: the status-bar text for now.
    virtual std::string progressText() const = 0;
    // User-interface thread, in finish(): the status text left after success and after a stop, and
    // how a failure inside a worker is reported.
    virtual std::string doneText() const = 0;
    virtual std::string stoppedText() const = 0;
    virtual void reportFailure(Ui& ui) const = 0;
    // False for work that only reads the sound (an analysis): no copy is taken, and after success
    // finish() leaves the document, the undo store and the title alone and calls deliver() instead.
    virtual bool changesDocument() const { return true; }
    // User-interface thread, in finish() after success of work that does not change the document:
    // shows or hands over what it made.
    virtual void deliver(Ui& ui) { (void)ui; }
};

// What every command is refused with while a long edit runs.
inline constexpr const char* kLongEditRefusal = "処理中は、この操作はできません";
// While a long edit runs in ws: shows that refusal and returns true.
bool refusedForLongEdit(const Workspace& ws, Ui& ui);

// One processor core each, at least 1.
int defaultEditThreads();

class LongEdit {
public:
    // For a long-running command (EditCommand::longRunning) whose target and parameters have been
    // checked: reads the convolution's response file here, with its questions, then takes the copy the
    // edit writes into and starts the workers; ws is busy from then on until finish(). Null, with
    // everything as it was, when the response cannot be used (its messages shown), the copy cannot be
    // had (default beep, as a failed undo snapshot) or the command is not a long one.
    static std::unique_ptr<LongEdit> start(Workspace& ws, Ui& ui, int commandId, int target, int slot,
                                           const LongEditOptions& options = {});
    // The same for a job of another layer (the caller has checked it and shown its refusals). On
    // success finish() makes the copy the document and the sound before it the undo store, shows the
    // job's done text and marks the document modified.
    static std::unique_ptr<LongEdit> startJob(Workspace& ws, Ui& ui, std::unique_ptr<LongEditJob> job,
                                              const LongEditOptions& options = {});
    // Stops and waits for the workers if finish() was not called.
    ~LongEdit();
    LongEdit(const LongEdit&) = delete;
    LongEdit& operator=(const LongEdit&) = delete;

    // Any thread; the workers stop before their next block and the document stays as it was.
    void cancel();
    bool cancelRequested() const;
    bool finished() const;
    // True once the workers have finished.
    bool waitFor(std::chrono::milliseconds timeout);
    void wait();

    // The status-bar text for now: the edit's own step texts, then the share of frames written.
    std::string progressText() const;
    int percent() const;
    int threadCount() const;

    // User-interface thread, once finished (it waits otherwise). Done: the edited copy becomes the
    // document and the sound before it the undo store, the messages of every region are shown in
    // target order, the document is marked modified and the views kept inside it. Cancelled or Failed
    // (an exception or memory failure in a worker, reported with the edit's own memory message or
    // beep): everything stays as it was before the command.
    LongEditOutcome finish(Ui& ui, const EditHost& host);

private:
    struct State;
    explicit LongEdit(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

// Starts the edit and waits for it: the one-call form for callers without an event loop.
bool runLongEditToEnd(Workspace& ws, Ui& ui, const EditHost& host, int commandId, int target, int slot,
                      const LongEditOptions& options = {});

} // namespace sonavik
