// RefSetup: the reference setup module of the benchmark, built only for it.
// It does what any setup module of this driver must do at load and unload
// (COM on the loading thread, the activation context from the same manifest)
// and, for a silent add, exactly the installer calls and the file write that
// bkODBCsu makes, and nothing else: no framework, no runtime beyond what the
// compiler needs. With a parent window it shows the module's dialog (the same
// template from the same resources, common controls 6 through the same
// manifest) after reading the stored values through the installer, and fills
// it as the module does when it opens; the dialog ends with Cancel or OK and
// writes nothing. Other requests fail.
#include "OdbcNames.h"
#include "afx/Handles.h"

#include <windows.h>
#include <objbase.h>
#include <odbcinst.h>

#include <cstring>

namespace {

afx::UniqueActCtx g_actCtx;
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

// The file DSN's path in the default file-DSN folder; false when none is set
// or the path names anything but an ordinary file.
bool FileDsnPath(const char* dsn, char (&path)[2 * MAX_PATH])
{
    afx::UniqueRegKey key;
    char folder[MAX_PATH] = {};
    DWORD size = sizeof folder, type = 0;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, odbc::kFileDsnKey, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS ||
        RegQueryValueExA(key.get(), "DefaultDSNDir", nullptr, &type, reinterpret_cast<BYTE*>(folder), &size) !=
            ERROR_SUCCESS ||
        !folder[0])
        return false;
    wsprintfA(path, "%s\\%s (not sharable).DSN", folder, dsn);
    const DWORD attributes = GetFileAttributesA(path);
    return attributes == INVALID_FILE_ATTRIBUTES ||
           !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE | FILE_ATTRIBUTE_REPARSE_POINT));
}

void WriteFileDsn(const char* dsn)
{
    char path[2 * MAX_PATH], content[MAX_PATH];
    if (!FileDsnPath(dsn, path)) return;
    const int length = wsprintfA(content, "[ODBC]\r\nDSN=%s\r\n", dsn);
    const afx::UniqueFile file(CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (file && GetFileType(file.get()) == FILE_TYPE_DISK && WriteFile(file.get(), content, length, &written, nullptr))
        SetEndOfFile(file.get());
}

HINSTANCE g_module = nullptr;

// What the dialog shows when it opens: the name and the stored keys.
// The folder is shortened by shlwapi, which, as in the module, only the
// dialog loads: a silent request must not pay for it.
using SetPathFn = BOOL(WINAPI*)(HWND, int, LPCSTR);
struct Shown {
    const char* dsn;
    char values[kKeyCount][260];
    SetPathFn setPath;
};

const char* const kTypes[] = {"Accounting Data Folder", "Estimating Data Folder"};
const char* const kNamings[] = {"Custom descriptions", "Standard descriptions", "Dictionary names"};

// The dialog's mandatory work when it opens: its lists, collapsed to the upper
// band and centred over the parent, the name, the selections, the check
// states, the folder shortened to its control, and OK enabled when both are there.
void OpenDialog(HWND dialog, const Shown& shown)
{
    CoInitialize(nullptr);
    for (const char* text : kTypes) SendDlgItemMessageA(dialog, 7009, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    for (const char* text : kNamings) SendDlgItemMessageA(dialog, 7004, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    RECT rect = {0, 0, 318, 104}, parent = {};
    MapDialogRect(dialog, &rect);
    AdjustWindowRectEx(&rect, static_cast<DWORD>(GetWindowLongA(dialog, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongA(dialog, GWL_EXSTYLE)));
    GetWindowRect(GetWindow(dialog, GW_OWNER), &parent);
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    MoveWindow(dialog, (parent.left + parent.right - width) / 2, (parent.top + parent.bottom - height) / 2,
               width, height, TRUE);
    SendDlgItemMessageA(dialog, 7000, EM_LIMITTEXT, 32, 0);
    SetDlgItemTextA(dialog, 7000, shown.dsn);
    SendDlgItemMessageA(dialog, 7009, CB_SETCURSEL, std::strcmp(shown.values[5], "2") == 0 ? 1 : 0, 0);
    const int standard = shown.values[3][0] == '1', dictionary = shown.values[4][0] == '1';
    SendDlgItemMessageA(dialog, 7004, CB_SETCURSEL, standard ? 1 : dictionary ? 2 : 0, 0);
    CheckDlgButton(dialog, 7005, std::strcmp(shown.values[1], "1536") == 0 ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(dialog, 7006, shown.values[2][0] == '1' ? BST_CHECKED : BST_UNCHECKED);
    if (shown.setPath) shown.setPath(dialog, 7001, shown.values[0]);
    EnableWindow(GetDlgItem(dialog, IDOK), shown.dsn[0] && shown.values[0][0]);
}

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        OpenDialog(dialog, *reinterpret_cast<const Shown*>(lParam));
        return TRUE;
    }
    if (message == WM_COMMAND && (LOWORD(wParam) == IDCANCEL || LOWORD(wParam) == IDOK)) {
        EndDialog(dialog, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

} // namespace

extern "C" __declspec(dllexport) BOOL WINAPI ConfigDSN(HWND parent, WORD request, LPCSTR driver, LPCSTR attributes)
{
    if (!driver || !attributes) return FALSE;
    const afx::ActCtxActivation activation(g_actCtx.get());

    if (parent && request != ODBC_REMOVE_DSN) {
        Shown shown = {Find(attributes, "DSN"), {}, nullptr};
        if (!shown.dsn) shown.dsn = "";
        for (int i = 0; i < kKeyCount; ++i)
            SQLGetPrivateProfileString(shown.dsn, kKeys[i], "", shown.values[i], sizeof shown.values[i], odbc::kDataSources);
        const afx::UniqueModule shlwapi(LoadLibraryA("shlwapi.dll"));
        if (shlwapi)
            shown.setPath = reinterpret_cast<SetPathFn>(reinterpret_cast<void*>(GetProcAddress(shlwapi.get(), "PathSetDlgItemPathA")));
        DialogBoxParamA(g_module, MAKEINTRESOURCEA(7000), parent, DialogProc, reinterpret_cast<LPARAM>(&shown));
        return FALSE;
    }
    if (!parent && request == ODBC_REMOVE_DSN) {
        // The module checks the name, removes the entry, then its file DSN.
        const char* dsn = Find(attributes, "DSN");
        char path[2 * MAX_PATH];
        const BOOL ok = dsn && SQLValidDSN(dsn) && SQLRemoveDSNFromIni(dsn);
        if (ok && FileDsnPath(dsn, path)) DeleteFileA(path);
        return ok;
    }
    if (parent || request != ODBC_ADD_DSN) return FALSE;

    BOOL ok = FALSE;
    const char* dsn = Find(attributes, "DSN");
    // The module checks the name before it reads the stored keys and again before it writes.
    if (dsn && IsCharAlphaA(dsn[0]) && SQLValidDSN(dsn)) {
        char kept[kKeyCount][260] = {};
        for (int i = 0; i < kKeyCount; ++i)
            if (!Find(attributes, kKeys[i]))
                SQLGetPrivateProfileString(dsn, kKeys[i], "", kept[i], sizeof kept[i], odbc::kDataSources);
        ok = SQLValidDSN(dsn) && SQLWriteDSNToIni(dsn, driver);
        for (int i = 0; ok && i < kKeyCount; ++i) {
            const char* value = Find(attributes, kKeys[i]);
            if (!value && kept[i][0]) value = kept[i];
            if (value) ok = SQLWritePrivateProfileString(dsn, kKeys[i], value, odbc::kDataSources);
        }
        if (ok) WriteFileDsn(dsn);
    }
    return ok;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = module;
        DisableThreadLibraryCalls(module);
        ACTCTXW ctx = {};
        ctx.cbSize = sizeof ctx;
        ctx.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
        ctx.hModule = module;
        ctx.lpResourceName = MAKEINTRESOURCEW(2);
        g_actCtx.reset(CreateActCtxW(&ctx));
        if (SUCCEEDED(CoInitialize(nullptr))) g_comThread = GetCurrentThreadId();
    } else if (reason == DLL_PROCESS_DETACH && !reserved) {
        if (g_comThread == GetCurrentThreadId()) CoUninitialize();
        g_actCtx.reset();
    }
    return TRUE;
}
