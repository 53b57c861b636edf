// The Windows window itself, created by its resource script in this process and driven with the messages
// a person's clicks and keys would send, from another thread than the window's, against the simulated
// device on the COM port numbered in $VANTOR_TEST_WINDOW_COM, a device of their own. They share it and
// must not run at once; each one sets up on it what it reads back.
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/ControlIds.h"
#include "app/DialogTemplate.h"
#include "app/ProgramInfo.h"
#include "app/RadioConfigDialog.h"
#include "serial/PortDiscovery.h"
#include "ui-win32/Win32Window.h"

namespace {

using Clock = std::chrono::steady_clock;
// Generous: only a hang runs into it.
constexpr auto kBound = std::chrono::seconds(60);

std::string DevicePort() {
    const char* value = std::getenv("VANTOR_TEST_WINDOW_COM");
    return value != nullptr ? value : "";
}

#define REQUIRE_DEVICE()                                          \
    const std::string port = DevicePort();                        \
    if (port.empty()) GTEST_SKIP() << "no device: make test-windows sets VANTOR_TEST_WINDOW_COM"

// A name of this process's own in the temporary folder.
std::string TempPath(const std::string& stem, const std::string& ending = {}) {
    char folder[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, folder);
    return std::string(folder) + stem + std::to_string(GetCurrentProcessId()) + ending;
}

template <class Condition>
bool WaitUntil(Condition condition) {
    const auto end = Clock::now() + kBound;
    while (!condition()) {
        if (Clock::now() > end) return false;
        ::Sleep(2);
    }
    return true;
}

std::string WindowText(HWND window) {
    std::wstring text(static_cast<std::size_t>(SendMessageW(window, WM_GETTEXTLENGTH, 0, 0)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        SendMessageW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()))));
    return WideToLatin1(text);
}

std::string ClassOf(HWND window) {
    char name[64] = {};
    GetClassNameA(window, name, 64);
    return name;
}

// The window on a thread of its own, which makes it and runs it, as the program's one thread does.
class Window {
public:
    explicit Window(bool remember = false, std::string trace = {}) {
        m_thread = std::thread([this, remember, trace] {
            m_threadId = GetCurrentThreadId();
            Win32Window window({.rememberSettings = remember, .tracePath = trace});
            RadioConfigDialog dialog(window.Controls());
            m_window = &window;
            m_result = window.RunModal(dialog);
            m_window = nullptr;
            m_ended = true;
        });
        EXPECT_TRUE(WaitUntil([&] {
            Win32Window* window = m_window.load();
            return m_ended || (window && window->Handle() && IsWindowVisible(window->Handle()));
        }));
        EXPECT_FALSE(m_ended) << "the dialog did not open: " << m_result;
    }
    ~Window() {
        // Closed as a stop signal closes it: without a question, a run stopped first.
        if (Win32Window* window = m_window.load()) window->CloseWhenAllowed();
        m_thread.join();
    }
    // As Ctrl+C or a closed console asks: without a question.
    void AskToClose() const {
        if (Win32Window* window = m_window.load()) window->CloseWhenAllowed();
    }
    void Close() {
        AskToClose();
        EXPECT_TRUE(WaitUntil([&] { return m_ended.load(); }));
    }
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    HWND Dialog() const { return m_window.load()->Handle(); }
    HWND Item(int id) const { return GetDlgItem(Dialog(), id); }
    std::string Text(int id) const { return WindowText(Item(id)); }
    void SetText(int id, const std::string& text) const {
        SendMessageW(Item(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(Latin1ToWide(text).c_str()));
    }
    // Posted, as a click is: the test goes on while the window runs what it started.
    void Click(int id) const { PostMessageW(Item(id), BM_CLICK, 0, 0); }
    std::string Log() const { return Text(ctl::kLogConsole); }
    bool LogEndsWith(const std::string& end) const {
        return WaitUntil([&] { return Log().ends_with(end); });
    }
    void ClearLog() const {
        SendMessageW(Item(ctl::kClearScreen), BM_CLICK, 0, 0);
        EXPECT_TRUE(WaitUntil([&] { return Log().empty(); }));
    }
    // The message box or chooser the window shows, once it is up.
    HWND WaitForPopup() const {
        HWND found = nullptr;
        EXPECT_TRUE(WaitUntil([&] {
            HWND popup = GetLastActivePopup(Dialog());
            if (popup && popup != Dialog() && IsWindowVisible(popup) && ClassOf(popup) == "#32770") found = popup;
            return found != nullptr;
        }));
        return found;
    }
    static std::string BoxText(HWND box) {
        std::string text;
        EnumChildWindows(
            box,
            [](HWND child, LPARAM into) -> BOOL {
                if (ClassOf(child) == "Static" && GetWindowTextLengthW(child) > 0) {
                    *reinterpret_cast<std::string*>(into) = WindowText(child);
                }
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&text));
        return text;
    }
    // Answers a message box, and waits until it has gone.
    void Answer(HWND box, int button) const {
        PostMessageW(box, WM_COMMAND, static_cast<WPARAM>(button), 0);
        EXPECT_TRUE(WaitUntil([&] { return !IsWindow(box); }));
    }
    bool Running() const { return IsWindowVisible(Item(ctl::kTransferProgress)) != FALSE; }
    // The control that has the window thread's keyboard focus.
    int Focus() const {
        GUITHREADINFO info{};
        info.cbSize = sizeof info;
        if (!GetGUIThreadInfo(m_threadId, &info) || !info.hwndFocus) return 0;
        return GetDlgCtrlID(info.hwndFocus);
    }
    // Whether the window has closed and its run returned, and with which result.
    bool Closed() const { return m_ended.load(); }
    int Result() const { return m_result; }
    // A key pressed on a control, through the window's own message loop as the keyboard's would go.
    void Key(int id, WPARAM key) const {
        PostMessageW(Item(id), WM_KEYDOWN, key, 0);
        PostMessageW(Item(id), WM_KEYUP, key, 0xC0000000);
    }
    void Focus(int id) const { SendMessageW(Dialog(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(id)), TRUE); }
    bool Checked(int id) const { return SendMessageW(Item(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
    // A home number stored as Add stores it.
    void Add(const std::string& number, const std::string& tx, const std::string& rx) const {
        SetText(ctl::kNumberEdit, number);
        SetText(ctl::kTxEdit, tx);
        SetText(ctl::kRxEdit, rx);
        SendMessageW(Item(ctl::kAdd), BM_CLICK, 0, 0);
    }
    std::string Cell(int row, int column) const {
        wchar_t cell[64] = {};
        LVITEMW item{};
        item.iSubItem = column;
        item.pszText = cell;
        item.cchTextMax = 64;
        SendMessageW(Item(ctl::kHomeNumberList), LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
        return WideToLatin1(cell);
    }

private:
    std::thread m_thread;
    std::atomic<Win32Window*> m_window{nullptr};
    std::atomic<bool> m_ended{false};
    int m_result = 0;
    DWORD m_threadId = 0;
};

// Every control of the resource script stands where the template puts it, with its class, number and
// caption; the window starts as the program's start-up leaves it.
TEST(Win32WindowTest, TheDialogIsTheTemplateAndStartsAsThePlatformIndependentWindow) {
    Window w;
    EXPECT_EQ(WindowText(w.Dialog()), kWindowTitle);
    const DialogTemplate& layout = MainDialogTemplate();
    std::vector<HWND> children;
    for (HWND child = GetWindow(w.Dialog(), GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        children.push_back(child);
    }
    ASSERT_EQ(children.size(), layout.controls.size());
    for (std::size_t i = 0; i < children.size(); ++i) {
        const ControlTemplate& c = layout.controls[i];
        const std::string what = std::string(c.accessibleName) + " (" + std::to_string(c.id) + ")";
        EXPECT_EQ(GetDlgCtrlID(children[i]), c.id) << what;
        const char* kinds[] = {"Button", "Static", "Button", "Button", "Edit", "Edit",
                               "ComboBox", "SysListView32", "Edit", "msctls_progress32"};
        EXPECT_EQ(ClassOf(children[i]), kinds[static_cast<int>(c.kind)]) << what;
        if (c.kind != ControlKind::Edit && c.kind != ControlKind::DigitsEdit && c.kind != ControlKind::Console) {
            EXPECT_EQ(WindowText(children[i]), std::string(c.caption)) << what;
        }
        // The dialog places a control at its corner and gives it its size, each in dialog units.
        RECT corner{c.x, c.y, 0, 0}, size{0, 0, c.width, c.height};
        MapDialogRect(w.Dialog(), &corner);
        MapDialogRect(w.Dialog(), &size);
        const RECT expected{corner.left, corner.top, corner.left + size.right, corner.top + size.bottom};
        RECT placed{};
        GetWindowRect(children[i], &placed);
        MapWindowPoints(nullptr, w.Dialog(), reinterpret_cast<POINT*>(&placed), 2);
        EXPECT_EQ(placed.left, expected.left) << what;
        EXPECT_EQ(placed.top, expected.top) << what;
        EXPECT_EQ(placed.right, expected.right) << what;
        if (c.kind != ControlKind::DropList) {
            EXPECT_EQ(placed.bottom, expected.bottom) << what;
        }
        const bool digits = (GetWindowLongW(children[i], GWL_STYLE) & ES_NUMBER) != 0;
        if (ClassOf(children[i]) == "Edit") {
            EXPECT_EQ(digits, c.kind == ControlKind::DigitsEdit) << what;
        }
    }
    EXPECT_EQ(w.Text(ctl::kSerialPortEdit), "1");
    EXPECT_EQ(w.Text(ctl::kBaudEdit), "19200");
    EXPECT_EQ(SendMessageW(w.Item(ctl::kWideBandEnable), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(SendMessageW(w.Item(ctl::kHomeNumberList), LVM_GETITEMCOUNT, 0, 0), 500);
    for (const auto& [id, first, second] : {std::tuple{ctl::kDispList, "NONE", "TBD"},
                                            std::tuple{ctl::kSquelchList, "NONE", "SQLCH"},
                                            std::tuple{ctl::kRadioMfgList, "KENWOOD", "ICOM"}}) {
        ASSERT_EQ(SendMessageW(w.Item(id), CB_GETCOUNT, 0, 0), 2);
        EXPECT_EQ(SendMessageW(w.Item(id), CB_GETCURSEL, 0, 0), CB_ERR);
        wchar_t entry[16] = {};
        SendMessageW(w.Item(id), CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(entry));
        EXPECT_EQ(WideToLatin1(entry), first);
        SendMessageW(w.Item(id), CB_GETLBTEXT, 1, reinterpret_cast<LPARAM>(entry));
        EXPECT_EQ(WideToLatin1(entry), second);
    }
    EXPECT_FALSE(w.Running());
    EXPECT_FALSE(IsWindowEnabled(w.Item(ctl::kStop)));
}

// The exchanges of a trace file, without their times: "> 35 01 02 | < 35 01 00" a line.
std::vector<std::string> Exchanges(const std::string& trace) {
    std::ifstream in(trace);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        std::string bare;
        std::istringstream words(line);
        for (std::string word; words >> word;) {
            if (word.find('.') != std::string::npos) continue;  // a time
            bare += (bare.empty() ? "" : " ") + word;
        }
        lines.push_back(bare);
    }
    return lines;
}

// A setting's Set and Get, with the exact bytes each way and the log's exact words; the list shows what
// the device gave.
TEST(Win32WindowTest, ASettingIsSetAndGotThroughTheButtons) {
    REQUIRE_DEVICE();
    const std::string trace = TempPath("vantor-trace-", ".txt");
    DeleteFileA(trace.c_str());
    std::optional<Window> window(std::in_place, false, trace);
    Window& w = *window;
    w.SetText(ctl::kSerialPortEdit, port);
    SendMessageW(w.Item(ctl::kDispList), CB_SETCURSEL, 1, 0);
    w.ClearLog();
    w.Click(ctl::kDispSet);
    EXPECT_TRUE(w.LogEndsWith("'DISP' button Write Successful\r\n")) << w.Log();
    EXPECT_EQ(w.Log(), "Sending 'DISP' button write request: 2\r\n'DISP' button Write Response:\r\n"
                       "'DISP' button Write Successful\r\n");
    SendMessageW(w.Item(ctl::kDispList), CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    w.ClearLog();
    w.Click(ctl::kDispGet);
    EXPECT_TRUE(w.LogEndsWith("TBD\r\n")) << w.Log();
    EXPECT_EQ(w.Log(), "Sending 'DISP' button Read request: \r\n'DISP' button Response:\r\nTBD\r\n");
    EXPECT_TRUE(WaitUntil([&] { return SendMessageW(w.Item(ctl::kDispList), CB_GETCURSEL, 0, 0) == 1; }));
    window.reset();  // the trace is whole once the window has gone
    EXPECT_EQ(Exchanges(trace), (std::vector<std::string>{"> 35 01 02 | < 35 01 00", "> 35 02 | < 35 02 02"}));
    DeleteFileA(trace.c_str());
}

// Add refuses codes of two lengths with its message box; a good row goes into the table, and a click on
// it fills the entry edits again.
TEST(Win32WindowTest, AddAsksWhenItRefusesAndAClickedRowFillsTheEdits) {
    Window w;
    w.SetText(ctl::kNumberEdit, "7");
    w.SetText(ctl::kTxEdit, "5");
    w.SetText(ctl::kRxEdit, "123");
    w.Click(ctl::kAdd);
    HWND box = w.WaitForPopup();
    ASSERT_TRUE(box);
    EXPECT_EQ(WindowText(box), "Invalid entry");
    EXPECT_EQ(Window::BoxText(box), "Invalid Rx/Tx value");
    w.Answer(box, IDOK);

    w.SetText(ctl::kTxEdit, "123");
    w.SetText(ctl::kRxEdit, "456");
    w.SetText(ctl::kPllTxEdit, "146.5");
    SendMessageW(w.Item(ctl::kAdd), BM_CLICK, 0, 0);
    HWND list = w.Item(ctl::kHomeNumberList);
    wchar_t cell[16] = {};
    LVITEMW item{};
    item.iSubItem = 1;
    item.pszText = cell;
    item.cchTextMax = 16;
    ASSERT_TRUE(WaitUntil([&] {
        SendMessageW(list, LVM_GETITEMTEXTW, 6, reinterpret_cast<LPARAM>(&item));
        return WideToLatin1(cell) == "123";
    }));
    for (const int id : {ctl::kNumberEdit, ctl::kTxEdit, ctl::kRxEdit, ctl::kPllTxEdit}) w.SetText(id, "");

    SendMessageW(list, LVM_ENSUREVISIBLE, 6, FALSE);
    RECT row{};
    row.left = LVIR_LABEL;
    ASSERT_TRUE(SendMessageW(list, LVM_GETITEMRECT, 6, reinterpret_cast<LPARAM>(&row)));
    const LPARAM at = MAKELPARAM((row.left + row.right) / 2, (row.top + row.bottom) / 2);
    PostMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageW(list, WM_LBUTTONUP, 0, at);
    EXPECT_TRUE(WaitUntil([&] { return w.Text(ctl::kTxEdit) == "123"; }));
    EXPECT_EQ(w.Text(ctl::kNumberEdit), "7");
    EXPECT_EQ(w.Text(ctl::kRxEdit), "456");
    EXPECT_EQ(w.Text(ctl::kPllTxEdit), "146.5");
    EXPECT_EQ(w.Text(ctl::kPllRxEdit), "");
}

// Write All asks, then runs with its progress showing and every command locked, and a Stop ends it
// before its next request; Read All reads the device whole, rows and settings, and Verify finds the
// device holding what was read.
TEST(Win32WindowTest, WriteAllAndReadAllShowTheirProgressLockTheCommandsAndStop) {
    REQUIRE_DEVICE();
    Window w;
    w.SetText(ctl::kSerialPortEdit, port);
    w.SetText(ctl::kSerialNumberEdit, "WINE-7");
    w.ClearLog();
    w.Click(ctl::kWriteAll);
    HWND box = w.WaitForPopup();
    ASSERT_TRUE(box);
    EXPECT_EQ(WindowText(box), "Overwrite Warning");
    w.Answer(box, IDYES);
    ASSERT_TRUE(WaitUntil([&] {
        const std::string shown = w.Text(ctl::kTransferProgress);
        return shown.ends_with(" of 500") && !shown.starts_with("0 ");
    }));
    EXPECT_TRUE(w.Running());
    for (const int id : RadioConfigDialog::BusyLockControls()) EXPECT_FALSE(IsWindowEnabled(w.Item(id))) << id;
    EXPECT_TRUE(IsWindowEnabled(w.Item(ctl::kStop)));
    // The log may still be cleared while the run writes to it.
    SendMessageW(w.Item(ctl::kClearScreen), BM_CLICK, 0, 0);
    EXPECT_EQ(w.Log().find("Sending Home Number write request"), std::string::npos);
    w.Click(ctl::kStop);
    ASSERT_TRUE(WaitUntil([&] { return !w.Running(); }));
    EXPECT_NE(w.Log().find("Write All stopped\r\nHome numbers not written: "), std::string::npos) << w.Log();
    EXPECT_TRUE(WaitUntil([&] { return IsWindowEnabled(w.Item(ctl::kWriteAll)) != FALSE; }));
    for (const int id : RadioConfigDialog::BusyLockControls()) EXPECT_TRUE(IsWindowEnabled(w.Item(id))) << id;
    EXPECT_FALSE(IsWindowEnabled(w.Item(ctl::kStop)));

    // What the device holds goes into the window: its serial number (set here first) and its rows.
    SendMessageW(w.Item(ctl::kSerialNumberWrite), BM_CLICK, 0, 0);
    EXPECT_TRUE(w.LogEndsWith("Serial Number Write Successful\r\n")) << w.Log();
    w.SetText(ctl::kSerialNumberEdit, "");
    w.ClearLog();
    w.Click(ctl::kReadAll);
    box = w.WaitForPopup();
    ASSERT_TRUE(box);
    EXPECT_EQ(WindowText(box), "Read All Notice");
    w.Answer(box, IDYES);
    ASSERT_TRUE(WaitUntil([&] { return w.Running(); }));
    ASSERT_TRUE(WaitUntil([&] { return !w.Running(); }));
    EXPECT_EQ(w.Log().find("not read"), std::string::npos) << w.Log();
    EXPECT_TRUE(WaitUntil([&] { return w.Text(ctl::kSerialNumberEdit) == "WINE-7"; })) << w.Log();
    EXPECT_TRUE(WaitUntil([&] { return IsWindowEnabled(w.Item(ctl::kReadAll)) != FALSE; }));

    // The table and settings just read are what the device holds: Verify, which asks nothing, says so.
    w.ClearLog();
    w.Click(ctl::kVerify);
    ASSERT_TRUE(WaitUntil([&] { return w.Running(); }));
    ASSERT_TRUE(WaitUntil([&] { return !w.Running(); }));
    EXPECT_TRUE(w.LogEndsWith("Verify: the device holds the table\r\n")) << w.Log();
}

// Save As and Open through the system's file choosers: the table goes to the file chosen and comes back
// from it.
TEST(Win32WindowTest, SaveAsAndOpenGoThroughTheChoosers) {
    Window w;
    const std::string path = TempPath("vantor-win32-test-", ".txt");
    DeleteFileA(path.c_str());
    w.SetText(ctl::kNumberEdit, "250");
    w.SetText(ctl::kTxEdit, "987");
    w.SetText(ctl::kRxEdit, "654");
    SendMessageW(w.Item(ctl::kAdd), BM_CLICK, 0, 0);

    // The chooser's file name is its combo box 0x47C (edit 0x480 in the older layout).
    const auto choose = [&](HWND chooser) {
        HWND name = GetDlgItem(chooser, 0x47C);
        if (!name) name = GetDlgItem(chooser, 0x480);
        ASSERT_TRUE(name);
        SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(Latin1ToWide(path).c_str()));
        PostMessageW(chooser, WM_COMMAND, IDOK, 0);
        EXPECT_TRUE(WaitUntil([&] { return !IsWindow(chooser); }));
    };
    w.Click(ctl::kSaveAs);
    HWND chooser = w.WaitForPopup();
    ASSERT_TRUE(chooser);
    choose(chooser);
    ASSERT_TRUE(WaitUntil([&] { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }));
    EXPECT_TRUE(w.LogEndsWith(path + "\r\n")) << w.Log();
    std::ifstream saved(path, std::ios::binary);
    std::stringstream bytes;
    bytes << saved.rdbuf();
    EXPECT_NE(bytes.str().find("\r\n250 987 654 \r\n"), std::string::npos) << bytes.str().substr(0, 400);

    w.SetText(ctl::kNumberEdit, "250");
    w.SetText(ctl::kTxEdit, "111");
    w.SetText(ctl::kRxEdit, "222");
    SendMessageW(w.Item(ctl::kAdd), BM_CLICK, 0, 0);
    w.Click(ctl::kOpen);
    HWND box = w.WaitForPopup();
    ASSERT_TRUE(box);
    EXPECT_EQ(WindowText(box), "Open File Notice");
    w.Answer(box, IDYES);
    chooser = w.WaitForPopup();
    ASSERT_TRUE(chooser);
    choose(chooser);
    wchar_t cell[16] = {};
    LVITEMW item{};
    item.iSubItem = 1;
    item.pszText = cell;
    item.cchTextMax = 16;
    EXPECT_TRUE(WaitUntil([&] {
        SendMessageW(w.Item(ctl::kHomeNumberList), LVM_GETITEMTEXTW, 249, reinterpret_cast<LPARAM>(&item));
        return WideToLatin1(cell) == "987";
    }));
    DeleteFileA(path.c_str());
}

// The keys walk the table: each row they move to shows in the edits while the focus stays in the table,
// and Enter then goes on from the row as a click does.
TEST(Win32WindowTest, TheKeysWalkTheTableAndEnterGoesOnFromTheRow) {
    Window w;
    w.Add("1", "111", "222");
    w.Add("2", "333", "444");
    HWND list = w.Item(ctl::kHomeNumberList);
    SendMessageW(w.Dialog(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(list), TRUE);
    LVITEMW first{};
    first.stateMask = first.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(list, LVM_SETITEMSTATE, 0, reinterpret_cast<LPARAM>(&first));
    ASSERT_TRUE(WaitUntil([&] { return w.Focus() == ctl::kHomeNumberList; }));
    SendMessageW(list, WM_KEYDOWN, VK_DOWN, 0);
    EXPECT_EQ(w.Text(ctl::kNumberEdit), "2");
    EXPECT_EQ(w.Text(ctl::kTxEdit), "333");
    EXPECT_EQ(w.Text(ctl::kRxEdit), "444");
    EXPECT_EQ(w.Focus(), ctl::kHomeNumberList);
    SendMessageW(list, WM_KEYDOWN, VK_UP, 0);
    EXPECT_EQ(w.Text(ctl::kTxEdit), "111");
    SendMessageW(list, WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_TRUE(WaitUntil([&] { return w.Focus() == ctl::kTxEdit; }));
}

// A table file dropped on the window opens as Open does, after the same question.
TEST(Win32WindowTest, ADroppedTableFileOpensAsOpenDoes) {
    Window w;
    const std::string path = TempPath("vantor-drop-", ".txt");
    std::ofstream(path, std::ios::binary) << "Channels: \r\n7 123 456 \r\n";
    HGLOBAL drop = GlobalAlloc(GHND, sizeof(DROPFILES) + path.size() + 2);
    auto* files = static_cast<DROPFILES*>(GlobalLock(drop));
    files->pFiles = sizeof(DROPFILES);
    std::copy(path.begin(), path.end(), reinterpret_cast<char*>(files + 1));
    GlobalUnlock(drop);
    PostMessageW(w.Dialog(), WM_DROPFILES, reinterpret_cast<WPARAM>(drop), 0);
    HWND box = w.WaitForPopup();
    ASSERT_TRUE(box);
    EXPECT_EQ(WindowText(box), "Open File Notice");
    w.Answer(box, IDYES);
    EXPECT_TRUE(WaitUntil([&] { return w.Cell(6, 1) == "123" && w.Cell(6, 2) == "456"; }));
    EXPECT_TRUE(w.LogEndsWith(path + "\r\n")) << w.Log();
    DeleteFileA(path.c_str());
}

// Closing during a run asks first; Yes stops the run, and the window then asks about the rows it read
// before it closes.
TEST(Win32WindowTest, ClosingDuringARunAsksFirstAndClosesOnceItHasEnded) {
    REQUIRE_DEVICE();
    Window w;
    w.SetText(ctl::kSerialPortEdit, port);
    w.Click(ctl::kReadAll);
    HWND box = w.WaitForPopup();
    ASSERT_TRUE(box);
    w.Answer(box, IDYES);
    ASSERT_TRUE(WaitUntil([&] { return w.Running(); }));
    PostMessageW(w.Dialog(), WM_CLOSE, 0, 0);
    box = w.WaitForPopup();
    ASSERT_TRUE(box);
    EXPECT_EQ(WindowText(box), kProgramName);
    EXPECT_EQ(Window::BoxText(box), "A transfer is running. Stop it and close the window?");
    w.Answer(box, IDYES);
    box = w.WaitForPopup();
    ASSERT_TRUE(box);
    EXPECT_EQ(Window::BoxText(box), "The table has changes that are not saved. Close anyway?");
    w.Answer(box, IDYES);
    EXPECT_TRUE(WaitUntil([&] { return w.Closed(); }));
}

// Serial Port, Baud and the window's place are kept in the user's settings file and come back; values
// the window could not use are passed over, and only the window's own keys are written.
TEST(Win32WindowTest, ItKeepsItsSettingsAndPassesOverWhatItCannotUse) {
    const std::string appData = TempPath("vantor-appdata-");
    const std::string ini = appData + "\\vantor-radio-config\\vantor-radio-config.ini";
    CreateDirectoryA(appData.c_str(), nullptr);
    char before[MAX_PATH] = {};
    GetEnvironmentVariableA("APPDATA", before, MAX_PATH);
    SetEnvironmentVariableA("APPDATA", appData.c_str());
    {
        Window w(true);
        EXPECT_EQ(w.Text(ctl::kSerialPortEdit), "1");
        w.SetText(ctl::kSerialPortEdit, "7");
        w.SetText(ctl::kBaudEdit, "9600");
        SetWindowPos(w.Dialog(), nullptr, 40, 30, 900, 700, SWP_NOZORDER);
        w.Close();
    }
    WritePrivateProfileStringA("Other", "kept", "yes", ini.c_str());
    {
        Window w(true);
        EXPECT_EQ(w.Text(ctl::kSerialPortEdit), "7");
        EXPECT_EQ(w.Text(ctl::kBaudEdit), "9600");
        RECT r{};
        GetWindowRect(w.Dialog(), &r);
        EXPECT_EQ(r.right - r.left, 900);
        EXPECT_EQ(r.bottom - r.top, 700);
        // The table grew with the window.
        RECT list{};
        GetWindowRect(w.Item(ctl::kHomeNumberList), &list);
        EXPECT_GT(list.right - list.left, 400);
        w.Close();
    }
    char other[8] = {};
    GetPrivateProfileStringA("Other", "kept", "", other, 8, ini.c_str());
    EXPECT_STREQ(other, "yes");
    for (const char* bad : {"abc", "-5", ""}) {
        WritePrivateProfileStringA("General", "port", bad, ini.c_str());
        WritePrivateProfileStringA("General", "baud", bad, ini.c_str());
        WritePrivateProfileStringA("General", "geometry", "1 2 nonsense", ini.c_str());
        Window w(true);
        EXPECT_EQ(w.Text(ctl::kSerialPortEdit), "1") << bad;
        EXPECT_EQ(w.Text(ctl::kBaudEdit), "19200") << bad;
        w.Close();
    }
    SetEnvironmentVariableA("APPDATA", before);
    DeleteFileA(ini.c_str());
    RemoveDirectoryA((appData + "\\vantor-radio-config").c_str());
    RemoveDirectoryA(appData.c_str());
}

// Every setting's Get shows in the window what its Set gave the device.
TEST(Win32WindowTest, EachSettingsGetShowsWhatItsSetWrote) {
    REQUIRE_DEVICE();
    Window w;
    w.SetText(ctl::kSerialPortEdit, port);
    const auto list = [&](int id, int index) { SendMessageW(w.Item(id), CB_SETCURSEL, static_cast<WPARAM>(index), 0); };
    const auto chosen = [&](int id) { return static_cast<int>(SendMessageW(w.Item(id), CB_GETCURSEL, 0, 0)); };
    struct Case {
        const char* name;
        const char* written;  // the log's last line after the Set
        int set, get;
        std::function<void()> give, forget;
        std::function<bool()> shown;
    };
    const std::vector<Case> cases{
        {"Wide Band", "Wide Band successfully disabled\r\n", ctl::kWideBandSet, ctl::kWideBandGet,
         [&] { SendMessageW(w.Item(ctl::kWideBandDisable), BM_CLICK, 0, 0); },
         [&] { SendMessageW(w.Item(ctl::kWideBandEnable), BM_CLICK, 0, 0); },
         [&] { return w.Checked(ctl::kWideBandDisable) && !w.Checked(ctl::kWideBandEnable); }},
        {"SQUELCH", "'SQUELCH' button Write Successful\r\n", ctl::kSquelchSet, ctl::kSquelchGet, [&] { list(ctl::kSquelchList, 1); },
         [&] { list(ctl::kSquelchList, -1); }, [&] { return chosen(ctl::kSquelchList) == 1; }},
        {"Radio Mfg", "Radio Mfg Write Successful\r\n", ctl::kRadioMfgSet, ctl::kRadioMfgGet, [&] { list(ctl::kRadioMfgList, 0); },
         [&] { list(ctl::kRadioMfgList, -1); }, [&] { return chosen(ctl::kRadioMfgList) == 0; }},
        {"DTMF Delay", "DTMF Delay write Success\r\n", ctl::kDtmfDelaySet, ctl::kDtmfDelayGet, [&] { w.SetText(ctl::kDtmfDelayEdit, "20"); },
         [&] { w.SetText(ctl::kDtmfDelayEdit, ""); }, [&] { return w.Text(ctl::kDtmfDelayEdit) == "20"; }},
        {"Min Volume", "MIN volume write Success\r\n", ctl::kMinVolumeSet, ctl::kMinVolumeGet, [&] { w.SetText(ctl::kMinVolumeEdit, "15"); },
         [&] { w.SetText(ctl::kMinVolumeEdit, ""); }, [&] { return w.Text(ctl::kMinVolumeEdit) == "15"; }},
        {"Serial Number", "Serial Number Write Successful\r\n", ctl::kSerialNumberWrite, ctl::kSerialNumberRead,
         [&] { w.SetText(ctl::kSerialNumberEdit, "ABCDEFGHIJKLMNOPQRSTUVWXYZ\xE9\xFF" "0123"); },
         [&] { w.SetText(ctl::kSerialNumberEdit, ""); },
         [&] { return w.Text(ctl::kSerialNumberEdit) == "ABCDEFGHIJKLMNOPQRSTUVWXYZ\xE9\xFF" "0123"; }},
        {"User Description", "User Descript Write Successful\r\n", ctl::kUserDescriptionWrite, ctl::kUserDescriptionRead,
         [&] { w.SetText(ctl::kUserDescriptionEdit, "Desk 12 \xB0" "C"); },
         [&] { w.SetText(ctl::kUserDescriptionEdit, ""); },
         [&] { return w.Text(ctl::kUserDescriptionEdit) == "Desk 12 \xB0" "C"; }},
    };
    for (const Case& c : cases) {
        c.give();
        w.ClearLog();
        SendMessageW(w.Item(c.set), BM_CLICK, 0, 0);
        EXPECT_TRUE(w.LogEndsWith(c.written)) << c.name << ": " << w.Log();
        c.forget();
        EXPECT_FALSE(c.shown()) << c.name;
        SendMessageW(w.Item(c.get), BM_CLICK, 0, 0);
        EXPECT_TRUE(WaitUntil(c.shown)) << c.name << ": " << w.Log();
    }
}

// What the edits take: digits only where the template says so, as many characters as the limit when
// typed (a text the program sets is never cut), and no character beyond the program's 8-bit texts; the
// two Wide Band buttons stay one of a kind.
TEST(Win32WindowTest, TheEditsAndButtonsTakeOnlyWhatTheyMay) {
    Window w;
    const auto type = [&](int id, const std::wstring& keys) {
        for (const wchar_t key : keys) SendMessageW(w.Item(id), WM_CHAR, key, 0);
    };
    type(ctl::kNumberEdit, L"1a2-34");
    EXPECT_EQ(w.Text(ctl::kNumberEdit), "123");  // digits only, three at the most
    w.SetText(ctl::kNumberEdit, "12345");
    EXPECT_EQ(w.Text(ctl::kNumberEdit), "12345");
    type(ctl::kPllTxEdit, L"14a.5");
    EXPECT_EQ(w.Text(ctl::kPllTxEdit), "14a.5");  // any text
    type(ctl::kSerialNumberEdit, L"A\x263A\x00E9\x0416" L"B");
    EXPECT_EQ(w.Text(ctl::kSerialNumberEdit), "A\xE9" "B");
    SendMessageW(w.Item(ctl::kWideBandDisable), BM_CLICK, 0, 0);
    EXPECT_TRUE(w.Checked(ctl::kWideBandDisable));
    EXPECT_FALSE(w.Checked(ctl::kWideBandEnable));
    SendMessageW(w.Item(ctl::kWideBandEnable), BM_CLICK, 0, 0);
    EXPECT_TRUE(w.Checked(ctl::kWideBandEnable));
    EXPECT_FALSE(w.Checked(ctl::kWideBandDisable));
}

// Enter is the OK action, which checks every edit first and closes only when all of them hold; Enter on
// a focused button clicks it instead; Escape closes without a check.
TEST(Win32WindowTest, EnterChecksFirstAndClosesEnterOnAButtonClicksItEscapeCloses) {
    {
        Window w;
        SendMessageW(w.Item(ctl::kDispSet), BM_CLICK, 0, 0);  // nothing chosen: a line in the log
        EXPECT_EQ(w.Log(), "Please Select a 'DISP' button entry\r\n");
        w.Focus(ctl::kClearScreen);
        w.Key(ctl::kClearScreen, VK_RETURN);
        EXPECT_TRUE(WaitUntil([&] { return w.Log().empty(); }));
        EXPECT_FALSE(w.Closed());

        w.SetText(ctl::kDtmfDelayEdit, "0");
        w.Focus(ctl::kNumberEdit);
        w.Key(ctl::kNumberEdit, VK_RETURN);
        HWND box = w.WaitForPopup();
        ASSERT_TRUE(box);
        EXPECT_EQ(WindowText(box), kProgramName);
        EXPECT_EQ(Window::BoxText(box), "Enter a whole number from 1 to 20.");
        w.Answer(box, IDOK);
        EXPECT_TRUE(WaitUntil([&] { return w.Focus() == ctl::kDtmfDelayEdit; }));
        EXPECT_FALSE(w.Closed());
        w.SetText(ctl::kDtmfDelayEdit, "5");
        w.Key(ctl::kDtmfDelayEdit, VK_RETURN);
        EXPECT_TRUE(WaitUntil([&] { return w.Closed(); }));
        EXPECT_EQ(w.Result(), ctl::kIdOk);
    }
    Window w;
    w.SetText(ctl::kDtmfDelayEdit, "0");
    w.Focus(ctl::kNumberEdit);
    w.Key(ctl::kNumberEdit, VK_ESCAPE);
    EXPECT_TRUE(WaitUntil([&] { return w.Closed(); }));
    EXPECT_EQ(w.Result(), ctl::kIdCancel);
}

// The console follows its newest lines: with n lines, line n - 5 is the first one shown, or as far as the
// control scrolls.
TEST(Win32WindowTest, TheConsoleFollowsItsNewestLines) {
    Window w;
    for (int i = 0; i < 20; ++i) SendMessageW(w.Item(ctl::kDispSet), BM_CLICK, 0, 0);
    std::string expected;
    for (int i = 0; i < 20; ++i) expected += "Please Select a 'DISP' button entry\r\n";
    EXPECT_EQ(w.Log(), expected);
    // An edit control that does not scroll past its last line (wine's) shows its last lines instead.
    HWND console = w.Item(ctl::kLogConsole);
    const auto first = [&] { return SendMessageW(console, EM_GETFIRSTVISIBLELINE, 0, 0); };
    const LRESULT shown = first();
    if (shown != 16) {
        SendMessageW(console, EM_LINESCROLL, 0, 100);
        EXPECT_EQ(shown, first()) << "the console stopped short of its last lines";
        EXPECT_LT(shown, 16);
    }
}

// A Number above 100 closes and empties the PLL edits: only home numbers 1 to 100 have PLL values.
TEST(Win32WindowTest, ANumberAboveAHundredClosesThePllEdits) {
    Window w;
    w.SetText(ctl::kPllTxEdit, "146.5");
    w.SetText(ctl::kNumberEdit, "100");
    EXPECT_TRUE(IsWindowEnabled(w.Item(ctl::kPllTxEdit)));
    EXPECT_EQ(w.Text(ctl::kPllTxEdit), "146.5");
    w.SetText(ctl::kNumberEdit, "101");
    EXPECT_FALSE(IsWindowEnabled(w.Item(ctl::kPllTxEdit)));
    EXPECT_FALSE(IsWindowEnabled(w.Item(ctl::kPllRxEdit)));
    EXPECT_EQ(w.Text(ctl::kPllTxEdit), "");
}

// A device text holding lone line-end bytes shows them as spaces, without breaking the console's line.
TEST(Win32WindowTest, TheConsoleShowsLoneLineEndBytesAsSpaces) {
    REQUIRE_DEVICE();
    Window w;
    w.SetText(ctl::kSerialPortEdit, port);
    w.SetText(ctl::kSerialNumberEdit, "A\rB\nC");
    SendMessageW(w.Item(ctl::kSerialNumberWrite), BM_CLICK, 0, 0);
    w.ClearLog();
    SendMessageW(w.Item(ctl::kSerialNumberRead), BM_CLICK, 0, 0);
    EXPECT_TRUE(w.LogEndsWith("Serial Number Received:\r\nA B C\r\n")) << w.Log();
}

// A command waiting for a device that never answers (a text read waits two seconds): every command is
// locked, the window still answers what is sent to it, a key the operator presses meanwhile is dropped,
// and the focus is where it was once the command has ended.
TEST(Win32WindowTest, ACommandsWaitLocksTheCommandsKeepsTheWindowAnsweringAndDropsInput) {
    const char* silent = std::getenv("VANTOR_TEST_SILENT_COM");
    if (!silent) GTEST_SKIP() << "no silent device: make test-windows sets VANTOR_TEST_SILENT_COM";
    Window w;
    w.SetText(ctl::kSerialPortEdit, silent);
    w.Focus(ctl::kSerialNumberRead);
    w.ClearLog();
    w.Click(ctl::kSerialNumberRead);
    // The lock disables the controls one after another: the last one tells it is whole.
    const int last = RadioConfigDialog::BusyLockControls().back();
    ASSERT_TRUE(WaitUntil([&] { return !IsWindowEnabled(w.Item(last)); }));
    for (const int id : RadioConfigDialog::BusyLockControls()) EXPECT_FALSE(IsWindowEnabled(w.Item(id))) << id;
    // Sent, and answered while the command waits.
    EXPECT_EQ(w.Text(ctl::kSerialPortEdit), silent);
    PostMessageW(w.Item(ctl::kDtmfDelayEdit), WM_CHAR, '7', 0);
    ASSERT_FALSE(IsWindowEnabled(w.Item(ctl::kSerialNumberRead))) << "the key came after the command";
    EXPECT_TRUE(w.LogEndsWith("Timed out waiting for response\r\n")) << w.Log();
    EXPECT_TRUE(WaitUntil([&] { return IsWindowEnabled(w.Item(ctl::kSerialNumberRead)) != FALSE; }));
    EXPECT_EQ(w.Text(ctl::kDtmfDelayEdit), "1");
    EXPECT_EQ(w.Focus(), ctl::kSerialNumberRead);
}

// A stop signal (Ctrl+C, a closed console) during a command closes the window once the command has
// ended, without a question.
TEST(Win32WindowTest, AStopSignalDuringACommandClosesTheWindowAfterIt) {
    const char* silent = std::getenv("VANTOR_TEST_SILENT_COM");
    if (!silent) GTEST_SKIP() << "no silent device: make test-windows sets VANTOR_TEST_SILENT_COM";
    Window w;
    w.SetText(ctl::kSerialPortEdit, silent);
    w.Click(ctl::kUserDescriptionRead);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindowEnabled(w.Item(ctl::kUserDescriptionRead)); }));
    w.AskToClose();
    // While the command still waits, the window stays.
    ::Sleep(100);
    const bool waiting = !IsWindowEnabled(w.Item(ctl::kUserDescriptionRead));
    EXPECT_TRUE(!waiting || !w.Closed());
    EXPECT_TRUE(WaitUntil([&] { return w.Closed(); }));
    EXPECT_EQ(w.Result(), ctl::kIdCancel);
}

// The Serial Port edit's tooltip lists the ports there are when it shows, one a line.
TEST(Win32WindowTest, TheSerialPortTooltipListsThePortsThereAre) {
    Window w;
    NMTTDISPINFOW asked{};
    asked.hdr.idFrom = reinterpret_cast<UINT_PTR>(w.Item(ctl::kSerialPortEdit));
    asked.hdr.code = TTN_GETDISPINFOW;
    SendMessageW(w.Dialog(), WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&asked));
    ASSERT_NE(asked.lpszText, nullptr);
    std::string expected;
    for (const char c : DescribePorts(ListPorts())) expected += c == '\n' ? std::string("\r\n") : std::string(1, c);
    EXPECT_EQ(WideToLatin1(asked.lpszText), expected);
    EXPECT_FALSE(expected.empty());
}

}  // namespace
