#include "DialogDriver.h"
#include "afx/Handles.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace dlgtest {

namespace {

const char kDialogClass[] = "#32770";
// The static that holds a message box's text.
const int kBoxTextId = 0xFFFF;
const int kBoxIconId = 0x0440;

std::string ClassOf(HWND window)
{
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

struct DialogSearch {
    HWND owner, except, found;
};

BOOL CALLBACK MatchDialog(HWND window, LPARAM param)
{
    auto* s = reinterpret_cast<DialogSearch*>(param);
    if (window == s->except || !IsWindowVisible(window) || ClassOf(window) != kDialogClass)
        return TRUE;
    if (s->owner && GetWindow(window, GW_OWNER) != s->owner) return TRUE;
    s->found = window;
    return FALSE;
}

// A visible dialog-class window of `thread` owned by `owner` (any owner when null).
HWND FindOwnedDialog(DWORD thread, HWND owner, HWND except = nullptr)
{
    DialogSearch search{owner, except, nullptr};
    EnumThreadWindows(thread, MatchDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Ends whatever a script left open: boxes first (the first of their buttons
// that does not confirm), then the dialog itself.
void CloseLeftovers(HWND dialog, DWORD thread)
{
    bktest::WaitFor(
        [&] {
            if (!IsWindow(dialog)) return true;
            while (HWND box = FindOwnedDialog(thread, dialog)) {
                for (int id : {IDNO, IDCANCEL, IDOK}) {
                    if (HWND button = GetDlgItem(box, id)) {
                        PostMessageA(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                                     reinterpret_cast<LPARAM>(button));
                        break;
                    }
                }
                if (!bktest::WaitFor([&] { return !IsWindowVisible(box); }, 2000)) break;
            }
            PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
            return !IsWindow(dialog);
        },
        10000);
}

// Before the first window: see bktest::UseUnmanagedWindows.
const bool g_unmanagedWindows = (bktest::UseUnmanagedWindows(), true);

LRESULT CALLBACK ParentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(window, message, wParam, lParam);
}

// A message to the dialog's thread, answered within a bound: a handler that
// unexpectedly opens a modal window must fail the test, not block it.
LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(window, message, wParam, lParam, SMTO_NORMAL, 5000, &result)) {
        ADD_FAILURE() << "message " << message << " not answered within 5 s (a modal window open?)";
        return 0;
    }
    return static_cast<LRESULT>(result);
}

} // namespace

HWND DialogDriver::Focus() const
{
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(m_uiThread, &info);
    return info.hwndFocus;
}

void DialogDriver::SetText(int id, const std::string& text)
{
    Send(Item(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void DialogDriver::Type(int id, const std::string& text)
{
    for (unsigned char c : text) Send(Item(id), WM_CHAR, c, 1);
}

int DialogDriver::Selection(int comboId) const
{
    return static_cast<int>(Send(Item(comboId), CB_GETCURSEL, 0, 0));
}

void DialogDriver::Select(int comboId, int index)
{
    Send(Item(comboId), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

std::vector<std::string> DialogDriver::Items(int comboId) const
{
    std::vector<std::string> items;
    const int count = static_cast<int>(Send(Item(comboId), CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        char text[256] = {};
        Send(Item(comboId), CB_GETLBTEXT, static_cast<WPARAM>(i),
                     reinterpret_cast<LPARAM>(text));
        items.emplace_back(text);
    }
    return items;
}

bool DialogDriver::Checked(int id) const
{
    return Send(Item(id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void DialogDriver::SetChecked(int id, bool checked)
{
    Send(Item(id), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

void DialogDriver::Click(int id)
{
    Send(m_dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(Item(id)));
}

void DialogDriver::Press(int id)
{
    PostMessageA(m_dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(Item(id)));
}

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

std::optional<Box> DialogDriver::WaitForBox(DWORD timeoutMs) const
{
    HWND found = nullptr;
    if (!bktest::WaitFor([&] { return (found = FindOwnedDialog(m_uiThread, m_dialog)) != nullptr; },
                         timeoutMs))
        return std::nullopt;
    Box box;
    box.window = found;
    box.owner = GetWindow(found, GW_OWNER);
    box.caption = bktest::WindowText(found);
    box.text = bktest::WindowText(GetDlgItem(found, kBoxTextId));
    for (int id : {IDOK, IDCANCEL, IDABORT, IDRETRY, IDIGNORE, IDYES, IDNO}) {
        HWND button = GetDlgItem(found, id);
        if (button && IsWindowVisible(button)) box.buttons.push_back(id);
    }
    HWND icon = GetDlgItem(found, kBoxIconId);
    box.icon = icon ? reinterpret_cast<HICON>(SendMessageA(icon, STM_GETICON, 0, 0)) : nullptr;
    return box;
}

void DialogDriver::Answer(const Box& box, int button) const
{
    PostMessageA(box.window, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box.window, button)));
    bktest::WaitFor([&] { return !IsWindow(box.window); }, 5000);
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
    Create((area.left + area.right - width) / 2, (area.top + area.bottom - height) / 2, width,
           height);
}

ParentWindow::ParentWindow(int x, int y, int width, int height)
{
    Create(x, y, width, height);
}

void ParentWindow::Create(int x, int y, int width, int height)
{
    static const ATOM atom = [] {
        WNDCLASSA cls = {};
        cls.lpfnWndProc = ParentProc;
        cls.hInstance = GetModuleHandleA(nullptr);
        cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_APPWORKSPACE + 1);
        cls.lpszClassName = "bkTestParent";
        return RegisterClassA(&cls);
    }();
    (void)atom;
    m_window = CreateWindowExA(0, "bkTestParent", "ODBC Data Source Administrator (test)",
                               WS_OVERLAPPEDWINDOW | WS_VISIBLE, x, y, width, height, nullptr,
                               nullptr, GetModuleHandleA(nullptr), nullptr);
    EXPECT_TRUE(m_window) << "no parent window, error " << GetLastError();
}

ParentWindow::~ParentWindow()
{
    if (m_window) DestroyWindow(m_window);
}

bool DriveModal(HWND parent, const std::function<void()>& open,
                const std::function<void(DialogDriver&)>& script)
{
    bool shown = false;
    std::atomic<bool> returned{false};
    const DWORD uiThread = GetCurrentThreadId();
    std::thread driving([&] {
        HWND dialog = nullptr;
        bktest::WaitFor(
            [&] { return returned || (dialog = FindOwnedDialog(uiThread, parent)) != nullptr; },
            10000);
        if (!dialog) {
            ADD_FAILURE() << "the dialog did not appear";
            return;
        }
        shown = true;
        DialogDriver driver(dialog, parent, uiThread);
        script(driver);
        CloseLeftovers(dialog, uiThread);
    });
    open();
    returned = true;
    driving.join();
    return shown;
}

DialogRun RunDialogWithParent(const bktest::SetupModule& module, HWND parent,
                              const std::string& attributes,
                              const std::function<void(DialogDriver&)>& script, WORD request,
                              const char* driver)
{
    DialogRun run;
    run.shown = DriveModal(
        parent, [&] { run.result = module.ConfigDSN(parent, request, driver, attributes); }, script);
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

