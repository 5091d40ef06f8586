#include "document/undo_store.h"

#include "platform/ui.h"

#include <cstdio>

namespace sonavik {

bool resetTransferFiles(const std::string& programDir, Ui& ui)
{
    for (const char* name : kTransferFileNames) {
        std::string path = programDir + name;
        std::FILE* file = std::fopen(path.c_str(), "wb");
        if (!file) {
            ui.messageBox({path + "を開けません", kAppCaption, MessageIcon::Error, MessageButtons::Ok,
                           MessageOwner::None});
            return false;
        }
        std::fclose(file);
    }
    return true;
}

} // namespace sonavik
