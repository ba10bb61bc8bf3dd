// Loading, checking, writing and removing the stored entry of a data source,
// through the ODBC installer's profile "ODBC.INI".
#include "DSNAttributes.h"
#include "../shared/NameText.h"
#include "../shared/OdbcNames.h"
#include "../shared/ProfileText.h"
#include "afx/Registry.h"
#include "../host/Installer.h"

#include <windows.h>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

using afx::CString;

namespace {

const char* const kProfile = odbc::kDataSources;
// One read's buffer for the short texts the installer keeps for itself.
const int kValueBuffer = 260;

// The installer keeps its own lists and settings as sections of ODBC.INI
// beside the data sources: a data source of such a name would overwrite or,
// when removed, delete the list of every data source, the file-DSN settings
// or the tracing settings.
bool IsInstallerSectionName(const CString& name)
{
    for (const char* reserved : {odbc::kSourcesSection, odbc::kFileDsnSection, odbc::kTracingSection})
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
    const auto registered = ReadShort(odbc::kSourcesSection, name, kProfile);
    if (!registered || registered->empty() || driver.CompareNoCase(registered->c_str()) != 0)
        return registered ? std::optional<bool>(false) : std::nullopt;
    const auto library = ReadShort(name, "Driver", kProfile);
    if (!library || library->empty()) return library ? std::optional<bool>(false) : std::nullopt;
    auto installed = ReadShort(driver, "Driver", odbc::kDrivers);
    if (!installed) return std::nullopt;
    // Some installers (Wine's) look for drivers in the user's hive in user
    // mode, where none is: the machine's list of drivers is read directly.
    if (installed->empty()) {
        const std::string key = std::string(odbc::kDriversKey) + "\\" + driver.GetString();
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
    profile::Reader reader(installer::GetPrivateProfileString, kProfile);
    // A write-back is for a name not registered for the driver, mostly a new
    // data source without a section: one listing then answers for every key.
    bool listed = !forWriteBack;
    for (auto& [index, entry] : m_attributes) {
        // A value that the caller supplied is never replaced by the stored one;
        // a write-back carries keys only, the name being the section.
        if (entry.bModified || (forWriteBack && index == attrDSN)) continue;
        if (!listed) {
            listed = true;
            const std::optional<bool> none = reader.HoldsNoKeys(Value(attrDSN));
            if (!none) return false;
            if (*none) break;
        }
        std::string stored;
        // The section is the name current at this read; the name itself is
        // read first, from the empty section, when the caller gave none.
        switch (reader.Value(Value(attrDSN), entry.strKey, stored)) {
        case profile::Stored::Unreadable: return false;
        case profile::Stored::Absent: break;
        case profile::Stored::Found: SetValue(index, CString(stored), forWriteBack); break;
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
