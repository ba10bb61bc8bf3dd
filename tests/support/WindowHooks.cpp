#include "WindowHooks.h"

namespace bktest {

namespace {

// The controls of the system's message box that show its text and its icon.
const int kBoxTextId = 0xFFFF;
const int kBoxIconId = 0x0440;

std::string ClassOf(HWND window)
{
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

std::string WindowText(HWND window)
{
    char text[2048] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

// The module's dialogs have statics without an id (0xFFFF) too, but no box's icon.
bool IsMessageBox(HWND window)
{
    return IsDialog(window) && GetDlgItem(window, kBoxTextId) && GetDlgItem(window, kBoxIconId);
}

SeenBox Describe(HWND box)
{
    SeenBox seen{box, GetWindow(box, GW_OWNER), WindowText(box), WindowText(GetDlgItem(box, kBoxTextId)),
                 {}, nullptr};
    for (int id : {IDOK, IDCANCEL, IDABORT, IDRETRY, IDIGNORE, IDYES, IDNO}) {
        HWND button = GetDlgItem(box, id);
        if (button && (GetWindowLongA(button, GWL_STYLE) & WS_VISIBLE)) seen.buttons.push_back(id);
    }
    seen.icon = reinterpret_cast<HICON>(SendDlgItemMessageA(box, kBoxIconId, STM_GETICON, 0, 0));
    return seen;
}

} // namespace

bool IsDialog(HWND window) { return ClassOf(window) == "#32770"; }

void PostClick(HWND dialog, int id)
{
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

std::vector<SeenBox> MessageBoxAnswerer::seen() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_seen;
}

std::optional<SeenBox> MessageBoxAnswerer::Next(DWORD timeoutMs)
{
    std::optional<SeenBox> box;
    WaitFor([&] {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_seen.size() > m_handedOut) box = m_seen[m_handedOut++];
        return box.has_value();
    }, timeoutMs);
    if (box) WaitFor([&] { return !IsWindow(box->window); }, timeoutMs);
    return box;
}

void MessageBoxAnswerer::OnCbt(int code, HWND window)
{
    if (code != HCBT_ACTIVATE || !IsMessageBox(window)) return;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_seen.push_back(Describe(window));
    }
    PostClick(window, m_button);
}

void WindowWatcher::OnCbt(int code, HWND window)
{
    if (code == HCBT_CREATEWND) m_created.push_back(ClassOf(window));
    if (code == HCBT_ACTIVATE && IsDialog(window)) PostClick(window, IDCANCEL);
}

bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    for (;;) {
        if (condition()) return true;
        if (GetTickCount() - start >= timeoutMs) return false;
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(10);
    }
}

} // namespace bktest
