#pragma once

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <map>
#include <string>
#include <vector>

#include "app/DialogTemplate.h"
#include "app/RadioConfigApp.h"
#include "app/RadioConfigDialog.h"
#include "ui-win32/Win32Controls.h"

// The main window on Win32: dialog 102 of the program's resources, its events bound to the dialog's
// handlers from the event table. It grows from its described size (the table and the log take the room),
// keeps Serial Port, Baud, its size and place and the last folder between runs, opens a table file
// dropped on it, and lets the keys walk the table.
class Win32Window : public DialogWindow {
public:
    struct Options {
        bool rememberSettings = true;
        std::string tracePath;  // where every exchange is recorded; empty: nowhere
    };
    explicit Win32Window(Options options);
    ~Win32Window() override;

    DialogControls& Controls() override { return m_controls; }
    Win32Controls& Win32() { return m_controls; }
    int RunModal(RadioConfigDialog& dialog) override;

    // Any thread: closes the window as a stop signal asks, without a question. A message box or chooser
    // that is open is cancelled first, a transfer is stopped, and while a command runs the window tries
    // again until it has ended.
    void CloseWhenAllowed();
    // The dialog's window while it runs; none before and after.
    HWND Handle() const { return m_controls.Dialog(); }

    static constexpr UINT kCloseMessage = WM_APP + 10;
    static constexpr UINT kDropMessage = WM_APP + 11;
    static constexpr UINT_PTR kCloseTimer = 10;

private:
    static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);
    void Initialise();
    void Command(int id, int code);
    void Notify(const NMHDR& header);
    void Layout();
    void TryToClose();
    void Dropped(HDROP drop);
    static LRESULT CALLBACK TableKeys(HWND list, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR self);
    static LRESULT CALLBACK TextOnly(HWND edit, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR);
    void RestoreSettings();
    void SaveSettings();

    Options m_options;
    Win32Controls m_controls;
    RadioConfigDialog* m_dialog = nullptr;
    using Handler = void (RadioConfigDialog::*)();
    std::map<std::pair<int, int>, Handler> m_commands;  // (control, notification code) to handler
    Handler m_tableClick = nullptr;
    Handler m_tableKeyMove = nullptr;
    bool m_movedByKey = false;  // the keys moved the table's selection since it took the focus

    struct Placement {
        HWND control;
        PixelRect placed;  // at the described size, in the client area
        Growth growth;
    };
    std::vector<Placement> m_placements;
    SIZE m_baseClient{};  // the client area at the described size
    SIZE m_leastWindow{};
    std::string m_dropped;  // a file dropped, waiting for the drop to end
    void NameControls();
    struct IAccPropServices* m_names = nullptr;  // what a screen reader says for each control
    HWND m_portTip = nullptr;  // the Serial Port edit's tooltip
    std::wstring m_portTipText;
};
