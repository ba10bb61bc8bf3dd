#include "BkODBCsuApp.h"

#include <objbase.h>

CBkODBCsuApp theApp;

BOOL CBkODBCsuApp::InitInstance()
{
    m_comInitialized = SUCCEEDED(::CoInitialize(nullptr));
    return afx::CWinApp::InitInstance();
}

int CBkODBCsuApp::ExitInstance()
{
    if (m_comInitialized) {
        ::CoUninitialize();
        m_comInitialized = false;
    }
    return afx::CWinApp::ExitInstance();
}
