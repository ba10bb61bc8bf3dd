#include "HtmlHelp.h"
#include "../afx/Handles.h"

#include <cstring>

namespace {

const char kControlServerKey[] = "CLSID\\{ADB880A6-D8FF-11CF-9377-00AA003B7A11}\\InprocServer32";
const char kControlLibrary[] = "hhctrl.ocx";
// HtmlHelpA, looked up by ordinal only: the ANSI entry has no dependable name.
const WORD kHtmlHelpAOrdinal = 14;

using HtmlHelpAFunction = HWND(WINAPI*)(HWND, LPCSTR, UINT, DWORD_PTR);

// The process-wide binding. Unbound -> Loaded (library held) -> Bound (entry
// known); or Failed when neither load succeeds, which is final. The library is
// deliberately never freed: help windows it opened may outlive any caller.
struct Binding {
    HMODULE module = nullptr;
    HtmlHelpAFunction entry = nullptr;
    LONG loadFailed = 0;
};
Binding g_binding;

// The registered path of the control's library, expanded when registered as
// REG_EXPAND_SZ; false when there is none that fits in MAX_PATH.
bool GetHtmlHelpControlPath(char (&path)[MAX_PATH])
{
    afx::UniqueRegKey key;
    if (::RegOpenKeyExA(HKEY_CLASSES_ROOT, kControlServerKey, 0, KEY_READ, key.put()) !=
        ERROR_SUCCESS)
        return false;

    char value[MAX_PATH] = {};
    DWORD type = REG_SZ, size = sizeof value;
    if (::RegQueryValueExA(key.get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value),
                           &size) != ERROR_SUCCESS)
        return false;
    // The registry does not promise a terminator.
    value[MAX_PATH - 1] = '\0';

    if (type == REG_EXPAND_SZ) {
        const DWORD count = ::ExpandEnvironmentStringsA(value, path, MAX_PATH);
        return count >= 1 && count <= MAX_PATH;
    }
    // Any other type is taken as text.
    const size_t length = std::strlen(value);
    std::memcpy(path, value, length + 1);
    return true;
}

} // namespace

HWND InvokeHtmlHelp(HWND owner, const char* file, UINT command, DWORD_PTR data)
{
    if (!g_binding.module && !g_binding.loadFailed) {
        char path[MAX_PATH] = {};
        if (GetHtmlHelpControlPath(path)) g_binding.module = ::LoadLibraryExA(path, nullptr, 0);
        if (!g_binding.module) g_binding.module = ::LoadLibraryExA(kControlLibrary, nullptr, 0);
        if (!g_binding.module) {
            g_binding.loadFailed = 1;
            return nullptr;
        }
    }
    if (!g_binding.module) return nullptr;

    if (!g_binding.entry) {
        g_binding.entry = reinterpret_cast<HtmlHelpAFunction>(reinterpret_cast<void*>(
            ::GetProcAddress(g_binding.module, MAKEINTRESOURCEA(kHtmlHelpAOrdinal))));
        if (!g_binding.entry) {
            // The library stays loaded; the next call repeats only the lookup.
            g_binding.loadFailed = 1;
            return nullptr;
        }
    }
    return g_binding.entry(owner, file, command, data);
}
