#include "NameText.h"

#include <windows.h>
#include <cstring>
#include <cwchar>

std::optional<std::wstring> NameToUnicode(const char* name)
{
    const int length = static_cast<int>(std::strlen(name));
    if (length == 0) return std::wstring();
    const int count = ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name, length, nullptr, 0);
    if (count <= 0) return std::nullopt;
    std::wstring wide(static_cast<size_t>(count), L'\0');
    ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name, length, &wide[0], count);
    return wide;
}

namespace {

// One element: no best fit, no default character, and the result must read
// back as the very same Unicode text (which also refuses a lone surrogate
// and a character that several Unicode characters map to).
std::optional<std::string> ElementToAnsi(const wchar_t* text, size_t length)
{
    if (length == 0) return std::string();
    const int wideLength = static_cast<int>(length);
    BOOL usedDefault = FALSE;
    const int count = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text, wideLength, nullptr,
                                            0, nullptr, &usedDefault);
    if (count <= 0 || usedDefault) return std::nullopt;
    std::string ansi(static_cast<size_t>(count), '\0');
    if (::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text, wideLength, &ansi[0], count,
                              nullptr, &usedDefault) != count ||
        usedDefault)
        return std::nullopt;
    const auto back = NameToUnicode(ansi.c_str());
    if (!back || back->size() != length || back->compare(0, length, text, length) != 0)
        return std::nullopt;
    return ansi;
}

} // namespace

std::optional<std::string> TextToAnsi(const wchar_t* text)
{
    return ElementToAnsi(text, std::wcslen(text));
}

std::optional<std::string> ListToAnsi(const wchar_t* list)
{
    std::string ansi;
    for (const wchar_t* element = list; element && *element;) {
        const size_t length = std::wcslen(element);
        const auto converted = ElementToAnsi(element, length);
        if (!converted) return std::nullopt;
        ansi.append(*converted).push_back('\0');
        element += length + 1;
    }
    ansi.push_back('\0');
    return ansi;
}
