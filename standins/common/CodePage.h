// Text of the ANSI code page in Unicode, converted with the default flags:
// as the stand-in installer and the tests both need it.
#pragma once

#include <windows.h>

#include <string>

namespace codepage {

inline std::wstring Widen(const std::string& text)
{
    std::wstring wide(text.size(), L'\0');
    wide.resize(static_cast<size_t>(MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                                        &wide[0], static_cast<int>(wide.size()))));
    return wide;
}

} // namespace codepage
