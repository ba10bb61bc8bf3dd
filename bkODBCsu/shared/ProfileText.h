// Reading the ODBC installer's profile text whole, through any installer:
// one that cuts a text to the buffer, and one (Wine's) that answers nothing
// for a value that does not fit, the same answer as for no value at all.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace profile {

// The installer's SQLGetPrivateProfileString, as the caller binds it.
using GetText = int (*)(const char* section, const char* entry, const char* defaultText,
                        char* buffer, int bufferSize, const char* file);

enum class Stored { Absent, Found, Unreadable };

// One profile's values and key lists. The key list of the last section asked
// is kept, so that a request asks for it at most once.
class Reader {
public:
    Reader(GetText get, const char* file) : m_get(get), m_file(file) {}

    // `key` of `section` read whole. An empty value counts as absent; an
    // installer error, or a value past the largest buffer, as unreadable.
    Stored Value(const char* section, const char* key, std::string& value);
    // The keys `section` lists, none when the list cannot be read whole;
    // nothing when the installer failed.
    const std::optional<std::vector<std::string>>& Keys(const char* section);
    // Whether the installer answered that `section` holds no key at all (a
    // section it has not, mostly): every value of it is then absent.
    // Nothing when the installer failed.
    std::optional<bool> HoldsNoKeys(const char* section);

private:
    GetText m_get;
    const char* m_file;
    std::optional<std::string> m_section;
    std::optional<std::vector<std::string>> m_keys;
    bool m_none = false;   // the list was answered empty, not cut
};

} // namespace profile
