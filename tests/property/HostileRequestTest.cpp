// Silent requests as a hostile caller makes them, through Wine's installer:
// generated request codes and attribute lists, names over every byte value
// (installer sections, devices, lone lead bytes, control characters), values
// up to 64 KB and default file-DSN folders of every kind; a share of them
// through the Unicode export, with characters inside and outside the code
// page (look-alikes of the names in use among them). After each request
// the answer, the stored entries, the installer's own sections and the files
// on disk are checked against a small model of the rules.
//
// The program runs twice, under code page 1252 and under 932. Environment:
//   BK_PROP_ACP       the ANSI code page the run must have
//   BK_PROP_REQUESTS  requests to make at least (10000)
//   BK_PROP_SECONDS   time bound, against a run gone wrong; fewer requests in that
//                     time fail the run (600). This shared machine's speed varies
//                     fourfold within an hour, so the count is what is held to.
//   BK_PROP_SEED      replays the one round of that seed
//   BK_PROP_TRACE=1   prints every request
#include "InstallerUnderTest.h"
#include "PortGuard.h"
#include "ReadBack.h"
#include "WindowHooks.h"

#include "afx/Handles.h"

#include <gtest/gtest.h>
#include <odbcinst.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>

using namespace bktest;

namespace {

using Keys = std::map<std::string, std::string>;

const char kOdbcIni[] = "Software\\ODBC\\ODBC.INI";
const char kSources[] = "Software\\ODBC\\ODBC.INI\\ODBC Data Sources";
const char kFileDsn[] = "Software\\ODBC\\ODBC.INI\\ODBC File DSN";
const char kTracing[] = "Software\\ODBC\\ODBC.INI\\ODBC";
const char kSentinel[] = "bkPSentinel";

// ---------------------------------------------------------------------------
// The installer of this run, as test support's facts say it keeps entries.
// Wine 8 registers in the machine's hive, with a section holding only its
// "driver" keyword, and keeps the keys in the user's, where neither a new
// registration nor a removal drops them. The documented contract keeps a
// user data source wholly in the user's hive: the registration empties the
// section and a removal takes it all. Texts pass through the registry's
// UTF-16 either way.
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
        StoredEntry entry;
        if (driver) {
            entry.registration = *driver;
            entry.installer = InstallerKeywords(Library(*driver).value_or(""));
        }
        entry.keys = keys;
        return entry;
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

    static std::string Stored(const std::string& text)
    {
        if (text.empty()) return text;
        std::wstring wide(text.size(), L'\0');
        wide.resize(static_cast<size_t>(MultiByteToWideChar(
            CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0],
            static_cast<int>(wide.size()))));
        std::string back(wide.size() * 2, '\0');
        back.resize(static_cast<size_t>(WideCharToMultiByte(CP_ACP, 0, wide.data(),
                                                            static_cast<int>(wide.size()), &back[0],
                                                            static_cast<int>(back.size()), nullptr,
                                                            nullptr)));
        return back;
    }

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
        info(RegistrationHive(Scope::User), kSources, nullptr,
             &counts.registrations);
        info(HKEY_LOCAL_MACHINE, kOdbcIni, &counts.machineSections, nullptr);
        info(HKEY_CURRENT_USER, kOdbcIni, &counts.userSections, nullptr);
        return counts;
    }
    // Split: a machine's section per registration, a user's per entry with
    // keys. Else a user's section per registration.
    static Counts Expect(Counts baseline, DWORD registered, DWORD withKeys)
    {
        baseline.registrations += registered;
        if (!InstallerUnderTest().splitsEntryAcrossHives) {
            baseline.userSections += registered;
        } else {
            baseline.machineSections += registered;
            baseline.userSections += withKeys;
        }
        return baseline;
    }
};

void PrintTo(const Platform::Counts& c, std::ostream* out)
{
    *out << "{registrations " << c.registrations << ", machine sections " << c.machineSections
         << ", user sections " << c.userSections << "}";
}

// ---------------------------------------------------------------------------
// The rules, written from the design and the decided mends.

const char* const kKeyNames[] = {"DSN",          "DBQ",            "MaxColSupport",
                                 "ShortenNames", "StandardMode",   "DictionaryMode",
                                 "DatabaseType"};

bool SameAsciiNoCase(const std::string& a, const std::string& b)
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

Parsed Parse(const std::string& list)
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

bool ConvertsStrictly(const std::string& name)
{
    return MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name.data(),
                               static_cast<int>(name.size()), nullptr, 0) > 0;
}

bool InstallerSection(const std::string& name)
{
    for (const char* section : {"ODBC Data Sources", "ODBC File DSN", "ODBC"})
        if (SameAsciiNoCase(name, section)) return true;
    return false;
}

// What a removal may hand to the installer.
bool RemovableName(const std::string& name)
{
    return !name.empty() && SQLValidDSN(name.c_str()) && !InstallerSection(name) &&
           ConvertsStrictly(name);
}

// What an add or configure may write.
bool WritableName(const std::string& driver, const std::string& name)
{
    return !driver.empty() && !name.empty() && IsCharAlphaA(name[0]) && RemovableName(name);
}

// A device name: the part before the first dot, trailing blanks aside, in
// Unicode; COM and LPT with any digit, 0 and the superscripts 1 to 3 included.
bool ReservedDevice(const std::string& name)
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
bool PlainFileName(const std::string& name)
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

bool UsableFolder(const std::string& folder)
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
std::optional<std::string> FileDsnPath(const std::optional<std::string>& folder,
                                       const std::string& name)
{
    if (!folder || !UsableFolder(*folder) || !PlainFileName(name) || ReservedDevice(name))
        return std::nullopt;
    std::string path = *folder + "\\" + name + " (not sharable).DSN";
    if (path.size() > MAX_PATH) return std::nullopt;
    return path;
}

std::string FileDsnContent(const std::string& name) { return "[ODBC]\r\nDSN=" + name + "\r\n"; }

// Names, keys and file names are told apart as the registry and the file
// system tell them: in UTF-16, without regard to case.
std::wstring Identity(const std::string& text)
{
    std::wstring wide(text.size() + 1, L'\0');
    wide.resize(static_cast<size_t>(MultiByteToWideChar(
        CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0],
        static_cast<int>(wide.size()))));
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

    std::string List() const
    {
        std::string list;
        for (const auto& e : elements) list.append(e).push_back('\0');
        list.push_back('\0');
        return list;
    }
    std::wstring WideList() const
    {
        std::wstring list;
        for (const auto& e : wideElements) list.append(e).push_back(L'\0');
        list.push_back(L'\0');
        return list;
    }
};

// ---------------------------------------------------------------------------
// Unicode requests: the code page's own conversions, loose (the default
// flags, which turn a character the code page lacks into a look-alike or a
// default character) and the round trip that tells whether it held.

std::string Loosely(const std::wstring& text)
{
    std::string narrow(text.size() * 2, '\0');
    narrow.resize(static_cast<size_t>(WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                                          &narrow[0], static_cast<int>(narrow.size()),
                                                          nullptr, nullptr)));
    return narrow;
}

// The code page holds `text` exactly when its loose conversion is text of
// the code page (as a name must be) that reads back as the same text.
bool RoundTrips(const std::wstring& text)
{
    const std::string narrow = Loosely(text);
    return text.empty() || (ConvertsStrictly(narrow) && Widen(narrow) == text);
}

// What a loose conversion makes of a wide request: the data source it
// would reach, which the checks then watch.
Request LooselyNarrowed(const Request& wide)
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
bool Representable(const Request& request)
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
        DWORD n = 0;
        for (const auto& e : entries) n += e.second.driver ? 1 : 0;
        return n;
    }
    DWORD WithKeys() const
    {
        DWORD n = 0;
        for (const auto& e : entries) n += e.second.keys.empty() ? 0 : 1;
        return n;
    }
    StoredEntry Expected(const std::string& name) const
    {
        auto entry = entries.find(Identity(name));
        return entry == entries.end() ? StoredEntry{}
                                       : Platform::Expected(entry->second.driver, entry->second.keys);
    }
};

// ---------------------------------------------------------------------------
// Generation: small pools so that requests meet existing entries often.

class Random {
public:
    explicit Random(uint64_t seed) : m_state(seed * 2 + 1) {}
    uint32_t Next()
    {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 7;
        m_state ^= m_state << 17;
        return static_cast<uint32_t>(m_state >> 11);
    }
    uint32_t Below(uint32_t n) { return Next() % n; }
    bool Chance(uint32_t percent) { return Below(100) < percent; }
    template <typename T> const T& Pick(const std::vector<T>& from) { return from[Below(static_cast<uint32_t>(from.size()))]; }

private:
    uint64_t m_state;
};

std::string RandomCase(Random& random, std::string text)
{
    for (char& c : text)
        if (random.Chance(50)) c = static_cast<char>(isupper(static_cast<unsigned char>(c)) ? tolower(c) : toupper(c));
    return text;
}

char AnyByte(Random& random) { return static_cast<char>(1 + random.Below(255)); }

std::string RandomName(Random& random)
{
    const std::string letters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    const std::string plain = letters + "0123456789 ._-$";
    std::string name;
    name += random.Chance(80) ? letters[random.Below(static_cast<uint32_t>(letters.size()))] : AnyByte(random);
    const uint32_t length = random.Chance(90) ? 2 + random.Below(12) : random.Below(34);
    while (name.size() < length) {
        const uint32_t kind = random.Below(100);
        if (kind < 60) name += plain[random.Below(static_cast<uint32_t>(plain.size()))];
        else if (kind < 80) name += AnyByte(random);
        else {   // a double-byte character of code page 932
            name += static_cast<char>(random.Chance(50) ? 0x81 + random.Below(0x1F) : 0xE0 + random.Below(0x1D));
            name += static_cast<char>(random.Chance(50) ? 0x40 + random.Below(0x3F) : 0x80 + random.Below(0x7D));
        }
    }
    return name;
}

std::vector<std::string> MakePool(Random& random)
{
    std::vector<std::string> pool = {
        "bkPSales", "BKPSALES", "bkP Pay roll ", "bkPa.b.c", "bkPCOM1",
        "ODBC Data Sources", "odbc data sources\\", "ODBC File DSN", "Odbc File Dsn\\", "ODBC",
        "odbc\\", "oDbC",
        "COM1.x", "lpt9.dsn", "PRN.x", "Aux", "nul .txt", "CON", "conin$.a", "CONOUT$", "Com5 ",
        "LPT1", "COM1.x.y", "con.a.b", "Lpt\xB9.a.b", "com0 .x.y", "CON  .x", "COM1  .x",
        "bkPa|b", "bkPa<b>", "bkP\"q\"", "bkPa/b", "bkPc:x", "bkPline\nx", "bkP\x01",
        "1bkP", " bkP", "bkP[x]", "bkPx;y", std::string(33, 'n'), std::string(32, 'm'),
        "Ab\xE8", "D\x84\n", "D\x85\r", "D\x84\nX", "bkP\x82\xA0", "bkP\x81\x7C", "\xC9t\xE9",
        "bkP\x81",
        // Beside the 260-character bound in the long folder (220 characters).
        "bkPLength20xxxxxxxxx", "bkPLength21xxxxxxxxxx"};
    for (int i = 0; i < 8; ++i) pool.push_back(RandomName(random));
    return pool;
}

std::string RandomValue(Random& random)
{
    const uint32_t kind = random.Below(100);
    if (kind < 30)
        return random.Pick(std::vector<std::string>{"0", "1", "2", "01", "02", "1536", "255", "500",
                                                    "501", "-1", " 1", "3x", "x"});
    if (kind < 50) return "C:\\Data\\" + RandomName(random);
    if (kind < 70) {
        std::string value;
        for (uint32_t n = random.Below(30); n > 0; --n) value += AnyByte(random);
        return value;
    }
    if (kind < 80) return "";
    if (kind < 90) return "a=b=" + RandomName(random);
    // Long values: past the dialog's 260 bytes, past 33,279, up to 64 KB.
    const uint32_t length = random.Chance(60) ? 261 + random.Below(4000)
                                              : 33000 + random.Below(65535 - 33000);
    std::string value(length, 'v');
    for (size_t i = 0; i < value.size(); i += 1 + random.Below(97)) value[i] = AnyByte(random);
    return value;
}

std::string Element(Random& random, const std::string& key, const std::string& value)
{
    const uint32_t kind = random.Below(100);
    const std::string spelled = RandomCase(random, key);
    if (kind < 88) return spelled + "=" + value;
    if (kind < 92) return (random.Chance(50) ? " " : "") + spelled + (random.Chance(50) ? " " : "\t") + "=" + value;
    if (kind < 96) return spelled + value;   // no "="
    return "=" + value;
}

// Characters inside and outside code pages 1252 and 932: Latin letters with
// marks, Japanese, full- and half-width forms, Cyrillic, a yen sign (a
// backslash's look-alike in 932), a lone surrogate.
const wchar_t kForeign[] = {L'\u015C', L'\u0103', L'\u0117', L'\u00E9', L'\u00C9', L'\u65E5', L'\u30AB',
                            L'\uFF76', L'\u0430', L'\u2013', L'\uFF21', L'\u00A5', L'\xD800'};
// Look-alikes of letters the pool's names hold.
const std::pair<wchar_t, wchar_t> kLookAlikes[] = {{L'S', L'\u015C'}, {L'a', L'\u0103'}, {L'e', L'\u0117'},
                                                   {L'P', L'\uFF30'}, {L'k', L'\u0137'}, {L'l', L'\u013A'}};

// One character of `text` from `from` on replaced by a look-alike or by
// another character, or one inserted.
void Mutate(Random& random, std::wstring* text, size_t from)
{
    std::vector<size_t> letters;
    for (size_t i = from; i < text->size(); ++i)
        for (const auto& [letter, lookAlike] : kLookAlikes)
            if ((*text)[i] == letter) letters.push_back(i);
    const wchar_t foreign = kForeign[random.Below(sizeof kForeign / sizeof kForeign[0])];
    if (!letters.empty() && random.Chance(50)) {
        const size_t at = letters[random.Below(static_cast<uint32_t>(letters.size()))];
        for (const auto& [letter, lookAlike] : kLookAlikes)
            if ((*text)[at] == letter) { (*text)[at] = lookAlike; break; }
    } else if (from < text->size() && random.Chance(70)) {
        (*text)[from + random.Below(static_cast<uint32_t>(text->size() - from))] = foreign;
    } else {
        text->insert(from + random.Below(static_cast<uint32_t>(text->size() - from + 1)), 1, foreign);
    }
}

// The request as a Unicode caller makes it: the same text in Unicode, names
// and values sometimes changed by a character inside or outside the code page.
void MakeWide(Random& random, Request* request)
{
    request->wide = true;
    request->wideDriver = Widen(request->driver);
    if (random.Chance(3)) Mutate(random, &request->wideDriver, 0);
    for (const auto& element : request->elements) {
        std::wstring wide = Widen(element);
        const size_t equals = wide.find(L'=');
        const bool name = SameAsciiNoCase(element.substr(0, 4), "DSN=");
        if (random.Chance(name ? 40 : 15)) Mutate(random, &wide, equals == std::wstring::npos ? 0 : equals + 1);
        request->wideElements.push_back(wide);
    }
}

Request Generate(Random& random, const std::vector<std::string>& pool)
{
    Request request;
    const uint32_t code = random.Below(100);
    // Mostly add, configure and remove; the rest outside the module's 1 to 3.
    request.code = code < 30 ? ODBC_ADD_DSN
                 : code < 55 ? ODBC_CONFIG_DSN
                 : code < 80 ? ODBC_REMOVE_DSN
                 : random.Pick(std::vector<WORD>{0, 4, 5, 6, 7, 8, 0x103, 0x8003, 0xFFFF});
    const uint32_t driver = random.Below(100);
    request.driver = driver < 97 ? kDriver : driver < 99 ? "" : "Other Driver";

    // Mostly the plain names and the random ones, so that configure and
    // remove meet stored entries; the rest from the whole pool.
    const auto name = [&] {
        const uint32_t kind = random.Below(100);
        return kind < 45   ? pool[random.Below(5)]
               : kind < 65 ? pool[pool.size() - 1 - random.Below(8)]
                           : random.Pick(pool);
    };
    const uint32_t names = random.Chance(88) ? 1 : random.Chance(60) ? 2 : 0;
    for (uint32_t i = 0; i < names; ++i) request.elements.push_back(Element(random, "DSN", name()));
    for (uint32_t n = random.Below(5); n > 0; --n) {
        if (random.Chance(90))
            request.elements.push_back(Element(random, kKeyNames[1 + random.Below(6)], RandomValue(random)));
        else
            request.elements.push_back(random.Pick(std::vector<std::string>{"UID=x", "Driver=y", "DSNX=bkPSales", "DESCRIPTION=d"}));
    }
    for (size_t i = request.elements.size(); i > 1; --i)
        std::swap(request.elements[i - 1], request.elements[random.Below(static_cast<uint32_t>(i))]);
    if (random.Chance(1)) request.elements.insert(request.elements.begin() + random.Below(static_cast<uint32_t>(request.elements.size() + 1)), "");
    if (random.Chance(30)) MakeWide(random, &request);
    return request;
}

std::string Printable(const std::string& text)
{
    std::ostringstream out;
    if (text.size() > 80) {
        out << Printable(text.substr(0, 40)) << "...(" << text.size() << " bytes)";
        return out.str();
    }
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7F) out << c;
        else {
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02X", c);
            out << hex;
        }
    }
    return out.str();
}

std::string Describe(const StoredEntry& entry)
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

std::string Printable(const std::wstring& text)
{
    std::ostringstream out;
    if (text.size() > 80) {
        out << Printable(text.substr(0, 40)) << "...(" << text.size() << " characters)";
        return out.str();
    }
    for (wchar_t c : text) {
        if (c >= 0x20 && c < 0x7F) out << static_cast<char>(c);
        else {
            char hex[8];
            snprintf(hex, sizeof hex, "\\u%04X", static_cast<unsigned>(c));
            out << hex;
        }
    }
    return out.str();
}

std::string Describe(const Request& request)
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

// ---------------------------------------------------------------------------
// The run: rounds of requests, each round from its own seed, in a fresh
// state and under one kind of default file-DSN folder.

std::optional<long> EnvNumber(const char* name)
{
    const char* text = std::getenv(name);
    if (!text || !*text) return std::nullopt;
    return std::strtol(text, nullptr, 0);
}

class HostileRequests : public ::testing::Test {
protected:
    static constexpr int kRequestsPerRound = 400;

    void SetUp() override
    {
        if (auto acp = EnvNumber("BK_PROP_ACP")) {
            ASSERT_EQ(GetACP(), static_cast<UINT>(*acp)) << "the run's locale";
        }
        std::string why;
        ASSERT_TRUE(PortsAreFiles(&why)) << why << ": refusing to try device names";

        m_base = "C:\\bkprop-" + std::to_string(GetCurrentProcessId());
        m_long = m_base + "\\" + std::string(220 - m_base.size() - 1, 'L');
        for (const char* dir : {"", "\\main", "\\cwd", "\\cwd\\dsnrel", "\\cwd\\%BKPROPDIR%",
                                "\\cwd\\%BKPROPDIR%\\dsn", "\\exp", "\\exp\\dsn"})
            m_dirs.push_back(m_base + dir);
        m_dirs.push_back(m_long);
        for (const auto& dir : m_dirs) ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr)) << dir;
        ASSERT_TRUE(SetCurrentDirectoryA((m_base + "\\cwd").c_str()));
        SetEnvironmentVariableA("BKPROPDIR", (m_base + "\\exp").c_str());

        // Something in each installer section that no request may touch.
        ForgetDataSource(kSentinel);
        ASSERT_TRUE(SQLWriteDSNToIni(kSentinel, kDriver));
        ASSERT_TRUE(SQLWritePrivateProfileString(kSentinel, "DBQ", "C:\\Keep", "ODBC.INI"));
        for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
            RegSetKeyValueA(root, kTracing, kSentinel, REG_SZ, "keep", 5);
    }

    void TearDown() override
    {
        if (m_base.empty()) return;   // set up nothing
        ForgetDataSource(kSentinel);
        for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) RegDeleteKeyValueA(root, kTracing, kSentinel);
        SetCurrentDirectoryA("C:\\");
        DeleteFilesUnder(m_base);
        for (auto dir = m_dirs.rbegin(); dir != m_dirs.rend(); ++dir) RemoveDirectoryA(dir->c_str());
    }

    static void DeleteFilesUnder(const std::string& folder)
    {
        if (folder.rfind("C:\\bkprop-", 0) != 0) return;   // only ever our own folder
        for (const auto& file : FilesUnder(folder)) DeleteFileA((folder + "\\" + file).c_str());
    }

    struct FolderKind {
        const char* label;
        std::optional<std::pair<DWORD, std::string>> value;   // none: no DefaultDSNDir
    };
    FolderKind PickFolder(Random& random) const
    {
        const uint32_t kind = random.Below(100);
        if (kind < 45) return {"rooted", std::make_pair(DWORD(REG_SZ), m_base + "\\main")};
        if (kind < 55) return {"rooted, ending in a backslash", std::make_pair(DWORD(REG_SZ), m_base + "\\main\\")};
        if (kind < 70) return {"long", std::make_pair(DWORD(REG_SZ), m_long)};
        if (kind < 78) return {"empty", std::make_pair(DWORD(REG_SZ), std::string())};
        if (kind < 86) return {"relative", std::make_pair(DWORD(REG_SZ), std::string("dsnrel"))};
        if (kind < 94) return {"unexpanded", std::make_pair(DWORD(REG_EXPAND_SZ), std::string("%BKPROPDIR%\\dsn"))};
        return {"absent", std::nullopt};
    }

    // Runs one round; false, with a failure reported, at the first request
    // whose outcome the model does not predict.
    bool RunRound(uint64_t seed, bool trace, long* made)
    {
        Random random(seed);
        const std::vector<std::string> pool = MakePool(random);
        const FolderKind folder = PickFolder(random);
        std::unique_ptr<ScopedDefaultDsnDir> dsnDir =
            folder.value ? std::make_unique<ScopedDefaultDsnDir>(folder.value->first, folder.value->second + '\0')
                         : std::make_unique<ScopedDefaultDsnDir>(ScopedDefaultDsnDir::Absent{});
        // The round's requests first: the names a Unicode request may reach
        // beside the pool's must be as absent as those before it starts.
        std::vector<Request> requests;
        std::vector<std::string> names = pool;
        for (int index = 0; index < kRequestsPerRound; ++index) {
            requests.push_back(Generate(random, pool));
            if (requests.back().wide)
                if (auto name = Parse(LooselyNarrowed(requests.back()).List()).dsn) names.push_back(*name);
        }
        for (const auto& name : names)
            if (WritableName(kDriver, name)) ForgetDataSource(name);

        Model model;
        model.tally = &m_tally;
        if (folder.value) model.folder = folder.value->second;
        const Platform::Counts baseline = Platform::Count();
        const StoredEntry sentinel = ReadEntry(kSentinel);
        const auto fileDsnSection = Values(HKEY_LOCAL_MACHINE, kFileDsn);
        const auto tracing = std::make_pair(Values(HKEY_LOCAL_MACHINE, kTracing), Values(HKEY_CURRENT_USER, kTracing));
        if (trace) printf("round %llu, folder %s\n", static_cast<unsigned long long>(seed), folder.label);

        bool ok = true;
        for (int index = 0; index < kRequestsPerRound && ok; ++index, ++*made) {
            const Request& request = requests[static_cast<size_t>(index)];
            // A wide request is checked where its loose conversion would have
            // acted: there, and everywhere else, nothing may change when the
            // code page cannot hold it.
            const Request seen = request.wide ? LooselyNarrowed(request) : request;
            if (trace) printf("%d: %s\n", index, Describe(request).c_str());
            const auto called = std::chrono::steady_clock::now();
            const BOOL result =
                request.wide ? m_module.ConfigDSNW(nullptr, request.code, request.wideDriver.c_str(), request.WideList())
                             : m_module.ConfigDSN(nullptr, request.code, request.driver.c_str(), request.List());
            m_moduleSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - called).count();
            m_tally.wide += request.wide ? 1 : 0;
            const BOOL expected = Representable(request) ? model.Apply(seen) : model.RefuseUnrepresentable();

            std::ostringstream failure;
            const auto check = [&](bool holds, const std::string& what) {
                if (!holds && ok) failure << what;
                ok = ok && holds;
            };
            check(result == expected, "answered " + std::to_string(result) + ", expected " + std::to_string(expected));
            const std::string name = Parse(seen.List()).dsn.value_or("");
            if (RemovableName(name)) {
                const StoredEntry stored = ReadEntry(name), want = model.Expected(name);
                check(stored == want, "stored " + Describe(stored) + ", expected " + Describe(want));
                if (auto path = FileDsnPath(model.folder, name)) {
                    auto file = model.files.find(Identity(*path));
                    const auto bytes = ReadFileBytes(*path);
                    const std::optional<std::string> wantBytes =
                        file == model.files.end() ? std::nullopt : std::make_optional(file->second.bytes);
                    check(bytes == wantBytes, "file DSN " + Printable(*path) + " holds " +
                                                  Printable(bytes.value_or("(none)")) + ", expected " +
                                                  Printable(wantBytes.value_or("(none)")));
                }
            }
            check(Platform::Count() == Platform::Expect(baseline, model.Registered(), model.WithKeys()),
                  "counts " + ::testing::PrintToString(Platform::Count()) + ", expected " +
                      ::testing::PrintToString(Platform::Expect(baseline, model.Registered(), model.WithKeys())));
            check(ReadEntry(kSentinel) == sentinel, "another data source was changed");
            check(Values(HKEY_LOCAL_MACHINE, kFileDsn) == fileDsnSection, "the ODBC File DSN section was changed");
            check(std::make_pair(Values(HKEY_LOCAL_MACHINE, kTracing), Values(HKEY_CURRENT_USER, kTracing)) == tracing,
                  "the ODBC section was changed");
            check(FilesMatch(model), "files under " + m_base + ": " + ::testing::PrintToString(Printables(FilesUnder(m_base))));
            std::string why;
            if (ReservedDevice(name)) check(PortFilesUntouched(&why), why);
            if (!ok)
                ADD_FAILURE() << "round seed " << seed << " (folder " << folder.label << "), request " << index
                              << ": " << Describe(request) << "\n  " << failure.str()
                              << "\n  replay: BK_PROP_SEED=" << seed << " BK_PROP_TRACE=1";
        }
        if (ok) ok = SweepEntries(model, names, seed);

        for (const auto& name : names)
            if (WritableName(kDriver, name)) ForgetDataSource(name);
        DeleteFilesUnder(m_base);
        for (const auto& file : model.files) DeleteFileA(file.second.spelling.c_str());
        return ok;
    }

    static std::vector<std::string> Printables(const std::vector<std::string>& texts)
    {
        std::vector<std::string> out;
        for (const auto& t : texts) out.push_back(Printable(t));
        return out;
    }

    // The files below the round's folders are exactly the model's. Listing
    // them is slow under Wine, so they are listed again only when a folder
    // changed or the model expects other files than at the last listing.
    bool FilesMatch(const Model& model)
    {
        std::vector<std::wstring> expected;
        for (const auto& file : model.files) {
            std::string path = file.second.spelling;
            // The doubled backslash of a folder value that ends in one; the
            // root of the current drive, outside the watched folders, is
            // checked by name.
            const size_t doubled = path.find("\\\\", 2);
            if (doubled != std::string::npos) path.erase(doubled, 1);
            if (path.rfind("\\", 0) != 0) expected.push_back(Identity(path));
        }
        std::sort(expected.begin(), expected.end());
        std::vector<FILETIME> stamps;
        for (const auto& dir : m_dirs) {
            WIN32_FILE_ATTRIBUTE_DATA data = {};
            GetFileAttributesExA(dir.c_str(), GetFileExInfoStandard, &data);
            stamps.push_back(data.ftLastWriteTime);
        }
        const auto same = [](const FILETIME& a, const FILETIME& b) {
            return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
        };
        if (expected == m_listedExpected && stamps.size() == m_listedStamps.size() &&
            std::equal(stamps.begin(), stamps.end(), m_listedStamps.begin(), same))
            return m_listedMatch;
        std::vector<std::wstring> found;
        for (const auto& file : FilesUnder(m_base)) found.push_back(Identity(m_base + "\\" + file));
        std::sort(found.begin(), found.end());
        m_listedExpected = expected;
        m_listedStamps = stamps;
        return m_listedMatch = found == expected;
    }

    // After a round: every name of the pool against the model.
    bool SweepEntries(const Model& model, const std::vector<std::string>& pool, uint64_t seed)
    {
        for (const auto& name : pool) {
            if (!RemovableName(name)) continue;
            const StoredEntry stored = ReadEntry(name), want = model.Expected(name);
            if (!(stored == want)) {
                ADD_FAILURE() << "round seed " << seed << ", after the round: " << Printable(name) << " stored "
                              << Describe(stored) << ", expected " << Describe(want);
                return false;
            }
        }
        std::string why;
        if (!PortFilesUntouched(&why)) {
            ADD_FAILURE() << "round seed " << seed << ": " << why;
            return false;
        }
        return true;
    }

    MessageBoxAnswerer m_boxes;
    SetupModule m_module;
    std::string m_base, m_long;
    std::vector<std::string> m_dirs;   // every folder below m_base
    std::vector<std::wstring> m_listedExpected;
    std::vector<FILETIME> m_listedStamps;
    bool m_listedMatch = false;
    double m_moduleSeconds = 0;
    Model::Tally m_tally;
};

TEST_F(HostileRequests, EveryRequestDoesWhatTheRulesSayAndNothingElse)
{
    const bool trace = EnvNumber("BK_PROP_TRACE").value_or(0) != 0;
    if (auto seed = EnvNumber("BK_PROP_SEED")) {
        long made = 0;
        RunRound(static_cast<uint64_t>(*seed), trace, &made);
        return;
    }
    const long wanted = EnvNumber("BK_PROP_REQUESTS").value_or(10000);
    const long seconds = EnvNumber("BK_PROP_SECONDS").value_or(600);
    const auto start = std::chrono::steady_clock::now();
    const auto elapsed = [&] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    long made = 0;
    int failedRounds = 0, round = 0;
    for (; made < wanted && elapsed() < seconds && failedRounds < 8; ++round)
        if (!RunRound(20261208u + 7919u * static_cast<uint64_t>(round), trace, &made)) ++failedRounds;
    printf("%ld requests in %d rounds, %.1f s (%.0f per second; %.1f s in ConfigDSN), "
           "code page %u, %s installer, %d rounds failed\n",
           made, round, elapsed(), made / elapsed(), m_moduleSeconds, GetACP(), InstallerUnderTest().name,
           failedRounds);
    printf("answers: %ld refused, %ld added, %ld configured, %ld removals of stored entries, "
           "%ld of others; %ld file DSNs written; %ld through ConfigDSNW, %ld of them not representable\n",
           m_tally.refused, m_tally.added, m_tally.configured, m_tally.removedStored,
           m_tally.removedOther, m_tally.files, m_tally.wide, m_tally.unrepresentable);
    if (failedRounds == 0) {
        EXPECT_GE(made, wanted) << "too few requests within " << seconds << " s";
    }
    for (const auto& box : m_boxes.seen()) ADD_FAILURE() << "unexpected message box: " << box.text;
}

} // namespace
