#include "HelpCommand.h"
#include "afx/ComString.h"
#include "HtmlHelp.h"
#include "afx/Handles.h"
#include "../shared/Components.h"

#include <windows.h>
#include <objbase.h>
#include <io.h>

namespace {

const char kHelpFile[] = "bkODBCsu.chm";
const wchar_t kLogicalHelpPath[] = L"bkPath://Help/bkODBCsu.chm";
const DWORD_PTR kHelpContext = 1000;

} // namespace

void ShowModuleHelp()
{
    afx::CString helpPath(kHelpFile);
    afx::ComPtr<IPaths> paths;
    CLSID clsid;
    if (SUCCEEDED(::CLSIDFromProgID(kPathsProgId, &clsid)))
        ::CoCreateInstance(clsid, nullptr, CLSCTX_ALL, kIID_Paths, paths.put_void());

    if (paths) {
        CBstrHolder logicalPath(kLogicalHelpPath);
        CBstrHolder resolved;
        // The status says nothing the output does not: only an output that
        // names something existing is used.
        paths->ResolvePath(logicalPath.get(), resolved.put());
        if (resolved.get() && ::_waccess(resolved.get(), 0) == 0)
            helpPath = BstrToAnsi(resolved.get());
    }

    InvokeHtmlHelp(nullptr, helpPath, HH_HELP_CONTEXT, kHelpContext);
}
