// The unshareable file DSN left beside every data source entry written: a
// two-line file in the machine's default file-DSN folder naming the source.
#include "DSNAttributes.h"
#include "../afx/Handles.h"

#include <mbstring.h>
#include <fstream>
#include <optional>
#include <string.h>

namespace {

const char kFileDsnKey[] = "software\\odbc\\odbc.ini\\ODBC File DSN";
const char kDefaultDirValue[] = "DefaultDSNDir";

// The name becomes part of a path and a line of the file: one that could
// leave the folder (separators, a drive) or add lines gets no file at all.
bool IsPlainFileName(const CString& name)
{
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(name.GetString()); *p;
         p = ::_mbsinc(p)) {
        if (*p < 0x20 || *p == '\\' || *p == '/' || *p == ':') return false;
        if (::_ismbblead(*p) && !p[1]) return false;   // a lead byte without its trail
    }
    return true;
}

// The configured default file-DSN folder; nothing when there is no key, no
// value, or a value that is not a string or does not fit the buffer.
std::optional<CString> DefaultFileDsnDir()
{
    afx::UniqueRegKey key;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kFileDsnKey, 0, KEY_QUERY_VALUE, key.put()) !=
        ERROR_SUCCESS)
        return std::nullopt;

    char buffer[MAX_PATH] = {};
    DWORD type = 0, size = sizeof buffer;
    if (::RegQueryValueExA(key.get(), kDefaultDirValue, nullptr, &type,
                           reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS)
        return std::nullopt;
    // Only a string counts, and only up to its first NUL within what was read.
    if (type != REG_SZ && type != REG_EXPAND_SZ) return std::nullopt;
    return CString(std::string(buffer, strnlen(buffer, size)));
}

} // namespace

CString CDSNAttributes::GetUnsharedFileDsnPath(const CString& name) const
{
    if (!IsPlainFileName(name)) return CString();
    const auto folder = DefaultFileDsnDir();
    if (!folder) return CString();
    return CString(folder->str() + "\\" + name.str() + " (not sharable).DSN");
}

void CDSNAttributes::WriteUnsharedFileDsn() const
{
    const CString& name = Value(attrDSN);
    const CString path = GetUnsharedFileDsnPath(name);
    if (path.IsEmpty()) return;
    // Text mode turns each line end into CR LF; the stream opens deny-none.
    std::ofstream file(path.GetString(), std::ios::out | std::ios::trunc);
    if (!file) return;
    file << "[ODBC]\n" << "DSN=" << name.GetString() << "\n";
    file.flush();
}
