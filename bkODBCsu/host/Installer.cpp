#include "Installer.h"
#include "afx/Handles.h"

#include <windows.h>
#include <sqltypes.h>
#include <string>

namespace installer {

namespace {

const wchar_t kCaption[] = L"ODBC Installer Error";

// The installer library, loaded on first use and kept for the module's life:
// its functions are looked up again at every call, so it is never freed.
// Requests of several threads may bind it at once: one handle is kept, and a
// second load's reference is given back.
HMODULE g_installer = nullptr;

HMODULE Library()
{
    if (HMODULE loaded = static_cast<HMODULE>(::InterlockedCompareExchangePointer(
            reinterpret_cast<void**>(&g_installer), nullptr, nullptr)))
        return loaded;
    afx::UniqueModule loaded(::LoadLibraryA("odbccp32.dll"));
    if (!loaded) return nullptr;
    if (void* kept = ::InterlockedCompareExchangePointer(reinterpret_cast<void**>(&g_installer),
                                                         loaded.get(), nullptr))
        return static_cast<HMODULE>(kept);   // the other load's; this reference goes back
    return loaded.release();
}

std::wstring ModulePath(HMODULE module)
{
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(module, path, MAX_PATH);
    return path;
}

FARPROC Bind(const char* function)
{
    const HMODULE library = Library();
    if (!library) {
        ::MessageBoxW(nullptr,
                      L"The ODBC installer DLL (ODBCCP32.DLL) is not installed on this system.",
                      kCaption, MB_ICONINFORMATION);
        return nullptr;
    }
    if (FARPROC entry = ::GetProcAddress(library, function)) return entry;

    std::wstring text = L"The program " + ModulePath(nullptr) +
                        L", or one of its DLLs attempted to call the function ";
    for (const char* c = function; *c; ++c) text += static_cast<wchar_t>(static_cast<unsigned char>(*c));
    text += L" which is not supported in the loaded ODBC installer DLL (" + ModulePath(library) +
            L"). Press OK to proceed.";
    if (text.size() > 782) text.resize(782);
    ::MessageBoxW(nullptr, text.c_str(), kCaption, MB_ICONINFORMATION);
    return nullptr;
}

// Calls the installer function `name` with the signature of `Fn`; 0 when it cannot.
template <typename Fn, typename... Args>
int Call(const char* name, Args... args)
{
    auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(Bind(name)));
    return fn ? static_cast<int>(fn(args...)) : 0;
}

using ValidDSNFn = BOOL(WINAPI*)(LPCSTR);
using WriteDSNToIniFn = BOOL(WINAPI*)(LPCSTR, LPCSTR);
using WritePrivateProfileStringFn = BOOL(WINAPI*)(LPCSTR, LPCSTR, LPCSTR, LPCSTR);
using GetPrivateProfileStringFn = int(WINAPI*)(LPCSTR, LPCSTR, LPCSTR, LPSTR, int, LPCSTR);
using RemoveDSNFromIniFn = BOOL(WINAPI*)(LPCSTR);
using PostInstallerErrorFn = SQLRETURN(WINAPI*)(DWORD, LPCSTR);

} // namespace

int ValidDSN(const char* dsn)
{
    return Call<ValidDSNFn>("SQLValidDSN", dsn);
}

int WriteDSNToIni(const char* dsn, const char* driver)
{
    return Call<WriteDSNToIniFn>("SQLWriteDSNToIni", dsn, driver);
}

int WritePrivateProfileString(const char* section, const char* entry, const char* string,
                              const char* file)
{
    return Call<WritePrivateProfileStringFn>("SQLWritePrivateProfileString", section, entry,
                                             string, file);
}

int GetPrivateProfileString(const char* section, const char* entry, const char* defaultText,
                            char* buffer, int bufferSize, const char* file)
{
    return Call<GetPrivateProfileStringFn>("SQLGetPrivateProfileString", section, entry,
                                           defaultText, buffer, bufferSize, file);
}

int RemoveDSNFromIni(const char* dsn)
{
    return Call<RemoveDSNFromIniFn>("SQLRemoveDSNFromIni", dsn);
}

void PostError(unsigned long code, const char* text)
{
    // The caller reads why the request failed from the installer's error
    // queue. An installer without the function gets no box for it: the
    // request's own failure is already the answer.
    const HMODULE library = Library();
    const auto post = library ? reinterpret_cast<PostInstallerErrorFn>(reinterpret_cast<void*>(
                                    ::GetProcAddress(library, "SQLPostInstallerError")))
                              : nullptr;
    if (post) post(code, text);
}

} // namespace installer
