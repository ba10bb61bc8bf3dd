// Stand-in ODBC installer that keeps to the installer's documented contract,
// where Wine's own installer does not: loaded in place of the system's (DLL
// override), it lets the tests and tools see the setup module on the platform
// its users have. Registry-backed like the real one:
//   user data sources    HKCU\Software\ODBC\ODBC.INI   (ODBC Data Sources + one section each)
//   system data sources  HKLM\Software\ODBC\ODBC.INI
//   drivers              HKLM\Software\ODBC\ODBCINST.INI
// Each function says what the documentation prescribes and, marked "Reading:",
// what this stand-in chose where the documentation leaves it open. It is for
// tests and the demo only.
#include "InstallerText.h"
#include "../common/CodePage.h"

#include "afx/Handles.h"

#include <windows.h>
#include <odbcinst.h>
#include <sqlext.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

const char kOdbcIni[] = "Software\\ODBC\\ODBC.INI";
const char kSources[] = "Software\\ODBC\\ODBC.INI\\ODBC Data Sources";
const char kOdbcInst[] = "Software\\ODBC\\ODBCINST.INI";

// ---- State: the configuration mode and the error queue ----

// Reading: the documentation says the mode is kept in the registry; here it
// is a process-wide value, which is what every caller in one process observes.
UWORD g_mode = ODBC_BOTH_DSN;

struct Error {
    DWORD code;
    std::string text;
};
// Reading: the documentation speaks of "the last call's" errors; requests of
// several threads run at once, so each thread has its own queue. Kept by
// thread id under a lock rather than in thread-local storage, whose
// destructors the runtime runs as threads and the process end.
SRWLOCK g_errorsLock = SRWLOCK_INIT;
std::map<DWORD, std::vector<Error>> g_errors;

std::vector<Error> ThreadErrors()
{
    const afx::ExclusiveHold hold(g_errorsLock);
    return g_errors[GetCurrentThreadId()];
}

// The `record`-th error (from 1) of this thread's queue, for both forms of
// SQLInstallerError; none, with the text and length emptied and the answer
// set (SQL_ERROR out of range, SQL_NO_DATA past the last), when there is none.
template <typename Char>
std::optional<Error> Record(WORD record, Char* text, WORD size, WORD* length, SQLRETURN& answer)
{
    if (record < 1 || record > 8) {
        answer = SQL_ERROR;
        return std::nullopt;
    }
    const std::vector<Error> errors = ThreadErrors();
    if (record > errors.size()) {
        if (length) *length = 0;
        if (text && size > 0) text[0] = Char();
        answer = SQL_NO_DATA;
        return std::nullopt;
    }
    return errors[record - 1];
}

// Every installer function but SQLInstallerError starts with an empty queue:
// "the error queue is flushed each time a new installer function is called".
void Begin()
{
    const afx::ExclusiveHold hold(g_errorsLock);
    g_errors[GetCurrentThreadId()].clear();
}

// Posts an error; returns FALSE for the caller's convenience. The queue holds 8.
BOOL Fail(DWORD code, const char* text)
{
    const afx::ExclusiveHold hold(g_errorsLock);
    std::vector<Error>& errors = g_errors[GetCurrentThreadId()];
    if (errors.size() < 8) errors.push_back({code, text});
    return FALSE;
}

// ---- Registry ----

std::string Narrow(const wchar_t* text, size_t length)
{
    if (!text || !length) return std::string();
    const int size = WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), nullptr, 0,
                                         nullptr, nullptr);
    std::string result(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), &result[0], size, nullptr, nullptr);
    return result;
}

using codepage::Widen;

// A string value; the registry keeps names and values in Unicode, so the
// wide entry looks its driver up by the caller's own text.
std::optional<std::wstring> ReadStringW(HKEY root, const std::wstring& key, const wchar_t* value)
{
    afx::UniqueRegKey handle;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_QUERY_VALUE, handle.put()) != ERROR_SUCCESS)
        return std::nullopt;
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(handle.get(), value, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return std::nullopt;
    std::wstring data(size / sizeof(wchar_t) + 1, L'\0');
    if (RegQueryValueExW(handle.get(), value, nullptr, &type, reinterpret_cast<BYTE*>(&data[0]),
                         &size) != ERROR_SUCCESS)
        return std::nullopt;
    data.resize(wcsnlen(data.c_str(), size / sizeof(wchar_t)));
    return data;
}

std::optional<std::string> ReadString(HKEY root, const std::string& key, const char* value)
{
    const auto wide = ReadStringW(root, Widen(key), Widen(value).c_str());
    if (!wide) return std::nullopt;
    return Narrow(wide->c_str(), wide->size());
}

bool WriteString(HKEY root, const std::string& key, const char* name, const std::string& value)
{
    afx::UniqueRegKey handle;
    return RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, handle.put(),
                           nullptr) == ERROR_SUCCESS &&
           RegSetValueExA(handle.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
}

bool KeyExists(HKEY root, const std::string& key)
{
    afx::UniqueRegKey handle;
    return RegOpenKeyExA(root, key.c_str(), 0, KEY_QUERY_VALUE, handle.put()) == ERROR_SUCCESS;
}

// Deletes a key with everything below it; a missing key is no failure.
bool DeleteKey(HKEY root, const std::string& key)
{
    const LONG status = RegDeleteTreeA(root, key.c_str());
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) return false;
    const LONG last = RegDeleteKeyA(root, key.c_str());
    return last == ERROR_SUCCESS || last == ERROR_FILE_NOT_FOUND;
}

bool DeleteValue(HKEY root, const std::string& key, const char* name)
{
    afx::UniqueRegKey handle;
    const LONG open = RegOpenKeyExA(root, key.c_str(), 0, KEY_SET_VALUE, handle.put());
    if (open == ERROR_FILE_NOT_FOUND) return true;
    if (open != ERROR_SUCCESS) return false;
    const LONG status = RegDeleteValueA(handle.get(), name);
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

// Names of the subkeys (what == 0) or of the values (what == 1) of a key.
std::vector<std::string> Names(HKEY root, const std::string& key, int what)
{
    std::vector<std::string> names;
    afx::UniqueRegKey handle;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, handle.put()) != ERROR_SUCCESS) return names;
    for (DWORD i = 0;; ++i) {
        char name[1024];
        DWORD length = sizeof name;
        const LONG status =
            what == 0 ? RegEnumKeyExA(handle.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr)
                      : RegEnumValueA(handle.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status != ERROR_SUCCESS) break;
        names.emplace_back(name, length);
    }
    return names;
}

// ---- Where a call goes ----

// A section name must be one registry key below ODBC.INI. Reading: the
// documentation does not say what an empty name or one holding a backslash
// means; taking them literally would reach ODBC.INI itself or a key below
// another section, so they are refused.
bool IsSectionName(const char* name) { return name && *name && !std::strchr(name, '\\'); }

std::string SectionKey(const std::string& section) { return std::string(kOdbcIni) + "\\" + section; }

// The hive of a data source for the current mode. User mode: HKCU; system
// mode: HKLM. Both: "HKEY_CURRENT_USER is tried, and if it fails,
// HKEY_LOCAL_MACHINE is used". Reading: a write to HKCU does not fail, so
// writes go there; a read or removal "fails" in HKCU when the user has no
// such data source (neither its section nor its registration), and then the
// machine's is used. One data source is never mixed from both hives.
HKEY HiveFor(const char* section, bool write)
{
    if (g_mode == ODBC_USER_DSN) return HKEY_CURRENT_USER;
    if (g_mode == ODBC_SYSTEM_DSN) return HKEY_LOCAL_MACHINE;
    if (write || !section) return HKEY_CURRENT_USER;
    const bool user = KeyExists(HKEY_CURRENT_USER, SectionKey(section)) ||
                      ReadString(HKEY_CURRENT_USER, kSources, section).has_value();
    return user ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
}

// The registry place of a profile file: ODBC.INI follows the mode,
// ODBCINST.INI is the machine's. Reading: other files are not the system
// information, and the calls on them fail.
struct Place {
    HKEY root;
    std::string key;
};
std::optional<Place> PlaceOf(const char* file, const char* section, bool write)
{
    if (file && lstrcmpiA(file, "odbc.ini") == 0) return Place{HiveFor(section, write), kOdbcIni};
    if (file && lstrcmpiA(file, "odbcinst.ini") == 0) return Place{HKEY_LOCAL_MACHINE, kOdbcInst};
    return std::nullopt;
}

// SQLValidDSN's rules: at most SQL_MAX_DSN_LENGTH characters, none of
// [ ] { } ( ) , ; ? * = ! @ \. Reading: an empty name is no name and fails too.
bool IsValidName(const char* dsn)
{
    if (!dsn || !*dsn || std::strlen(dsn) > SQL_MAX_DSN_LENGTH) return false;
    return std::strpbrk(dsn, "[]{}(),;?*=!@\\") == nullptr;
}

// A list of names as the profile functions return it (standin::CopyList).
int CopyList(const std::vector<std::string>& names, char* buffer, int size)
{
    std::string list;
    for (const auto& name : names) list.append(name).push_back('\0');
    return standin::CopyList(list, buffer, size);
}

// Removes a data source's registration and section from `root`.
bool RemoveDataSource(HKEY root, const std::string& dsn)
{
    return DeleteValue(root, kSources, dsn.c_str()) & DeleteKey(root, SectionKey(dsn));
}

// Restores the configuration mode when a SQLConfigDataSource call ends.
struct ModeForCall {
    explicit ModeForCall(UWORD mode) { g_mode = mode; }
    // "Prior to returning, SQLConfigDataSource resets configuration mode to BOTHDSN."
    ~ModeForCall() { g_mode = ODBC_BOTH_DSN; }
};

// What both forms of SQLConfigDataSource share. `loadSetup(library)` is false
// when the driver description is invalid or not installed, and else puts the
// setup library in `library` (empty when it cannot be loaded); `bind(library)`
// gives the setup function bound to the call's arguments, taking the request
// code, or nothing when the library offers none.
template <typename LoadSetup, typename Bind>
BOOL ConfigDataSourceThrough(WORD request, const LoadSetup& loadSetup, const Bind& bind)
{
    if (request == ODBC_REMOVE_DEFAULT_DSN) {
        const bool ok = RemoveDataSource(HKEY_CURRENT_USER, "Default") &
                        RemoveDataSource(HKEY_LOCAL_MACHINE, "Default") &
                        DeleteKey(HKEY_LOCAL_MACHINE, std::string(kOdbcInst) + "\\Default");
        return ok ? TRUE : Fail(ODBC_ERROR_REQUEST_FAILED, "Request failed");
    }
    if (request < ODBC_ADD_DSN || request > ODBC_REMOVE_SYS_DSN)
        return Fail(ODBC_ERROR_INVALID_REQUEST_TYPE, "Invalid type of request");
    afx::UniqueModule library;
    if (!loadSetup(library)) return Fail(ODBC_ERROR_INVALID_NAME, "Invalid driver or translator name");
    const std::function<BOOL(WORD)> configDsn = library ? bind(library.get()) : nullptr;
    if (!configDsn)
        return Fail(ODBC_ERROR_LOAD_LIB_FAILED, "Could not load the driver or translator setup library");

    const bool system = request >= ODBC_ADD_SYS_DSN;
    BOOL result = FALSE;
    {
        ModeForCall mode(system ? ODBC_SYSTEM_DSN : ODBC_USER_DSN);
        result = configDsn(static_cast<WORD>(system ? request - 3 : request));
    }
    library.reset();
    return result ? TRUE : Fail(ODBC_ERROR_REQUEST_FAILED, "Request failed");
}

template <typename Fn>
Fn Function(HMODULE library, const char* name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

using ConfigDsn = BOOL(WINAPI*)(HWND, WORD, LPCSTR, LPCSTR);
using ConfigDsnW = BOOL(WINAPI*)(HWND, WORD, LPCWSTR, LPCWSTR);

// The driver's key below ODBCINST.INI, by its Unicode description.
std::wstring DriverKeyW(const wchar_t* description) { return Widen(kOdbcInst) + L"\\" + description; }

bool WriteStringW(HKEY root, const std::wstring& key, const wchar_t* name, const std::wstring& value)
{
    afx::UniqueRegKey handle;
    return RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, handle.put(),
                           nullptr) == ERROR_SUCCESS &&
           RegSetValueExW(handle.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

// The driver's usage count; 0 when it is not installed (no key) and, for a
// key without a count (written by hand), 1.
DWORD UsageCount(const wchar_t* description)
{
    afx::UniqueRegKey handle;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, DriverKeyW(description).c_str(), 0, KEY_QUERY_VALUE, handle.put()) !=
        ERROR_SUCCESS)
        return 0;
    DWORD count = 0, type = 0, size = sizeof count;
    if (RegQueryValueExW(handle.get(), L"UsageCount", nullptr, &type, reinterpret_cast<BYTE*>(&count), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD)
        return 1;
    return count;
}

bool SetUsageCount(const wchar_t* description, DWORD count)
{
    afx::UniqueRegKey handle;
    return RegCreateKeyExW(HKEY_LOCAL_MACHINE, DriverKeyW(description).c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                           nullptr, handle.put(), nullptr) == ERROR_SUCCESS &&
           RegSetValueExW(handle.get(), L"UsageCount", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&count),
                          sizeof count) == ERROR_SUCCESS;
}

// Removes from `root` every data source registered for `driver`.
bool RemoveDataSourcesOf(HKEY root, const std::string& driver)
{
    bool ok = true;
    for (const std::string& dsn : Names(root, kSources, 1)) {
        const auto registered = ReadString(root, kSources, dsn.c_str());
        if (registered && lstrcmpiA(registered->c_str(), driver.c_str()) == 0)
            ok = RemoveDataSource(root, dsn) && ok;
    }
    return ok;
}

} // namespace

extern "C" {

BOOL WINAPI SQLGetConfigMode(UWORD* mode)
{
    Begin();
    if (!mode) return Fail(ODBC_ERROR_GENERAL_ERR, "General installer error");
    *mode = g_mode;
    return TRUE;
}

BOOL WINAPI SQLSetConfigMode(UWORD mode)
{
    Begin();
    if (mode != ODBC_BOTH_DSN && mode != ODBC_USER_DSN && mode != ODBC_SYSTEM_DSN)
        return Fail(ODBC_ERROR_INVALID_PARAM_SEQUENCE, "Invalid parameter sequence");
    g_mode = mode;
    return TRUE;
}

// Refused names post no error: the documented errors are only general ones.
BOOL WINAPI SQLValidDSN(LPCSTR dsn)
{
    Begin();
    return IsValidName(dsn) ? TRUE : FALSE;
}

// Documented: adds the data source to the [ODBC Data Sources] section, then
// creates the data source's own section with the single keyword Driver
// holding the driver's library; an existing section is removed first.
// The name is checked as SQLValidDSN checks it. Reading: "lpszDriver was
// invalid" includes a driver that is not installed, i.e. has no Driver value
// under ODBCINST.INI; such a driver is refused. The special handling of a
// data source named Default (a default driver section) is not played.
BOOL WINAPI SQLWriteDSNToIni(LPCSTR dsn, LPCSTR driver)
{
    Begin();
    if (!IsValidName(dsn)) return Fail(ODBC_ERROR_INVALID_DSN, "Invalid DSN");
    if (!driver || !*driver || std::strchr(driver, '\\'))
        return Fail(ODBC_ERROR_INVALID_NAME, "Invalid driver or translator name");
    const auto library = ReadString(HKEY_LOCAL_MACHINE, std::string(kOdbcInst) + "\\" + driver, "Driver");
    if (!library) return Fail(ODBC_ERROR_INVALID_NAME, "Invalid driver or translator name");

    const HKEY root = HiveFor(dsn, true);
    if (!DeleteKey(root, SectionKey(dsn)) || !WriteString(root, kSources, dsn, driver) ||
        !WriteString(root, SectionKey(dsn), "Driver", *library))
        return Fail(ODBC_ERROR_REQUEST_FAILED, "Request failed");
    return TRUE;
}

// Documented: removes the name from the [ODBC Data Sources] section and the
// data source's own section; TRUE also when there was none. Reading:
// names SQLValidDSN refuses are refused here too (ODBC_ERROR_INVALID_DSN).
BOOL WINAPI SQLRemoveDSNFromIni(LPCSTR dsn)
{
    Begin();
    if (!IsValidName(dsn)) return Fail(ODBC_ERROR_INVALID_DSN, "Invalid DSN");
    if (!RemoveDataSource(HiveFor(dsn, false), dsn))
        return Fail(ODBC_ERROR_REQUEST_FAILED, "Request failed");
    return TRUE;
}

// A null entry deletes the whole section, a null string the entry.
BOOL WINAPI SQLWritePrivateProfileString(LPCSTR section, LPCSTR entry, LPCSTR string, LPCSTR file)
{
    Begin();
    const auto place = PlaceOf(file, section, true);
    if (!place || !IsSectionName(section)) return Fail(ODBC_ERROR_REQUEST_FAILED, "Request failed");
    const std::string key = place->key + "\\" + section;
    const bool ok = !entry    ? DeleteKey(place->root, key)
                    : !string ? DeleteValue(place->root, key, entry)
                              : WriteString(place->root, key, entry, string);
    return ok ? TRUE : Fail(ODBC_ERROR_REQUEST_FAILED, "Request failed");
}

// A null section lists the sections, a null entry the entries of the section,
// each NUL-ended; otherwise the entry's value, or the default when there is
// none. The result is the number of characters copied; a value cut to fit
// the buffer gives size - 1, a cut list size - 2. Reading: the default
// "cannot be NULL", so a call with a null default fails and answers 0, and
// so does one without a buffer.
int WINAPI SQLGetPrivateProfileString(LPCSTR section, LPCSTR entry, LPCSTR defaultText,
                                      LPSTR buffer, int size, LPCSTR file)
{
    Begin();
    if (!buffer || size <= 0) return Fail(ODBC_ERROR_GENERAL_ERR, "General installer error");
    buffer[0] = '\0';
    if (!defaultText) return Fail(ODBC_ERROR_GENERAL_ERR, "General installer error");
    const auto place = PlaceOf(file, section, false);
    if (!place) return Fail(ODBC_ERROR_GENERAL_ERR, "General installer error");
    if (!section) return CopyList(Names(place->root, place->key, 0), buffer, size);
    if (!IsSectionName(section)) return standin::CopyOut(defaultText, buffer, size);
    const std::string key = place->key + "\\" + section;
    if (!entry) return CopyList(Names(place->root, key, 1), buffer, size);
    return standin::CopyOut(ReadString(place->root, key, entry).value_or(defaultText), buffer, size);
}

// "Loads the setup DLL named for the driver in the system information and
// calls ConfigDSN", with the system requests mapped to the user ones (4-6 to
// 1-3) and the mode set to system (user for 1-3) for the call; FALSE when the
// setup library cannot be found or loaded, else ConfigDSN's answer. The
// library is freed when the call ends. ODBC_REMOVE_DEFAULT_DSN removes the
// Default data source (both hives) and the Default driver section without
// calling a driver. Reading: the attribute list is passed on unchecked.
BOOL WINAPI SQLConfigDataSource(HWND parent, WORD request, LPCSTR driver, LPCSTR attributes)
{
    Begin();
    return ConfigDataSourceThrough(
        request,
        [&](afx::UniqueModule& library) {
            if (!driver || !*driver || std::strchr(driver, '\\')) return false;
            const auto setup = ReadString(HKEY_LOCAL_MACHINE, std::string(kOdbcInst) + "\\" + driver, "Setup");
            if (!setup) return false;
            library.reset(LoadLibraryA(setup->c_str()));
            return true;
        },
        [&](HMODULE library) -> std::function<BOOL(WORD)> {
            const auto configDsn = Function<ConfigDsn>(library, "ConfigDSN");
            if (!configDsn) return nullptr;
            return [=](WORD code) { return configDsn(parent, code, driver, attributes); };
        });
}

// The wide form: the same with the driver looked up by its Unicode
// description, calling the setup library's ConfigDSNW with the caller's text.
// Reading: a library without ConfigDSNW gets ConfigDSN with the arguments
// converted to the ANSI code page with the default flags, as Wine 10 does
// (a character the code page lacks becomes a look-alike or a default one).
BOOL WINAPI SQLConfigDataSourceW(HWND parent, WORD request, LPCWSTR driver, LPCWSTR attributes)
{
    Begin();
    size_t length = 0;
    if (attributes)
        while (attributes[length] || attributes[length + 1]) ++length;
    const std::string list = Narrow(attributes, length) + std::string(2, '\0');
    const std::string name = driver ? Narrow(driver, wcslen(driver)) : std::string();
    return ConfigDataSourceThrough(
        request,
        [&](afx::UniqueModule& library) {
            if (!driver || !*driver || std::wcschr(driver, L'\\')) return false;
            const std::wstring key = Widen(kOdbcInst) + L"\\" + driver;
            const auto setup = ReadStringW(HKEY_LOCAL_MACHINE, key, L"Setup");
            if (!setup) return false;
            library.reset(LoadLibraryW(setup->c_str()));
            return true;
        },
        [&](HMODULE library) -> std::function<BOOL(WORD)> {
            if (const auto wide = Function<ConfigDsnW>(library, "ConfigDSNW"))
                return [=](WORD code) { return wide(parent, code, driver, attributes); };
            const auto configDsn = Function<ConfigDsn>(library, "ConfigDSN");
            if (!configDsn) return nullptr;
            return [=, &list, &name](WORD code) {
                return configDsn(parent, code, name.c_str(), attributes ? list.c_str() : nullptr);
            };
        });
}

// Documented: queues an error for the caller of the setup function, which
// the installer's caller reads with SQLInstallerError.
SQLRETURN WINAPI SQLPostInstallerError(DWORD code, LPCSTR text)
{
    if (code < ODBC_ERROR_GENERAL_ERR || code > ODBC_ERROR_OUTPUT_STRING_TRUNCATED) return SQL_ERROR;
    Fail(code, text ? text : "");
    return SQL_SUCCESS;
}

// Records 1 to 8 of the last call's errors. SQL_NO_DATA past the last one;
// SQL_SUCCESS_WITH_INFO when the text was cut to the buffer; the text's full
// length in *length.
SQLRETURN WINAPI SQLInstallerError(WORD record, DWORD* code, LPSTR text, WORD size, WORD* length)
{
    SQLRETURN answer = SQL_SUCCESS;
    const std::optional<Error> found = Record(record, text, size, length, answer);
    if (!found) return answer;
    const Error& error = *found;
    if (code) *code = error.code;
    if (length) *length = static_cast<WORD>(error.text.size());
    standin::CopyOut(error.text, text, size);
    return !text || error.text.size() >= size ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
}

// Documented: the list is the driver's description, then keyword-value
// pairs, Driver first, each NUL-ended, the list ended by one more NUL; the
// keywords name the driver's files. The driver goes into the system
// information under ODBCINST.INI\<description> with its pairs and the
// description into the "ODBC Drivers" list as "Installed"; its usage count
// (UsageCount) goes up by one, and is returned. lpszPathIn is the folder to
// install in (null: the system folder), returned in lpszPathOut;
// ODBC_INSTALL_INQUIRY only answers the folder. Reading: a file keyword
// (Driver, Setup, Translator) that names a file only is kept as its full
// path in that folder, one that already holds a full path as given; the
// folder is the caller's business and is not checked for the files.
BOOL WINAPI SQLInstallDriverExW(LPCWSTR driver, LPCWSTR pathIn, LPWSTR pathOut, WORD pathOutMax,
                                WORD* pathOutLength, WORD request, LPDWORD usageCount)
{
    Begin();
    if (request != ODBC_INSTALL_INQUIRY && request != ODBC_INSTALL_COMPLETE)
        return Fail(ODBC_ERROR_INVALID_REQUEST_TYPE, "Invalid type of request");
    if (!driver || !*driver || std::wcschr(driver, L'\\'))
        return Fail(ODBC_ERROR_INVALID_KEYWORD_VALUE, "Invalid keyword-value pairs");
    std::vector<std::pair<std::wstring, std::wstring>> pairs;
    for (const wchar_t* at = driver + wcslen(driver) + 1; *at; at += wcslen(at) + 1) {
        const wchar_t* equals = std::wcschr(at, L'=');
        if (!equals || equals == at) return Fail(ODBC_ERROR_INVALID_KEYWORD_VALUE, "Invalid keyword-value pairs");
        pairs.emplace_back(std::wstring(at, equals), std::wstring(equals + 1));
    }
    if (pairs.empty() || _wcsicmp(pairs[0].first.c_str(), L"Driver") != 0)
        return Fail(ODBC_ERROR_INVALID_KEYWORD_VALUE, "Invalid keyword-value pairs");

    std::wstring folder = pathIn ? pathIn : L"";
    if (!pathIn) {
        wchar_t system[MAX_PATH] = {};
        GetSystemDirectoryW(system, MAX_PATH);
        folder = system;
    }
    if (folder.empty()) return Fail(ODBC_ERROR_INVALID_PATH, "Invalid install path");
    if (pathOutLength) *pathOutLength = static_cast<WORD>(folder.size());
    if (pathOut && pathOutMax) {
        const size_t n = std::min(folder.size(), static_cast<size_t>(pathOutMax) - 1);
        std::wmemcpy(pathOut, folder.c_str(), n);
        pathOut[n] = L'\0';
    }
    if (!pathOut || folder.size() >= pathOutMax)
        return Fail(ODBC_ERROR_INVALID_BUFF_LEN, "Invalid buffer length");
    if (request == ODBC_INSTALL_INQUIRY) return TRUE;

    const std::wstring key = DriverKeyW(driver);
    const DWORD count = UsageCount(driver) + 1;
    for (auto& [keyword, value] : pairs) {
        const bool file = _wcsicmp(keyword.c_str(), L"Driver") == 0 || _wcsicmp(keyword.c_str(), L"Setup") == 0 ||
                          _wcsicmp(keyword.c_str(), L"Translator") == 0;
        const bool fullPath = value.find_first_of(L"\\/") != std::wstring::npos;
        if (file && !fullPath) value = folder + (folder.back() == L'\\' ? L"" : L"\\") + value;
        if (!WriteStringW(HKEY_LOCAL_MACHINE, key, keyword.c_str(), value))
            return Fail(ODBC_ERROR_GENERAL_ERR, "General installer error");
    }
    if (!SetUsageCount(driver, count) ||
        !WriteStringW(HKEY_LOCAL_MACHINE, Widen(kOdbcInst) + L"\\ODBC Drivers", driver, L"Installed"))
        return Fail(ODBC_ERROR_USAGE_UPDATE_FAILED, "Component usage count update failed");
    if (usageCount) *usageCount = count;
    return TRUE;
}

// Documented: the driver's usage count goes down by one, returned; at 0 its
// entry under ODBCINST.INI and its "ODBC Drivers" value go, and with
// fRemoveDSN its data sources too. A driver not installed is
// ODBC_ERROR_COMPONENT_NOT_FOUND. Reading: the data sources go with the
// entry only, while another install still uses the driver they stay; both
// the user's and the machine's go.
BOOL WINAPI SQLRemoveDriverW(LPCWSTR driver, BOOL removeDsns, LPDWORD usageCount)
{
    Begin();
    if (!driver || !*driver || std::wcschr(driver, L'\\'))
        return Fail(ODBC_ERROR_INVALID_NAME, "Invalid driver or translator name");
    const DWORD count = UsageCount(driver);
    if (!count) return Fail(ODBC_ERROR_COMPONENT_NOT_FOUND, "Component not found");
    if (count > 1) {
        if (!SetUsageCount(driver, count - 1))
            return Fail(ODBC_ERROR_USAGE_UPDATE_FAILED, "Component usage count update failed");
        if (usageCount) *usageCount = count - 1;
        return TRUE;
    }
    const std::string name = Narrow(driver, wcslen(driver));
    const auto gone = [](LONG status) { return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND; };
    if (!gone(RegDeleteTreeW(HKEY_LOCAL_MACHINE, DriverKeyW(driver).c_str())) ||
        !gone(RegDeleteKeyW(HKEY_LOCAL_MACHINE, DriverKeyW(driver).c_str())) ||
        !gone(RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, (Widen(kOdbcInst) + L"\\ODBC Drivers").c_str(), driver)))
        return Fail(ODBC_ERROR_USAGE_UPDATE_FAILED, "Component usage count update failed");
    if (usageCount) *usageCount = 0;
    if (removeDsns && !(RemoveDataSourcesOf(HKEY_CURRENT_USER, name) & RemoveDataSourcesOf(HKEY_LOCAL_MACHINE, name)))
        return Fail(ODBC_ERROR_REQUEST_FAILED, "Request failed");
    return TRUE;
}

// The wide form of SQLInstallerError: the same records, the text in
// Unicode, `size` and `*length` in characters.
SQLRETURN WINAPI SQLInstallerErrorW(WORD record, DWORD* code, LPWSTR text, WORD size, WORD* length)
{
    SQLRETURN answer = SQL_SUCCESS;
    const std::optional<Error> found = Record(record, text, size, length, answer);
    if (!found) return answer;
    const Error& error = *found;
    const std::wstring wide = Widen(error.text);
    if (code) *code = error.code;
    if (length) *length = static_cast<WORD>(wide.size());
    if (text && size > 0) {
        const size_t n = std::min(wide.size(), static_cast<size_t>(size) - 1);
        std::wmemcpy(text, wide.c_str(), n);
        text[n] = L'\0';
    }
    return !text || wide.size() >= size ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
}

}
