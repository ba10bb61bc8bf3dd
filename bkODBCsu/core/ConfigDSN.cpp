// The module's one export: the driver setup function the ODBC installer and
// the ODBC Data Source Administrator call to add, configure or remove a data
// source of this driver. It is the module's top: the one place in core that
// reaches up to the dialog.
#include "DSNAttributes.h"
#include "../afx/Module.h"
#include "../dialog/ConfigDsnDlg.h"

#include <windows.h>
#include <odbcinst.h>

extern "C" BOOL WINAPI ConfigDSN(HWND hwndParent, WORD fRequest, LPCSTR lpszDriver,
                                 LPCSTR lpszAttributes)
{
    afx::ModuleStateGuard moduleState;
    try {
        CDSNAttributes attributes(lpszDriver, lpszAttributes);

        if (fRequest == ODBC_REMOVE_DSN) return attributes.RemoveDataSource() ? TRUE : FALSE;

        if (hwndParent) {
            if (!attributes.LoadDataSource()) return FALSE;
            if (RunConfigDsnDialog(attributes, hwndParent) != IDOK) return FALSE;
        } else {
            // A silent request that cannot be written is a failure the
            // deploying script must see.
            if (!attributes.IsValidDataSource() || !attributes.KeepStoredValues()) return FALSE;
        }
        return attributes.WriteDataSource() ? TRUE : FALSE;
    } catch (...) {
        // Nothing may unwind into the installer: out of memory ends the call.
        return FALSE;
    }
}
