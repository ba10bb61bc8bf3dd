// dlgdemo: the configuration dialog at work, for the README's demo and its
// screenshots. Stores a sample data source silently, then opens the dialog on
// it through ConfigDSN with a parent window, as the ODBC Data Source
// Administrator does, and drives it from a second thread through a short edit:
// expand the options, choose standard descriptions, shorten names, press OK.
// The collapsed and the expanded dialog are saved as 24-bit BMP files.
//
//   dlgdemo [--dsn NAME] [--shots FOLDER] [--component-folder PATH]
//
// With --component-folder the edit also presses "Select Folder..." and the
// data-folder component (the stand-in beside dlgdemo.exe, registered for the
// run) answers with PATH.
//
// Prints each step and, at the end, the entry the installer holds.
// Exit status 0 when the dialog ended with OK and the entry was written.
#include "DemoSupport.h"

#include "afx/Handles.h"
#include "common/Registry.h"

#include <windows.h>
#include <odbcinst.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

const char kDriver[] = "Brennick Data ODBC Driver";
const char kFolder[] = "C:\\Brennick\\Accounting\\Companies\\Alder Street Bakery 2024\\Data";
const char* const kKeys[] = {"DBQ", "MaxColSupport", "ShortenNames", "StandardMode",
                             "DictionaryMode", "DatabaseType"};
// Control ids of the dialog (the module's resource.h).
const int kSelectFolder = 7002, kOptions = 7003, kNamingMode = 7004, kShortenNames = 7006;

using ConfigDsnFunction = BOOL(WINAPI*)(HWND, WORD, LPCSTR, LPCSTR);

std::string List(const std::vector<std::string>& elements)
{
    std::string list;
    for (const auto& e : elements) list.append(e).push_back('\0');
    list.push_back('\0');
    return list;
}

bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs)
{
    for (const DWORD start = GetTickCount();; Sleep(20)) {
        if (condition()) return true;
        if (GetTickCount() - start >= timeoutMs) return false;
    }
}

struct Search {
    HWND owner;
    HWND found;
};

BOOL CALLBACK MatchDialog(HWND window, LPARAM param)
{
    auto* search = reinterpret_cast<Search*>(param);
    char cls[16] = {};
    GetClassNameA(window, cls, sizeof cls);
    if (std::strcmp(cls, "#32770") == 0 && IsWindowVisible(window) &&
        GetWindow(window, GW_OWNER) == search->owner) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

void Command(HWND dialog, int id, int code = BN_CLICKED)
{
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, code),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

HWND CreateParent()
{
    const RECT area = demo::WorkArea();
    const int width = 640, height = 420;
    return demo::CreateParent("bkDemoParent", (area.left + area.right - width) / 2,
                              (area.top + area.bottom - height) / 2, width, height);
}

void PrintEntry(const std::string& dsn)
{
    std::printf("stored entry [%s]:\n", dsn.c_str());
    for (const char* key : kKeys) {
        char value[260] = {};
        if (SQLGetPrivateProfileString(dsn.c_str(), key, "", value, sizeof value, "ODBC.INI") > 0)
            std::printf("  %s=%s\n", key, value);
        else
            std::printf("  %s (not set)\n", key);
    }
}

} // namespace

int main(int argc, char** argv)
{
    std::string dsn = "Payroll", shots, componentFolder;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--dsn") == 0) dsn = argv[i + 1];
        else if (std::strcmp(argv[i], "--shots") == 0) shots = argv[i + 1];
        else if (std::strcmp(argv[i], "--component-folder") == 0) componentFolder = argv[i + 1];
        else {
            std::fprintf(stderr, "usage: dlgdemo [--dsn NAME] [--shots FOLDER] [--component-folder PATH]\n");
            return 2;
        }
    }
    reg::UseUnmanagedWindows("dlgdemo.exe");

    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string dir = self;
    dir.resize(dir.find_last_of('\\'));
    afx::UniqueModule module(LoadLibraryA((dir + "\\bkODBCsu.dll").c_str()));
    auto configDsn = module ? reinterpret_cast<ConfigDsnFunction>(reinterpret_cast<void*>(
                                  GetProcAddress(module.get(), "ConfigDSN")))
                            : nullptr;
    if (!configDsn) {
        std::fprintf(stderr, "dlgdemo: bkODBCsu.dll or its ConfigDSN not found beside dlgdemo.exe\n");
        return 1;
    }

    afx::UniqueModule component;
    if (!componentFolder.empty()) {
        // The stand-in answers from its environment; the runtime's copy of it
        // is shared with the stand-in, so set it there.
        _putenv_s("BK_DATAFOLDER_CHOICE", componentFolder.c_str());
        component.reset(LoadLibraryA((dir + "\\bkDataFolderUI.dll").c_str()));
        auto registerServer = component ? reinterpret_cast<HRESULT(WINAPI*)()>(reinterpret_cast<void*>(
                                              GetProcAddress(component.get(), "DllRegisterServer")))
                                        : nullptr;
        if (!registerServer || FAILED(registerServer())) {
            std::fprintf(stderr, "dlgdemo: cannot register bkDataFolderUI.dll beside dlgdemo.exe\n");
            return 1;
        }
    }

    std::printf("storing data source %s silently\n", dsn.c_str());
    configDsn(nullptr, ODBC_ADD_DSN, kDriver,
              List({"DSN=" + dsn, std::string("DBQ=") + kFolder, "DatabaseType=1",
                    "MaxColSupport=255", "ShortenNames=0", "StandardMode=0", "DictionaryMode=0"})
                  .c_str());
    PrintEntry(dsn);

    HWND parent = CreateParent();
    std::atomic<bool> returned{false};
    bool driven = false;
    std::thread driver([&] {
        Search search = {parent, nullptr};
        const DWORD uiThread = GetWindowThreadProcessId(parent, nullptr);
        if (!WaitFor([&] {
                EnumThreadWindows(uiThread, MatchDialog, reinterpret_cast<LPARAM>(&search));
                return returned || search.found;
            }, 10000) || !search.found) {
            std::fprintf(stderr, "dlgdemo: the dialog did not appear\n");
            return;
        }
        HWND dialog = search.found;
        std::printf("dialog open (collapsed)\n");
        demo::Settle({dialog}, 400);
        if (!shots.empty() && !demo::SaveWindowBmp(dialog, shots + "\\dialog-collapsed.bmp"))
            std::fprintf(stderr, "dlgdemo: collapsed screenshot failed\n");

        if (!componentFolder.empty()) {
            std::printf("edit: Select Folder... (the data-folder component chooses %s)\n",
                        componentFolder.c_str());
            Command(dialog, kSelectFolder);
        }
        std::printf("edit: Options >>, Standard descriptions, Shorten field and table names\n");
        Command(dialog, kOptions);
        SendDlgItemMessageA(dialog, kNamingMode, CB_SETCURSEL, 1, 0);
        SendDlgItemMessageA(dialog, kShortenNames, BM_SETCHECK, BST_CHECKED, 0);
        demo::Settle({dialog}, 400);
        if (!shots.empty() && !demo::SaveWindowBmp(dialog, shots + "\\dialog-expanded.bmp"))
            std::fprintf(stderr, "dlgdemo: expanded screenshot failed\n");

        std::printf("OK\n");
        Command(dialog, IDOK);
        driven = WaitFor([&] { return !IsWindow(dialog); }, 5000);
        if (!driven) PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    });
    const BOOL result = configDsn(parent, ODBC_CONFIG_DSN, kDriver, List({"DSN=" + dsn}).c_str());
    returned = true;
    driver.join();
    DestroyWindow(parent);

    std::printf("ConfigDSN returned %s\n", result ? "TRUE" : "FALSE");
    PrintEntry(dsn);
    return driven && result ? 0 : 1;
}
