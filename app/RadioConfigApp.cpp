#include "app/RadioConfigApp.h"

#include "app/RadioConfigDialog.h"

std::string_view RadioConfigApp::LoadString(int id) {
    if (id == kSocketsInitFailedId) return "Windows sockets initialization failed.";
    return {};
}

bool RadioConfigApp::InitInstance(AppPlatform& platform) {
    // The socket layer is never used after start-up, but its failure still ends the program.
    if (!platform.StartSocketLayer()) {
        platform.ShowStartupMessage(LoadString(kSocketsInitFailedId));
        return false;
    }
    platform.EnableThreeDControls();

    std::unique_ptr<DialogWindow> window = platform.CreateMainWindow();
    auto dialog = std::make_unique<RadioConfigDialog>(window->Controls());
    window->RunModal(*dialog);
    dialog.reset();  // disconnects the port before the window goes
    return false;
}
