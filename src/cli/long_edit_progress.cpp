#include "cli/long_edit_progress.h"

#include "edit/edit_commands.h"
#include "edit/long_edit.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ostream>

namespace sonavik {

bool stderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

bool CliEditHost::runLongEdit(Workspace& ws, Ui& ui, int commandId, int target, int slot)
{
    LongEditOptions options;
    options.threads = threads_;
    std::unique_ptr<LongEdit> edit = LongEdit::start(ws, ui, commandId, target, slot, options);
    if (!edit)
        return false;
    const EditCommand* command = findEditCommand(commandId);
    const char* name = command && command->cliName ? command->cliName : "edit";
    return finishWithProgress(*edit, ui, *this, name, progress_) == LongEditOutcome::Done;
}

LongEditOutcome finishWithProgress(LongEdit& edit, Ui& ui, const EditHost& host, const char* name,
                                   std::ostream* progress)
{
    const auto started = std::chrono::steady_clock::now();
    bool shown = false;
    auto show = [&](int percent) {
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        char line[128];
        std::snprintf(line, sizeof line, "\r%s: %3d %%  %.1f s  (%d threads) ", name, percent, seconds,
                      edit.threadCount());
        *progress << line << std::flush;
        shown = true;
    };
    while (!edit.waitFor(std::chrono::milliseconds(200)))
        if (progress)
            show(edit.percent());
    if (shown) {
        show(100);
        *progress << "\n" << std::flush;
    }
    return edit.finish(ui, host);
}

} // namespace sonavik
