// The model of the property test's rules: the installer of the run as test
// support's facts describe it, the rules a request must keep, what a round
// holds, and the printers of requests and entries for failure reports.
#pragma once

#include "InstallerUnderTest.h"
#include "OdbcNames.h"
#include "ReadBack.h"

#include <odbcinst.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

namespace hostile {

using namespace bktest;

using Keys = std::map<std::string, std::string>;

using odbc::kFileDsnKey, odbc::kSourcesKey, odbc::kDataSourcesKey;
const std::string kTracing = std::string(kDataSourcesKey) + "\\" + odbc::kTracingSection;
const char kSentinel[] = "bkPSentinel";

// The code page's own conversion with the default flags, loose: a character
// the code page lacks becomes a look-alike or a default character.
inline std::string Loosely(const std::wstring& text)
{
    std::string narrow(text.size() * 2, '\0');
    narrow.resize(static_cast<size_t>(WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                                          &narrow[0], static_cast<int>(narrow.size()),
                                                          nullptr, nullptr)));
    return narrow;
}

// ---------------------------------------------------------------------------
// The installer of this run, as test support's facts say it keeps entries
// (Wine 8 splits an entry across the hives and keeps its keys over a new
// registration and a removal; the contract keeps a user's entry wholly in the
// user's hive). Texts pass through the registry's UTF-16 either way.
struct Platform {
    // The library a driver description is installed with; none when the
    // installer refuses to register data sources for it.
    static std::optional<std::string> Library(const std::string& driver)
    {
        if (InstallerUnderTest().registersAnyDriver) return std::string();
        if (driver == kDriver) return ScopedDriverRegistration::ModulePath();
        return std::nullopt;
    }

    static StoredEntry Expected(const std::optional<std::string>& driver, const Keys& keys)
    {
        if (!driver) return {std::nullopt, {}, keys};
        return {*driver, InstallerKeywords(Library(*driver).value_or("")), keys};
    }

    // Whether a data source registered for `stored` counts as registered for
    // `driver`, so that the module does not register it again: the profile
    // finds the registration, the description is the same but for case, and
    // the section holds the driver's installed library.
    static bool RegisteredFor(const std::string& stored, const std::string& driver)
    {
        if (InstallerUnderTest().profileMissesRegistrations) return false;
        const auto library = Library(driver);
        return library && !library->empty() && lstrcmpiA(stored.c_str(), driver.c_str()) == 0;
    }

    // What is left of the stored keys after a registration: the contract's
    // empties the section, and the module can write back only what it can
    // read, which an empty value is not.
    static void AfterRegistration(Keys* keys)
    {
        if (InstallerUnderTest().registrationKeepsKeys) return;
        for (auto key = keys->begin(); key != keys->end();)
            key = key->second.empty() ? keys->erase(key) : std::next(key);
    }

    static std::string Stored(const std::string& text) { return Loosely(Widen(text)); }

    // Registrations, and sections in both hives.
    struct Counts {
        DWORD registrations = 0, machineSections = 0, userSections = 0;
        bool operator==(const Counts& o) const
        {
            return registrations == o.registrations && machineSections == o.machineSections &&
                   userSections == o.userSections;
        }
    };
    static Counts Count()
    {
        Counts counts;
        const auto info = [](HKEY root, const char* key, DWORD* subkeys, DWORD* values) {
            if (const afx::UniqueRegKey handle = reg::Open(root, key))
                RegQueryInfoKeyA(handle.get(), nullptr, nullptr, nullptr, subkeys, nullptr, nullptr,
                                 values, nullptr, nullptr, nullptr, nullptr);
        };
        info(RegistrationHive(Scope::User), kSourcesKey, nullptr, &counts.registrations);
        info(HKEY_LOCAL_MACHINE, kDataSourcesKey, &counts.machineSections, nullptr);
        info(HKEY_CURRENT_USER, kDataSourcesKey, &counts.userSections, nullptr);
        return counts;
    }
    // Split: a machine's section per registration, a user's per entry with
    // keys. Else a user's section per registration.
    static Counts Expect(Counts baseline, DWORD registered, DWORD withKeys)
    {
        const bool split = InstallerUnderTest().splitsEntryAcrossHives;
        baseline.registrations += registered;
        (split ? baseline.machineSections : baseline.userSections) += registered;
        if (split) baseline.userSections += withKeys;
        return baseline;
    }
};

inline void PrintTo(const Platform::Counts& c, std::ostream* out)
{
    *out << "{registrations " << c.registrations << ", machine sections " << c.machineSections
         << ", user sections " << c.userSections << "}";
}

// ---------------------------------------------------------------------------
// The rules, written from the design and the decided mends.

const char* const kKeyNames[] = {"DSN",          "DBQ",            "MaxColSupport",
                                 "ShortenNames", "StandardMode",   "DictionaryMode",
                                 "DatabaseType"};

inline bool SameAsciiNoCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (tolower(static_cast<unsigned char>(a[i])) != tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// The list as the module must read it: elements up to the first empty one;
// the key is everything before the first "=", untrimmed, matched without
// regard to case; unknown keys, elements without "=" or with an empty key
// are ignored; a repeated key keeps its last value.
struct Parsed {
    std::optional<std::string> dsn;
    Keys supplied;   // by the key's own spelling
};

inline Parsed Parse(const std::string& list)
{
    Parsed parsed;
    for (size_t at = 0; at < list.size() && list[at] != '\0';) {
        const std::string element = list.c_str() + at;
        at += element.size() + 1;
        const size_t equals = element.find('=');
        if (equals == std::string::npos || equals == 0) continue;
        const std::string key = element.substr(0, equals), value = element.substr(equals + 1);
        for (int index = 0; index < 7; ++index) {
            if (!SameAsciiNoCase(key, kKeyNames[index])) continue;
            if (index == 0) parsed.dsn = value;
            else parsed.supplied[kKeyNames[index]] = value;
        }
    }
    return parsed;
}

inline bool ConvertsStrictly(const std::string& name)
{
    return MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name.data(),
                               static_cast<int>(name.size()), nullptr, 0) > 0;
}

inline bool InstallerSection(const std::string& name)
{
    for (const char* section : {"ODBC Data Sources", "ODBC File DSN", "ODBC"})
        if (SameAsciiNoCase(name, section)) return true;
    return false;
}

// What a removal may hand to the installer.
inline bool RemovableName(const std::string& name)
{
    return !name.empty() && SQLValidDSN(name.c_str()) && !InstallerSection(name) &&
           ConvertsStrictly(name);
}

// What an add or configure may write.
inline bool WritableName(const std::string& driver, const std::string& name)
{
    return !driver.empty() && !name.empty() && IsCharAlphaA(name[0]) && RemovableName(name);
}

// A device name: the part before the first dot, trailing blanks aside, in
// Unicode; COM and LPT with any digit, 0 and the superscripts 1 to 3 included.
inline bool ReservedDevice(const std::string& name)
{
    std::wstring stem = Widen(name.substr(0, name.find('.')));
    while (!stem.empty() && stem.back() == L' ') stem.pop_back();
    for (const wchar_t* device : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"})
        if (_wcsicmp(stem.c_str(), device) == 0) return true;
    return stem.size() == 4 && (_wcsnicmp(stem.c_str(), L"COM", 3) == 0 || _wcsnicmp(stem.c_str(), L"LPT", 3) == 0) &&
           std::wstring(L"0123456789\u00B9\u00B2\u00B3").find(stem[3]) != std::wstring::npos;
}

// A name that can stand as a file name: no control byte anywhere, no
// character that file names may not hold.
inline bool PlainFileName(const std::string& name)
{
    for (unsigned char c : name)
        if (c < 0x20) return false;
    for (size_t i = 0; i < name.size(); ++i) {
        if (IsDBCSLeadByte(static_cast<BYTE>(name[i])) && i + 1 < name.size()) {
            ++i;
            continue;
        }
        if (std::string("\\/:*?\"<>|").find(name[i]) != std::string::npos) return false;
    }
    return true;
}

inline bool UsableFolder(const std::string& folder)
{
    if (folder.empty()) return true;   // the root of the current drive
    const auto alpha = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    if (folder.size() >= 3 && alpha(folder[0]) && folder[1] == ':' && folder[2] == '\\') return true;
    if (folder.rfind("\\\\", 0) == 0) {
        const size_t share = folder.find('\\', 2);
        return share != std::string::npos && share > 2 && share + 1 < folder.size() &&
               folder[share + 1] != '\\';
    }
    return false;
}

// The file DSN's path, when there may be one.
inline std::optional<std::string> FileDsnPath(const std::optional<std::string>& folder,
                                       const std::string& name)
{
    if (!folder || !UsableFolder(*folder) || !PlainFileName(name) || ReservedDevice(name))
        return std::nullopt;
    std::string path = *folder + "\\" + name + " (not sharable).DSN";
    if (path.size() > MAX_PATH) return std::nullopt;
    return path;
}

inline std::string FileDsnContent(const std::string& name) { return "[ODBC]\r\nDSN=" + name + "\r\n"; }

// Names, keys and file names are told apart as the registry and the file
// system tell them: in UTF-16, without regard to case.
inline std::wstring Identity(const std::string& text)
{
    std::wstring wide = Widen(text);
    if (!wide.empty()) CharUpperBuffW(&wide[0], static_cast<DWORD>(wide.size()));
    return wide;
}

// ---------------------------------------------------------------------------
// The model of one round: entries by name, file DSNs in the round's folder.

struct Request {
    WORD code = ODBC_ADD_DSN;
    std::string driver;
    std::vector<std::string> elements;
    // A request through ConfigDSNW carries Unicode text instead.
    bool wide = false;
    std::wstring wideDriver;
    std::vector<std::wstring> wideElements;

    std::string List() const { return AttributeList(elements); }
    std::wstring WideList() const { return AttributeListW(wideElements); }
};

// ---------------------------------------------------------------------------
// Unicode requests: the round trip through the code page's loose conversion
// tells whether the text held.

// The code page holds `text` exactly when its loose conversion is text of
// the code page (as a name must be) that reads back as the same text.
inline bool RoundTrips(const std::wstring& text)
{
    const std::string narrow = Loosely(text);
    return text.empty() || (ConvertsStrictly(narrow) && Widen(narrow) == text);
}

// What a loose conversion makes of a wide request: the data source it
// would reach, which the checks then watch.
inline Request LooselyNarrowed(const Request& wide)
{
    Request request;
    request.code = wide.code;
    request.driver = Loosely(wide.wideDriver);
    for (const auto& e : wide.wideElements) request.elements.push_back(Loosely(e));
    return request;
}

// Whether the module may take the request at all: the driver description and
// every element it reads (up to the list's end, the first empty one) exactly
// representable.
inline bool Representable(const Request& request)
{
    if (!request.wide) return true;
    if (!RoundTrips(request.wideDriver)) return false;
    for (const auto& e : request.wideElements) {
        if (e.empty()) break;
        if (!RoundTrips(e)) return false;
    }
    return true;
}

struct Model {
    struct Entry {
        std::optional<std::string> driver;   // registered with
        Keys keys;
    };
    struct File {
        std::string spelling;   // as first created
        std::string bytes;
    };
    std::optional<std::string> folder;   // the DefaultDSNDir text, if any
    std::map<std::wstring, Entry> entries;
    std::map<std::wstring, File> files;
    // How often each outcome came up, to show what a run covered.
    struct Tally { long refused = 0, added = 0, configured = 0, removedStored = 0, removedOther = 0, files = 0,
                   wide = 0, unrepresentable = 0; };
    Tally* tally;

    // A wide request the code page cannot hold: refused, nothing touched.
    BOOL RefuseUnrepresentable() { return ++tally->unrepresentable, FALSE; }

    BOOL Apply(const Request& request)
    {
        const Parsed parsed = Parse(request.List());
        const std::string name = parsed.dsn.value_or("");
        if (request.code == ODBC_REMOVE_DSN) {
            if (!RemovableName(name)) return ++tally->refused, FALSE;
            // The installer removes any valid name, known or not.
            auto entry = entries.find(Identity(name));
            ++(entry != entries.end() && entry->second.driver ? tally->removedStored : tally->removedOther);
            if (entry != entries.end()) {
                entry->second.driver.reset();
                if (!InstallerUnderTest().removalKeepsKeys) entry->second.keys.clear();
            }
            if (auto path = FileDsnPath(folder, name)) files.erase(Identity(*path));
            return TRUE;
        }
        if (!WritableName(request.driver, name) || !Platform::Library(request.driver))
            return ++tally->refused, FALSE;
        Entry& entry = entries[Identity(name)];
        ++(entry.driver ? tally->configured : tally->added);
        if (!entry.driver || !Platform::RegisteredFor(*entry.driver, request.driver)) {
            entry.driver = request.driver;
            Platform::AfterRegistration(&entry.keys);
        }
        for (const auto& [key, value] : parsed.supplied) entry.keys[key] = Platform::Stored(value);
        if (auto path = FileDsnPath(folder, name)) {
            auto& file = files[Identity(*path)];
            if (file.spelling.empty()) file.spelling = *path;
            file.bytes = FileDsnContent(name);
            ++tally->files;
        }
        return TRUE;
    }

    DWORD Registered() const
    {
        return static_cast<DWORD>(std::count_if(entries.begin(), entries.end(),
                                                [](const auto& e) { return e.second.driver.has_value(); }));
    }
    DWORD WithKeys() const
    {
        return static_cast<DWORD>(std::count_if(entries.begin(), entries.end(),
                                                [](const auto& e) { return !e.second.keys.empty(); }));
    }
    StoredEntry Expected(const std::string& name) const
    {
        auto entry = entries.find(Identity(name));
        return entry == entries.end() ? StoredEntry{}
                                       : Platform::Expected(entry->second.driver, entry->second.keys);
    }
};

// Bytes as \xNN, wide characters as \uNNNN, beyond printable ASCII.
template <typename Char>
std::string Printable(const std::basic_string<Char>& text)
{
    const bool wide = sizeof(Char) > 1;
    std::ostringstream out;
    if (text.size() > 80) {
        out << Printable(text.substr(0, 40)) << "...(" << text.size() << (wide ? " characters)" : " bytes)");
        return out.str();
    }
    for (Char c : text) {
        const unsigned code = wide ? static_cast<unsigned>(c) : static_cast<unsigned char>(c);
        if (code >= 0x20 && code < 0x7F) out << static_cast<char>(code);
        else {
            char hex[8];
            snprintf(hex, sizeof hex, wide ? "\\u%04X" : "\\x%02X", code);
            out << hex;
        }
    }
    return out.str();
}

inline std::string Describe(const StoredEntry& entry)
{
    std::ostringstream out;
    out << "{registration " << (entry.registration ? "\"" + Printable(*entry.registration) + "\"" : "none");
    for (const auto* part : {&entry.installer, &entry.keys}) {
        out << (part == &entry.installer ? ", installer {" : ", keys {");
        for (const auto& [key, value] : *part) out << " " << key << "=\"" << Printable(value) << "\"";
        out << " }";
    }
    out << "}";
    return out.str();
}

inline std::string Describe(const Request& request)
{
    std::ostringstream out;
    if (request.wide) {
        out << "ConfigDSNW(NULL, " << request.code << ", L\"" << Printable(request.wideDriver) << "\", {";
        for (const auto& e : request.wideElements) out << " L\"" << Printable(e) << "\"";
    } else {
        out << "ConfigDSN(NULL, " << request.code << ", \"" << Printable(request.driver) << "\", {";
        for (const auto& e : request.elements) out << " \"" << Printable(e) << "\"";
    }
    out << " })";
    return out.str();
}

} // namespace hostile
