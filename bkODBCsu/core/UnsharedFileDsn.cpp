// The unshareable file DSN left beside every data source entry written: a
// two-line file in the machine's default file-DSN folder naming the source.
// Names and folders come from callers nobody checked, so the file is written
// or deleted only where it is an ordinary disk file inside that folder.
#include "DSNAttributes.h"
#include "../shared/NameText.h"
#include "../shared/OdbcNames.h"
#include "afx/Handles.h"
#include "afx/Registry.h"

#include <mbstring.h>
#include <optional>

using afx::CString;

namespace {

const char* const kFileDsnKey = odbc::kFileDsnKey;
const char kDefaultDirValue[] = "DefaultDSNDir";
const char kFileSuffix[] = " (not sharable).DSN";

bool IsDeviceName(std::wstring base)
{
    // Blanks before the extension do not stop the system from opening a device.
    while (!base.empty() && base.back() == L' ') base.pop_back();
    if (base.size() == 4) {
        const std::wstring stem = base.substr(0, 3);
        const wchar_t digit = base[3];
        const bool number = (digit >= L'0' && digit <= L'9') || digit == L'\u00B9' ||
                            digit == L'\u00B2' || digit == L'\u00B3';
        if (number && (_wcsicmp(stem.c_str(), L"COM") == 0 || _wcsicmp(stem.c_str(), L"LPT") == 0))
            return true;
    }
    for (const wchar_t* device : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"})
        if (_wcsicmp(base.c_str(), device) == 0) return true;
    return false;
}

// The name becomes the last part of a path and a line of the file: one that
// could leave the folder, add lines, or name a device gets no file at all.
bool IsPlainFileName(const CString& name)
{
    // Every byte, trail bytes included: a control byte must never reach the file.
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(name.GetString()); *p; ++p)
        if (*p < 0x20) return false;
    const auto wide = NameToUnicode(name);
    if (!wide || wide->empty()) return false;
    if (wide->find_first_of(L"\\/:*?\"<>|\x7F") != std::wstring::npos) return false;
    // The system takes the part before the first dot for a device name. A name
    // without a dot is judged whole: the file's own suffix keeps it from being
    // a device, but a name that reads as one is not worth the doubt.
    return !IsDeviceName(wide->substr(0, wide->find(L'.')));
}

// A folder that means the same place whatever the caller's current directory:
// rooted at a drive (X:\...) or a UNC share (\\server\share...). The device
// and raw namespaces (\\.\, \\?\) are no shares.
bool IsAbsoluteFolder(const std::string& folder)
{
    const auto at = [&folder](size_t i) { return i < folder.size() ? folder[i] : '\0'; };
    const char drive = at(0);
    if (((drive >= 'A' && drive <= 'Z') || (drive >= 'a' && drive <= 'z')) && at(1) == ':' &&
        at(2) == '\\')
        return true;
    if (at(0) != '\\' || at(1) != '\\') return false;
    const auto start = reinterpret_cast<const unsigned char*>(folder.c_str());
    const unsigned char* server = start + 2;
    const unsigned char* serverEnd = ::_mbschr(server, '\\');
    if (!serverEnd || serverEnd == server) return false;
    const std::string serverName(reinterpret_cast<const char*>(server), serverEnd - server);
    if (serverName == "." || serverName == "?") return false;
    const unsigned char* share = serverEnd + 1;
    return *share && *share != '\\';
}

// The configured default file-DSN folder; nothing when there is no string
// value, or a folder that depends on the current directory. The empty value
// stands for the root of the current drive. An expandable value is taken as
// it stands, as the installer takes it.
std::optional<CString> DefaultFileDsnDir()
{
    const auto folder = afx::ReadRegistryString(HKEY_LOCAL_MACHINE, kFileDsnKey, kDefaultDirValue,
                                                afx::ValueTypes::Strings, afx::ExpandSz::Keep);
    if (!folder || (!folder->empty() && !IsAbsoluteFolder(*folder))) return std::nullopt;
    return CString(*folder);
}

// Whether `path` may be written or deleted: missing, or an ordinary file.
// Folders, devices and links are left alone.
bool MayReplace(const CString& path)
{
    const DWORD attributes = ::GetFileAttributesA(path);
    return attributes == INVALID_FILE_ATTRIBUTES ||
           !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE |
                           FILE_ATTRIBUTE_REPARSE_POINT));
}

} // namespace

CString CDSNAttributes::GetUnsharedFileDsnPath(const CString& name) const
{
    if (!IsPlainFileName(name)) return CString();
    const auto folder = DefaultFileDsnDir();
    if (!folder) return CString();
    const CString path(folder->str() + "\\" + name.str() + kFileSuffix);
    // Longer paths are out of reach of the deletion, so they are not written either.
    if (path.GetLength() > MAX_PATH) return CString();
    return path;
}

void CDSNAttributes::WriteUnsharedFileDsn() const
{
    const CString& name = Value(attrDSN);
    const CString path = GetUnsharedFileDsnPath(name);
    if (path.IsEmpty() || !MayReplace(path)) return;

    // Opened without truncating, so nothing is cut before the object is known
    // to be a disk file; deny-none, as other programs may hold it open.
    afx::UniqueFile file(::CreateFileA(path, GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file || ::GetFileType(file.get()) != FILE_TYPE_DISK) return;

    const std::string content = "[ODBC]\r\nDSN=" + name.str() + "\r\n";
    DWORD written = 0;
    if (::WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written,
                    nullptr))
        ::SetEndOfFile(file.get());   // replaces whatever a longer old file held
}

void CDSNAttributes::DeleteUnsharedFileDsn(const CString& name) const
{
    const CString path = GetUnsharedFileDsnPath(name);
    if (path.IsEmpty() || !MayReplace(path)) return;
    ::DeleteFileA(path);   // a file that is already gone is no failure
}
