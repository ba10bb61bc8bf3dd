// The framework layer's modal dialog: a dialog built from a template in this
// module's resources, with command dispatch through one table, data exchange
// between members and controls, the list-initialisation resource, geometry
// helpers, and a barrier that keeps exceptions out of the system's code.
//
// A derived dialog overrides the virtual operations it needs and lists its
// command handlers in one table:
//
//     afx::CommandMap CMyDlg::GetCommandMap() const
//     {
//         static const afx::CommandEntry entries[] = {
//             afx::OnCommand(BN_CLICKED, IDC_APPLY, &CMyDlg::OnApply),
//         };
//         return afx::CommandMap(entries);
//     }
//
// IDOK and IDCANCEL reach OnOK and OnCancel without a table entry.
#pragma once

#include "String.h"

#include <windows.h>
#include <cstddef>

namespace afx {

class CDialog;

// A thin wrapper of a combo box control, bound by DDX_Control.
class CComboBox {
public:
    HWND m_hWnd = nullptr;

    int GetCurSel() const;                  // CB_ERR when nothing is selected
    int SetCurSel(int index);               // -1 clears the selection
};

// One data exchange: which dialog, and in which direction. It stops at its first
// failed step; UpdateData then answers FALSE after OnDataExchangeError.
class CDataExchange {
public:
    CDataExchange(CDialog* dialog, bool saveAndValidate) noexcept
        : m_pDlgWnd(dialog), m_bSaveAndValidate(saveAndValidate) {}

    // The control `id` of the dialog; null when the template has none or a step failed.
    HWND PrepareCtrl(int id) const;
    // Marks the exchange failed at control `id` (the first failure stays); false.
    bool Fail(int id) noexcept { if (!m_idFailed) m_idFailed = id; return false; }

    CDialog* m_pDlgWnd;
    bool m_bSaveAndValidate;    // true: controls to members; false: members to controls
    int m_idFailed = 0;         // the control whose step failed; 0 while none has
};

// The steps; each answers false when it failed (no such control, no such position).
// Window text of control `id` <-> `value`.
bool DDX_Text(CDataExchange* pDX, int id, CString& value);
// Check state of button `id` (0 unchecked, 1 checked, 2 indeterminate) <-> `value`.
bool DDX_Check(CDataExchange* pDX, int id, int& value);
// Selected position of combo box `id` <-> `index` (-1: none selected).
bool DDX_CBIndex(CDataExchange* pDX, int id, int& index);
// Binds `control` to control `id` (the first exchange binds, later ones keep it).
bool DDX_Control(CDataExchange* pDX, int id, CComboBox& control);

// A command handler: a member function of the dialog without arguments.
using CommandHandler = void (CDialog::*)();

// (notification code, control id) -> handler, one row of a dialog's command table.
struct CommandEntry {
    WORD code;
    WORD id;
    CommandHandler handler;
};

// A row for a handler of a class derived from CDialog.
template <typename Derived>
CommandEntry OnCommand(WORD code, WORD id, void (Derived::*handler)())
{
    return CommandEntry{code, id, static_cast<CommandHandler>(handler)};
}

// A dialog's command table: a view of a static array of rows.
struct CommandMap {
    CommandMap() noexcept = default;
    template <std::size_t N>
    CommandMap(const CommandEntry (&rows)[N]) noexcept : entries(rows), count(N) {}

    const CommandEntry* entries = nullptr;
    std::size_t count = 0;
};

class CDialog {
public:
    // `templateId`: a dialog template in this module's resources; `hwndParent`: the owner (may be null).
    CDialog(UINT templateId, HWND hwndParent) noexcept;
    virtual ~CDialog();
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    // Runs the dialog modally (DialogBoxParam); the value given to EndDialog,
    // or -1 when the dialog could not be created.
    INT_PTR DoModal();

    HWND GetDlgItem(int id) const;
    // Enables or disables control `id`; sends control `id` a message, its answer.
    void EnableItem(int id, bool enable) const;
    LRESULT SendItemMessage(int id, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;

    // Exchange between members and controls (true: controls to members); FALSE
    // when a step failed. Notifications that the exchange itself causes are
    // not dispatched while it runs.
    BOOL UpdateData(BOOL saveAndValidate = TRUE);

    void EndDialog(int result);

    // Dialog units of the template's font to pixels.
    void MapDialogRect(RECT* rect) const;
    // Client rectangle to window rectangle for the dialog's styles, without a
    // menu and without a client edge.
    void CalcWindowRect(RECT* rect) const;
    // Centres the dialog over its owner when that is visible and not
    // minimised, else on the work area; kept inside the work area.
    void CenterWindow();
    void MoveWindow(int x, int y, int width, int height, BOOL repaint = TRUE);
    void GetWindowRect(RECT* rect) const;

protected:
    // Called after the list-initialisation resource has been carried out. The
    // base exchanges members to controls; TRUE lets the system give the focus
    // to the first control of the tab order.
    virtual BOOL OnInitDialog();
    // IDOK: the base exchanges controls to members and, when that succeeded, ends with IDOK.
    virtual void OnOK();
    // IDCANCEL (Cancel, Escape, the close box): the base ends with IDCANCEL.
    virtual void OnCancel();
    // WM_DESTROY: called once while the window is being destroyed, when it and its controls
    // still exist; the system destroys the window afterwards.
    virtual void OnDestroy() {}
    virtual void DoDataExchange(CDataExchange*) {}
    // A step of an exchange failed at control `id`: the base beeps and gives it the focus.
    virtual void OnDataExchangeError(int id, BOOL saveAndValidate);
    virtual CommandMap GetCommandMap() const { return CommandMap(); }

    HWND m_hWnd = nullptr;

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT message, WPARAM wParam);
    bool DispatchCommand(WORD code, WORD id);
    void ExecuteDlgInit();
    void ReportException(const char* text);

    UINT m_nIDTemplate;
    HWND m_hWndParent;
    bool m_bInExchange = false;
};

} // namespace afx
