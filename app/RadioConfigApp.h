#pragma once

#include <memory>
#include <string_view>

#include "app/DialogControls.h"

class RadioConfigDialog;

// The main window as the application object drives it: its controls, and its modal run.
class DialogWindow {
public:
    virtual ~DialogWindow() = default;
    virtual DialogControls& Controls() = 0;
    // Binds the window's events to the dialog, initialises it, shows the window and returns its result
    // when it closes.
    virtual int RunModal(RadioConfigDialog& dialog) = 0;
};

// What start-up needs of the platform.
class AppPlatform {
public:
    virtual ~AppPlatform() = default;
    virtual bool StartSocketLayer() = 0;
    virtual void EnableThreeDControls() = 0;
    // A message box with an OK button, captioned with the program's name.
    virtual void ShowStartupMessage(std::string_view text) = 0;
    virtual std::unique_ptr<DialogWindow> CreateMainWindow() = 0;
};

// Starts the one window and ends the program when it closes.
class RadioConfigApp {
public:
    static constexpr int kSocketsInitFailedId = 103;
    static std::string_view LoadString(int id);

    // Start-up, the modal run and shut-down. Returns false so that the program then ends.
    bool InitInstance(AppPlatform& platform);
};
