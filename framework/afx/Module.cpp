#include "Module.h"

namespace afx {

namespace {

HINSTANCE g_module = nullptr;
CWinApp* g_app = nullptr;
UniqueActCtx g_actCtx;      // made at load from the manifest, released at unload

HINSTANCE ModuleFromOwnAddress() noexcept
{
    HMODULE module = nullptr;
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                             GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCWSTR>(&ModuleFromOwnAddress), &module);
    return module;
}

} // namespace

HINSTANCE ModuleHandle() noexcept
{
    if (!g_module) g_module = ModuleFromOwnAddress();
    return g_module;
}

CWinApp::CWinApp() noexcept { g_app = this; }
CWinApp::~CWinApp() { if (g_app == this) g_app = nullptr; }

ModuleStateGuard::ModuleStateGuard() noexcept : m_activation(g_actCtx.get()) {}

namespace detail {

BOOL ProcessAttach(HINSTANCE module) noexcept
{
    g_module = module;
    ::DisableThreadLibraryCalls(module);

    ACTCTXW ctx = {};
    ctx.cbSize = sizeof ctx;
    ctx.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
    ctx.hModule = module;
    ctx.lpResourceName = MAKEINTRESOURCEW(2);
    g_actCtx.reset(::CreateActCtxW(&ctx));

    if (!g_app) return TRUE;
    try {
        if (g_app->InitInstance()) return TRUE;
        g_app->ExitInstance();
    } catch (...) {
    }
    return FALSE;
}

void ProcessDetach() noexcept
{
    if (g_app) {
        try { g_app->ExitInstance(); } catch (...) {}
    }
    g_actCtx.reset();
}

} // namespace detail

} // namespace afx
