#include "ProfileText.h"

#include <mbstring.h>
#include <cstring>

namespace profile {

namespace {
const int kFirstBuffer = 260;
// A text that still fills this buffer cannot be read whole: the caller is
// told instead of getting it cut.
const int kLargestBuffer = kFirstBuffer << 12;   // about 1 MiB
} // namespace

// A list cut to the buffer answers its size - 2 (Wine: size - 1): it is read
// again through a larger one.
const std::optional<std::vector<std::string>>& Reader::Keys(const char* section)
{
    if (m_section == section) return m_keys;
    m_section = section;
    m_keys.emplace();
    m_none = false;
    for (int size = kFirstBuffer; *section && size <= kLargestBuffer; size *= 2) {
        std::vector<char> buffer(static_cast<size_t>(size) + 1, '\0');
        const int length = m_get(section, nullptr, "", buffer.data(), size, m_file);
        if (length < 0) m_keys.reset();
        m_none = length == 0 && size == kFirstBuffer;
        if (length <= 0) break;
        if (length >= size - 2) continue;
        for (size_t at = 0; at < static_cast<size_t>(length) && buffer[at]; at += m_keys->back().size() + 1)
            m_keys->emplace_back(buffer.data() + at);
        break;
    }
    return m_keys;
}

std::optional<bool> Reader::HoldsNoKeys(const char* section)
{
    if (!Keys(section)) return std::nullopt;
    return m_none;
}

// A value that fills the buffer may have been cut: it is read again through a
// larger one. A value answered as nothing is looked up in the key list, asked
// only then: a listed key is read through larger buffers too, since the
// caller may empty the section and the value would be lost.
Stored Reader::Value(const char* section, const char* key, std::string& value)
{
    bool growingOnNothing = false;
    for (int size = kFirstBuffer; size <= kLargestBuffer; size *= 2) {
        std::vector<char> buffer(static_cast<size_t>(size), '\0');
        const int length = m_get(section, key, "", buffer.data(), size, m_file);
        if (length < 0) return Stored::Unreadable;
        if (length > 0 && length < size - 1) {
            value.assign(buffer.data(), strnlen(buffer.data(), buffer.size()));
            return Stored::Found;
        }
        if (length > 0 || growingOnNothing) {
            growingOnNothing = growingOnNothing && length == 0;
            continue;
        }
        // Nothing on a second read means the first one's answer is in doubt.
        if (size != kFirstBuffer) return Stored::Unreadable;
        const auto& keys = Keys(section);
        if (!keys) return Stored::Unreadable;
        for (const std::string& name : *keys)
            growingOnNothing = growingOnNothing ||
                               ::_mbsicmp(reinterpret_cast<const unsigned char*>(name.c_str()),
                                          reinterpret_cast<const unsigned char*>(key)) == 0;
        if (!growingOnNothing) return Stored::Absent;
    }
    // Listed, yet nothing at any size: an empty value.
    return growingOnNothing ? Stored::Absent : Stored::Unreadable;
}

} // namespace profile
