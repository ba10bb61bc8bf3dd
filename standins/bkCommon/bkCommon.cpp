// Stand-in for the product family's common library, for tests and the demo:
// xs_logout does nothing but count its calls, so tests can check when the
// module calls it. The module imports it at load time, so it is built without
// any runtime: loading it costs what loading the least DLL costs, and the
// module's own load time is what the benchmark sees.
#include <windows.h>

namespace {
volatile LONG g_logoutCalls = 0;
}

extern "C" {

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}

__declspec(dllexport) void xs_logout(void)
{
    InterlockedIncrement(&g_logoutCalls);
}

// Test hook: the number of xs_logout calls since the library was loaded or reset.
__declspec(dllexport) LONG BkCommonStandin_LogoutCalls(void)
{
    return g_logoutCalls;
}

__declspec(dllexport) void BkCommonStandin_Reset(void)
{
    InterlockedExchange(&g_logoutCalls, 0);
}

}
