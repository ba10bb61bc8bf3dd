#include "ProfileText.h"

#include <mbstring.h>
#include <cstring>

namespace profile {

namespace {

const int kFirstBuffer = 260;
// The largest buffer a text is read through. A value that still fills it
// cannot be read whole, and the caller is told instead of getting it cut.
const int kLargestBuffer = kFirstBuffer << 12;   // about 1 MiB

bool SameKey(const std::string& a, const char* b)
{
    return ::_mbsicmp(reinterpret_cast<const unsigned char*>(a.c_str()),
                      reinterpret_cast<const unsigned char*>(b)) == 0;
}

} // namespace

// A list cut to the buffer answers its size - 2 (Wine: size - 1): it is read
// again through a larger one. A list that cannot be read whole lists nothing.
std::optional<std::vector<std::string>> Reader::Keys(const char* section)
{
    if (m_read && m_section == section) {
        if (m_failed) return std::nullopt;
        return m_names;
    }
    m_read = true;
    m_failed = false;
    m_section = section;
    m_names.clear();
    for (int size = kFirstBuffer; *section && size <= kLargestBuffer; size *= 2) {
        std::vector<char> buffer(static_cast<size_t>(size) + 1, '\0');
        const int length = m_get(section, nullptr, "", buffer.data(), size, m_file);
        m_failed = length < 0;
        if (length <= 0) break;
        if (length >= size - 2) continue;
        for (size_t at = 0; at < static_cast<size_t>(length) && buffer[at];) {
            m_names.emplace_back(buffer.data() + at);
            at += m_names.back().size() + 1;
        }
        break;
    }
    if (m_failed) return std::nullopt;
    return m_names;
}

std::optional<bool> Reader::Lists(const char* section, const char* key)
{
    const auto keys = Keys(section);
    if (!keys) return std::nullopt;
    for (const std::string& name : *keys)
        if (SameKey(name, key)) return true;
    return false;
}

// A value that fills the buffer may have been cut, so it is read again
// through a larger one. A value the installer answers as nothing is looked
// up in the section's key list, asked only then: a key the section lists is
// read through larger buffers too, since the caller may empty the section
// and the value would be lost.
Stored Reader::Value(const char* section, const char* key, std::string& value)
{
    bool growingOnNothing = false;
    for (int size = kFirstBuffer; size <= kLargestBuffer; size *= 2) {
        std::vector<char> buffer(static_cast<size_t>(size), '\0');
        const int length = m_get(section, key, "", buffer.data(), size, m_file);
        if (length < 0) return Stored::Unreadable;
        if (length == 0) {
            if (growingOnNothing) continue;
            // Nothing on a second read means the first one's answer is in doubt.
            if (size != kFirstBuffer) return Stored::Unreadable;
            const std::optional<bool> listed = Lists(section, key);
            if (!listed) return Stored::Unreadable;
            if (!*listed) return Stored::Absent;
            growingOnNothing = true;
            continue;
        }
        if (length < size - 1) {
            value.assign(buffer.data(), strnlen(buffer.data(), buffer.size()));
            return Stored::Found;
        }
        growingOnNothing = false;
    }
    // Listed, yet nothing at any size: an empty value.
    return growingOnNothing ? Stored::Absent : Stored::Unreadable;
}

} // namespace profile
