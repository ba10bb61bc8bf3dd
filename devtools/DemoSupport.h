// What the demo programs share: screenshots of what the screen shows. (The
// setting that keeps their windows unmanaged under Xvfb is
// reg::UseUnmanagedWindows.)
#pragma once

#include <windows.h>

#include <initializer_list>
#include <string>

namespace demo {

// Lets the windows' thread paint everything (frames and children included)
// before a screenshot: redraws them, waits `pauseMs`, then waits until each
// has handled a message.
void Settle(std::initializer_list<HWND> windows, DWORD pauseMs);

// Saves what the screen shows of `area` as a 24-bit bottom-up BMP. With a
// `program` name, says on stderr why it failed.
bool SaveScreenBmp(const RECT& area, const std::string& path, const char* program = nullptr);

// The same for the rectangle of `window`.
bool SaveWindowBmp(HWND window, const std::string& path, const char* program = nullptr);

// The desktop's work area.
RECT WorkArea();

// A visible top-level window that stands in for the ODBC Data Source
// Administrator as the dialog's parent, of a class `className` registered here.
HWND CreateParent(const char* className, int x, int y, int width, int height);

} // namespace demo
