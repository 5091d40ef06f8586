#include "document/window_title.h"

#include "document/workspace.h"
#include "platform/ui.h"

namespace sonavik {

std::string mainWindowTitle(const Workspace& ws)
{
    std::string title;
    const SoundDocument& doc = ws.document;
    if (!doc.hasData()) {
        title = std::string(kAppCaption) + " - No Data - 0";
    } else {
        if (!doc.path.empty())
            title = std::string(kAppCaption) + " - \"" + doc.path + "\"";
        else
            title = std::string(kAppCaption) + " - Untitled";
        title += doc.modified == 1 ? " *" : " -";
        if (!ws.red.exists())
            title += " 0";
        else
            title += ws.red.redChannel == 1 ? " R" : " L";
    }
    title += ws.undoStore.hasData() ? " +" : " -";
    return title;
}

void refreshTitle(const Workspace& ws, Ui& ui) { ui.setTitle(mainWindowTitle(ws)); }

void markModified(Workspace& ws, Ui& ui)
{
    ws.document.modified = 1;
    refreshTitle(ws, ui);
}

} // namespace sonavik
