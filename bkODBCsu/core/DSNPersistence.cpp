// Loading, checking, writing and removing the stored entry of a data source,
// through the ODBC installer's profile "ODBC.INI".
#include "DSNAttributes.h"
#include "../host/Installer.h"

#include <windows.h>
#include <vector>

namespace {

const char kProfile[] = "ODBC.INI";
const int kValueBuffer = 260;

// The stored value of `key` in `section`, read through a buffer of `size`
// bytes; false when nothing (or an empty value) is stored.
bool ReadStoredValue(const CString& section, const CString& key, int size, CString& value)
{
    std::vector<char> buffer(static_cast<size_t>(size), '\0');
    const int length = installer::GetPrivateProfileString(section, key, "", buffer.data(), size,
                                                          kProfile);
    if (length <= 0) return false;
    value = CString(std::string(buffer.data()));
    return true;
}

} // namespace

bool CDSNAttributes::LoadDataSource()
{
    for (auto& [index, entry] : m_attributes) {
        if (entry.bModified) continue;
        CString stored;
        // The section is the name current at this read; the name itself is
        // read first, from the empty section, when the caller gave none.
        if (ReadStoredValue(Value(attrDSN), entry.strKey, kValueBuffer, stored))
            entry.strValue = stored;
    }
    UpdateOptionsFromValues();
    return true;
}

bool CDSNAttributes::KeepStoredValues()
{
    // A silent write registers the name again, which may drop the section's
    // other keys: carry every stored key the caller did not supply into the
    // write, read whole however long it is.
    for (auto& [index, entry] : m_attributes) {
        if (index == attrDSN || entry.bModified) continue;
        // A value that fills the buffer may have been cut: read it again with
        // a larger one, keeping the longest value read so far.
        CString stored;
        bool found = false;
        for (int size = kValueBuffer; size <= 64 * 1024; size *= 2) {
            if (!ReadStoredValue(Value(attrDSN), entry.strKey, size, stored)) break;
            found = true;
            if (stored.GetLength() < size - 1) break;
        }
        if (found) SetValue(index, stored);
    }
    UpdateOptionsFromValues();
    return true;
}

// The installer keeps its own lists as sections of ODBC.INI beside the data
// sources: a data source of such a name would overwrite or, when removed,
// delete the list of every data source or the file-DSN settings.
static bool IsInstallerSectionName(const CString& name)
{
    for (const char* reserved : {"ODBC Data Sources", "ODBC File DSN"})
        if (name.CompareNoCase(reserved) == 0) return true;
    return false;
}

bool CDSNAttributes::IsValidDataSource() const
{
    const CString& name = Value(attrDSN);
    return !m_strDriver.IsEmpty() && !name.IsEmpty() && ::IsCharAlphaA(name.GetString()[0]) &&
           !IsInstallerSectionName(name) && installer::ValidDSN(name) != 0;
}

bool CDSNAttributes::WriteDataSource()
{
    if (!IsValidDataSource()) return false;
    const CString& name = Value(attrDSN);
    if (!installer::WriteDSNToIni(name, m_strDriver)) return false;

    for (const auto& [index, entry] : m_attributes) {
        if (index == attrDSN || !entry.bModified) continue;
        if (!installer::WritePrivateProfileString(name, entry.strKey, entry.strValue, kProfile))
            return false;
    }

    // The old entry of a renamed data source goes only once the new one is
    // complete; a change of case alone is no rename.
    if (!m_strInitialName.IsEmpty() && IsNameChanged()) RemoveDataSource();

    WriteUnsharedFileDsn();
    return true;
}

bool CDSNAttributes::RemoveDataSource()
{
    if (m_strInitialName.IsEmpty() || IsInstallerSectionName(m_strInitialName)) return false;
    const CString path = GetUnsharedFileDsnPath(m_strInitialName);
    if (!path.IsEmpty() && path.GetLength() <= MAX_PATH) ::DeleteFileA(path);
    return installer::RemoveDSNFromIni(m_strInitialName) != 0;
}
