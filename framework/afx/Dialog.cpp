#include "Dialog.h"
#include "Exceptions.h"
#include "Module.h"

#include <cstring>
#include <new>
#include <string>

namespace afx {

namespace {

// The list-initialisation resource: records of control id (WORD), message
// (WORD), data length (DWORD) and data, packed without alignment; a control id
// of 0 ends them. The messages are the old 16-bit numbers of the add-string
// messages.
const WORD kDlgInitResourceType = 240;
const WORD kWin16ListAddString = 0x0401;
const WORD kWin16ComboAddString = 0x0403;

// Clears a flag on every way out of a scope.
class FlagScope {
public:
    explicit FlagScope(bool& flag) noexcept : m_flag(flag) { m_flag = true; }
    ~FlagScope() { m_flag = false; }
    FlagScope(const FlagScope&) = delete;
    FlagScope& operator=(const FlagScope&) = delete;

private:
    bool& m_flag;
};

} // namespace

// ---- CComboBox ----

int CComboBox::GetCurSel() const
{
    return static_cast<int>(::SendMessageA(m_hWnd, CB_GETCURSEL, 0, 0));
}

int CComboBox::SetCurSel(int index)
{
    return static_cast<int>(::SendMessageA(m_hWnd, CB_SETCURSEL, static_cast<WPARAM>(index), 0));
}

// ---- Data exchange ----

HWND CDataExchange::PrepareCtrl(int id) const
{
    return m_idFailed ? nullptr : m_pDlgWnd->GetDlgItem(id);
}

bool DDX_Text(CDataExchange* pDX, int id, CString& value)
{
    HWND control = pDX->PrepareCtrl(id);
    if (!control) return pDX->Fail(id);
    if (pDX->m_bSaveAndValidate) {
        const int length = ::GetWindowTextLengthA(control);
        std::string text(static_cast<size_t>(length) + 1, '\0');
        const int copied = ::GetWindowTextA(control, &text[0], length + 1);
        text.resize(static_cast<size_t>(copied > 0 ? copied : 0));
        value = CString(std::move(text));
    } else {
        ::SetWindowTextA(control, value);
    }
    return true;
}

bool DDX_Check(CDataExchange* pDX, int id, int& value)
{
    HWND control = pDX->PrepareCtrl(id);
    if (!control) return pDX->Fail(id);
    if (pDX->m_bSaveAndValidate)
        value = static_cast<int>(::SendMessageA(control, BM_GETCHECK, 0, 0));
    else
        ::SendMessageA(control, BM_SETCHECK, static_cast<WPARAM>(value), 0);
    return true;
}

bool DDX_CBIndex(CDataExchange* pDX, int id, int& index)
{
    CComboBox combo;
    if (!(combo.m_hWnd = pDX->PrepareCtrl(id))) return pDX->Fail(id);
    if (pDX->m_bSaveAndValidate)
        index = combo.GetCurSel();
    else if (combo.SetCurSel(index) == CB_ERR && index != -1)
        return pDX->Fail(id);
    return true;
}

bool DDX_Control(CDataExchange* pDX, int id, CComboBox& control)
{
    if (!control.m_hWnd) control.m_hWnd = pDX->PrepareCtrl(id);
    return control.m_hWnd || pDX->Fail(id);
}

// ---- CDialog ----

CDialog::CDialog(UINT templateId, HWND hwndParent) noexcept
    : m_nIDTemplate(templateId), m_hWndParent(hwndParent)
{
}

CDialog::~CDialog() = default;

INT_PTR CDialog::DoModal()
{
    return ::DialogBoxParamA(ModuleHandle(), MAKEINTRESOURCEA(m_nIDTemplate), m_hWndParent,
                             &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
}

HWND CDialog::GetDlgItem(int id) const
{
    return ::GetDlgItem(m_hWnd, id);
}

void CDialog::EnableItem(int id, bool enable) const
{
    ::EnableWindow(GetDlgItem(id), enable ? TRUE : FALSE);
}

LRESULT CDialog::SendItemMessage(int id, UINT message, WPARAM wParam, LPARAM lParam) const
{
    return ::SendDlgItemMessageA(m_hWnd, id, message, wParam, lParam);
}

BOOL CDialog::UpdateData(BOOL saveAndValidate)
{
    // A control answers a change of its text with a notification (EN_CHANGE);
    // a handler that reacts to it must not run in the middle of the exchange.
    FlagScope exchanging(m_bInExchange);
    CDataExchange dx(this, saveAndValidate != FALSE);
    DoDataExchange(&dx);
    if (!dx.m_idFailed) return TRUE;
    OnDataExchangeError(dx.m_idFailed, saveAndValidate);
    return FALSE;
}

void CDialog::OnDataExchangeError(int id, BOOL)
{
    ::MessageBeep(static_cast<UINT>(-1));
    ::SetFocus(GetDlgItem(id));
}

void CDialog::EndDialog(int result)
{
    ::EndDialog(m_hWnd, result);
}

void CDialog::MapDialogRect(RECT* rect) const
{
    ::MapDialogRect(m_hWnd, rect);
}

void CDialog::CalcWindowRect(RECT* rect) const
{
    DWORD exStyle = static_cast<DWORD>(::GetWindowLongPtrA(m_hWnd, GWL_EXSTYLE));
    exStyle &= ~static_cast<DWORD>(WS_EX_CLIENTEDGE);
    const DWORD style = static_cast<DWORD>(::GetWindowLongPtrA(m_hWnd, GWL_STYLE));
    ::AdjustWindowRectEx(rect, style, FALSE, exStyle);
}

void CDialog::CenterWindow()
{
    HWND center = ::GetWindow(m_hWnd, GW_OWNER);
    if (center) {
        const LONG_PTR style = ::GetWindowLongPtrA(center, GWL_STYLE);
        if (!(style & WS_VISIBLE) || (style & WS_MINIMIZE)) center = nullptr;
    }

    MONITORINFO monitor = {};
    monitor.cbSize = sizeof monitor;
    ::GetMonitorInfoA(::MonitorFromWindow(center ? center : m_hWnd, MONITOR_DEFAULTTOPRIMARY),
                      &monitor);
    const RECT area = monitor.rcWork;
    RECT around = area;
    if (center) ::GetWindowRect(center, &around);

    RECT self;
    ::GetWindowRect(m_hWnd, &self);
    const int width = self.right - self.left, height = self.bottom - self.top;
    int left = (around.left + around.right) / 2 - width / 2;
    int top = (around.top + around.bottom) / 2 - height / 2;

    // Keep the whole dialog on the work area.
    if (left + width > area.right) left = area.right - width;
    if (left < area.left) left = area.left;
    if (top + height > area.bottom) top = area.bottom - height;
    if (top < area.top) top = area.top;

    ::SetWindowPos(m_hWnd, nullptr, left, top, -1, -1,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CDialog::MoveWindow(int x, int y, int width, int height, BOOL repaint)
{
    ::MoveWindow(m_hWnd, x, y, width, height, repaint);
}

void CDialog::GetWindowRect(RECT* rect) const
{
    ::GetWindowRect(m_hWnd, rect);
}

BOOL CDialog::OnInitDialog()
{
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK()
{
    if (UpdateData(TRUE)) EndDialog(IDOK);
}

void CDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}

void CDialog::ExecuteDlgInit()
{
    HMODULE module = ModuleHandle();
    HRSRC info = ::FindResourceA(module, MAKEINTRESOURCEA(m_nIDTemplate),
                                 MAKEINTRESOURCEA(kDlgInitResourceType));
    if (!info) return;
    HGLOBAL loaded = ::LoadResource(module, info);
    const auto* data = static_cast<const BYTE*>(loaded ? ::LockResource(loaded) : nullptr);
    if (!data) return;
    const DWORD size = ::SizeofResource(module, info);

    const DWORD header = 2 * sizeof(WORD) + sizeof(DWORD);
    for (DWORD at = 0; at + sizeof(WORD) <= size;) {
        WORD id = 0, message = 0;
        DWORD length = 0;
        std::memcpy(&id, data + at, sizeof id);
        if (id == 0 || at + header > size) break;
        std::memcpy(&message, data + at + 2, sizeof message);
        std::memcpy(&length, data + at + 4, sizeof length);
        at += header;
        if (length > size - at) break;
        // The text must end inside the record, whatever the resource says.
        const auto* text = reinterpret_cast<const char*>(data + at);
        if (length > 0 && text[length - 1] == '\0') {
            if (message == kWin16ComboAddString)
                SendItemMessage(id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
            else if (message == kWin16ListAddString)
                SendItemMessage(id, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
        }
        at += length;
    }
}

bool CDialog::DispatchCommand(WORD code, WORD id)
{
    const CommandMap map = GetCommandMap();
    for (std::size_t i = 0; i < map.count; ++i) {
        if (map.entries[i].code == code && map.entries[i].id == id) {
            (this->*map.entries[i].handler)();
            return true;
        }
    }
    if (code == BN_CLICKED && id == IDOK) {
        OnOK();
        return true;
    }
    if (code == BN_CLICKED && id == IDCANCEL) {
        OnCancel();
        return true;
    }
    return false;
}

void CDialog::ReportException(const char* text)
{
    char caption[256] = {};
    if (m_hWnd) ::GetWindowTextA(m_hWnd, caption, sizeof caption);
    ::MessageBoxA(m_hWnd, text, caption, MB_OK | MB_ICONEXCLAMATION);
}

INT_PTR CDialog::HandleMessage(UINT message, WPARAM wParam)
{
    switch (message) {
    case WM_INITDIALOG:
        ExecuteDlgInit();
        return OnInitDialog();
    case WM_COMMAND:
        // Notifications caused by a running exchange are not acted upon.
        if (m_bInExchange) return TRUE;
        return DispatchCommand(HIWORD(wParam), LOWORD(wParam)) ? TRUE : FALSE;
    case WM_DESTROY:
        OnDestroy();
        return FALSE;
    }
    return FALSE;
}

INT_PTR CALLBACK CDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    CDialog* self = nullptr;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<CDialog*>(lParam);
        self->m_hWnd = window;
        ::SetWindowLongPtrA(window, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
    } else {
        self = reinterpret_cast<CDialog*>(::GetWindowLongPtrA(window, DWLP_USER));
    }
    // Messages before WM_INITDIALOG (the font, for instance) get the default treatment.
    if (!self) return FALSE;

    INT_PTR result = FALSE;
    // The barrier: no exception unwinds into the dialog manager. The message
    // that raised it ends there; the user is told and the dialog stays usable.
    try {
        result = self->HandleMessage(message, wParam);
    } catch (const CException& e) {
        self->ReportException(e.What());
    } catch (const std::bad_alloc&) {
        self->ReportException(CMemoryException().What());
    } catch (...) {
        self->ReportException("An unexpected error occurred. The command was not completed.");
    }
    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrA(window, DWLP_USER, 0);
        self->m_hWnd = nullptr;
    }
    return result;
}

} // namespace afx
