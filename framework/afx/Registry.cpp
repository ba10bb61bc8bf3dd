#include "Registry.h"
#include "Handles.h"

#include <cstring>

namespace afx {

std::optional<std::string> ReadRegistryString(HKEY root, const char* key, const char* value,
                                              ValueTypes types, ExpandSz expand)
{
    UniqueRegKey opened;
    if (::RegOpenKeyExA(root, key, 0, KEY_QUERY_VALUE, opened.put()) != ERROR_SUCCESS)
        return std::nullopt;
    std::string text;
    DWORD type = 0, size = 0;
    LONG status = ::RegQueryValueExA(opened.get(), value, nullptr, &type, nullptr, &size);
    // The value may grow between the two reads: read again at its new size.
    while (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) {
        text.resize(size);
        status = ::RegQueryValueExA(opened.get(), value, nullptr, &type,
                                    reinterpret_cast<BYTE*>(text.data()), &size);
        if (status == ERROR_SUCCESS) break;
    }
    const bool isText = type == REG_SZ || type == REG_EXPAND_SZ || types == ValueTypes::AnyAsText;
    if (status != ERROR_SUCCESS || !isText) return std::nullopt;
    text.resize(strnlen(text.c_str(), size));
    if (type != REG_EXPAND_SZ || expand == ExpandSz::Keep) return text;

    std::string expanded(::ExpandEnvironmentStringsA(text.c_str(), nullptr, 0), '\0');
    const DWORD count = ::ExpandEnvironmentStringsA(text.c_str(), expanded.data(),
                                                    static_cast<DWORD>(expanded.size()));
    if (count == 0 || count > expanded.size()) return std::nullopt;
    expanded.resize(count - 1);
    return expanded;
}

} // namespace afx
