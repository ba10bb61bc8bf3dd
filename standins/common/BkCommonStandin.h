// What bkCommon's stand-in counts, read by the other stand-ins and the tests
// from the copy loaded in this process.
#pragma once

#include <windows.h>

namespace standin {

// Calls of xs_logout so far; -1 when the stand-in is not loaded.
inline LONG LogoutCalls()
{
    HMODULE common = GetModuleHandleA("bkCommon.dll");
    auto count = common ? reinterpret_cast<LONG (*)()>(
                              reinterpret_cast<void*>(GetProcAddress(common, "BkCommonStandin_LogoutCalls")))
                        : nullptr;
    return count ? count() : -1;
}

} // namespace standin
