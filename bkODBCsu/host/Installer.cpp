#include "Installer.h"

#include <windows.h>
#include <string>

namespace installer {

namespace {

const wchar_t kCaption[] = L"ODBC Installer Error";

// The installer library, loaded on first use and kept for the module's life:
// its functions are looked up again at every call, so it is never freed.
HMODULE g_installer = nullptr;

std::wstring ModulePath(HMODULE module)
{
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(module, path, MAX_PATH);
    return path;
}

FARPROC Bind(const char* function)
{
    if (!g_installer) g_installer = ::LoadLibraryA("odbccp32.dll");
    if (!g_installer) {
        ::MessageBoxW(nullptr,
                      L"The ODBC installer DLL (ODBCCP32.DLL) is not installed on this system.",
                      kCaption, MB_ICONINFORMATION);
        return nullptr;
    }
    if (FARPROC entry = ::GetProcAddress(g_installer, function)) return entry;

    std::wstring text = L"The program " + ModulePath(nullptr) +
                        L", or one of its DLLs attempted to call the function ";
    for (const char* c = function; *c; ++c) text += static_cast<wchar_t>(static_cast<unsigned char>(*c));
    text += L" which is not supported in the loaded ODBC installer DLL (" + ModulePath(g_installer) +
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

} // namespace installer
