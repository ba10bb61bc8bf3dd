// Stand-in for the HTML Help control's library, for tests. The "full" build
// exports HtmlHelpA at ordinal 14; the "noexport" build has nothing there.
// Both append what happens to them to the file that BKTEST_EVENT_LOG names:
//   attach|<file name of this copy>
//   hhctrl|<file name of this copy>|<owner>|<file or (null)>|<command>|<data>
// so tests see which copy was loaded, how often, and the four arguments.
#include "common/EventLog.h"

#include <windows.h>

#include <cstdio>
#include <string>

namespace {

HMODULE g_module = nullptr;

std::string OwnFileName()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(g_module, path, MAX_PATH);
    std::string name = path;
    const auto slash = name.find_last_of("\\/");
    return slash == std::string::npos ? name : name.substr(slash + 1);
}

using standin::AppendEvent;

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = module;
        DisableThreadLibraryCalls(module);
        AppendEvent("attach|" + OwnFileName());
    }
    return TRUE;
}

#ifdef BK_HHCTRL_WITH_ENTRY
// Shows nothing: records the call and answers a null window.
extern "C" HWND WINAPI HtmlHelpA(HWND owner, LPCSTR file, UINT command, DWORD_PTR data)
{
    char line[64];
    std::snprintf(line, sizeof line, "|%llu", static_cast<unsigned long long>(
                                                  reinterpret_cast<ULONG_PTR>(owner)));
    std::string event = "hhctrl|" + OwnFileName() + line + "|" + (file ? file : "(null)");
    std::snprintf(line, sizeof line, "|%u|%llu", command, static_cast<unsigned long long>(data));
    AppendEvent(event + line);
    return nullptr;
}
#else
// Something to export, so that the library is an ordinary one without ordinal 14.
extern "C" int WINAPI StandinWithoutHtmlHelp(void) { return 0; }
#endif
