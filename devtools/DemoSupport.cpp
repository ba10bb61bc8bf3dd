#include "DemoSupport.h"

#include <cstdio>
#include <vector>

namespace demo {

void Settle(std::initializer_list<HWND> windows, DWORD pauseMs)
{
    for (HWND window : windows)
        RedrawWindow(window, nullptr, nullptr,
                     RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_FRAME);
    Sleep(pauseMs);
    for (HWND window : windows) SendMessageA(window, WM_NULL, 0, 0);
}

bool SaveScreenBmp(const RECT& area, const std::string& path, const char* program)
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
    const int stride = (width * 3 + 3) & ~3;
    std::vector<BYTE> pixels(static_cast<size_t>(stride) * height);
    const int lines = GetDIBits(memory, bitmap, 0, height, pixels.data(),
                                reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    if (lines != height) {
        if (program)
            std::fprintf(stderr, "%s: capture of %dx%d failed (%d lines)\n", program, width, height,
                         lines);
        return false;
    }

    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
    FILE* out = std::fopen(path.c_str(), "wb");
    if (!out) {
        if (program) std::fprintf(stderr, "%s: cannot write %s\n", program, path.c_str());
        return false;
    }
    const bool written = std::fwrite(&file, sizeof file, 1, out) == 1 &&
                         std::fwrite(&info, sizeof info, 1, out) == 1 &&
                         std::fwrite(pixels.data(), 1, pixels.size(), out) == pixels.size();
    return std::fclose(out) == 0 && written;
}

bool SaveWindowBmp(HWND window, const std::string& path, const char* program)
{
    RECT rect;
    GetWindowRect(window, &rect);
    return SaveScreenBmp(rect, path, program);
}

namespace {

LRESULT CALLBACK ParentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(window, message, wParam, lParam);
}

} // namespace

RECT WorkArea()
{
    RECT area;
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    return area;
}

HWND CreateParent(const char* className, int x, int y, int width, int height)
{
    WNDCLASSA cls = {};
    cls.lpfnWndProc = ParentProc;
    cls.hInstance = GetModuleHandleA(nullptr);
    cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_APPWORKSPACE + 1);
    cls.lpszClassName = className;
    RegisterClassA(&cls);
    return CreateWindowExA(0, cls.lpszClassName, "ODBC Data Source Administrator",
                           WS_OVERLAPPEDWINDOW | WS_VISIBLE, x, y, width, height, nullptr, nullptr,
                           cls.hInstance, nullptr);
}

} // namespace demo
