#include "BkODBCsuApp.h"

#include <objbase.h>

CBkODBCsuApp theApp;

namespace {

// The product family's common library stays for the life of the process once
// the module has been loaded. The installer loads and frees the module for
// every request: mapping and unmapping the library each time cost a silent
// request more than anything it does itself. One pin per process, whatever
// the number of loads; the import still keeps the module from loading where
// the library is absent.
void KeepCommonLibrary() noexcept
{
    HMODULE common = nullptr;
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN, L"bkCommon.dll", &common);
}

} // namespace

BOOL CBkODBCsuApp::InitInstance()
{
    KeepCommonLibrary();
    // S_FALSE (the thread was already in an apartment) took a reference too.
    m_comThread = SUCCEEDED(::CoInitialize(nullptr)) ? ::GetCurrentThreadId() : 0;
    return afx::CWinApp::InitInstance();
}

int CBkODBCsuApp::ExitInstance()
{
    if (m_comThread != 0 && m_comThread == ::GetCurrentThreadId()) ::CoUninitialize();
    m_comThread = 0;
    return afx::CWinApp::ExitInstance();
}
