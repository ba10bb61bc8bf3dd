// The event log the stand-ins share with the tests: one line per event,
// appended to the file that BKTEST_EVENT_LOG names (nothing when it is unset).
#pragma once

#include <windows.h>

#include <string>

namespace standin {

inline void AppendEvent(const std::string& line)
{
    char log[MAX_PATH] = {};
    if (!GetEnvironmentVariableA("BKTEST_EVENT_LOG", log, MAX_PATH)) return;
    HANDLE file = CreateFileA(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    const std::string text = line + "\n";
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

} // namespace standin
