#include "document/undo_store.h"

#include "platform/os.h"
#include "platform/ui.h"


namespace sonavik {

bool resetTransferFiles(const std::string& programDir, Ui& ui)
{
    for (const char* name : kTransferFileNames) {
        std::string path = programDir + name;
        if (!createEmptyRegularFile(path)) {
            ui.messageBox({path + "を開けません", kAppCaption, MessageIcon::Error, MessageButtons::Ok,
                           MessageOwner::None});
            return false;
        }
    }
    return true;
}

} // namespace sonavik
