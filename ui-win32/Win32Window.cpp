#include "ui-win32/Win32Window.h"

#include <commctrl.h>
#include <oleacc.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <optional>

#include "app/ControlIds.h"
#include "device/DialogText.h"
#include "serial/ExchangeTrace.h"
#include "serial/PortDiscovery.h"
#include "serial/PortPath.h"
#include "ui-win32/resource.h"

namespace {

// The resource script names the controls itself: both must say the same numbers.
static_assert(IDD_MAIN == 102);
static_assert(IDC_HOME_NUMBER_LIST == ctl::kHomeNumberList && IDC_ADD == ctl::kAdd);
static_assert(IDC_NUMBER_EDIT == ctl::kNumberEdit && IDC_TX_EDIT == ctl::kTxEdit && IDC_RX_EDIT == ctl::kRxEdit);
static_assert(IDC_PLL_TX_EDIT == ctl::kPllTxEdit && IDC_PLL_RX_EDIT == ctl::kPllRxEdit);
static_assert(IDC_SAVE_AS == ctl::kSaveAs && IDC_WRITE == ctl::kWrite && IDC_READ == ctl::kRead);
static_assert(IDC_SERIAL_PORT_EDIT == ctl::kSerialPortEdit && IDC_BAUD_EDIT == ctl::kBaudEdit);
static_assert(IDC_LOG_CONSOLE == ctl::kLogConsole && IDC_OPEN == ctl::kOpen && IDC_CLEAR_SCREEN == ctl::kClearScreen);
static_assert(IDC_WIDE_BAND_ENABLE == ctl::kWideBandEnable && IDC_WIDE_BAND_DISABLE == ctl::kWideBandDisable);
static_assert(IDC_WIDE_BAND_GET == ctl::kWideBandGet && IDC_WIDE_BAND_SET == ctl::kWideBandSet);
static_assert(IDC_WRITE_ALL == ctl::kWriteAll && IDC_READ_ALL == ctl::kReadAll);
static_assert(IDC_DISP_LIST == ctl::kDispList && IDC_DISP_GET == ctl::kDispGet && IDC_DISP_SET == ctl::kDispSet);
static_assert(IDC_SERIAL_NUMBER_EDIT == ctl::kSerialNumberEdit && IDC_SERIAL_NUMBER_WRITE == ctl::kSerialNumberWrite);
static_assert(IDC_SERIAL_NUMBER_READ == ctl::kSerialNumberRead);
static_assert(IDC_DTMF_DELAY_EDIT == ctl::kDtmfDelayEdit && IDC_DTMF_DELAY_GET == ctl::kDtmfDelayGet);
static_assert(IDC_DTMF_DELAY_SET == ctl::kDtmfDelaySet);
static_assert(IDC_RADIO_MFG_LIST == ctl::kRadioMfgList && IDC_RADIO_MFG_GET == ctl::kRadioMfgGet);
static_assert(IDC_RADIO_MFG_SET == ctl::kRadioMfgSet);
static_assert(IDC_MIN_VOLUME_EDIT == ctl::kMinVolumeEdit && IDC_MIN_VOLUME_GET == ctl::kMinVolumeGet);
static_assert(IDC_MIN_VOLUME_SET == ctl::kMinVolumeSet);
static_assert(IDC_SQUELCH_LIST == ctl::kSquelchList && IDC_SQUELCH_GET == ctl::kSquelchGet);
static_assert(IDC_SQUELCH_SET == ctl::kSquelchSet);
static_assert(IDC_USER_DESCRIPTION_EDIT == ctl::kUserDescriptionEdit);
static_assert(IDC_USER_DESCRIPTION_WRITE == ctl::kUserDescriptionWrite);
static_assert(IDC_USER_DESCRIPTION_READ == ctl::kUserDescriptionRead);
static_assert(IDC_TRANSFER_PROGRESS == ctl::kTransferProgress && IDC_STOP == ctl::kStop && IDC_VERIFY == ctl::kVerify);

// The system's annotation service, and the property that names a control (their numbers as oleacc.h
// gives them).
constexpr CLSID kAnnotationService{0xb5f8350b, 0x0548, 0x48b1, {0xa6, 0xee, 0x88, 0xbd, 0x00, 0xb4, 0xa5, 0xe7}};
constexpr IID kAnnotationInterface{0x6e26e776, 0x04f0, 0x495d, {0x80, 0xe4, 0x33, 0x30, 0x35, 0x2e, 0x31, 0x69}};
constexpr MSAAPROPID kNameProperty{0x608d3df8, 0x8128, 0x4aa7, {0xa4, 0x28, 0xf5, 0x5e, 0x49, 0x26, 0x72, 0x91}};

constexpr UINT_PTR kTableKeysId = 1;
constexpr UINT_PTR kTextOnlyId = 2;
// A settings file larger than this is not the window's own.
constexpr LONGLONG kLargestSettingsFile = 64 * 1024;
constexpr wchar_t kSection[] = L"General";

std::wstring SettingsFile() {
    wchar_t folder[MAX_PATH] = {};
    if (GetEnvironmentVariableW(L"APPDATA", folder, MAX_PATH) == 0) return {};
    return std::wstring(folder) + L"\\vantor-radio-config\\vantor-radio-config.ini";
}

// A kept value, when the file is the window's own: a regular file of at most the largest size.
std::optional<std::string> KeptValue(const std::wstring& file, const wchar_t* key) {
    WIN32_FILE_ATTRIBUTE_DATA info{};
    if (file.empty() || !GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &info)) return std::nullopt;
    if ((info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0) return std::nullopt;
    const LONGLONG size = (static_cast<LONGLONG>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    if (size > kLargestSettingsFile) return std::nullopt;
    wchar_t value[1024] = {};
    const DWORD got = GetPrivateProfileStringW(kSection, key, L"\x01", value, 1024, file.c_str());
    if (got == 1 && value[0] == L'\x01') return std::nullopt;
    std::string bytes;
    for (DWORD i = 0; i < got; ++i) {
        if (value[i] > 0x7F) return std::nullopt;  // the kept values are digits and ASCII paths
        bytes.push_back(static_cast<char>(value[i]));
    }
    return bytes;
}

bool IsDigits(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// "x y width height", each a whole number.
std::optional<RECT> ParsePlace(const std::string& text) {
    long x = 0, y = 0, width = 0, height = 0;
    char rest = 0;
    if (std::sscanf(text.c_str(), "%ld %ld %ld %ld %c", &x, &y, &width, &height, &rest) != 4) return std::nullopt;
    if (width <= 0 || height <= 0 || width > 100000 || height > 100000) return std::nullopt;
    return RECT{x, y, x + width, y + height};
}

}  // namespace

Win32Window::Win32Window(Options options) : m_options(std::move(options)) {}

Win32Window::~Win32Window() = default;

int Win32Window::RunModal(RadioConfigDialog& dialog) {
    // The names for screen readers come from the system's annotation service, a COM object.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    // The list and the progress bar are common controls: their classes are registered first.
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&classes);
    m_dialog = &dialog;
    std::unique_ptr<ExchangeTrace> trace;
    std::string traceFailure;
    if (!m_options.tracePath.empty()) {
        auto opened = ExchangeTrace::Open(m_options.tracePath);
        if (opened.value) {
            trace = std::move(*opened.value);
            dialog.Link().SetTrace(trace.get());
        } else {
            traceFailure = "Trace file " + m_options.tracePath + " cannot be written: " + opened.outcome.reason + "\r\n";
        }
    }
    const INT_PTR result = DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_MAIN), nullptr,
                                           Procedure, reinterpret_cast<LPARAM>(this));
    dialog.Link().SetTrace(nullptr);  // the run is over: no worker and no command uses the port now
    m_dialog = nullptr;
    if (SUCCEEDED(com)) CoUninitialize();
    if (!traceFailure.empty()) std::fputs(traceFailure.c_str(), stderr);
    return static_cast<int>(result);
}

INT_PTR CALLBACK Win32Window::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<Win32Window*>(GetWindowLongPtrW(window, DWLP_USER));
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<Win32Window*>(lParam);
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        self->m_controls.Attach(window);
    }
    if (!self) return FALSE;
    const INT_PTR result = self->Handle(message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        self->m_controls.Attach(nullptr);
        SetWindowLongPtrW(window, DWLP_USER, 0);
    }
    return result;
}

INT_PTR Win32Window::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    INT_PTR handled = FALSE;
    if (m_controls.Handle(message, wParam, lParam, handled)) return handled;
    switch (message) {
        case WM_INITDIALOG:
            Initialise();
            return TRUE;
        case WM_COMMAND:
            Command(LOWORD(wParam), HIWORD(wParam));
            return TRUE;
        case WM_NOTIFY:
            Notify(*reinterpret_cast<const NMHDR*>(lParam));
            return FALSE;
        case WM_SIZE:
            Layout();
            return TRUE;
        case WM_GETMINMAXINFO: {
            auto* limits = reinterpret_cast<MINMAXINFO*>(lParam);
            if (m_leastWindow.cx > 0) limits->ptMinTrackSize = {m_leastWindow.cx, m_leastWindow.cy};
            return TRUE;
        }
        case WM_DROPFILES:
            Dropped(reinterpret_cast<HDROP>(wParam));
            return TRUE;
        case kDropMessage:
            // The drop has ended: the question may come now.
            if (m_dialog && ::IsWindowEnabled(GetDlgItem(m_controls.Dialog(), ctl::kOpen))) {
                const std::string path = std::move(m_dropped);
                m_dialog->OnDropFile(path);
            }
            return TRUE;
        case kCloseMessage:
            TryToClose();
            return TRUE;
        case WM_TIMER:
            if (wParam != kCloseTimer) return FALSE;
            KillTimer(m_controls.Dialog(), kCloseTimer);
            TryToClose();
            return TRUE;
        case WM_DESTROY:
            SaveSettings();
            if (m_names) {
                for (const ControlTemplate& control : MainDialogTemplate().controls) {
                    if (HWND item = control.id == ctl::kStatic ? nullptr : GetDlgItem(m_controls.Dialog(), control.id)) {
                        m_names->ClearHwndProps(item, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, &kNameProperty, 1);
                    }
                }
                m_names->Release();
                m_names = nullptr;
            }
            return FALSE;
        default:
            return FALSE;
    }
}

// The events the dialog handles, the places its controls grow from, the icon, and the kept settings.
void Win32Window::Initialise() {
    HWND window = m_controls.Dialog();
    for (const EventBinding& binding : RadioConfigDialog::EventTable()) {
        switch (binding.event) {
            case DialogEvent::Click:
                m_commands[{binding.controlId, BN_CLICKED}] = binding.handler;
                break;
            case DialogEvent::SelectionChange:  // only the operator's: a choice by program raises none
                m_commands[{binding.controlId, CBN_SELCHANGE}] = binding.handler;
                break;
            case DialogEvent::TextChange:
                m_commands[{binding.controlId, EN_CHANGE}] = binding.handler;
                break;
            case DialogEvent::GainFocus:
                m_commands[{binding.controlId, EN_SETFOCUS}] = binding.handler;
                break;
            case DialogEvent::TableClick:
                m_tableClick = binding.handler;
                break;
            case DialogEvent::TableKeyMove:
                m_tableKeyMove = binding.handler;
                break;
        }
    }

    // The children stand in the template's order: each follows the window as its template row says.
    const DialogTemplate& layout = MainDialogTemplate();
    std::vector<HWND> children;
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        children.push_back(child);
    }
    if (children.size() == layout.controls.size()) {
        for (std::size_t i = 0; i < children.size(); ++i) {
            RECT r{};
            GetWindowRect(children[i], &r);
            MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
            m_placements.push_back(
                {children[i], {r.left, r.top, r.right - r.left, r.bottom - r.top}, GrowthOf(layout.controls[i])});
        }
    }
    RECT client{}, outer{};
    GetClientRect(window, &client);
    GetWindowRect(window, &outer);
    m_baseClient = {client.right, client.bottom};
    m_leastWindow = {outer.right - outer.left, outer.bottom - outer.top};

    const HINSTANCE instance = GetModuleHandleW(nullptr);
    for (const auto& [which, metric] : {std::pair{ICON_SMALL, SM_CXSMICON}, std::pair{ICON_BIG, SM_CXICON}}) {
        const int size = GetSystemMetrics(metric);
        if (HANDLE icon = LoadImageW(instance, MAKEINTRESOURCEW(IDI_PROGRAM), IMAGE_ICON, size, size, 0)) {
            SendMessageW(window, WM_SETICON, which, reinterpret_cast<LPARAM>(icon));
        }
    }
    SetWindowSubclass(GetDlgItem(window, ctl::kHomeNumberList), TableKeys, kTableKeysId,
                      reinterpret_cast<DWORD_PTR>(this));
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t kind[16] = {};
        GetClassNameW(child, kind, 16);
        if (lstrcmpiW(kind, L"Edit") == 0 && GetDlgCtrlID(child) != ctl::kLogConsole) {
            SetWindowSubclass(child, TextOnly, kTextOnlyId, 0);
        }
    }
    // The Serial Port tooltip lists the ports there are, looked up afresh each time it shows: an adapter
    // may have been plugged in since the window opened.
    m_portTip = CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window, nullptr, instance, nullptr);
    if (m_portTip) {
        TTTOOLINFOW tool{};
        tool.cbSize = sizeof tool;
        tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        tool.hwnd = window;
        tool.uId = reinterpret_cast<UINT_PTR>(GetDlgItem(window, ctl::kSerialPortEdit));
        tool.lpszText = LPSTR_TEXTCALLBACKW;
        SendMessageW(m_portTip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
        SendMessageW(m_portTip, TTM_SETMAXTIPWIDTH, 0, 600);
    }
    // The console keeps every line the log has.
    SendDlgItemMessageW(window, ctl::kLogConsole, EM_SETLIMITTEXT, 0, 0);
    DragAcceptFiles(window, TRUE);
    NameControls();

    m_dialog->OnInitDialog();
    RestoreSettings();
}

void Win32Window::Command(int id, int code) {
    if (!m_dialog) return;
    // Enter with no push button focused, and Escape or the close box.
    if (code == BN_CLICKED && id == IDOK) {
        m_dialog->OnOK();
        return;
    }
    if (code == BN_CLICKED && id == IDCANCEL) {
        m_dialog->OnCancel();
        return;
    }
    const auto found = m_commands.find({id, code});
    if (found != m_commands.end()) (m_dialog->*found->second)();
}

void Win32Window::Notify(const NMHDR& header) {
    if (header.code == TTN_GETDISPINFOW &&
        header.idFrom == reinterpret_cast<UINT_PTR>(GetDlgItem(m_controls.Dialog(), ctl::kSerialPortEdit))) {
        m_portTipText = Latin1ToWide(DescribePorts(ListPorts()));
        // A line of its own for each port.
        for (std::size_t at = m_portTipText.find(L'\n'); at != std::wstring::npos; at = m_portTipText.find(L'\n', at + 2)) {
            if (at == 0 || m_portTipText[at - 1] != L'\r') m_portTipText.insert(at, 1, L'\r');
        }
        reinterpret_cast<NMTTDISPINFOW*>(const_cast<NMHDR*>(&header))->lpszText = m_portTipText.data();
        return;
    }
    if (!m_dialog || header.idFrom != static_cast<UINT_PTR>(ctl::kHomeNumberList)) return;
    if (header.code == NM_CLICK && m_tableClick) (m_dialog->*m_tableClick)();
}

// The keys walk the table's rows as the mouse picks them: a key that moves the selection reports it and
// leaves the focus in the table; Enter or Tab after such a move goes on from the row, as a click does.
LRESULT CALLBACK Win32Window::TableKeys(HWND list, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                        DWORD_PTR data) {
    auto* self = reinterpret_cast<Win32Window*>(data);
    const auto goesOn = [&](WPARAM key) {
        return self->m_movedByKey && (key == VK_RETURN || (key == VK_TAB && GetKeyState(VK_SHIFT) >= 0));
    };
    switch (message) {
        case WM_GETDLGCODE:
            if (lParam != 0) {
                const MSG* next = reinterpret_cast<const MSG*>(lParam);
                if (next->message == WM_KEYDOWN && goesOn(next->wParam)) return DLGC_WANTMESSAGE;
            }
            break;
        case WM_SETFOCUS:
            self->m_movedByKey = false;
            break;
        case WM_KEYDOWN: {
            // The table editor's keys, on the selected row.
            const bool ctrl = GetKeyState(VK_CONTROL) < 0, shift = GetKeyState(VK_SHIFT) < 0;
            void (RadioConfigDialog::*edit)() = nullptr;
            if (ctrl && wParam == 'C') edit = &RadioConfigDialog::OnCopyRows;
            if (ctrl && wParam == 'V') edit = &RadioConfigDialog::OnPasteRows;
            if (ctrl && !shift && wParam == 'Z') edit = &RadioConfigDialog::OnUndo;
            if (ctrl && (wParam == 'Y' || (shift && wParam == 'Z'))) edit = &RadioConfigDialog::OnRedo;
            if (!ctrl && !shift && wParam == VK_DELETE) edit = &RadioConfigDialog::OnClearRows;
            if (edit) {
                if (self->m_dialog) (self->m_dialog->*edit)();
                return 0;
            }
            if (goesOn(wParam)) {
                self->m_movedByKey = false;
                if (self->m_dialog && self->m_tableClick) (self->m_dialog->*self->m_tableClick)();
                return 0;
            }
            const bool step = wParam == VK_UP || wParam == VK_DOWN || wParam == VK_PRIOR || wParam == VK_NEXT ||
                              wParam == VK_HOME || wParam == VK_END;
            if (!step) break;
            const LRESULT before = SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED);
            const LRESULT moved = DefSubclassProc(list, message, wParam, lParam);
            const LRESULT after = SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED);
            if (after != before && after >= 0) {
                self->m_movedByKey = true;
                if (self->m_dialog && self->m_tableKeyMove) (self->m_dialog->*self->m_tableKeyMove)();
            }
            return moved;
        }
        default:
            break;
    }
    return DefSubclassProc(list, message, wParam, lParam);
}

// The program's texts are 8-bit: a typed character beyond them is refused, and a paste holding one is
// refused whole.
LRESULT CALLBACK Win32Window::TextOnly(HWND edit, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
    if (message == WM_CHAR && wParam > 0xFF) {
        MessageBeep(MB_OK);
        return 0;
    }
    if (message == WM_PASTE && OpenClipboard(edit)) {
        bool fits = true;
        if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
            if (const auto* text = static_cast<const wchar_t*>(GlobalLock(data))) {
                for (const wchar_t* c = text; *c; ++c) fits = fits && *c <= 0xFF;
                GlobalUnlock(data);
            }
        }
        CloseClipboard();
        if (!fits) {
            MessageBeep(MB_OK);
            return 0;
        }
    }
    return DefSubclassProc(edit, message, wParam, lParam);
}

void Win32Window::Layout() {
    HWND window = m_controls.Dialog();
    if (!window || m_placements.empty()) return;
    RECT client{};
    GetClientRect(window, &client);
    const int dx = client.right - m_baseClient.cx;
    const int dy = client.bottom - m_baseClient.cy;
    HDWP moves = BeginDeferWindowPos(static_cast<int>(m_placements.size()));
    for (const Placement& p : m_placements) {
        const PixelRect r = Grown(p.placed, p.growth, dx, dy);
        if (moves) {
            moves = DeferWindowPos(moves, p.control, nullptr, r.x, r.y, r.width, r.height,
                                   SWP_NOZORDER | SWP_NOACTIVATE);
        }
    }
    if (moves) EndDeferWindowPos(moves);
    InvalidateRect(window, nullptr, TRUE);
}

// One file is taken while Open could be pressed; its question comes once the drop has ended, so that the
// program the file came from is not kept waiting.
void Win32Window::Dropped(HDROP drop) {
    const UINT count = DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
    if (count == 1 && ::IsWindowEnabled(GetDlgItem(m_controls.Dialog(), ctl::kOpen))) {
        std::string path(static_cast<std::size_t>(DragQueryFileA(drop, 0, nullptr, 0)) + 1, '\0');
        path.resize(DragQueryFileA(drop, 0, path.data(), static_cast<UINT>(path.size())));
        m_dropped = path;
        PostMessageW(m_controls.Dialog(), kDropMessage, 0, 0);
    }
    DragFinish(drop);
}

void Win32Window::CloseWhenAllowed() {
    if (HWND window = m_controls.Dialog()) PostMessageW(window, kCloseMessage, 0, 0);
}

// A message box or chooser the window has open is cancelled first; then the dialog closes without a
// question, or is asked again a moment later while a command runs.
void Win32Window::TryToClose() {
    HWND window = m_controls.Dialog();
    if (!window || !m_dialog) return;
    if (HWND modal = GetLastActivePopup(window); modal && modal != window) {
        PostMessageW(modal, WM_COMMAND, IDCANCEL, 0);
        PostMessageW(modal, WM_COMMAND, IDNO, 0);
        SetTimer(window, kCloseTimer, 50, nullptr);
        return;
    }
    if (!m_dialog->CloseWithoutAsking()) SetTimer(window, kCloseTimer, 50, nullptr);
}

// Each control is named for a screen reader as the template says: the window's three "Write" buttons are
// "Home Numbers Write", "Serial Number Write" and "User Description Write". A system without the
// annotation service leaves the names to the captions.
void Win32Window::NameControls() {
    if (FAILED(CoCreateInstance(kAnnotationService, nullptr, CLSCTX_INPROC_SERVER, kAnnotationInterface,
                                reinterpret_cast<void**>(&m_names)))) {
        m_names = nullptr;
        return;
    }
    for (const ControlTemplate& control : MainDialogTemplate().controls) {
        if (control.id == ctl::kStatic) continue;
        HWND item = GetDlgItem(m_controls.Dialog(), control.id);
        if (!item) continue;
        const std::wstring name = Latin1ToWide(control.accessibleName);
        m_names->SetHwndPropStr(item, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, kNameProperty, name.c_str());
    }
}

// A value that is missing, damaged or one the window could not use is passed over.
void Win32Window::RestoreSettings() {
    if (!m_options.rememberSettings) return;
    const std::wstring file = SettingsFile();
    if (const auto port = KeptValue(file, L"port"); port && IsDigits(*port) && ParsePortNumber(*port)) {
        m_controls.SetDlgItemText(ctl::kSerialPortEdit, *port);
    }
    if (const auto baud = KeptValue(file, L"baud"); baud && IsDigits(*baud)) {
        if (const auto speed = ParseDialogInt(*baud); speed && *speed > 0) m_controls.SetDlgItemText(ctl::kBaudEdit, *baud);
    }
    if (const auto folder = KeptValue(file, L"folder"); folder && !folder->empty()) m_controls.SetFolder(*folder);
    const auto kept = KeptValue(file, L"geometry");
    const std::optional<RECT> place = kept ? ParsePlace(*kept) : std::nullopt;
    if (!place) return;
    // Only on a screen there is now, and no larger than it, nor smaller than the window can be.
    HMONITOR screen = MonitorFromRect(&*place, MONITOR_DEFAULTTONULL);
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (!screen || !GetMonitorInfoW(screen, &info)) return;
    const RECT& work = info.rcWork;
    const LONG width = std::clamp<LONG>(place->right - place->left, m_leastWindow.cx, work.right - work.left);
    const LONG height = std::clamp<LONG>(place->bottom - place->top, m_leastWindow.cy, work.bottom - work.top);
    const LONG x = std::clamp<LONG>(place->left, work.left, std::max(work.left, work.right - width));
    const LONG y = std::clamp<LONG>(place->top, work.top, std::max(work.top, work.bottom - height));
    SetWindowPos(m_controls.Dialog(), nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

// Only the window's own keys are written; whatever else the file holds stays.
void Win32Window::SaveSettings() {
    if (!m_options.rememberSettings) return;
    const std::wstring file = SettingsFile();
    if (file.empty()) return;
    CreateDirectoryW(file.substr(0, file.rfind(L'\\')).c_str(), nullptr);
    const auto write = [&](const wchar_t* key, const std::string& value) {
        WritePrivateProfileStringW(kSection, key, Latin1ToWide(value).c_str(), file.c_str());
    };
    write(L"port", m_controls.GetDlgItemText(ctl::kSerialPortEdit));
    write(L"baud", m_controls.GetDlgItemText(ctl::kBaudEdit));
    WINDOWPLACEMENT placement{};
    placement.length = sizeof placement;
    if (GetWindowPlacement(m_controls.Dialog(), &placement)) {
        const RECT& r = placement.rcNormalPosition;
        write(L"geometry", std::to_string(r.left) + " " + std::to_string(r.top) + " " +
                               std::to_string(r.right - r.left) + " " + std::to_string(r.bottom - r.top));
    }
    if (!m_controls.Folder().empty()) write(L"folder", m_controls.Folder());
}
