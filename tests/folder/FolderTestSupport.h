// Helpers of the folder chooser tests: the data-folder component stand-in
// registered for a test, bkCommon's xs_logout count, a plain owner window,
// a log of what is sent to the shell browser, and a second thread that
// drives a modal window while the test thread sits in its loop.
#pragma once

#include "DataFolderStandin.h"

#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace foldertest {

// Registers the stand-in component machine-wide for the object's lifetime
// and resets its script and records.
class RegisteredComponent {
public:
    RegisteredComponent();
    ~RegisteredComponent();
    RegisteredComponent(const RegisteredComponent&) = delete;
    RegisteredComponent& operator=(const RegisteredComponent&) = delete;

    static DataFolderStandinRecord Record();
};

// The ProgID registered, but its class' server file missing: not creatable.
class UncreatableComponent {
public:
    UncreatableComponent();
    ~UncreatableComponent();
    UncreatableComponent(const UncreatableComponent&) = delete;
    UncreatableComponent& operator=(const UncreatableComponent&) = delete;
};

// Calls of xs_logout so far, as bkCommon's stand-in counts them.
LONG LogoutCalls();

// A plain top-level window of the calling thread, not shown.
class OwnerWindow {
public:
    OwnerWindow();
    ~OwnerWindow();
    OwnerWindow(const OwnerWindow&) = delete;
    OwnerWindow& operator=(const OwnerWindow&) = delete;
    HWND get() const { return m_window; }

private:
    HWND m_window = nullptr;
};

// A message sent to the shell browser by the code under test or the driver.
struct BrowserMessage {
    HWND window;
    UINT message;
    WPARAM wParam;
    std::string text;
    bool fromDriver;    // sent from another thread (the test's driver)
};

// Records, on the thread that creates it, every BFFM_SETSELECTIONA and
// BFFM_SETSTATUSTEXTA (a hook on the calling thread's window procedures).
class BrowserMessageLog {
public:
    BrowserMessageLog();
    ~BrowserMessageLog();
    BrowserMessageLog(const BrowserMessageLog&) = delete;
    BrowserMessageLog& operator=(const BrowserMessageLog&) = delete;

    // The messages of one kind, those the driver sent only when asked.
    std::vector<BrowserMessage> Messages(UINT message, bool withDriver = false) const;
    std::vector<std::string> Texts(UINT message, bool withDriver = false) const;

private:
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam);
    HHOOK m_hook = nullptr;
    mutable std::mutex m_lock;
    std::vector<BrowserMessage> m_messages;
};

// Runs `drive` on a second thread while the calling thread runs `modal`.
// After `drive` has returned, any dialog still open on the calling thread is
// cancelled, so a test that lost its way ends instead of hanging.
void RunModal(const std::function<void()>& modal, const std::function<void()>& drive);

// Polls from the driving thread (no messages pumped) for at most timeoutMs.
bool Poll(const std::function<bool()>& condition, DWORD timeoutMs = 5000);

// The first visible dialog (class #32770) of `thread` owned by `owner` whose
// caption is `caption` (any caption when empty); null when none.
HWND FindDialog(DWORD thread, HWND owner, const std::string& caption = std::string());

std::string Text(HWND window);
// Texts of a window's direct children, in z-order.
std::vector<std::string> ChildTexts(HWND window);
bool HasChildText(HWND window, const std::string& text);

// Presses a dialog button as a click would (the command posted to the dialog).
void PostCommand(HWND dialog, int id);

// A folder of C:\bkfolder-tests whose full path has exactly `length`
// characters (nested when needed), created when `create` is set.
std::string TestFolder(char letter, size_t length, bool create = true);

} // namespace foldertest
