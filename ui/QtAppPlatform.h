#pragma once

#include <functional>
#include <string>

#include "app/RadioConfigApp.h"

class QtDialogControls;

// Start-up on Qt. Linux needs no socket layer and draws its controls in three dimensions already.
class QtAppPlatform : public AppPlatform {
public:
    // Called with the window once it has been shown (benchmarks measure start-up with it).
    std::function<void(QtDialogControls&)> onShown;
    // Where to record every exchange with the device (--trace FILE, or $VANTOR_TRACE); empty: nowhere.
    std::string tracePath;
    // Whether Serial Port, Baud, the window's place and the last folder are kept between runs
    // (--no-settings: not).
    bool rememberSettings = true;

    bool StartSocketLayer() override { return true; }
    void EnableThreeDControls() override {}
    void ShowStartupMessage(std::string_view text) override;
    std::unique_ptr<DialogWindow> CreateMainWindow() override;
};

// The whole program: the application, its platform and the window's run.
int RunRadioConfig(int argc, char** argv, QtAppPlatform& platform);
