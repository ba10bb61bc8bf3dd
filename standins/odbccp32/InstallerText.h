// What the two installer stand-ins share: the text of an argument for their
// records, and the copy of a result into a caller's buffer the way the
// installer's profile functions copy it.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>

namespace standin {

// An argument as recorded: the text, or "(null)".
inline std::string Text(const char* s) { return s ? std::string(s) : std::string("(null)"); }

// Copies `value` into `buffer` of `size` characters, cut to fit and always
// NUL-ended; the number of characters copied (without the NUL).
inline int CopyOut(const std::string& value, char* buffer, int size)
{
    if (!buffer || size <= 0) return 0;
    const size_t n = std::min(value.size(), static_cast<size_t>(size) - 1);
    std::memcpy(buffer, value.data(), n);
    buffer[n] = '\0';
    return static_cast<int>(n);
}

// Copies a list of NUL-ended names as the Win32 profile functions do: ended
// by one more NUL; when it does not fit, the last name is cut and followed
// by two NULs, and the result is size - 2.
inline int CopyList(const std::string& list, char* buffer, int size)
{
    if (!buffer || size < 2) {
        if (buffer && size == 1) buffer[0] = '\0';
        return 0;
    }
    const bool fits = list.size() + 1 <= static_cast<size_t>(size);
    const size_t n = fits ? list.size() : static_cast<size_t>(size) - 2;
    std::memcpy(buffer, list.data(), n);
    buffer[n] = '\0';
    if (!fits) buffer[n + 1] = '\0';
    return static_cast<int>(n);
}

} // namespace standin
