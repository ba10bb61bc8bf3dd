// Loading, checking, writing and removing the stored entry of a data source,
// through the ODBC installer's profile "ODBC.INI".
#include "DSNAttributes.h"
#include "NameText.h"
#include "../host/Installer.h"

#include <windows.h>
#include <cstring>
#include <vector>

using afx::CString;

namespace {

const char kProfile[] = "ODBC.INI";
const int kValueBuffer = 260;
// The largest buffer a stored value is read through. A value that still fills
// it cannot be read whole, and the request fails instead of cutting it.
const int kLargestValueBuffer = kValueBuffer << 12;   // about 1 MiB

enum class Stored { Absent, Found, Unreadable };

// The stored value of `key` in `section`, read whole: a value that fills the
// buffer may have been cut, so it is read again through a larger one. An
// empty value counts as absent; an installer error as unreadable.
Stored ReadStoredValue(const CString& section, const CString& key, CString& value)
{
    for (int size = kValueBuffer; size <= kLargestValueBuffer; size *= 2) {
        std::vector<char> buffer(static_cast<size_t>(size), '\0');
        const int length = installer::GetPrivateProfileString(section, key, "", buffer.data(),
                                                              size, kProfile);
        if (length < 0) return Stored::Unreadable;
        // Nothing on a second read means the first one's answer is in doubt.
        if (length == 0) return size == kValueBuffer ? Stored::Absent : Stored::Unreadable;
        if (length < size - 1) {
            value = CString(std::string(buffer.data(), strnlen(buffer.data(), buffer.size())));
            return Stored::Found;
        }
    }
    return Stored::Unreadable;
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

} // namespace

bool CDSNAttributes::LoadStoredValues(bool forWriteBack)
{
    for (auto& [index, entry] : m_attributes) {
        // A value that the caller supplied is never replaced by the stored one;
        // a write-back carries keys only, the name being the section.
        if (entry.bModified || (forWriteBack && index == attrDSN)) continue;
        CString stored;
        // The section is the name current at this read; the name itself is
        // read first, from the empty section, when the caller gave none.
        switch (ReadStoredValue(Value(attrDSN), entry.strKey, stored)) {
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
    return LoadStoredValues(false);
}

bool CDSNAttributes::KeepStoredValues()
{
    // A silent write registers the name again, which may drop the section's
    // other keys: carry every stored key the caller did not supply into the write.
    return LoadStoredValues(true);
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
    if (!installer::WriteDSNToIni(name, m_strDriver)) return false;

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
