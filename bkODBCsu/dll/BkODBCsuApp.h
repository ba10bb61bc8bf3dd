// The module's application object: COM for the loading thread, for the
// module's whole life, so the dialog's COM components find it initialised.
#pragma once

#include "afx/Module.h"

class CBkODBCsuApp : public afx::CWinApp {
public:
    CBkODBCsuApp() = default;

    BOOL InitInstance() override;
    int ExitInstance() override;

private:
    // The thread whose successful CoInitialize (S_OK or S_FALSE) is balanced
    // at unload, 0 for none. The module may be freed on another thread:
    // uninitialising one this module never joined would tear down the
    // caller's apartment there.
    DWORD m_comThread = 0;
};
