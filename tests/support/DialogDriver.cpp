#include "DialogDriver.h"

#include "WindowHooks.h"
#include "common/Registry.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace dlgtest {

namespace {

struct DialogSearch {
    HWND owner, found;
};

BOOL CALLBACK MatchDialog(HWND window, LPARAM param)
{
    auto* s = reinterpret_cast<DialogSearch*>(param);
    if (!IsWindowVisible(window) || !bktest::IsDialog(window)) return TRUE;
    if (s->owner && GetWindow(window, GW_OWNER) != s->owner) return TRUE;
    s->found = window;
    return FALSE;
}

// Ends whatever a script left open until the modal call has returned, the
// innermost window first, with the first of its buttons that does not confirm.
void CloseLeftovers(DWORD thread, const std::atomic<bool>& returned)
{
    bktest::WaitFor(
        [&] {
            HWND dialog = FindDialog(thread);
            for (HWND inner; dialog && (inner = FindDialog(thread, dialog)) != nullptr;)
                dialog = inner;
            if (dialog && !returned) {
                for (int id : {IDNO, IDCANCEL, IDOK})
                    if (GetDlgItem(dialog, id)) {
                        bktest::PostClick(dialog, id);
                        break;
                    }
                bktest::WaitFor([&] { return returned || !IsWindowVisible(dialog); }, 2000);
            }
            return returned.load();
        },
        10000);
}

// Before the first window: see reg::UseUnmanagedWindows.
const bool g_unmanagedWindows = (reg::UseUnmanagedWindows(), true);

// A message to the dialog's thread, answered within a bound: a handler that
// unexpectedly opens a modal window must fail the test, not block it.
LRESULT SendBounded(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(window, message, wParam, lParam, SMTO_NORMAL, 5000, &result)) {
        ADD_FAILURE() << "message " << message << " not answered within 5 s (a modal window open?)";
        return 0;
    }
    return static_cast<LRESULT>(result);
}

std::string TextOf(HWND window)
{
    char text[2048] = {};
    if (window) SendBounded(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
    return text;
}

} // namespace

HWND FindDialog(DWORD thread, HWND owner)
{
    DialogSearch search{owner, nullptr};
    EnumThreadWindows(thread, MatchDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::string DialogDriver::Caption() const { return TextOf(m_dialog); }

std::string DialogDriver::Text(int id) const { return TextOf(Item(id)); }

HWND DialogDriver::Showing(const std::string& text) const
{
    for (HWND child = GetWindow(m_dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if (TextOf(child) == text) return child;
    return nullptr;
}

LRESULT DialogDriver::Send(UINT message, WPARAM wParam, LPARAM lParam) const
{
    return SendBounded(m_dialog, message, wParam, lParam);
}

LRESULT DialogDriver::SendItem(int id, UINT message, WPARAM wParam, LPARAM lParam) const
{
    return SendBounded(Item(id), message, wParam, lParam);
}

HWND DialogDriver::Focus() const
{
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(m_uiThread, &info);
    return info.hwndFocus;
}

void DialogDriver::SetText(int id, const std::string& text)
{
    SendItem(id, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void DialogDriver::Type(int id, const std::string& text)
{
    for (unsigned char c : text) SendItem(id, WM_CHAR, c, 1);
}

int DialogDriver::Selection(int comboId) const { return static_cast<int>(SendItem(comboId, CB_GETCURSEL)); }

void DialogDriver::Select(int comboId, int index)
{
    SendItem(comboId, CB_SETCURSEL, static_cast<WPARAM>(index));
    Send(WM_COMMAND, MAKEWPARAM(comboId, CBN_SELCHANGE), reinterpret_cast<LPARAM>(Item(comboId)));
}

std::vector<std::string> DialogDriver::Items(int comboId) const
{
    std::vector<std::string> items;
    const int count = static_cast<int>(SendItem(comboId, CB_GETCOUNT));
    for (int i = 0; i < count; ++i) {
        char text[256] = {};
        SendItem(comboId, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
        items.emplace_back(text);
    }
    return items;
}

bool DialogDriver::Checked(int id) const { return SendItem(id, BM_GETCHECK) == BST_CHECKED; }

void DialogDriver::SetChecked(int id, bool checked)
{
    SendItem(id, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED);
}

void DialogDriver::Click(int id)
{
    Send(WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(Item(id)));
}

void DialogDriver::Press(int id) { bktest::PostClick(m_dialog, id); }

void DialogDriver::Key(int id, UINT virtualKey)
{
    PostMessageA(Item(id), WM_KEYDOWN, virtualKey, 1);
    PostMessageA(Item(id), WM_KEYUP, virtualKey, 0xC0000001);
}

RECT DialogDriver::WindowRect() const
{
    RECT rect = {};
    GetWindowRect(m_dialog, &rect);
    return rect;
}

RECT DialogDriver::ClientRect() const
{
    RECT rect = {};
    GetClientRect(m_dialog, &rect);
    return rect;
}

RECT DialogDriver::Dlu(int left, int top, int right, int bottom) const
{
    RECT rect = {left, top, right, bottom};
    EXPECT_TRUE(MapDialogRect(m_dialog, &rect));
    return rect;
}

std::optional<DialogDriver> DialogDriver::WaitForDialog(DWORD timeoutMs) const
{
    HWND found = nullptr;
    if (!bktest::WaitFor([&] { return (found = FindDialog(m_uiThread, m_dialog)) != nullptr; },
                         timeoutMs))
        return std::nullopt;
    return DialogDriver(found, m_uiThread);
}

bool DialogDriver::WaitClosed(DWORD timeoutMs) const
{
    return bktest::WaitFor([&] { return !IsWindow(m_dialog); }, timeoutMs);
}

ParentWindow::ParentWindow()
{
    RECT area = {};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    const int width = 560, height = 300;
    static const ATOM atom = [] {
        WNDCLASSA cls = {};
        cls.lpfnWndProc = DefWindowProcA;
        cls.hInstance = GetModuleHandleA(nullptr);
        cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_APPWORKSPACE + 1);
        cls.lpszClassName = "bkTestParent";
        return RegisterClassA(&cls);
    }();
    (void)atom;
    m_window = CreateWindowExA(0, "bkTestParent", "ODBC Data Source Administrator (test)",
                               WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                               (area.left + area.right - width) / 2,
                               (area.top + area.bottom - height) / 2, width, height, nullptr,
                               nullptr, GetModuleHandleA(nullptr), nullptr);
    EXPECT_TRUE(m_window) << "no parent window, error " << GetLastError();
}

ParentWindow::~ParentWindow()
{
    if (m_window) DestroyWindow(m_window);
}

bool DriveModal(HWND hwndParent, const std::function<void()>& open,
                const std::function<void(DialogDriver&)>& script)
{
    bool shown = false;
    std::atomic<bool> returned{false};
    const DWORD uiThread = GetCurrentThreadId();
    std::thread driving([&] {
        HWND dialog = nullptr;
        bktest::WaitFor(
            [&] { return returned || (dialog = FindDialog(uiThread, hwndParent)) != nullptr; }, 10000);
        if (dialog) {
            shown = true;
            DialogDriver driver(dialog, uiThread);
            script(driver);
        } else {
            ADD_FAILURE() << "the dialog did not appear";
        }
        CloseLeftovers(uiThread, returned);
    });
    open();
    returned = true;
    driving.join();
    return shown;
}

DialogRun RunDialogWithParent(const bktest::SetupModule& module, HWND hwndParent,
                              const std::string& attributes,
                              const std::function<void(DialogDriver&)>& script, WORD request,
                              const char* driver)
{
    DialogRun run;
    run.shown = DriveModal(
        hwndParent, [&] { run.result = module.ConfigDSN(hwndParent, request, driver, attributes); }, script);
    return run;
}

DialogRun RunDialog(const bktest::SetupModule& module, const std::string& attributes,
                    const std::function<void(DialogDriver&)>& script, WORD request,
                    const char* driver)
{
    ParentWindow parent;
    return RunDialogWithParent(module, parent.get(), attributes, script, request, driver);
}

} // namespace dlgtest

