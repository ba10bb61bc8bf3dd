#include "HtmlHelp.h"
#include "afx/Handles.h"
#include "afx/Registry.h"

namespace {

const char kControlServerKey[] = "CLSID\\{ADB880A6-D8FF-11CF-9377-00AA003B7A11}\\InprocServer32";
const char kControlLibrary[] = "hhctrl.ocx";
// HtmlHelpA, looked up by ordinal only: the ANSI entry has no dependable name.
const WORD kHtmlHelpAOrdinal = 14;

using HtmlHelpAFunction = HWND(WINAPI*)(HWND, LPCSTR, UINT, DWORD_PTR);

// The process-wide binding. Unbound -> Loaded (library held) -> Bound (entry
// known). A library that neither load finds is final: help is not asked for
// again. A library without the entry stays loaded, and each later call repeats
// only the lookup. The library is deliberately never freed, so no owner holds
// it: help windows it opened may outlive any caller.
struct Binding {
    HMODULE module = nullptr;
    HtmlHelpAFunction entry = nullptr;
    bool loadFailed = false;
};
Binding g_binding;
// Dialogs of several threads may ask for Help at once: the binding changes
// under this lock, and the control is called outside it.
SRWLOCK g_bindingLock = SRWLOCK_INIT;

HtmlHelpAFunction BoundEntry();

} // namespace

HWND InvokeHtmlHelp(HWND owner, const char* file, UINT command, DWORD_PTR data)
{
    const HtmlHelpAFunction entry = BoundEntry();
    return entry ? entry(owner, file, command, data) : nullptr;
}

namespace {

HtmlHelpAFunction BoundEntry()
{
    const afx::ExclusiveHold hold(g_bindingLock);
    if (!g_binding.module && !g_binding.loadFailed) {
        // The registered path, expanded when registered as REG_EXPAND_SZ. A
        // value of another type is still tried as the path, as this loader
        // always has; one longer than a path is not. The bare name follows.
        const auto path = afx::ReadRegistryString(HKEY_CLASSES_ROOT, kControlServerKey, nullptr,
                                                  afx::ValueTypes::AnyAsText, afx::ExpandSz::Expand);
        if (path && path->size() < MAX_PATH)
            g_binding.module = ::LoadLibraryExA(path->c_str(), nullptr, 0);
        if (!g_binding.module) g_binding.module = ::LoadLibraryExA(kControlLibrary, nullptr, 0);
        if (!g_binding.module) {
            g_binding.loadFailed = true;
            return nullptr;
        }
    }
    if (!g_binding.module) return nullptr;

    if (!g_binding.entry)
        g_binding.entry = reinterpret_cast<HtmlHelpAFunction>(reinterpret_cast<void*>(
            ::GetProcAddress(g_binding.module, MAKEINTRESOURCEA(kHtmlHelpAOrdinal))));
    return g_binding.entry;
}

} // namespace
