// The framework's 8-bit string: text in the process's ANSI code page, with the
// few operations the module relies on, each with the runtime's semantics.
#pragma once

// windows.h first: it renames LoadString to LoadStringA, and every user must agree.
#include <windows.h>
#include <string>

namespace afx {

class CString {
public:
    CString() = default;
    CString(const char* text) : m_s(text ? text : "") {}
    CString(std::string text) : m_s(std::move(text)) {}

    // Replaces the text by string-table entry `id` of this module (converted to
    // the ANSI code page). A missing entry leaves the text empty; false then.
    bool LoadString(unsigned id);

    // Case-insensitive whole-string comparison as the multibyte runtime does it
    // (the process's multibyte code page decides what a character is).
    int CompareNoCase(const char* other) const;

    // Removes leading / trailing white space: blank, \t, \n, \v, \f, \r.
    CString& TrimLeft();
    CString& TrimRight();

    // Replaces every occurrence of `from` by `to`, as plain text; the count.
    int Replace(const char* from, const char* to);

    bool IsEmpty() const noexcept { return m_s.empty(); }
    int GetLength() const noexcept { return static_cast<int>(m_s.size()); }
    const char* GetString() const noexcept { return m_s.c_str(); }
    operator const char*() const noexcept { return m_s.c_str(); }
    const std::string& str() const noexcept { return m_s; }

    friend bool operator==(const CString& a, const CString& b) { return a.m_s == b.m_s; }
    friend bool operator!=(const CString& a, const CString& b) { return a.m_s != b.m_s; }

private:
    std::string m_s;
};

// Reads a decimal integer exactly as the C runtime's atoi does.
int Atoi(const char* text);

} // namespace afx
