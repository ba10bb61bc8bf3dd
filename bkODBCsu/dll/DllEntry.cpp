// The DLL's entry and what its unload gives back. Linked into the DLL only.
// Load: ModuleEntry -> the runtime's start-up -> DllMain -> ProcessAttach ->
// InitInstance; unload runs back the same way. The statically linked runtime
// makes a semaphore per mutex, a TLS index and an emergency pool once per
// load and never frees them, yet the installer loads and frees the module for
// every request: the import slots below note what it makes through this
// image (TlsFree and CloseHandle too, so nothing is released twice), and
// ModuleEntry releases what is left once the runtime is done.
#include "afx/Module.h"

namespace __gnu_cxx {
void __freeres() noexcept;   // libstdc++: frees the exception allocator's emergency pool
}

namespace {

// The runtime makes a handful of each per load; a full table only means that
// one more is left to the process, as it would be without this. Plain data,
// zero before any code of the image runs: the runtime's first calls come
// before the module's static constructors.
template <typename T, LONG N>
struct Noted {
    T items[N];
    volatile LONG count;

    void Add(T item) noexcept
    {
        const LONG slot = ::InterlockedIncrement(&count) - 1;
        if (slot < N) items[slot] = item;
    }
    void Forget(T item) noexcept
    {
        for (LONG i = 0; i < count && i < N; ++i)
            if (items[i] == item) items[i] = T();
    }
    template <typename Release>
    void ReleaseAll(Release release) noexcept
    {
        for (LONG i = (count < N ? count : N); i-- > 0;)
            if (items[i] != T()) release(items[i]);
        count = 0;
    }
};

Noted<HANDLE, 16> g_semaphores;
Noted<DWORD, 8> g_tlsIndices;   // stored plus one, so that 0 stays "none"

// kernel32's own entries, looked up at each call: a function-local static
// would take the runtime's guard mutex, itself one of the noted objects.
template <typename Fn>
Fn Kernel32(const char* name) noexcept
{
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), name)));
}
using TlsAllocFn = DWORD(WINAPI*)();
using TlsFreeFn = BOOL(WINAPI*)(DWORD);

HANDLE WINAPI NotedCreateSemaphoreW(LPSECURITY_ATTRIBUTES attributes, LONG initial, LONG maximum,
                                    LPCWSTR name)
{
    HANDLE semaphore = ::CreateSemaphoreExW(attributes, initial, maximum, name, 0, SEMAPHORE_ALL_ACCESS);
    if (semaphore && !name) g_semaphores.Add(semaphore);
    return semaphore;
}

DWORD WINAPI NotedTlsAlloc()
{
    const DWORD index = Kernel32<TlsAllocFn>("TlsAlloc")();
    if (index != TLS_OUT_OF_INDEXES) g_tlsIndices.Add(index + 1);
    return index;
}

BOOL WINAPI NotedCloseHandle(HANDLE handle)
{
    g_semaphores.Forget(handle);
    return Kernel32<BOOL(WINAPI*)(HANDLE)>("CloseHandle")(handle);
}

BOOL WINAPI NotedTlsFree(DWORD index)
{
    g_tlsIndices.Forget(index + 1);
    return Kernel32<TlsFreeFn>("TlsFree")(index);
}

} // namespace

// The import slots the runtime's calls go through.
#ifdef _WIN64
#define BK_IMPORT_SLOT(name, decorated) asm("__imp_" #name)
#else
#define BK_IMPORT_SLOT(name, decorated) asm("__imp__" #name "@" #decorated)
#endif
extern "C" {
extern decltype(&NotedCreateSemaphoreW) const bkCreateSemaphoreWSlot BK_IMPORT_SLOT(CreateSemaphoreW, 16);
extern decltype(&NotedTlsAlloc) const bkTlsAllocSlot BK_IMPORT_SLOT(TlsAlloc, 0);
extern decltype(&NotedTlsFree) const bkTlsFreeSlot BK_IMPORT_SLOT(TlsFree, 4);
extern decltype(&NotedCloseHandle) const bkCloseHandleSlot BK_IMPORT_SLOT(CloseHandle, 4);
decltype(&NotedCreateSemaphoreW) const bkCreateSemaphoreWSlot = &NotedCreateSemaphoreW;
decltype(&NotedTlsAlloc) const bkTlsAllocSlot = &NotedTlsAlloc;
decltype(&NotedTlsFree) const bkTlsFreeSlot = &NotedTlsFree;
decltype(&NotedCloseHandle) const bkCloseHandleSlot = &NotedCloseHandle;
}

// The runtime's entry (DllMain and the static constructors and destructors).
extern "C" BOOL WINAPI DllMainCRTStartup(HANDLE module, DWORD reason, LPVOID reserved);

namespace {

void ReleaseRuntime() noexcept
{
    __gnu_cxx::__freeres();
    g_semaphores.ReleaseAll([](HANDLE semaphore) { NotedCloseHandle(semaphore); });
    const TlsFreeFn tlsFree = Kernel32<TlsFreeFn>("TlsFree");
    g_tlsIndices.ReleaseAll([tlsFree](DWORD index) { tlsFree(index - 1); });
}

} // namespace

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

// The image's entry point (-e, dll/CMakeLists.txt): the runtime's, then,
// once the runtime is done with this load, the release of what it left. A
// failed attach has already run the runtime's exit. At process exit (reserved
// non-null) the process takes everything with it.
extern "C" BOOL WINAPI ModuleEntry(HANDLE module, DWORD reason, LPVOID reserved)
{
    const BOOL result = DllMainCRTStartup(module, reason, reserved);
    if ((reason == DLL_PROCESS_ATTACH && !result) || (reason == DLL_PROCESS_DETACH && !reserved))
        ReleaseRuntime();
    return result;
}
