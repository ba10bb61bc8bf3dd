// bkdsn: scripted deployment of data sources through the ODBC installer.
//
//   bkdsn install-driver DESCRIPTION SETUP_DLL [DRIVER_DLL]
//                                                 install the driver through the installer,
//                                                 which counts the installs
//   bkdsn remove-driver DESCRIPTION [--remove-dsns]
//                                                 one install fewer; the last removes the
//                                                 driver (and its data sources)
//   bkdsn export [DESCRIPTION] [--system|--user] FILE
//                                                 the data sources as a batch file that
//                                                 batch replays
//   bkdsn set-dsn-dir FOLDER                      set the machine's default file-DSN folder
//   bkdsn REQUEST DESCRIPTION [KEY=VALUE ...]     add / configure / remove a data source
//   bkdsn show DSN                                print a data source's stored entry and
//                                                 which hive holds each part of it
//   bkdsn list [DESCRIPTION]                      every data source of the user and of the
//                                                 machine (or of one driver), with its hive
//   bkdsn batch FILE [--keep-going]               one of the above per line of FILE
//
// REQUEST is add, config, remove (user data sources), add-sys, config-sys,
// remove-sys (system data sources), remove-default, or a request code 1 to 7.
// Requests go through the installer's Unicode entry, so a name the ANSI code
// page cannot hold is refused instead of arriving as a look-alike.
// Exit status 0 on success, 1 when the installer or the driver refused, 2 on
// misuse or a malformed batch line. Output is UTF-8.
#include "NameText.h"
#include "OdbcNames.h"
#include "ProfileText.h"
#include "afx/Handles.h"
#include "afx/Registry.h"

#include <windows.h>
#include <odbcinst.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwctype>
#include <new>
#include <optional>
#include <string>
#include <vector>

namespace {

using Args = std::vector<std::wstring>;

using odbc::kSourcesSection;

// ---- Text: arguments are Unicode, the installer's profile text is ANSI, output UTF-8 ----

std::string ToUtf8(const std::wstring& text)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(size), '\0');
    if (size)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &utf8[0], size,
                            nullptr, nullptr);
    return utf8;
}

void PrintTo(FILE* stream, const std::wstring& text)
{
    const std::string utf8 = ToUtf8(text);
    std::fwrite(utf8.data(), 1, utf8.size(), stream);
    std::fputc('\n', stream);
}
void Print(const std::wstring& text) { PrintTo(stdout, text); }

std::wstring FromCodePage(UINT codePage, const std::string& text)
{
    std::wstring wide(text.size(), L'\0');
    wide.resize(static_cast<size_t>(MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()),
                                                        &wide[0], static_cast<int>(wide.size()))));
    return wide;
}
std::wstring FromAnsi(const std::string& text) { return FromCodePage(CP_ACP, text); }

// The argument in the ANSI code page for the calls that take 8-bit text, or
// nothing (and a message) when the code page cannot hold it exactly.
std::optional<std::string> Ansi(const std::wstring& argument)
{
    auto ansi = TextToAnsi(argument.c_str());
    if (!ansi) Print(L"\"" + argument + L"\" cannot be represented in the ANSI code page");
    return ansi;
}

// ---- The verbs ----

struct Verb;
using Run = bool (*)(const Verb& verb, const Args& args);
using Check = bool (*)(const Args& args);
struct Verb {
    const wchar_t* name;
    size_t minArgs, maxArgs;
    WORD request;   // for the installer's requests
    Run run;
    Check wellFormed = nullptr;   // the arguments' form beyond their number, when it matters
};

// The installer's errors of the last call, to stderr.
void PrintInstallerErrors()
{
    for (WORD i = 1; i <= 8; ++i) {
        DWORD code = 0;
        wchar_t message[SQL_MAX_MESSAGE_LENGTH] = {};
        WORD length = 0;
        const SQLRETURN got = SQLInstallerErrorW(i, &code, message, SQL_MAX_MESSAGE_LENGTH, &length);
        if (got != SQL_SUCCESS && got != SQL_SUCCESS_WITH_INFO) break;
        PrintTo(stderr, L"installer error " + std::to_wstring(code) + L": " + message);
    }
}

// The full path of `path` (relative to the current folder), as the installer keeps it.
std::wstring FullPath(const std::wstring& path)
{
    const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (!size) return path;
    std::wstring full(size, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), size, &full[0], nullptr);
    full.resize(length < size ? length : 0);
    return full.empty() ? path : full;
}

// The folder part of a full path, and the name in it.
std::wstring FolderOf(const std::wstring& path) { return path.substr(0, path.find_last_of(L"\\/")); }
std::wstring NameIn(const std::wstring& path) { return path.substr(path.find_last_of(L"\\/") + 1); }

// Through the installer, which counts the installs of one description (so
// that two products sharing the driver do not remove it from each other),
// writes the registry view of this process's bitness and reports its own
// errors. The driver is installed in the setup module's folder: the library
// values name their files in it, as the installer's callers do, and it
// keeps them as full paths; a driver library in another folder goes as a
// full path. Driver names the setup module unless given.
bool InstallDriver(const Verb&, const Args& args)
{
    const std::wstring setup = FullPath(args[1]), driver = args.size() > 2 ? FullPath(args[2]) : setup;
    const std::wstring folder = FolderOf(setup);
    const auto named = [&](const std::wstring& path) {
        return _wcsicmp(FolderOf(path).c_str(), folder.c_str()) == 0 ? NameIn(path) : path;
    };
    std::wstring attributes = args[0];
    attributes.push_back(L'\0');
    attributes.append(L"Driver=" + named(driver)).push_back(L'\0');
    attributes.append(L"Setup=" + named(setup)).push_back(L'\0');
    attributes.push_back(L'\0');
    wchar_t installedIn[MAX_PATH] = {};
    WORD length = 0;
    DWORD usageCount = 0;
    if (!SQLInstallDriverExW(attributes.c_str(), folder.c_str(), installedIn, MAX_PATH, &length,
                             ODBC_INSTALL_COMPLETE, &usageCount)) {
        PrintInstallerErrors();
        return false;
    }
    Print(L"\"" + args[0] + L"\" installed in " + installedIn + L", usage count " + std::to_wstring(usageCount));
    return true;
}

// One install fewer; at none the installer drops the driver's entry and,
// when asked, its data sources.
bool RemoveDriver(const Verb&, const Args& args)
{
    DWORD usageCount = 0;
    if (!SQLRemoveDriverW(args[0].c_str(), args.size() > 1, &usageCount)) {
        PrintInstallerErrors();
        return false;
    }
    Print(L"\"" + args[0] + L"\" removed, usage count " + std::to_wstring(usageCount));
    return true;
}

bool Configure(const Verb& verb, const Args& args)
{
    std::wstring attributes;
    for (size_t i = 1; i < args.size(); ++i) attributes.append(args[i]).push_back(L'\0');
    attributes.push_back(L'\0');
    const BOOL ok = SQLConfigDataSourceW(nullptr, verb.request, args[0].c_str(), attributes.c_str());
    if (!ok) PrintInstallerErrors();
    return ok != FALSE;
}

// ---- The installer's profile, read whole as the module reads it ----

int GetProfileText(const char* section, const char* entry, const char* defaultText, char* buffer,
                   int size, const char* file)
{
    return SQLGetPrivateProfileString(section, entry, defaultText, buffer, size, file);
}

// A value of a data source read whole, empty when it has none; nothing when
// it cannot be read whole.
std::optional<std::string> ProfileWhole(const char* section, const char* entry)
{
    profile::Reader reader(GetProfileText, odbc::kDataSources);
    std::string value;
    switch (reader.Value(section, entry, value)) {
    case profile::Stored::Found: return value;
    case profile::Stored::Absent: return std::string();
    case profile::Stored::Unreadable: break;
    }
    return std::nullopt;
}

std::string Profile(const char* section, const char* entry)
{
    return ProfileWhole(section, entry).value_or(std::string());
}

std::vector<std::string> Entries(const char* section)
{
    profile::Reader reader(GetProfileText, odbc::kDataSources);
    return reader.Keys(section).value_or(std::vector<std::string>());
}

// ---- The registry, where the tool shows which hive holds what ----

std::optional<std::string> RegistryText(HKEY root, const std::string& key, const char* name)
{
    return afx::ReadRegistryString(root, key.c_str(), name, afx::ValueTypes::AnyAsText, afx::ExpandSz::Keep);
}

bool SetRegistryText(HKEY root, const char* key, const char* name, const std::string& text)
{
    afx::UniqueRegKey handle;
    return RegCreateKeyExA(root, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, handle.put(), nullptr) ==
               ERROR_SUCCESS &&
           RegSetValueExA(handle.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>(text.size() + 1)) == ERROR_SUCCESS;
}

// The names of the values of a key of `root`.
std::vector<std::string> ValueNames(HKEY root, const std::string& key)
{
    std::vector<std::string> names;
    afx::UniqueRegKey handle;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_QUERY_VALUE, handle.put()) != ERROR_SUCCESS) return names;
    for (DWORD i = 0;; ++i) {
        char name[1024];
        DWORD length = sizeof name;
        if (RegEnumValueA(handle.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.emplace_back(name, length);
    }
    return names;
}

bool SetDsnDir(const Verb&, const Args& args)
{
    const auto folder = Ansi(args[0]);
    return folder && SetRegistryText(HKEY_LOCAL_MACHINE, odbc::kFileDsnKey, "DefaultDSNDir", *folder);
}

// The installer's configuration mode for the lifetime of the object; the
// caller's mode comes back on every way out.
class ConfigModeFor {
public:
    explicit ConfigModeFor(UWORD mode) : m_saved(ODBC_BOTH_DSN) {
        SQLGetConfigMode(&m_saved);
        m_set = SQLSetConfigMode(mode) != FALSE;
    }
    ~ConfigModeFor() { SQLSetConfigMode(m_saved); }
    ConfigModeFor(const ConfigModeFor&) = delete;
    ConfigModeFor& operator=(const ConfigModeFor&) = delete;
    bool set() const { return m_set; }

private:
    UWORD m_saved;
    bool m_set = false;
};

// The data sources in the installer's list of each scope, as the installer
// itself reads them in that scope's mode.
bool List(const Verb&, const Args& args)
{
    const std::optional<std::wstring> only = args.empty() ? std::nullopt : std::make_optional(args[0]);
    const struct { UWORD mode; const wchar_t* hive; } scopes[] = {{ODBC_USER_DSN, L"user"},
                                                                  {ODBC_SYSTEM_DSN, L"system"}};
    size_t listed = 0;
    for (const auto& scope : scopes) {
        ConfigModeFor mode(scope.mode);
        if (!mode.set()) return false;
        for (const std::string& name : Entries(kSourcesSection)) {
            const std::wstring driver = FromAnsi(Profile(kSourcesSection, name.c_str()));
            if (only && driver != *only) continue;
            Print(FromAnsi(name) + L": " + driver + L" (" + scope.hive + L")");
            ++listed;
        }
    }
    if (!listed) Print(L"(no data sources)");
    return true;
}

struct Hive {
    HKEY root;
    const wchar_t* name;
};
const Hive kHives[] = {{HKEY_CURRENT_USER, L"user's"}, {HKEY_LOCAL_MACHINE, L"machine's"}};

// The names of the keys a hive's section of the data source holds, comma-separated.
std::wstring StoredKeys(HKEY root, const std::string& dsn)
{
    std::wstring names;
    for (const std::string& name : ValueNames(root, std::string(odbc::kDataSourcesKey) + "\\" + dsn))
        names += (names.empty() ? L"" : L", ") + FromAnsi(name);
    return names;
}

// The registration, the keys as the installer reads them (the user's data
// source, else the system's), and in which hive each part is stored: the
// installers differ there.
bool Show(const Verb&, const Args& args)
{
    const auto ansi = Ansi(args[0]);
    if (!ansi) return false;
    const std::string& dsn = *ansi;
    const std::wstring label = L"[" + args[0] + L"]";
    bool registered = false;
    for (const Hive& hive : kHives) {
        const auto driver = RegistryText(hive.root, odbc::kSourcesKey, dsn.c_str());
        if (!driver || driver->empty()) continue;
        registered = true;
        Print(label + L" registered for \"" + FromAnsi(*driver) + L"\" in the " + hive.name + L" ODBC.INI");
    }
    if (!registered) Print(label + L" not registered");
    for (const std::string& key : Entries(dsn.c_str()))
        Print(FromAnsi(key) + L"=" + FromAnsi(Profile(dsn.c_str(), key.c_str())));
    for (const Hive& hive : kHives) {
        const std::wstring names = StoredKeys(hive.root, dsn);
        if (!names.empty()) Print(std::wstring(L"  stored in the ") + hive.name + L" ODBC.INI: " + names);
    }
    return registered;
}

// ---- Export: the data sources as a batch file that batch replays ----

// export's arguments: an optional driver description, an optional scope, the file last.
struct ExportArgs {
    std::optional<std::wstring> driver;
    bool user = true, system = true;
    std::wstring file;

    static std::optional<ExportArgs> Parse(const Args& args) {
        ExportArgs parsed;
        parsed.file = args.back();
        if (parsed.file.compare(0, 2, L"--") == 0) return std::nullopt;
        bool scoped = false;
        for (size_t i = 0; i + 1 < args.size(); ++i) {
            const bool user = args[i] == L"--user", system = args[i] == L"--system";
            if (user || system) {
                if (scoped) return std::nullopt;
                scoped = true;
                parsed.user = user;
                parsed.system = system;
            } else if (parsed.driver || args[i].compare(0, 2, L"--") == 0) {
                return std::nullopt;
            } else {
                parsed.driver = args[i];
            }
        }
        return parsed;
    }
    static bool Check(const Args& args) { return Parse(args).has_value(); }
};

// A word as batch splits it back: in double quotes, a quote as \", and the
// backslashes before a quote or before the closing quote doubled, so that
// they stand for themselves; # and blanks inside quotes are plain text.
std::wstring Quote(const std::wstring& word)
{
    std::wstring quoted = L"\"";
    size_t slashes = 0;
    for (const wchar_t c : word) {
        if (c == L'"') quoted.append(slashes + 1, L'\\');
        slashes = c == L'\\' ? slashes + 1 : 0;
        quoted.push_back(c);
    }
    quoted.append(slashes, L'\\');
    quoted.push_back(L'"');
    return quoted;
}


// One scope's data sources as batch lines, each through the verb that adds
// it again. The names are those the installer lists in the scope's mode and
// those the scope's hive registers: an installer's profile functions may
// read the list from the user's hive only while it keeps the registrations
// in the machine's. The keys are read through the installer in that mode,
// as the module reads them; the installer's own keyword stays out, the add
// writes it again. False (and a message) when a data source cannot be
// written as a line.
bool ExportScope(UWORD modeCode, HKEY hive, const wchar_t* verb, const std::optional<std::wstring>& only,
                 std::wstring& lines, size_t& count)
{
    ConfigModeFor mode(modeCode);
    if (!mode.set()) return false;
    std::vector<std::string> names = Entries(kSourcesSection);
    for (const std::string& name : ValueNames(hive, odbc::kSourcesKey))
        if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
    bool ok = true;
    for (const std::string& name : names) {
        std::string driver = Profile(kSourcesSection, name.c_str());
        if (driver.empty())
            driver = RegistryText(hive, odbc::kSourcesKey, name.c_str())
                         .value_or(std::string());
        if (driver.empty() || (only && _wcsicmp(FromAnsi(driver).c_str(), only->c_str()) != 0)) continue;
        std::wstring line = verb + (L" " + Quote(FromAnsi(driver))) + L" " + Quote(L"DSN=" + FromAnsi(name));
        bool whole = true;
        for (const std::string& key : Entries(name.c_str())) {
            if (lstrcmpiA(key.c_str(), "Driver") == 0) continue;
            const auto value = ProfileWhole(name.c_str(), key.c_str());
            whole = whole && value;
            if (value) line += L" " + Quote(FromAnsi(key) + L"=" + FromAnsi(*value));
        }
        if (!whole || line.find_first_of(L"\r\n") != std::wstring::npos) {
            Print(L"[" + FromAnsi(name) + L"] holds a value that a batch line cannot carry");
            ok = false;
            continue;
        }
        lines += line + L"\r\n";
        ++count;
    }
    return ok;
}

bool Export(const Verb&, const Args& args)
{
    const ExportArgs what = *ExportArgs::Parse(args);
    std::wstring lines;
    size_t count = 0;
    bool ok = true;
    if (what.user) ok = ExportScope(ODBC_USER_DSN, HKEY_CURRENT_USER, L"add", what.driver, lines, count) && ok;
    if (what.system)
        ok = ExportScope(ODBC_SYSTEM_DSN, HKEY_LOCAL_MACHINE, L"add-sys", what.driver, lines, count) && ok;
    if (!ok) return false;   // nothing written: a partial deployment is no deployment

    wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    GetComputerNameW(computer, &size);
    const std::wstring scope = what.user && what.system ? L"the user's and the machine's data sources"
                               : what.user              ? L"the user's data sources"
                                                        : L"the machine's data sources";
    const std::wstring comment = L"# bkdsn export: " + scope +
                                 (what.driver ? L" of \"" + *what.driver + L"\"" : std::wstring()) + L" on " +
                                 computer + L", " + std::to_wstring(count) +
                                 L" in all; replay with bkdsn batch\r\n";
    const std::string bytes = "\xEF\xBB\xBF" + ToUtf8(comment + lines);
    const afx::UniqueFile file(CreateFileW(what.file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (!file || !WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size()) {
        Print(L"export " + what.file + L": cannot be written, error " + std::to_wstring(GetLastError()));
        return false;
    }
    Print(L"exported " + std::to_wstring(count) + L" data sources to " + what.file);
    return true;
}

const size_t kAny = static_cast<size_t>(-1);
const Verb kVerbs[] = {
    {L"install-driver", 2, 3, 0, InstallDriver},
    {L"remove-driver", 1, 2, 0, RemoveDriver, [](const Args& a) { return a.size() == 1 || a[1] == L"--remove-dsns"; }},
    {L"export", 1, 3, 0, Export, ExportArgs::Check},
    {L"set-dsn-dir", 1, 1, 0, SetDsnDir},
    {L"show", 1, 1, 0, Show},
    {L"list", 0, 1, 0, List},
    {L"add", 1, kAny, ODBC_ADD_DSN, Configure},
    {L"config", 1, kAny, ODBC_CONFIG_DSN, Configure},
    {L"remove", 1, kAny, ODBC_REMOVE_DSN, Configure},
    {L"add-sys", 1, kAny, ODBC_ADD_SYS_DSN, Configure},
    {L"config-sys", 1, kAny, ODBC_CONFIG_SYS_DSN, Configure},
    {L"remove-sys", 1, kAny, ODBC_REMOVE_SYS_DSN, Configure},
    {L"remove-default", 1, kAny, ODBC_REMOVE_DEFAULT_DSN, Configure},
};

// The verb named `word` (a request code 1 to 7 names its request).
const Verb* FindVerb(const std::wstring& word)
{
    for (const Verb& verb : kVerbs) {
        const bool byCode = verb.request && word.size() == 1 && word[0] == L'0' + verb.request;
        if (word == verb.name || byCode) return &verb;
    }
    return nullptr;
}

// One request: a verb and its arguments, checked against the verb's table entry.
struct Request {
    const Verb* verb = nullptr;
    Args args;
};

std::optional<Request> MakeRequest(const Args& words)
{
    if (words.empty()) return std::nullopt;
    const Verb* verb = FindVerb(words[0]);
    const size_t count = words.size() - 1;
    if (!verb || count < verb->minArgs || count > verb->maxArgs) return std::nullopt;
    Args args(words.begin() + 1, words.end());
    if (verb->wellFormed && !verb->wellFormed(args)) return std::nullopt;
    return Request{verb, std::move(args)};
}

// What a request acts on, for its result line: the data source a request
// names (its DSN attribute), else the first argument.
std::wstring Subject(const Request& request)
{
    if (request.verb->request) {
        for (size_t i = 1; i < request.args.size(); ++i)
            if (_wcsnicmp(request.args[i].c_str(), L"DSN=", 4) == 0) return request.args[i].substr(4);
        return L"-";
    }
    if (request.verb->run == Export) return request.args.back();
    return request.args.empty() ? L"-" : request.args[0];
}

bool Execute(const Request& request, const std::wstring& prefix)
{
    const bool ok = request.verb->run(*request.verb, request.args);
    Print(prefix + request.verb->name + L" " + Subject(request) + L": " + (ok ? L"ok" : L"failed"));
    return ok;
}

int Usage()
{
    std::fputs("usage: bkdsn install-driver DESCRIPTION SETUP_DLL [DRIVER_DLL]\n"
               "       bkdsn remove-driver DESCRIPTION [--remove-dsns]\n"
               "       bkdsn export [DESCRIPTION] [--system|--user] FILE\n"
               "       bkdsn set-dsn-dir FOLDER\n"
               "       bkdsn add|config|remove|add-sys|config-sys|remove-sys|remove-default|1..7 DESCRIPTION [KEY=VALUE ...]\n"
               "       bkdsn show DSN\n"
               "       bkdsn list [DESCRIPTION]\n"
               "       bkdsn batch FILE [--keep-going]\n",
               stderr);
    return 2;
}

// ---- Batch files ----

// The file's text: UTF-16LE with its byte order mark, else UTF-8 (with or
// without one); nothing when it cannot be read or is not valid UTF-8.
std::optional<std::wstring> ReadText(const std::wstring& path)
{
    const afx::UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                           OPEN_EXISTING, 0, nullptr));
    if (!file) return std::nullopt;
    std::string bytes;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file.get(), chunk, sizeof chunk, &got, nullptr) && got) bytes.append(chunk, got);
    if (bytes.compare(0, 2, "\xFF\xFE") == 0) {
        std::wstring text((bytes.size() - 2) / 2, L'\0');
        std::memcpy(&text[0], bytes.data() + 2, text.size() * 2);
        return text;
    }
    const size_t start = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    const std::string utf8 = bytes.substr(start);
    if (utf8.empty()) return std::wstring();
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()),
                            nullptr, 0) <= 0)
        return std::nullopt;
    return FromCodePage(CP_UTF8, utf8);
}

// A line split into words as a command line is: blanks separate words,
// double quotes group them, 2n backslashes before a quote stand for n and the
// quote groups, 2n+1 for n and a literal quote, other backslashes are
// literal; a word beginning with # outside quotes starts a comment. Nothing
// for an unterminated quote.
std::optional<Args> SplitLine(const std::wstring& line)
{
    Args words;
    size_t at = 0;
    for (;;) {
        while (at < line.size() && std::iswspace(line[at])) ++at;
        if (at == line.size() || line[at] == L'#') return words;
        std::wstring word;
        bool quoted = false;
        for (; at < line.size() && (quoted || !std::iswspace(line[at])); ++at) {
            if (line[at] == L'\\') {
                const size_t end = std::min(line.find_first_not_of(L'\\', at), line.size());
                const size_t slashes = end - at;
                if (end < line.size() && line[end] == L'"') {
                    word.append(slashes / 2, L'\\');
                    if (slashes % 2) word.push_back(L'"');
                    else quoted = !quoted;
                    at = end;
                } else {
                    word.append(slashes, L'\\');
                    at = end - 1;
                }
            } else if (line[at] == L'"') {
                quoted = !quoted;
            } else {
                word.push_back(line[at]);
            }
        }
        if (quoted) return std::nullopt;
        words.push_back(word);
    }
}

int Batch(const std::wstring& path, bool keepGoing)
{
    const auto text = ReadText(path);
    if (!text) {
        Print(L"batch " + path + L": cannot be read as UTF-8 or UTF-16 text");
        return 2;
    }
    // The whole file first: a malformed line must not leave half a deployment.
    std::vector<std::pair<size_t, Request>> requests;
    bool malformed = false;
    size_t number = 0;
    for (size_t at = 0; at <= text->size(); ++number) {
        size_t end = text->find(L'\n', at);
        if (end == std::wstring::npos) end = text->size();
        std::wstring line = text->substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == L'\r') line.pop_back();
        const auto words = SplitLine(line);
        if (words && words->empty()) continue;
        const auto request = words ? MakeRequest(*words) : std::nullopt;
        if (!request || line.find(L'\0') != std::wstring::npos) {
            Print(L"line " + std::to_wstring(number + 1) + L": malformed: " + line);
            malformed = true;
            continue;
        }
        requests.emplace_back(number + 1, *request);
    }
    if (malformed) {
        Print(L"batch " + path + L": nothing run");
        return 2;
    }
    size_t succeeded = 0, failed = 0;
    for (const auto& [line, request] : requests) {
        if (Execute(request, L"line " + std::to_wstring(line) + L": ")) ++succeeded;
        else ++failed;
        if (failed && !keepGoing) break;
    }
    Print(L"batch: " + std::to_wstring(requests.size()) + L" requests, " + std::to_wstring(succeeded) +
          L" succeeded, " + std::to_wstring(failed) + L" failed, " +
          std::to_wstring(requests.size() - succeeded - failed) + L" not run");
    return failed ? 1 : 0;
}

} // namespace

namespace {
int Main(const Args& words)
{
    if (!words.empty() && words[0] == L"batch") {
        if (words.size() == 2) return Batch(words[1], false);
        if (words.size() == 3 && words[2] == L"--keep-going") return Batch(words[1], true);
        return Usage();
    }
    const auto request = MakeRequest(words);
    if (!request) return Usage();
    return Execute(*request, L"") ? 0 : 1;
}
} // namespace

// Text and lists may run out of memory (an export of a huge value): that
// ends the run as a failure, never as an exception out of main.
int wmain(int argc, wchar_t** argv)
{
    SetConsoleOutputCP(CP_UTF8);
    try {
        return Main(Args(argv + 1, argv + argc));
    } catch (const std::bad_alloc&) {
        std::fputs("bkdsn: out of memory\n", stderr);
    } catch (...) {
        std::fputs("bkdsn: internal failure\n", stderr);
    }
    return 1;
}
