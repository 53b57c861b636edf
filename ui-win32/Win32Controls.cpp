#include "ui-win32/Win32Controls.h"

#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>
#include <chrono>
#include <type_traits>

#include "app/ConsoleLog.h"
#include "app/ControlIds.h"
#include "device/DialogText.h"
#include "table/HomeNumberTable.h"

namespace {

bool IsOperatorInput(UINT message) {
    return (message >= WM_KEYFIRST && message <= WM_KEYLAST) ||
           (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST && message != WM_MOUSEMOVE);
}

// The progress bar shows its text over the bar, as the window's other toolkit does.
LRESULT CALLBACK ProgressWithText(HWND bar, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
    if (message != WM_PAINT) return DefSubclassProc(bar, message, wParam, lParam);
    const LRESULT painted = DefSubclassProc(bar, message, wParam, lParam);
    wchar_t text[64] = {};
    GetWindowTextW(bar, text, 64);
    if (text[0] != L'\0') {
        RECT area{};
        GetClientRect(bar, &area);
        HDC dc = GetDC(bar);
        const HGDIOBJ font = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(GetParent(bar), WM_GETFONT, 0, 0)));
        SetBkMode(dc, TRANSPARENT);
        DrawTextW(dc, text, -1, &area, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
        SelectObject(dc, font);
        ReleaseDC(bar, dc);
    }
    return painted;
}

}  // namespace

std::wstring Latin1ToWide(std::string_view bytes) {
    std::wstring text;
    text.reserve(bytes.size());
    for (const char c : bytes) text.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    return text;
}

std::string WideToLatin1(std::wstring_view text) {
    std::string bytes;
    bytes.reserve(text.size());
    for (const wchar_t c : text) bytes.push_back(c <= 0xFF ? static_cast<char>(c) : '?');
    return bytes;
}

Win32Controls::Win32Controls() : m_thread(GetCurrentThreadId()) {}

Win32Controls::~Win32Controls() {
    if (m_table) m_table->SetChangeListener(nullptr);
}

void Win32Controls::Attach(HWND dialog) {
    m_dialog = dialog;
    if (!dialog) return;
    {
        std::lock_guard lock(m_mutex);
        if (m_postedQueued) PostMessageW(dialog, kPostedMessage, 0, 0);
    }
    EnumChildWindows(
        dialog,
        [](HWND child, LPARAM) -> BOOL {
            wchar_t kind[32] = {};
            GetClassNameW(child, kind, 32);
            if (lstrcmpiW(kind, PROGRESS_CLASSW) == 0) SetWindowSubclass(child, ProgressWithText, 1, 0);
            return TRUE;
        },
        0);
}

template <class Fn>
auto Win32Controls::OnWindowThread(Fn&& fn) -> decltype(fn()) {
    using Result = decltype(fn());
    if (IsWindowThread() || !m_dialog) return fn();
    if constexpr (std::is_void_v<Result>) {
        const std::function<void()> unit = [&] { fn(); };
        SendMessageW(m_dialog, kRunMessage, 0, reinterpret_cast<LPARAM>(&unit));
    } else {
        Result result{};
        const std::function<void()> unit = [&] { result = fn(); };
        SendMessageW(m_dialog, kRunMessage, 0, reinterpret_cast<LPARAM>(&unit));
        return result;
    }
}

HWND Win32Controls::Item(int id) const { return m_dialog ? GetDlgItem(m_dialog, id) : nullptr; }

bool Win32Controls::Handle(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) {
    switch (message) {
        case kRunMessage:
            (*reinterpret_cast<const std::function<void()>*>(lParam))();
            result = TRUE;
            return true;
        case kPostedMessage:
            SetTimer(m_dialog, kPostedTimer, kBatchMs, nullptr);
            result = TRUE;
            return true;
        case kRowsMessage:
            SetTimer(m_dialog, kRowsTimer, kBatchMs, nullptr);
            result = TRUE;
            return true;
        case WM_TIMER:
            if (wParam == kPostedTimer) {
                KillTimer(m_dialog, kPostedTimer);
                RunPosted();
            } else if (wParam == kRowsTimer) {
                KillTimer(m_dialog, kRowsTimer);
                ShowRows();
            } else {
                return false;
            }
            result = TRUE;
            return true;
        case WM_NOTIFY:
            if (TableText(lParam)) {
                result = TRUE;
                return true;
            }
            if (const std::optional<LRESULT> drawn = TableDraw(lParam)) {
                SetWindowLongPtrW(m_dialog, DWLP_MSGRESULT, *drawn);
                result = TRUE;
                return true;
            }
            return false;
        default:
            return false;
    }
}

int Win32Controls::GetDlgItemInt(int id) { return DialogIntOrZero(GetDlgItemText(id)); }

void Win32Controls::SetDlgItemInt(int id, int value) { SetDlgItemText(id, std::to_string(value)); }

std::string Win32Controls::GetDlgItemText(int id) {
    return OnWindowThread([&] {
        HWND item = Item(id);
        if (!item) return std::string();
        std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(item)) + 1, L'\0');
        text.resize(static_cast<std::size_t>(GetWindowTextW(item, text.data(), static_cast<int>(text.size()))));
        return WideToLatin1(text);
    });
}

void Win32Controls::SetDlgItemText(int id, std::string_view text) {
    OnWindowThread([&] {
        if (HWND item = Item(id)) SetWindowTextW(item, Latin1ToWide(text).c_str());
    });
}

// The limit is on typing only: a text the program sets is never cut.
void Win32Controls::SetLimitText(int id, int limit) {
    OnWindowThread([&] {
        if (HWND item = Item(id)) SendMessageW(item, EM_SETLIMITTEXT, static_cast<WPARAM>(std::max(limit, 0)), 0);
    });
}

void Win32Controls::SetSel(int id, int start, int end) {
    OnWindowThread([&] {
        HWND item = Item(id);
        if (!item) return;
        SendMessageW(item, EM_SETSEL, static_cast<WPARAM>(start), static_cast<LPARAM>(end));
        SendMessageW(item, EM_SCROLLCARET, 0, 0);
    });
}

void Win32Controls::EnableWindow(int id, bool enable) {
    OnWindowThread([&] {
        if (HWND item = Item(id)) ::EnableWindow(item, enable ? TRUE : FALSE);
    });
}

bool Win32Controls::IsWindowEnabled(int id) {
    return OnWindowThread([&] {
        HWND item = Item(id);
        return item != nullptr && ::IsWindowEnabled(item) != FALSE;
    });
}

// Through the dialog, so that the default push button follows the focus as the keyboard would move it.
void Win32Controls::SetFocus(int id) {
    OnWindowThread([&] {
        if (HWND item = Item(id)) SendMessageW(m_dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(item), TRUE);
    });
}

int Win32Controls::GetFocus() {
    return OnWindowThread([&] {
        HWND focused = ::GetFocus();
        // A control's own child (a list's header, a combo box's edit) counts as the control.
        while (focused && GetParent(focused) != m_dialog) focused = GetParent(focused);
        return focused ? GetDlgCtrlID(focused) : 0;
    });
}

void Win32Controls::ShowWindow(int id, bool show) {
    OnWindowThread([&] {
        if (HWND item = Item(id)) ::ShowWindow(item, show ? SW_SHOWNA : SW_HIDE);
    });
}

void Win32Controls::SetProgress(int id, int value, int maximum, std::string_view text) {
    OnWindowThread([&] {
        HWND bar = Item(id);
        if (!bar) return;
        SendMessageW(bar, PBM_SETRANGE32, 0, maximum);
        SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(value), 0);
        SetWindowTextW(bar, Latin1ToWide(text).c_str());
        InvalidateRect(bar, nullptr, TRUE);
    });
}

bool Win32Controls::GetCheck(int id) {
    return OnWindowThread([&] {
        HWND item = Item(id);
        return item && SendMessageW(item, BM_GETCHECK, 0, 0) == BST_CHECKED;
    });
}

void Win32Controls::SetCheck(int id, bool checked) {
    OnWindowThread([&] {
        if (HWND item = Item(id)) SendMessageW(item, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
    });
}

void Win32Controls::AddString(int id, std::string_view entry) {
    OnWindowThread([&] {
        if (HWND item = Item(id)) {
            const std::wstring text = Latin1ToWide(entry);
            SendMessageW(item, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
        }
    });
}

int Win32Controls::GetCurSel(int id) {
    return OnWindowThread([&] {
        HWND item = Item(id);
        const LRESULT chosen = item ? SendMessageW(item, CB_GETCURSEL, 0, 0) : CB_ERR;
        return chosen == CB_ERR ? -1 : static_cast<int>(chosen);
    });
}

void Win32Controls::SetCurSel(int id, int index) {
    OnWindowThread([&] {
        if (HWND item = Item(id)) SendMessageW(item, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    });
}

// Widths are for a screen of 96 dots per inch, and grow with the window's.
void Win32Controls::InsertColumn(int id, int column, std::string_view heading, int widthPixels) {
    OnWindowThread([&] {
        HWND list = Item(id);
        if (!list) return;
        std::wstring text = Latin1ToWide(heading);
        HDC dc = GetDC(list);
        const int dpi = GetDeviceCaps(dc, LOGPIXELSX);
        ReleaseDC(list, dc);
        LVCOLUMNW added{};
        added.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        added.pszText = text.data();
        added.cx = MulDiv(widthPixels, dpi > 0 ? dpi : 96, 96);
        added.iSubItem = column;
        SendMessageW(list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&added));
        SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    });
}

// The list holds no rows of its own: it asks for each cell as it shows it (an owner-data list), so a
// Read All that changes every row only has the rows on screen drawn again.
void Win32Controls::ShowTable(int id, table::HomeNumberTable* shown) {
    OnWindowThread([&] {
        if (m_table) m_table->SetChangeListener(nullptr);
        m_table = shown;
        m_tableId = id;
        HWND list = Item(id);
        if (!list) return;
        if (!m_table) {
            SendMessageW(list, LVM_SETITEMCOUNT, 0, 0);
            return;
        }
        m_table->SetChangeListener(
            [this](std::int32_t first, std::int32_t last, bool replaced) { QueueRows(first, last, replaced); });
        SendMessageW(list, LVM_SETITEMCOUNT, static_cast<WPARAM>(m_table->RowCount()), 0);
        InvalidateRect(list, nullptr, TRUE);
    });
}

// From any thread.
void Win32Controls::QueueRows(std::int32_t first, std::int32_t last, bool replaced) {
    {
        std::lock_guard lock(m_mutex);
        const bool empty = m_rowsLast < m_rowsFirst;
        m_rowsFirst = empty ? first : std::min(m_rowsFirst, first);
        m_rowsLast = empty ? last : std::max(m_rowsLast, last);
        m_rowsReplaced = m_rowsReplaced || replaced;
        if (m_rowsQueued) return;
        m_rowsQueued = true;
    }
    if (m_dialog) PostMessageW(m_dialog, kRowsMessage, 0, 0);
}

// A row replaced whole is no longer the one the operator chose: it loses the selection.
void Win32Controls::ShowRows() {
    std::int32_t first = 0, last = -1;
    bool replaced = false;
    {
        std::lock_guard lock(m_mutex);
        std::swap(first, m_rowsFirst);
        std::swap(last, m_rowsLast);
        std::swap(replaced, m_rowsReplaced);
        m_rowsQueued = false;
    }
    HWND list = Item(m_tableId);
    if (!list || !m_table || last < first) return;
    // The marks of a Verify hold only until the table changes.
    if (std::find(m_marked.begin(), m_marked.end(), true) != m_marked.end()) {
        m_marked.clear();
        InvalidateRect(list, nullptr, FALSE);
    }
    if (replaced) {
        const int selected = GetSelectionMark(m_tableId);
        if (selected >= first && selected <= last) {
            LVITEMW state{};
            state.stateMask = LVIS_SELECTED;
            SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(selected), reinterpret_cast<LPARAM>(&state));
        }
    }
    SendMessageW(list, LVM_REDRAWITEMS, static_cast<WPARAM>(first), static_cast<LPARAM>(last));
}

bool Win32Controls::TableText(LPARAM notification) {
    const auto* header = reinterpret_cast<const NMHDR*>(notification);
    if (!m_table || header->idFrom != static_cast<UINT_PTR>(m_tableId) || header->code != LVN_GETDISPINFOW) {
        return false;
    }
    auto* asked = reinterpret_cast<NMLVDISPINFOW*>(notification);
    LVITEMW& item = asked->item;
    if ((item.mask & LVIF_TEXT) == 0 || item.iItem < 0 || item.iItem >= m_table->RowCount()) return true;
    if (item.iSubItem < 0 || item.iSubItem >= table::kColumnCount) return true;
    m_cell = Latin1ToWide(m_table->Row(item.iItem).Cell(static_cast<table::Column>(item.iSubItem)));
    if (item.cchTextMax > 0) lstrcpynW(item.pszText, m_cell.c_str(), item.cchTextMax);
    return true;
}

std::optional<LRESULT> Win32Controls::TableDraw(LPARAM notification) {
    const auto* header = reinterpret_cast<const NMHDR*>(notification);
    if (!m_table || header->idFrom != static_cast<UINT_PTR>(m_tableId) || header->code != NM_CUSTOMDRAW) {
        return std::nullopt;
    }
    auto* draw = reinterpret_cast<NMLVCUSTOMDRAW*>(notification);
    if (draw->nmcd.dwDrawStage == CDDS_PREPAINT) return m_marked.empty() ? CDRF_DODEFAULT : CDRF_NOTIFYITEMDRAW;
    if (draw->nmcd.dwDrawStage != CDDS_ITEMPREPAINT) return CDRF_DODEFAULT;
    const auto row = static_cast<std::size_t>(draw->nmcd.dwItemSpec);
    if (row < m_marked.size() && m_marked[row]) draw->clrTextBk = RGB(255, 214, 153);
    return CDRF_DODEFAULT;
}

std::vector<int> Win32Controls::GetSelectedRows(int id) {
    return OnWindowThread([&] {
        std::vector<int> rows;
        HWND list = Item(id);
        for (LRESULT at = -1; list;) {
            at = SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(at), LVNI_SELECTED);
            if (at < 0) break;
            rows.push_back(static_cast<int>(at));
        }
        return rows;
    });
}

void Win32Controls::MarkRows(int id, const std::vector<int>& positions) {
    OnWindowThread([&] {
        if (id != m_tableId || !m_table) return;
        m_marked.assign(static_cast<std::size_t>(m_table->RowCount()), false);
        for (const int p : positions) {
            if (p >= 0 && static_cast<std::size_t>(p) < m_marked.size()) m_marked[static_cast<std::size_t>(p)] = true;
        }
        if (positions.empty()) m_marked.clear();
        if (HWND list = Item(id)) InvalidateRect(list, nullptr, FALSE);
    });
}

std::optional<std::string> Win32Controls::GetClipboardText() {
    return OnWindowThread([&]() -> std::optional<std::string> {
        if (!OpenClipboard(m_dialog)) return std::nullopt;
        std::optional<std::string> text;
        if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
            if (const auto* wide = static_cast<const wchar_t*>(GlobalLock(data))) {
                text = WideToLatin1(wide);
                GlobalUnlock(data);
            }
        }
        CloseClipboard();
        return text;
    });
}

void Win32Controls::SetClipboardText(std::string_view text) {
    OnWindowThread([&] {
        const std::wstring wide = Latin1ToWide(text);
        HGLOBAL data = GlobalAlloc(GMEM_MOVEABLE, (wide.size() + 1) * sizeof(wchar_t));
        if (!data) return;
        if (auto* copy = static_cast<wchar_t*>(GlobalLock(data))) {
            std::copy(wide.c_str(), wide.c_str() + wide.size() + 1, copy);
            GlobalUnlock(data);
        }
        if (!OpenClipboard(m_dialog)) {
            GlobalFree(data);
            return;
        }
        EmptyClipboard();
        if (!SetClipboardData(CF_UNICODETEXT, data)) GlobalFree(data);  // the clipboard owns it once taken
        CloseClipboard();
    });
}

int Win32Controls::GetSelectionMark(int id) {
    return OnWindowThread([&] {
        HWND list = Item(id);
        if (!list) return -1;
        return static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
    });
}

// A line ends at "\r\n" only; a lone '\r' or '\n' (from a device text) shows as a space.
void Win32Controls::AppendConsole(std::string_view bytes) {
    OnWindowThread([&] {
        HWND console = Item(ctl::kLogConsole);
        if (!console) return;
        std::wstring shown;
        for (const char c : ShownLineEnds(bytes, m_heldCarriageReturn)) {
            if (c == '\n') shown.push_back(L'\r');
            shown.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
        }
        if (shown.empty()) return;
        const int end = GetWindowTextLengthW(console);
        SendMessageW(console, EM_SETSEL, static_cast<WPARAM>(end), end);
        SendMessageW(console, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(shown.c_str()));
    });
}

void Win32Controls::ClearConsole() {
    OnWindowThread([&] {
        m_heldCarriageReturn = false;
        if (HWND console = Item(ctl::kLogConsole)) SetWindowTextW(console, L"");
    });
}

void Win32Controls::ScrollConsoleTo(int firstVisibleLine) {
    OnWindowThread([&] {
        HWND console = Item(ctl::kLogConsole);
        if (!console) return;
        const auto first = static_cast<int>(SendMessageW(console, EM_GETFIRSTVISIBLELINE, 0, 0));
        SendMessageW(console, EM_LINESCROLL, 0, firstVisibleLine - first);
    });
}

void Win32Controls::ShowMessage(std::string_view text, std::string_view caption) {
    OnWindowThread([&] {
        MessageBoxW(m_dialog, Latin1ToWide(text).c_str(), Latin1ToWide(caption).c_str(), MB_OK);
    });
}

bool Win32Controls::AskYesNo(std::string_view text, std::string_view caption) {
    return OnWindowThread([&] {
        return MessageBoxW(m_dialog, Latin1ToWide(text).c_str(), Latin1ToWide(caption).c_str(), MB_YESNO) == IDYES;
    });
}

std::optional<std::string> Win32Controls::ChooseSaveFile(const FileChoice& choice) {
    return OnWindowThread([&] { return Choose(choice, true); });
}

std::optional<std::string> Win32Controls::ChooseOpenFile(const FileChoice& choice) {
    return OnWindowThread([&] { return Choose(choice, false); });
}

// The filter "Name (*.ext)|*.ext|...||" with its bars as the zero bytes the chooser takes. The chooser
// opens in the folder the last one was left in.
std::optional<std::string> Win32Controls::Choose(const FileChoice& choice, bool save) {
    std::string filter(choice.filter);
    std::replace(filter.begin(), filter.end(), '|', '\0');
    std::string extension(choice.defaultExtension);
    std::vector<char> name(MAX_PATH * 4, '\0');
    std::copy_n(choice.initialName.begin(), std::min(choice.initialName.size(), name.size() - 1), name.begin());
    OPENFILENAMEA ask{};
    ask.lStructSize = sizeof ask;
    ask.hwndOwner = m_dialog;
    ask.lpstrFilter = filter.c_str();
    ask.nFilterIndex = 1;
    ask.lpstrFile = name.data();
    ask.nMaxFile = static_cast<DWORD>(name.size());
    ask.lpstrInitialDir = m_folder.empty() ? nullptr : m_folder.c_str();
    ask.lpstrDefExt = extension.empty() ? nullptr : extension.c_str();
    ask.Flags = OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR |
                (save ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST);
    const BOOL chosen = save ? GetSaveFileNameA(&ask) : GetOpenFileNameA(&ask);
    if (!chosen) return std::nullopt;
    std::string path(name.data());
    const std::size_t slash = path.find_last_of("\\/");
    if (slash != std::string::npos) m_folder = path.substr(0, slash);
    return path;
}

void Win32Controls::EndDialog(int result) {
    OnWindowThread([&] { ::EndDialog(m_dialog, result); });
}

// On the window's thread the window keeps painting and handling what other threads send it, while what
// the operator clicks or types is dropped.
void Win32Controls::Sleep(int ms) {
    if (ms <= 0) return;
    if (!IsWindowThread()) {
        ::Sleep(static_cast<DWORD>(ms));
        return;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left.count()), QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(msg.wParam));
                return;
            }
            if (IsOperatorInput(msg.message)) continue;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

void Win32Controls::DiscardPendingInput() {
    if (!IsWindowThread()) return;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE)) {
    }
    while (PeekMessageW(&msg, nullptr, WM_LBUTTONDOWN, WM_MOUSELAST, PM_REMOVE)) {
    }
}

bool Win32Controls::IsWindowThread() { return GetCurrentThreadId() == m_thread; }

void Win32Controls::RunAsUnit(const std::function<void()>& unit) {
    OnWindowThread([&] { unit(); });
}

void Win32Controls::Post(std::function<void()> work) {
    {
        std::lock_guard lock(m_mutex);
        m_posted.push_back(std::move(work));
        if (m_postedQueued) return;
        m_postedQueued = true;
    }
    if (m_dialog) PostMessageW(m_dialog, kPostedMessage, 0, 0);
}

void Win32Controls::RunPosted() {
    std::vector<std::function<void()>> posted;
    {
        std::lock_guard lock(m_mutex);
        posted.swap(m_posted);
        m_postedQueued = false;
    }
    for (const std::function<void()>& work : posted) work();
}
