// browsedemo: the shell folder browser as the configuration dialog opens it,
// for the README's screenshot. Opens the dialog (ConfigDSN with a parent
// window, a new data source of estimating data whose folder exists), presses
// "Select Folder...", and saves the dialog with the browser over it as a
// 24-bit BMP. Both are cancelled afterwards: nothing is stored.
//   browsedemo.exe SHOT.bmp
#include <windows.h>
#include <odbcinst.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

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

// Saves what the screen shows of `area` as a 24-bit bottom-up BMP.
bool SaveScreenBmp(const RECT& area, const std::string& path)
{
    const int width = area.right - area.left, height = area.bottom - area.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
    SelectObject(memory, old);

    BITMAPINFOHEADER info = {};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    std::vector<BYTE> pixels(static_cast<size_t>((width * 3 + 3) & ~3) * height);
    const int lines = GetDIBits(memory, bitmap, 0, height, pixels.data(),
                                reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    if (lines != height) {
        std::fprintf(stderr, "browsedemo: capture of %dx%d failed (%d lines)\n", width, height, lines);
        return false;
    }

    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
    FILE* out = std::fopen(path.c_str(), "wb");
    if (!out) {
        std::fprintf(stderr, "browsedemo: cannot write %s\n", path.c_str());
        return false;
    }
    const bool written = std::fwrite(&file, sizeof file, 1, out) == 1 &&
                         std::fwrite(&info, sizeof info, 1, out) == 1 &&
                         std::fwrite(pixels.data(), 1, pixels.size(), out) == pixels.size();
    return std::fclose(out) == 0 && written;
}

// Windows under Xvfb have no window manager: unmanaged, Wine draws their
// frames itself. Read when the display driver loads, hence before the first window.
void UseUnmanagedWindows()
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\browsedemo.exe\\X11 Driver",
                        0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) == ERROR_SUCCESS) {
        RegSetValueExA(key, "Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>("N"), 2);
        RegCloseKey(key);
    }
}

LRESULT CALLBACK ParentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(window, message, wParam, lParam);
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
    UseUnmanagedWindows();

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

    HMODULE module = LoadLibraryA("bkODBCsu.dll");
    auto configDsn = module ? reinterpret_cast<BOOL(WINAPI*)(HWND, WORD, LPCSTR, LPCSTR)>(
                                  reinterpret_cast<void*>(GetProcAddress(module, "ConfigDSN")))
                            : nullptr;
    if (!configDsn) {
        std::fprintf(stderr, "browsedemo: bkODBCsu.dll or its ConfigDSN not found\n");
        return 1;
    }

    WNDCLASSA cls = {};
    cls.lpfnWndProc = ParentProc;
    cls.hInstance = GetModuleHandleA(nullptr);
    cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_APPWORKSPACE + 1);
    cls.lpszClassName = "bkBrowseDemoParent";
    RegisterClassA(&cls);
    RECT area;
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    HWND parent = CreateWindowExA(0, cls.lpszClassName, "ODBC Data Source Administrator",
                                  WS_OVERLAPPEDWINDOW | WS_VISIBLE, area.left + 20, area.top + 20,
                                  area.right - area.left - 40, area.bottom - area.top - 40,
                                  nullptr, nullptr, cls.hInstance, nullptr);

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
            for (HWND window : {dialog, browser})
                RedrawWindow(window, nullptr, nullptr,
                             RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_FRAME);
            Sleep(800);
            SendMessageA(browser, WM_NULL, 0, 0);
            RECT a, b, both;
            GetWindowRect(dialog, &a);
            GetWindowRect(browser, &b);
            UnionRect(&both, &a, &b);
            InflateRect(&both, 8, 8);
            saved = SaveScreenBmp(both, shot);
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
    FreeLibrary(module);

    if (!saved) {
        std::fprintf(stderr, "browsedemo: no screenshot\n");
        return 1;
    }
    std::printf("saved %s\n", shot.c_str());
    return 0;
}
