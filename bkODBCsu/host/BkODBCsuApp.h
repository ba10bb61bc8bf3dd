// The module's application object: COM for the loading thread, for the
// module's whole life, so the dialog's COM components find it initialised.
#pragma once

#include "../afx/Module.h"

class CBkODBCsuApp : public afx::CWinApp {
public:
    CBkODBCsuApp() = default;

    BOOL InitInstance() override;
    int ExitInstance() override;

private:
    // Only a successful CoInitialize (S_OK or S_FALSE) is balanced at unload:
    // uninitialising a thread this module never joined would tear down the
    // caller's apartment.
    bool m_comInitialized = false;
};
