// RefSetup: the reference setup module of the benchmark, built only for it.
// It does what any setup module of this driver must do at load and unload
// (COM on the loading thread, the activation context from the same manifest)
// and, for a silent add, exactly the installer calls and the file write that
// bkODBCsu makes, and nothing else: no framework, no dialog, no runtime
// beyond what the compiler needs. Other requests fail.
#include <windows.h>
#include <objbase.h>
#include <odbcinst.h>

#include <cstring>

namespace {

HANDLE g_actCtx = INVALID_HANDLE_VALUE;
DWORD g_comThread = 0;

const char* const kKeys[] = {"DBQ", "MaxColSupport", "ShortenNames", "StandardMode",
                             "DictionaryMode", "DatabaseType"};
const int kKeyCount = 6;

// The value of KEY in a NUL-separated KEY=VALUE list, or null.
const char* Find(const char* list, const char* key)
{
    const size_t length = std::strlen(key);
    for (const char* p = list; *p; p += std::strlen(p) + 1)
        if (_strnicmp(p, key, length) == 0 && p[length] == '=') return p + length + 1;
    return nullptr;
}

void WriteFileDsn(const char* dsn)
{
    HKEY key = nullptr;
    char folder[MAX_PATH] = {};
    DWORD size = sizeof folder, type = 0;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\ODBC\\ODBC.INI\\ODBC File DSN", 0,
                      KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return;
    const LONG status = RegQueryValueExA(key, "DefaultDSNDir", nullptr, &type,
                                         reinterpret_cast<BYTE*>(folder), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || !folder[0]) return;

    char path[2 * MAX_PATH], content[MAX_PATH];
    wsprintfA(path, "%s\\%s (not sharable).DSN", folder, dsn);
    const int length = wsprintfA(content, "[ODBC]\r\nDSN=%s\r\n", dsn);
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE | FILE_ATTRIBUTE_REPARSE_POINT)))
        return;
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    if (GetFileType(file) == FILE_TYPE_DISK && WriteFile(file, content, length, &written, nullptr))
        SetEndOfFile(file);
    CloseHandle(file);
}

} // namespace

extern "C" __declspec(dllexport) BOOL WINAPI ConfigDSN(HWND parent, WORD request, LPCSTR driver, LPCSTR attributes)
{
    if (parent || request != ODBC_ADD_DSN || !driver || !attributes) return FALSE;
    ULONG_PTR cookie = 0;
    const BOOL activated = g_actCtx != INVALID_HANDLE_VALUE && ActivateActCtx(g_actCtx, &cookie);

    BOOL ok = FALSE;
    const char* dsn = Find(attributes, "DSN");
    // The module checks the name before it reads the stored keys and again before it writes.
    if (dsn && IsCharAlphaA(dsn[0]) && SQLValidDSN(dsn)) {
        char kept[kKeyCount][260] = {};
        for (int i = 0; i < kKeyCount; ++i)
            if (!Find(attributes, kKeys[i]))
                SQLGetPrivateProfileString(dsn, kKeys[i], "", kept[i], sizeof kept[i], "ODBC.INI");
        ok = SQLValidDSN(dsn) && SQLWriteDSNToIni(dsn, driver);
        for (int i = 0; ok && i < kKeyCount; ++i) {
            const char* value = Find(attributes, kKeys[i]);
            if (!value && kept[i][0]) value = kept[i];
            if (value) ok = SQLWritePrivateProfileString(dsn, kKeys[i], value, "ODBC.INI");
        }
        if (ok) WriteFileDsn(dsn);
    }
    if (activated) DeactivateActCtx(0, cookie);
    return ok;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(module);
        ACTCTXW ctx = {};
        ctx.cbSize = sizeof ctx;
        ctx.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
        ctx.hModule = module;
        ctx.lpResourceName = MAKEINTRESOURCEW(2);
        g_actCtx = CreateActCtxW(&ctx);
        if (SUCCEEDED(CoInitialize(nullptr))) g_comThread = GetCurrentThreadId();
    } else if (reason == DLL_PROCESS_DETACH && !reserved) {
        if (g_comThread == GetCurrentThreadId()) CoUninitialize();
        if (g_actCtx != INVALID_HANDLE_VALUE) ReleaseActCtx(g_actCtx);
    }
    return TRUE;
}
