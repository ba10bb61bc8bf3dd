// The binding of the delay imports (delaylib.sh beside this file makes their
// slots and stubs): the first call of a function loads its DLL and stores the function
// in the module's own slot, which lies in a writable section, so no protection
// changes. A system DLL or function that is missing raises the usual
// delay-load exception. Linked into the DLL only.
#include <windows.h>

extern "C" void* WINAPI BkDelayResolve(const char* dll, const char* name, void** slot)
{
    const HMODULE module = ::LoadLibraryA(dll);
    void* function = module ? reinterpret_cast<void*>(::GetProcAddress(module, name)) : nullptr;
    if (!function)
        ::RaiseException(module ? 0xC06D007F : 0xC06D007E, EXCEPTION_NONCONTINUABLE, 0, nullptr);
    ::InterlockedExchangePointer(slot, function);
    return function;
}
