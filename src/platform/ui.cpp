#include "platform/ui.h"

namespace sonavik {

void showError(Ui& ui, const std::string& text)
{
    ui.messageBox({text, kAppCaption, MessageIcon::Error, MessageButtons::Ok, MessageOwner::MainWindow});
}

void showNotice(Ui& ui, const std::string& text)
{
    ui.messageBox({text, kAppCaption, MessageIcon::None, MessageButtons::Ok, MessageOwner::MainWindow});
}

bool askYesNo(Ui& ui, const std::string& text)
{
    return ui.messageBox({text, kAppCaption, MessageIcon::None, MessageButtons::YesNo, MessageOwner::MainWindow})
           == MessageAnswer::Yes;
}

} // namespace sonavik
