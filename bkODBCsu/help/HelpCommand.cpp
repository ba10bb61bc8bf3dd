#include "HelpCommand.h"
#include "ComString.h"
#include "HtmlHelp.h"
#include "../afx/Handles.h"

#include <windows.h>
#include <objbase.h>
#include <io.h>

namespace {

const char kHelpFile[] = "bkODBCsu.chm";
const wchar_t kLogicalHelpPath[] = L"bkPath://Help/bkODBCsu.chm";
const wchar_t kPathsProgId[] = L"Vexa.KVL.Core.Paths.9.5";
// The paths interface {20D47130-8A26-4535-B328-71FF42AEAB7F}.
const IID kIID_Paths = {0x20D47130, 0x8A26, 0x4535, {0xB3, 0x28, 0x71, 0xFF, 0x42, 0xAE, 0xAB, 0x7F}};
// ResolvePath(BSTR logicalPath, BSTR* resolved): entry 29 of the interface's
// function table, counting QueryInterface as 0. Only this one entry is used,
// so it is called through the table rather than declared with all the others.
const int kResolvePathEntry = 29;
const DWORD_PTR kHelpContext = 1000;

using ResolvePathFunction = HRESULT(STDMETHODCALLTYPE*)(IUnknown*, BSTR, BSTR*);

HRESULT ResolvePath(IUnknown* paths, BSTR logicalPath, BSTR* resolved)
{
    void** table = *reinterpret_cast<void***>(paths);
    auto resolve = reinterpret_cast<ResolvePathFunction>(table[kResolvePathEntry]);
    return resolve(paths, logicalPath, resolved);
}

} // namespace

void ShowModuleHelp()
{
    afx::CString helpPath(kHelpFile);
    afx::ComPtr<IUnknown> paths;
    CLSID clsid;
    if (SUCCEEDED(::CLSIDFromProgID(kPathsProgId, &clsid)))
        ::CoCreateInstance(clsid, nullptr, CLSCTX_ALL, kIID_Paths, paths.put_void());

    if (paths) {
        CBstrHolder logicalPath(kLogicalHelpPath);
        CBstrHolder resolved;
        // The status says nothing the output does not: only an output that
        // names something existing is used.
        ResolvePath(paths.get(), logicalPath.get(), resolved.put());
        if (resolved.get() && ::_waccess(resolved.get(), 0) == 0)
            helpPath = BstrToAnsi(resolved.get());
    }

    InvokeHtmlHelp(nullptr, helpPath, HH_HELP_CONTEXT, kHelpContext);
}
