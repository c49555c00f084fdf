#include "gui/interactive_mode.h"

#include "hdb/converter.h"
#include "platform/console.h"
#include "platform/desktop.h"

namespace foliant::gui {

Outcome runInteractiveMode(const Desktop& desktop) {
    const desktop::Choice choice = desktop.askForFileName();
    switch (choice.kind) {
        case desktop::Choice::chosen: break;
        case desktop::Choice::cancelled: return Outcome::cancelled;
        case desktop::Choice::unavailable:
            console::print("error: no file chooser could be shown\r\n");
            return Outcome::failed;
    }
    hdb::Session session;
    std::string output;
    if (!session.convertFile(choice.path, output) || !session.finish()) return Outcome::failed;
    desktop.open(output);
    return Outcome::succeeded;
}

Outcome runInteractiveMode() {
    return runInteractiveMode(Desktop{desktop::askForFileName, desktop::openWithAssociatedProgram});
}

}  // namespace foliant::gui
