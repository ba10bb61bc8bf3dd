// The tests' one driver of real modal windows (the configuration dialog, the
// framework's dialog, the shell's folder browser): the modal call runs on the
// test's thread while a script on a second thread finds the window and works
// it through window messages. Every wait and every message is bounded, and
// whatever a script left open is cancelled, so a test fails instead of hanging.
#pragma once

#include "InstallerUnderTest.h"
#include "NonCopyable.h"

#include <windows.h>
#include <odbcinst.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace dlgtest {

class DialogDriver {
public:
    DialogDriver(HWND dialog, DWORD uiThread) : m_dialog(dialog), m_uiThread(uiThread) {}

    HWND dialog() const { return m_dialog; }
    HWND Item(int id) const { return GetDlgItem(m_dialog, id); }
    std::string Caption() const;
    std::string Text(int id) const;
    // The direct child of the dialog (a static without an id) that shows
    // `text`; null when there is none.
    HWND Showing(const std::string& text) const;
    bool Enabled(int id) const { return IsWindowEnabled(Item(id)) != FALSE; }
    // A message to the dialog, or to its control `id`, answered within 5 s
    // (else a test failure and 0).
    LRESULT Send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    LRESULT SendItem(int id, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    // The control that has the keyboard focus on the dialog's thread.
    HWND Focus() const;

    // Replaces the edit's text as a paste would (the edit reports the change).
    void SetText(int id, const std::string& text);
    // Types `text` character by character into control `id`.
    void Type(int id, const std::string& text);
    int Selection(int comboId) const;
    // Selects as the user does: the list reports the change to the dialog.
    void Select(int comboId, int index);
    std::vector<std::string> Items(int comboId) const;
    bool Checked(int id) const;
    void SetChecked(int id, bool checked);

    // A button press as the button reports it. Click waits for the handler;
    // Press does not (for handlers that open a modal window).
    void Click(int id);
    void Press(int id);
    // A key pressed while control `id` has the focus (through the dialog manager).
    void Key(int id, UINT virtualKey);

    RECT WindowRect() const;
    RECT ClientRect() const;
    // Dialog units of the dialog's font to pixels.
    RECT Dlu(int left, int top, int right, int bottom) const;

    // The next window the dialog opens (the folder browser), as a driver of
    // its own, or nothing within `timeoutMs`. Message boxes are answered by
    // a bktest::MessageBoxAnswerer on the dialog's thread.
    std::optional<DialogDriver> WaitForDialog(DWORD timeoutMs = 5000) const;
    bool WaitClosed(DWORD timeoutMs = 5000) const;

private:
    HWND m_dialog;
    DWORD m_uiThread;
};

// A visible top-level window on this thread, centred on the work area, to own
// the dialog or chooser under test.
class ParentWindow : bktest::NonCopyable {
public:
    ParentWindow();
    ~ParentWindow();
    HWND get() const { return m_window; }

private:
    HWND m_window = nullptr;
};

// A visible dialog-class window of `thread` owned by `owner` (any owner when
// null); null when there is none.
HWND FindDialog(DWORD thread, HWND owner = nullptr);

struct DialogRun {
    BOOL result = -1;       // what ConfigDSN returned
    bool shown = false;     // whether the dialog appeared and the script ran
};

// Runs `open` on this thread, which shows a modal dialog owned by `hwndParent`,
// while `script` drives that dialog from a second thread; whatever the script
// leaves open is cancelled until `open` returns. False (and a test failure)
// when no dialog appeared within 10 s.
bool DriveModal(HWND hwndParent, const std::function<void()>& open,
                const std::function<void(DialogDriver&)>& script);

// Calls ConfigDSN(hwndParent, request, driver, attributes) through `module` on this
// thread with a fresh parent window, while `script` drives the dialog from a
// second thread. Records a failure when the dialog does not appear.
DialogRun RunDialog(const bktest::SetupModule& module, const std::string& attributes,
                    const std::function<void(DialogDriver&)>& script,
                    WORD request = ODBC_CONFIG_DSN,
                    const char* driver = bktest::kDriver);

// Same, with a parent window the caller made.
DialogRun RunDialogWithParent(const bktest::SetupModule& module, HWND hwndParent,
                              const std::string& attributes,
                              const std::function<void(DialogDriver&)>& script,
                              WORD request = ODBC_CONFIG_DSN, const char* driver = bktest::kDriver);

} // namespace dlgtest
