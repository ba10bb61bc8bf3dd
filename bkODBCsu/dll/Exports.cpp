// The module's exports: the driver setup function the ODBC installer and the
// ODBC Data Source Administrator call to add, configure or remove a data
// source of this driver, in its 8-bit and its Unicode form. They stand
// above the silent path and the dialog, and choose between them.
#include "../core/DSNAttributes.h"
#include "../dialog/ConfigDsnDlg.h"
#include "../host/RequestLock.h"
#include "../shared/NameText.h"
#include "afx/Module.h"

#include <windows.h>
#include <odbcinst.h>

namespace {

BOOL RunRequest(HWND hwndParent, WORD fRequest, const char* driver, const char* list)
{
    CDSNAttributes attributes(driver, list);

    // Every read and write of a request runs under the request lock, so that
    // no other request reads or writes between them; the dialog runs without
    // it, since the user may look at it for as long as they like.
    if (fRequest == ODBC_REMOVE_DSN) {
        const host::RequestLock lock;
        return lock && attributes.RemoveDataSource() ? TRUE : FALSE;
    }

    if (hwndParent) {
        {
            const host::RequestLock lock;
            if (!lock || !attributes.LoadDataSource()) return FALSE;
        }
        if (RunConfigDsnDialog(attributes, hwndParent) != IDOK) return FALSE;
    }
    // A request that cannot be written is a failure the deploying script must see.
    const host::RequestLock lock;
    return lock && attributes.WriteDataSource() ? TRUE : FALSE;
}

// Every call from outside runs with this module's resources current and
// nothing may unwind into the installer: out of memory ends the call.
template <typename Call>
BOOL AtTheBoundary(const Call& call) noexcept
{
    afx::ModuleStateGuard moduleState;
    try {
        return call();
    } catch (...) {
        return FALSE;
    }
}

} // namespace

extern "C" BOOL WINAPI ConfigDSN(HWND hwndParent, WORD fRequest, LPCSTR lpszDriver,
                                 LPCSTR lpszAttributes)
{
    return AtTheBoundary([&] { return RunRequest(hwndParent, fRequest, lpszDriver, lpszAttributes); });
}

// The same request from a Unicode caller. Text the ANSI code page cannot hold
// exactly is refused before anything is read or written, removal included:
// converted loosely, another data source's name could come out of it.
extern "C" BOOL WINAPI ConfigDSNW(HWND hwndParent, WORD fRequest, LPCWSTR lpszDriver,
                                  LPCWSTR lpszAttributes)
{
    return AtTheBoundary([&] {
        const auto driver = lpszDriver ? TextToAnsi(lpszDriver) : std::optional<std::string>();
        const auto list = ListToAnsi(lpszAttributes);
        if ((lpszDriver && !driver) || !list) return FALSE;
        return RunRequest(hwndParent, fRequest, driver ? driver->c_str() : nullptr, list->c_str());
    });
}
