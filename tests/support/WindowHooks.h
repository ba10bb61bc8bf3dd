// Hooks on this thread's windows: the one way the tests see and answer
// message boxes, a watcher of the windows made, and a wait that keeps this
// thread's messages flowing.
#pragma once

#include "NonCopyable.h"

#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace bktest {

// A message box as it showed itself.
struct SeenBox {
    HWND window = nullptr;      // gone once answered
    HWND owner = nullptr;
    std::string caption;
    std::string text;
    std::vector<int> buttons;   // ids of the push buttons shown (IDOK, IDYES, ...)
    HICON icon = nullptr;       // the icon shown
};

// A CBT hook on this thread while the object lives (as Wine's own tests
// hook windows): Derived::OnCbt sees every event.
template <typename Derived>
class ThreadCbtHook : NonCopyable {
protected:
    ThreadCbtHook() {
        t_hooked = static_cast<Derived*>(this);
        m_hook = SetWindowsHookExA(WH_CBT, Hook, nullptr, GetCurrentThreadId());
    }
    ~ThreadCbtHook() {
        if (m_hook) UnhookWindowsHookEx(m_hook);
        t_hooked = nullptr;
    }

private:
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam) {
        if (t_hooked) t_hooked->OnCbt(code, reinterpret_cast<HWND>(wParam));
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    static inline thread_local Derived* t_hooked = nullptr;
    HHOOK m_hook = nullptr;
};

// Answers every message box shown on this thread while it lives: records it
// and presses the button that answer() last named. A dialog's driving
// thread reads the record too.
class MessageBoxAnswerer : public ThreadCbtHook<MessageBoxAnswerer> {
public:
    explicit MessageBoxAnswerer(int button = IDOK) : m_button(button) {}

    std::vector<SeenBox> seen() const;
    void answer(int button) { m_button = button; }
    // The first box that Next() has not handed out yet, once it has been
    // answered and is gone; nothing when none comes within `timeoutMs`.
    std::optional<SeenBox> Next(DWORD timeoutMs = 5000);

private:
    friend class ThreadCbtHook<MessageBoxAnswerer>;
    void OnCbt(int code, HWND window);
    std::atomic<int> m_button;
    mutable std::mutex m_lock;
    std::vector<SeenBox> m_seen;
    size_t m_handedOut = 0;
};

// Watches this thread while it lives: records the class of every window
// created and cancels every dialog that activates, so that a dialog that
// should not appear fails a test instead of blocking it.
class WindowWatcher : public ThreadCbtHook<WindowWatcher> {
public:
    const std::vector<std::string>& created() const { return m_created; }

private:
    friend class ThreadCbtHook<WindowWatcher>;
    void OnCbt(int code, HWND window);
    std::vector<std::string> m_created;
};

// Whether `window` is of the dialog class (#32770): dialogs, message boxes, the folder browser.
bool IsDialog(HWND window);
// A press of button `id` of `dialog` as the button reports it, posted.
void PostClick(HWND dialog, int id);

// Polls `condition` every 10 ms, pumping this thread's messages, for at
// most `timeoutMs`; true as soon as it holds.
bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs = 5000);

} // namespace bktest
