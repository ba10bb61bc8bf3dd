// Loading, checking, writing and removing the stored entry of a data source,
// through the ODBC installer's profile "ODBC.INI".
#include "DSNAttributes.h"
#include "NameText.h"
#include "../afx/Registry.h"
#include "../host/Installer.h"

#include <windows.h>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

using afx::CString;

namespace {

const char kProfile[] = "ODBC.INI";
const int kValueBuffer = 260;
// The largest buffer a stored value is read through. A value that still fills
// it cannot be read whole, and the request fails instead of cutting it.
const int kLargestValueBuffer = kValueBuffer << 12;   // about 1 MiB

enum class Stored { Absent, Found, Unreadable };

// The keys of a stored section, as the installer lists them (a null key):
// NUL-ended names, the list ended by one more NUL. Asked at most once per
// section and request, and only when a read answered nothing.
class StoredKeys {
public:
    // Whether the section lists `key`; none when the installer failed.
    std::optional<bool> Lists(const CString& section, const CString& key)
    {
        if (!m_read || m_section != section) Read(section);
        if (m_failed) return std::nullopt;
        for (const std::string& name : m_names)
            if (key.CompareNoCase(name.c_str()) == 0) return true;
        return false;
    }

private:
    // A list cut to the buffer answers its size - 2 (Wine: size - 1): it is
    // read again through a larger one. A list that cannot be read whole
    // lists nothing, and the reads count as they answered.
    void Read(const CString& section)
    {
        m_read = true;
        m_failed = false;
        m_section = section;
        m_names.clear();
        if (section.IsEmpty()) return;
        for (int size = kValueBuffer; size <= kLargestValueBuffer; size *= 2) {
            std::vector<char> buffer(static_cast<size_t>(size) + 1, '\0');
            const int length = installer::GetPrivateProfileString(section, nullptr, "",
                                                                  buffer.data(), size, kProfile);
            m_failed = length < 0;
            if (length <= 0) return;
            if (length >= size - 2) continue;
            for (size_t at = 0; at < static_cast<size_t>(length) && buffer[at];) {
                m_names.emplace_back(buffer.data() + at);
                at += m_names.back().size() + 1;
            }
            return;
        }
    }

    bool m_read = false, m_failed = false;
    CString m_section;
    std::vector<std::string> m_names;
};

// The stored value of `key` in `section`, read whole: a value that fills the
// buffer may have been cut, so it is read again through a larger one. Some
// installers (Wine's) answer nothing for a value that does not fit instead of
// cutting it, the same answer as for none: a key the section lists is then
// read through larger buffers too, since a new registration may empty the
// section and the value would be lost. An empty value counts as absent; an
// installer error as unreadable.
Stored ReadStoredValue(const CString& section, const CString& key, StoredKeys& keys, CString& value)
{
    bool growingOnNothing = false;
    for (int size = kValueBuffer; size <= kLargestValueBuffer; size *= 2) {
        std::vector<char> buffer(static_cast<size_t>(size), '\0');
        const int length = installer::GetPrivateProfileString(section, key, "", buffer.data(),
                                                              size, kProfile);
        if (length < 0) return Stored::Unreadable;
        if (length == 0) {
            if (growingOnNothing) continue;
            // Nothing on a second read means the first one's answer is in doubt.
            if (size != kValueBuffer) return Stored::Unreadable;
            const std::optional<bool> listed = keys.Lists(section, key);
            if (!listed) return Stored::Unreadable;
            if (!*listed) return Stored::Absent;
            growingOnNothing = true;
            continue;
        }
        if (length < size - 1) {
            value = CString(std::string(buffer.data(), strnlen(buffer.data(), buffer.size())));
            return Stored::Found;
        }
        growingOnNothing = false;
    }
    // Listed, yet nothing at any size: an empty value, as before.
    return growingOnNothing ? Stored::Absent : Stored::Unreadable;
}

// The installer keeps its own lists and settings as sections of ODBC.INI
// beside the data sources: a data source of such a name would overwrite or,
// when removed, delete the list of every data source, the file-DSN settings
// or the tracing settings.
bool IsInstallerSectionName(const CString& name)
{
    for (const char* reserved : {"ODBC Data Sources", "ODBC File DSN", "ODBC"})
        if (name.CompareNoCase(reserved) == 0) return true;
    return false;
}

// A name the installer may be asked to register or remove: text in the code
// page, no registry path (a backslash would reach another key), none of the
// installer's own sections, and accepted by the installer's own rules.
bool IsSafeEntryName(const CString& name)
{
    const auto wide = NameToUnicode(name);
    return wide && !wide->empty() && wide->find(L'\\') == std::wstring::npos &&
           !IsInstallerSectionName(name) && installer::ValidDSN(name) != 0;
}

// The installer's text for a key when it fits one read, an empty text when
// it has none or does not fit; nothing when the installer failed.
std::optional<std::string> ReadShort(const char* section, const char* key, const char* file)
{
    char buffer[kValueBuffer] = {};
    const int length = installer::GetPrivateProfileString(section, key, "", buffer, sizeof buffer, file);
    if (length < 0) return std::nullopt;
    if (length == 0 || length >= kValueBuffer - 1) return std::string();
    return std::string(buffer, strnlen(buffer, sizeof buffer));
}

// Whether `name` is registered for `driver` and holds the library the driver
// is installed with: then a registration would write nothing new, and some
// installers (the documented one among them) empty the section before they
// register, so that a request ended before its last key write would lose the
// keys it did not supply. A name registered otherwise, or whose library
// differs, is registered again. Nothing when the installer failed.
std::optional<bool> IsRegisteredFor(const CString& name, const CString& driver)
{
    const auto registered = ReadShort("ODBC Data Sources", name, kProfile);
    if (!registered || registered->empty() || driver.CompareNoCase(registered->c_str()) != 0)
        return registered ? std::optional<bool>(false) : std::nullopt;
    const auto library = ReadShort(name, "Driver", kProfile);
    if (!library || library->empty()) return library ? std::optional<bool>(false) : std::nullopt;
    auto installed = ReadShort(driver, "Driver", "ODBCINST.INI");
    if (!installed) return std::nullopt;
    // Some installers (Wine's) look for drivers in the user's hive in user
    // mode, where none is: the machine's list of drivers is read directly.
    if (installed->empty()) {
        const std::string key = std::string("Software\\ODBC\\ODBCINST.INI\\") + driver.GetString();
        installed = afx::ReadRegistryString(HKEY_LOCAL_MACHINE, key.c_str(), "Driver",
                                            afx::ValueTypes::Strings, afx::ExpandSz::Keep)
                        .value_or(std::string());
    }
    return !installed->empty() && CString(library->c_str()).CompareNoCase(installed->c_str()) == 0;
}

} // namespace

bool CDSNAttributes::LoadStoredValues(LoadFor purpose)
{
    const bool forWriteBack = purpose == LoadFor::SilentWrite;
    StoredKeys keys;
    for (auto& [index, entry] : m_attributes) {
        // A value that the caller supplied is never replaced by the stored one;
        // a write-back carries keys only, the name being the section.
        if (entry.bModified || (forWriteBack && index == attrDSN)) continue;
        CString stored;
        // The section is the name current at this read; the name itself is
        // read first, from the empty section, when the caller gave none.
        switch (ReadStoredValue(Value(attrDSN), entry.strKey, keys, stored)) {
        case Stored::Unreadable: return false;
        case Stored::Absent: break;
        case Stored::Found: SetValue(index, stored, forWriteBack); break;
        }
    }
    UpdateOptionsFromValues();
    return true;
}

bool CDSNAttributes::LoadDataSource()
{
    return LoadStoredValues(LoadFor::Dialog);
}

bool CDSNAttributes::CarryOverStoredValues()
{
    return LoadStoredValues(LoadFor::SilentWrite);
}

bool CDSNAttributes::IsValidDataSource() const
{
    const CString& name = Value(attrDSN);
    return !m_strDriver.IsEmpty() && !name.IsEmpty() && ::IsCharAlphaA(name.GetString()[0]) &&
           IsSafeEntryName(name);
}

bool CDSNAttributes::DataSourceExists() const
{
    // The installer wants a default text; with none it answers 0 for any
    // section, and a rename would overwrite another data source unasked.
    char buffer[kValueBuffer] = {};
    return installer::GetPrivateProfileString(Value(attrDSN), nullptr, "", buffer, sizeof buffer,
                                              "odbc.ini") != 0;
}

bool CDSNAttributes::WriteDataSource()
{
    if (!IsValidDataSource()) return false;
    const CString& name = Value(attrDSN);
    const std::optional<bool> registered = IsRegisteredFor(name, m_strDriver);
    if (!registered) return false;
    if (!*registered) {
        // The registration may empty the section: every stored key the
        // caller did not supply goes into the write.
        if (!CarryOverStoredValues() || !installer::WriteDSNToIni(name, m_strDriver)) return false;
    }

    // The registration may have emptied the section: a refused key must not
    // take the keys after it along, so every key is tried before failing.
    bool allWritten = true;
    for (const auto& [index, entry] : m_attributes) {
        if (index == attrDSN || !entry.bModified) continue;
        if (!installer::WritePrivateProfileString(name, entry.strKey, entry.strValue, kProfile))
            allWritten = false;
    }
    if (!allWritten) return false;

    // The old entry of a renamed data source goes only once the new one is
    // complete; a change of case alone is no rename.
    if (!m_strInitialName.IsEmpty() && IsNameChanged()) RemoveDataSource();

    WriteUnsharedFileDsn();
    return true;
}

bool CDSNAttributes::RemoveDataSource()
{
    // Only the entry named may go, and only once the installer has let it go:
    // a refused removal keeps the file DSN that belongs to the entry.
    if (m_strInitialName.IsEmpty() || !IsSafeEntryName(m_strInitialName)) return false;
    if (!installer::RemoveDSNFromIni(m_strInitialName)) return false;
    DeleteUnsharedFileDsn(m_strInitialName);
    return true;
}
