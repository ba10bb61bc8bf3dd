// browsedemo: the shell folder browser as the configuration dialog opens it,
// for the README's screenshot. Opens the dialog (ConfigDSN with a parent
// window, a new data source of estimating data whose folder exists), presses
// "Select Folder...", and saves the dialog with the browser over it as a
// 24-bit BMP. Both are cancelled afterwards: nothing is stored.
//   browsedemo.exe SHOT.bmp
#include "DemoSupport.h"

#include "afx/Handles.h"
#include "common/Registry.h"

#include <windows.h>
#include <odbcinst.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <thread>

namespace {

const char kDialogCaption[] = "Brennick Data ODBC Setup";
const char kBrowserCaption[] = "Select Data Folder";
const int kSelectFolder = 7002;     // IDC_SELECT_FOLDER
const char kFolder[] = "C:\\Brennick\\Estimating\\Harbour Works";

struct Search {
    HWND owner;
    const char* caption;
    HWND found;
};

BOOL CALLBACK Match(HWND window, LPARAM data)
{
    auto* s = reinterpret_cast<Search*>(data);
    char text[128] = {};
    GetWindowTextA(window, text, sizeof text);
    if (IsWindowVisible(window) && GetWindow(window, GW_OWNER) == s->owner &&
        std::string(text) == s->caption) {
        s->found = window;
        return FALSE;
    }
    return TRUE;
}

// A visible window of `thread` owned by `owner` with `caption`, waited for up
// to 30 s (Wine's browser reads every drive before it shows).
HWND WaitFor(DWORD thread, HWND owner, const char* caption)
{
    for (int i = 0; i < 3000; ++i) {
        Search s = {owner, caption, nullptr};
        EnumThreadWindows(thread, Match, reinterpret_cast<LPARAM>(&s));
        if (s.found) return s.found;
        Sleep(10);
    }
    return nullptr;
}

void Press(HWND dialog, int id)
{
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: browsedemo SHOT.bmp\n");
        return 2;
    }
    const std::string shot = argv[1];
    reg::UseUnmanagedWindows("browsedemo.exe");

    // The folder the data source holds, so the browser opens at it. Each is
    // read once after it is made: Wine's browser finds the folder by item
    // lists that carry the last-access time, which a first read moves on.
    for (const char* folder : {"C:\\Brennick", "C:\\Brennick\\Estimating", kFolder,
                               "C:\\Brennick\\Estimating\\Harbour Works\\Data",
                               "C:\\Brennick\\Estimating\\Northgate Depot"})
        CreateDirectoryA(folder, nullptr);
    for (const char* folder : {"C:\\Brennick", "C:\\Brennick\\Estimating", kFolder}) {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((std::string(folder) + "\\*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            while (FindNextFileA(search, &found)) {
            }
            FindClose(search);
        }
    }

    afx::UniqueModule module(LoadLibraryA("bkODBCsu.dll"));
    auto configDsn = module ? reinterpret_cast<BOOL(WINAPI*)(HWND, WORD, LPCSTR, LPCSTR)>(
                                  reinterpret_cast<void*>(GetProcAddress(module.get(), "ConfigDSN")))
                            : nullptr;
    if (!configDsn) {
        std::fprintf(stderr, "browsedemo: bkODBCsu.dll or its ConfigDSN not found\n");
        return 1;
    }

    const RECT area = demo::WorkArea();
    HWND parent = demo::CreateParent("bkBrowseDemoParent", area.left + 20, area.top + 20,
                                     area.right - area.left - 40, area.bottom - area.top - 40);

    const DWORD uiThread = GetCurrentThreadId();
    bool saved = false;
    std::thread driver([&] {
        HWND dialog = WaitFor(uiThread, parent, kDialogCaption);
        if (!dialog) {
            std::fprintf(stderr, "browsedemo: the dialog did not open\n");
            return;
        }
        Press(dialog, kSelectFolder);
        HWND browser = WaitFor(uiThread, dialog, kBrowserCaption);
        if (!browser) std::fprintf(stderr, "browsedemo: the browser did not open\n");
        if (browser) {
            // Let the tree, the status line and the frames paint.
            demo::Settle({dialog, browser}, 800);
            RECT a, b, both;
            GetWindowRect(dialog, &a);
            GetWindowRect(browser, &b);
            UnionRect(&both, &a, &b);
            InflateRect(&both, 8, 8);
            saved = demo::SaveScreenBmp(both, shot, "browsedemo");
            Press(browser, IDCANCEL);
        }
        Sleep(300);
        Press(dialog, IDCANCEL);
    });

    std::string attributes = std::string("DSN=Harbour Works") + '\0' + "DBQ=" + kFolder + '\0' +
                             "DatabaseType=2" + '\0' + '\0';
    configDsn(parent, ODBC_ADD_DSN, "Brennick Data ODBC Driver", attributes.c_str());
    driver.join();
    DestroyWindow(parent);
    module.reset();

    if (!saved) {
        std::fprintf(stderr, "browsedemo: no screenshot\n");
        return 1;
    }
    std::printf("saved %s\n", shot.c_str());
    return 0;
}
