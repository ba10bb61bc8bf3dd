#include "String.h"
#include "Module.h"

#include <windows.h>
#include <mbstring.h>
#include <cstdlib>
#include <cstring>

namespace afx {

bool CString::LoadString(unsigned id)
{
    m_s.clear();
    // String tables are stored in blocks of 16 counted UTF-16 strings.
    HMODULE module = ModuleHandle();
    HRSRC info = ::FindResourceExW(module, reinterpret_cast<LPCWSTR>(RT_STRING),
                                   MAKEINTRESOURCEW((id >> 4) + 1),
                                   MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    if (!info) info = ::FindResourceW(module, MAKEINTRESOURCEW((id >> 4) + 1),
                                      reinterpret_cast<LPCWSTR>(RT_STRING));
    HGLOBAL data = info ? ::LoadResource(module, info) : nullptr;
    auto p = static_cast<const WCHAR*>(data ? ::LockResource(data) : nullptr);
    if (!p) return false;
    for (unsigned i = 0; i < (id & 15); ++i) p += 1 + *p;
    const int length = *p++;
    if (length == 0) return false;
    const int bytes = ::WideCharToMultiByte(CP_ACP, 0, p, length, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(bytes), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, p, length, &text[0], bytes, nullptr, nullptr);
    m_s = std::move(text);
    return true;
}

int CString::CompareNoCase(const char* other) const
{
    return ::_mbsicmp(reinterpret_cast<const unsigned char*>(m_s.c_str()),
                      reinterpret_cast<const unsigned char*>(other ? other : ""));
}

static const char kWhiteSpace[] = " \t\n\v\f\r";

CString& CString::TrimLeft()
{
    m_s.erase(0, m_s.find_first_not_of(kWhiteSpace));
    return *this;
}

CString& CString::TrimRight()
{
    const auto last = m_s.find_last_not_of(kWhiteSpace);
    m_s.erase(last == std::string::npos ? 0 : last + 1);
    return *this;
}

int CString::Replace(const char* from, const char* to)
{
    const std::string f = from ? from : "", t = to ? to : "";
    if (f.empty()) return 0;
    int count = 0;
    for (size_t pos = m_s.find(f); pos != std::string::npos; pos = m_s.find(f, pos + t.size())) {
        m_s.replace(pos, f.size(), t);
        ++count;
    }
    return count;
}

int Atoi(const char* text)
{
    return std::atoi(text ? text : "");
}

} // namespace afx
