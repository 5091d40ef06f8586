#pragma once
// sonavik2-cli's way of running the equaliser, reverb and convolution: on the threads asked for, with
// a one-line progress on stderr when stderr is a terminal.

#include "edit/edit_dispatcher.h"

#include <iosfwd>

namespace sonavik {

class CliEditHost : public EditHost {
public:
    // threads: 0 for one per core. progress: where the line goes; null for none.
    CliEditHost(int threads, std::ostream* progress) : threads_(threads), progress_(progress) {}

    // Without dialogs the parameters come from the settings and the options, so every command may run.
    bool askParameters(int) override { return true; }
    bool runLongEdit(Workspace& ws, Ui& ui, int commandId, int target, int slot) override;

private:
    int threads_;
    std::ostream* progress_;
};

class LongEdit;
enum class LongEditOutcome;

// Waits for a started long edit, rewriting a progress line "name:  42 %  1.3 s  (2 threads)" on
// progress (none when null) while it runs, then finishes it. host is the one finish() reports to.
LongEditOutcome finishWithProgress(LongEdit& edit, Ui& ui, const EditHost& host, const char* name,
                                   std::ostream* progress);

// Whether stderr is a terminal, where a line that is rewritten in place makes sense.
bool stderrIsTerminal();

} // namespace sonavik
