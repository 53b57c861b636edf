// Start-up and shut-down order of the application object.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/RadioConfigApp.h"
#include "app/RadioConfigDialog.h"
#include "tests/support/MemoryDialogControls.h"

namespace {

class ScriptedPlatform : public AppPlatform {
public:
    bool socketsStart = true;
    std::vector<std::string> steps;
    std::vector<std::string> messages;
    MemoryDialogControls controls;

    class Window : public DialogWindow {
    public:
        explicit Window(ScriptedPlatform& platform) : m_platform(platform) {}
        ~Window() override { m_platform.steps.push_back("window destroyed"); }
        DialogControls& Controls() override { return m_platform.controls; }
        int RunModal(RadioConfigDialog& dialog) override {
            dialog.OnInitDialog();
            m_platform.steps.push_back("run modal");
            dialog.OnCancel();
            return m_platform.controls.endResult.value_or(0);
        }

    private:
        ScriptedPlatform& m_platform;
    };

    bool StartSocketLayer() override {
        steps.push_back("sockets");
        return socketsStart;
    }
    void EnableThreeDControls() override { steps.push_back("3d controls"); }
    void ShowStartupMessage(std::string_view text) override {
        steps.push_back("message");
        messages.emplace_back(text);
    }
    std::unique_ptr<DialogWindow> CreateMainWindow() override {
        steps.push_back("create window");
        return std::make_unique<Window>(*this);
    }
};

TEST(StartupTest, RunsTheWindowInOrderAndEndsAfterwards) {
    ScriptedPlatform platform;
    RadioConfigApp app;
    EXPECT_FALSE(app.InitInstance(platform));
    EXPECT_EQ(platform.steps, (std::vector<std::string>{"sockets", "3d controls", "create window",
                                                        "run modal", "window destroyed"}));
    EXPECT_TRUE(platform.messages.empty());
    EXPECT_EQ(platform.controls.endResult, 2);
}

TEST(StartupTest, SocketLayerFailureShowsString103AndNoWindow) {
    ScriptedPlatform platform;
    platform.socketsStart = false;
    RadioConfigApp app;
    EXPECT_FALSE(app.InitInstance(platform));
    EXPECT_EQ(platform.steps, (std::vector<std::string>{"sockets", "message"}));
    EXPECT_EQ(platform.messages, (std::vector<std::string>{"Windows sockets initialization failed."}));
}

}  // namespace
