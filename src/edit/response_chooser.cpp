#include "edit/response_chooser.h"

#include "document/workspace.h"
#include "formats/sound_files.h"
#include "platform/os.h"
#include "platform/ui.h"
#include "settings/settings.h"

namespace sonavik {

bool chooseResponseFile(Workspace& ws, Ui& ui)
{
    const auto chosen = ui.openFileName(soundOpenDialog("応答関数読み込み", fieldText(ws.settings.openDir)));
    if (!chosen)
        return false;
    setFieldText(ws.settings.responsePath, *chosen);
    if (const auto slash = chosen->rfind(kDirSeparator); slash != std::string::npos)
        setFieldText(ws.settings.openDir, chosen->substr(0, slash + 1));
    return true;
}

} // namespace sonavik
