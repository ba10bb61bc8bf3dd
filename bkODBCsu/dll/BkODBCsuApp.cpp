#include "BkODBCsuApp.h"

#include <objbase.h>

CBkODBCsuApp theApp;

BOOL CBkODBCsuApp::InitInstance()
{
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
