#include "HelpCommand.h"
#include "ComString.h"
#include "HtmlHelp.h"
#include "../afx/Handles.h"

#include <windows.h>
#include <objbase.h>
#include <io.h>

// The paths component's interface as far as this module uses it:
// ResolvePath is entry 29 of its function table (QueryInterface counting as
// 0). The 26 entries before it are never called here; they only hold their
// places. External linkage, for the reason given at IDataFolder
// (FolderChoosers.cpp): in an anonymous namespace the call would be dropped.
#define BK_RESERVED(n) virtual HRESULT STDMETHODCALLTYPE Reserved##n() = 0;
struct IPaths : public IUnknown {
    BK_RESERVED(3) BK_RESERVED(4) BK_RESERVED(5) BK_RESERVED(6) BK_RESERVED(7) BK_RESERVED(8) BK_RESERVED(9)
    BK_RESERVED(10) BK_RESERVED(11) BK_RESERVED(12) BK_RESERVED(13) BK_RESERVED(14) BK_RESERVED(15)
    BK_RESERVED(16) BK_RESERVED(17) BK_RESERVED(18) BK_RESERVED(19) BK_RESERVED(20) BK_RESERVED(21)
    BK_RESERVED(22) BK_RESERVED(23) BK_RESERVED(24) BK_RESERVED(25) BK_RESERVED(26) BK_RESERVED(27) BK_RESERVED(28)
    // logicalPath: a bkPath:// name; resolved: out the file it names (the
    // caller frees it), or null.
    virtual HRESULT STDMETHODCALLTYPE ResolvePath(BSTR logicalPath, BSTR* resolved) = 0;
};
#undef BK_RESERVED

namespace {

const char kHelpFile[] = "bkODBCsu.chm";
const wchar_t kLogicalHelpPath[] = L"bkPath://Help/bkODBCsu.chm";
const wchar_t kPathsProgId[] = L"Vexa.KVL.Core.Paths.9.5";
// The paths interface {20D47130-8A26-4535-B328-71FF42AEAB7F}.
const IID kIID_Paths = {0x20D47130, 0x8A26, 0x4535, {0xB3, 0x28, 0x71, 0xFF, 0x42, 0xAE, 0xAB, 0x7F}};
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
