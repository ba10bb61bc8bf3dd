// The DLL entry of a module built on the framework layer. Linked into the DLL
// only: programs that link the module's code for testing have no entry of this kind.
#include "Module.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved)
{
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        return afx::detail::ProcessAttach(module);
    case DLL_PROCESS_DETACH:
        // At process exit (reserved non-null) other DLLs may already be gone.
        if (!reserved) afx::detail::ProcessDetach();
        break;
    }
    return TRUE;
}
