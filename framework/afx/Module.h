// The module host of the framework layer: the module handle captured at load,
// the one application object with its start and stop hooks, and the guard that
// makes this module's own resources and manifest current for a call from outside.
#pragma once

#include "Handles.h"

namespace afx {

// The handle of the module this code is linked into. The DLL entry captures it
// at load; linked into a program it is found from the code's own address.
HINSTANCE ModuleHandle() noexcept;

// The application object: exactly one per module, a static object whose
// InitInstance runs when the module is loaded and ExitInstance when it goes.
class CWinApp {
public:
    CWinApp() noexcept;
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // Non-zero lets the load succeed; zero makes the load fail (after ExitInstance).
    virtual BOOL InitInstance() { return TRUE; }
    virtual int ExitInstance() { return 0; }
};

// Taken as the first step of every entry point: puts this module's activation
// context (made from its manifest resource, id 2) in force on the calling
// thread for the guard's lifetime; the caller's context returns on every way out.
class ModuleStateGuard {
public:
    ModuleStateGuard() noexcept;
    ModuleStateGuard(const ModuleStateGuard&) = delete;
    ModuleStateGuard& operator=(const ModuleStateGuard&) = delete;

private:
    ActCtxActivation m_activation;
};

namespace detail {
// Called by the DLL entry (DllEntry.cpp) only.
BOOL ProcessAttach(HINSTANCE module) noexcept;
void ProcessDetach() noexcept;
} // namespace detail

} // namespace afx
