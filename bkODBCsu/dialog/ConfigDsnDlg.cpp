#include "ConfigDsnDlg.h"

INT_PTR RunConfigDsnDialog(CDSNAttributes&, HWND)
{
    // The interactive edit is not available yet: nothing is written.
    return IDCANCEL;
}
