#include "InstallerUnderTest.h"
#include "OdbcNames.h"

#include "ReadBack.h"
#include "common/Registry.h"

#include <gtest/gtest.h>

#include <odbcinst.h>

#include <cstdio>
#include <cstdlib>

namespace bktest {

const char kDriver[] = "Brennick Data Test Driver";

std::string ProgramDir()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir = path;
    return dir.substr(0, dir.find_last_of('\\'));
}

namespace {
template <typename Text>
Text ListOf(const std::vector<Text>& elements)
{
    Text list;
    for (const auto& e : elements) list.append(e).push_back('\0');
    list.push_back('\0');
    return list;
}
} // namespace

std::string AttributeList(const std::vector<std::string>& elements) { return ListOf(elements); }
std::wstring AttributeListW(const std::vector<std::wstring>& elements) { return ListOf(elements); }

std::wstring DriverW() { return Widen(kDriver); }

SetupModule::SetupModule()
{
    m_module = LoadLibraryA((ProgramDir() + "\\bkODBCsu.dll").c_str());
    if (!m_module) {
        ADD_FAILURE() << "bkODBCsu.dll did not load, error " << GetLastError();
        return;
    }
    if (!Bind(m_module, "ConfigDSN", m_configDsn)) ADD_FAILURE() << "no ConfigDSN export";
    if (!Bind(m_module, "ConfigDSNW", m_configDsnW)) ADD_FAILURE() << "no ConfigDSNW export";
}

SetupModule::~SetupModule()
{
    if (m_module) FreeLibrary(m_module);
}

// ---- The installer's facts: every platform's row, here and nowhere else ----

bool UnderContract()
{
    static const bool contract = [] {
        char value[32] = {};
        return GetEnvironmentVariableA("BKTEST_INSTALLER", value, sizeof value) &&
               std::string(value) == "contract";
    }();
    return contract;
}

namespace {
// A row: the documented contract (every fact false) but for the departures named.
InstallerFacts Row(const char* name, const char* driverKeyword,
                   std::initializer_list<bool InstallerFacts::*> departures)
{
    InstallerFacts facts;
    facts.name = name;
    facts.driverKeyword = driverKeyword;
    for (bool InstallerFacts::*fact : departures) facts.*fact = true;
    return facts;
}
} // namespace

const InstallerFacts& InstallerUnderTest()
{
    using F = InstallerFacts;
    static const F contract = Row("contract", "Driver", {});
    static const F wine8 = Row("Wine 8", "driver",
                               {&F::splitsEntryAcrossHives, &F::removalKeepsKeys, &F::registrationKeepsKeys,
                                &F::loadsDriverNotSetup, &F::wideNeedsConfigDsnW, &F::registersAnyDriver,
                                &F::refusesRemoveDefault, &F::cutValueReadsAsNothing,
                                &F::profileMissesRegistrations, &F::dropsPostedErrors,
                                &F::profileMissesDriversInUserMode, &F::installJoinsEveryFile,
                                &F::driverRemovalKeepsDataSources, &F::removesDriverNotInstalled});
    static const F wine10 = Row("Wine 10", "driver",
                                {&F::registersAnyDriver, &F::refusesRemoveDefault, &F::cutValueReadsAsNothing,
                                 &F::dropsPostedErrors, &F::profileMissesDriversInUserMode,
                                 &F::installKeepsFoundFiles, &F::driverRemovalKeepsDataSources,
                                 &F::removesDriverNotInstalled});
    static const InstallerFacts* const facts = []() -> const InstallerFacts* {
        if (UnderContract()) return &contract;
        using VersionFn = const char*(CDECL*)();
        const auto version = reinterpret_cast<VersionFn>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version")));
        const std::string text = version ? version() : "(not Wine)";
        const int major = std::atoi(text.c_str());
        if (major == 8) return &wine8;
        if (major == 10) return &wine10;
        std::fprintf(stderr, "no installer facts for Wine %s: add its row to test support\n",
                     text.c_str());
        std::exit(3);
    }();
    return *facts;
}

// ---- Where an entry lives, and what it holds ----

std::string DsnKey(const std::string& dsn) { return std::string(odbc::kDataSourcesKey) + "\\" + dsn; }

namespace {
const char* const kSources = odbc::kSourcesKey;
HKEY ScopeHive(Scope scope) { return scope == Scope::User ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE; }
} // namespace

HKEY RegistrationHive(Scope scope)
{
    return InstallerUnderTest().splitsEntryAcrossHives ? HKEY_LOCAL_MACHINE : ScopeHive(scope);
}

void ForgetDataSource(const std::string& dsn)
{
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        reg::DeleteTree(root, DsnKey(dsn));
        reg::DeleteValue(root, kSources, dsn.c_str());
    }
}

std::optional<std::string> Registration(const std::string& dsn, Scope scope)
{
    return reg::ReadString(RegistrationHive(scope), kSources, dsn.c_str());
}

// An installer that splits an entry keeps its keyword in the machine's
// section and the module's keys in the user's; else one section holds both.
StoredEntry ReadEntry(const std::string& dsn, Scope scope)
{
    const InstallerFacts& facts = InstallerUnderTest();
    if (facts.splitsEntryAcrossHives)
        return {Registration(dsn, scope), Values(HKEY_LOCAL_MACHINE, DsnKey(dsn)),
                Values(HKEY_CURRENT_USER, DsnKey(dsn))};
    StoredEntry entry;
    entry.registration = Registration(dsn, scope);
    for (auto& [key, value] : Values(ScopeHive(scope), DsnKey(dsn)))
        (key == facts.driverKeyword ? entry.installer : entry.keys)[key] = value;
    return entry;
}

std::map<std::string, std::string> InstallerKeywords(const std::string& library)
{
    return {{InstallerUnderTest().driverKeyword, library}};
}

StoredEntry AfterRemoval(const StoredEntry& stored)
{
    if (!InstallerUnderTest().removalKeepsKeys) return StoredEntry{};
    return {std::nullopt, {}, stored.keys};
}

std::string InstalledFile(const std::string& folder, const std::string& value, bool found)
{
    const InstallerFacts& facts = InstallerUnderTest();
    const bool kept = facts.installKeepsFoundFiles ? found
                      : !facts.installJoinsEveryFile && value.find('\\') != std::string::npos;
    return kept ? value : folder + "\\" + value;
}

void PrintTo(const StoredEntry& entry, std::ostream* out)
{
    *out << "{registration " << ::testing::PrintToString(entry.registration) << ", machine "
         << ::testing::PrintToString(entry.installer) << ", user "
         << ::testing::PrintToString(entry.keys) << "}";
}

// ---- The test driver's registration ----

std::string ScopedDriverRegistration::ModulePath() { return ProgramDir() + "\\bkODBCsu.dll"; }

namespace {
const std::string kDriversKey = std::string(odbc::kDriversKey) + "\\";
const std::string kDriverKey = kDriversKey + std::string(kDriver);

void SetDriverValues(const std::string& description = kDriver)
{
    const std::string path = ScopedDriverRegistration::ModulePath();
    for (const char* name : {"Setup", "Driver"})
        ASSERT_TRUE(reg::SetString(HKEY_LOCAL_MACHINE, kDriversKey + description, name, path));
}
} // namespace

ScopedDriverRegistration::ScopedDriverRegistration(const std::string& description) : m_description(description)
{
    SetDriverValues(description);
}

// Under the contract the test driver stays installed for the whole program.
ScopedDriverRegistration::~ScopedDriverRegistration()
{
    reg::DeleteTree(HKEY_LOCAL_MACHINE, kDriversKey + m_description);
    if (UnderContract() && m_description == kDriver) SetDriverValues();
}

// ---- The installer library the programs' own installer calls go to ----

namespace {

// The system's, or the contract stand-in by full path. Loaded once, kept.
HMODULE InstallerLibrary()
{
    static const HMODULE library = [] {
        if (!UnderContract()) return LoadLibraryA("odbccp32.dll");
        const std::string path = ProgramDir() + "\\standin-contract\\odbccp32.dll";
        HMODULE module = LoadLibraryA(path.c_str());
        char loaded[MAX_PATH] = {};
        GetModuleFileNameA(module, loaded, MAX_PATH);
        // Without the override odbccp32=n Wine hands out its builtin even by full path.
        if (!module || lstrcmpiA(loaded, path.c_str()) != 0) {
            std::fprintf(stderr, "the contract installer %s was not loaded (got \"%s\"): "
                                 "run with WINEDLLOVERRIDES odbccp32=n\n", path.c_str(), loaded);
            std::exit(3);
        }
        return module;
    }();
    return library;
}

// A static object, so that it runs before main: before any test (whatever the
// filter or order) and before the module or a forwarder below can bind the
// installer. Under the contract the stand-in is then in place and the test
// driver installed until the program ends; with Wine's installer the machine's
// hive holds no test driver unless a test registers it (also after a killed
// contract run). Here because every program that uses the module or the
// installer links this file. A child process (BKTEST_CHILD set) leaves the
// arrangement to its parent, whose driver registration it uses.
struct ContractArrangement {
    const bool m_child = std::getenv("BKTEST_CHILD") != nullptr;
    ContractArrangement() {
        if (m_child) {
            if (UnderContract()) InstallerLibrary();
            return;
        }
        if (!UnderContract()) {
            reg::DeleteTree(HKEY_LOCAL_MACHINE, kDriverKey);
            return;
        }
        InstallerLibrary();
        SetDriverValues();
    }
    ~ContractArrangement() {
        if (UnderContract() && !m_child) reg::DeleteTree(HKEY_LOCAL_MACHINE, kDriverKey);
    }
} g_contractArrangement;

template <typename Fn>
Fn Bound(const char* name)
{
    Fn function = nullptr;
    if (!Bind(InstallerLibrary(), name, function)) {
        std::fprintf(stderr, "the %s installer has no %s\n", InstallerUnderTest().name, name);
        std::exit(3);
    }
    return function;
}

} // namespace

} // namespace bktest

// The installer functions the test programs call, bound at run time to the
// installer under test (the programs do not import odbccp32.dll, so that a
// contract run can put the stand-in in place first): each calls the function
// of its name there.
#define BK_FORWARD(Return, Name, Parameters, Arguments) \
    extern "C" Return WINAPI Name Parameters { return bktest::Bound<decltype(&Name)>(#Name) Arguments; }

BK_FORWARD(BOOL, SQLConfigDataSource, (HWND hwndParent, WORD request, LPCSTR driver, LPCSTR attributes),
           (hwndParent, request, driver, attributes))
BK_FORWARD(BOOL, SQLConfigDataSourceW, (HWND hwndParent, WORD request, LPCWSTR driver, LPCWSTR attributes),
           (hwndParent, request, driver, attributes))
BK_FORWARD(BOOL, SQLGetConfigMode, (UWORD* mode), (mode))
BK_FORWARD(BOOL, SQLSetConfigMode, (UWORD mode), (mode))
BK_FORWARD(BOOL, SQLValidDSN, (LPCSTR dsn), (dsn))
BK_FORWARD(BOOL, SQLWriteDSNToIni, (LPCSTR dsn, LPCSTR driver), (dsn, driver))
BK_FORWARD(BOOL, SQLRemoveDSNFromIni, (LPCSTR dsn), (dsn))
BK_FORWARD(BOOL, SQLWritePrivateProfileString, (LPCSTR section, LPCSTR entry, LPCSTR string, LPCSTR file),
           (section, entry, string, file))
BK_FORWARD(int, SQLGetPrivateProfileString,
           (LPCSTR section, LPCSTR entry, LPCSTR defaultText, LPSTR buffer, int size, LPCSTR file),
           (section, entry, defaultText, buffer, size, file))
BK_FORWARD(SQLRETURN, SQLPostInstallerError, (DWORD code, LPCSTR text), (code, text))
BK_FORWARD(SQLRETURN, SQLInstallerError, (WORD record, DWORD* code, LPSTR text, WORD size, WORD* length),
           (record, code, text, size, length))
BK_FORWARD(BOOL, SQLInstallDriverExW,
           (LPCWSTR driver, LPCWSTR pathIn, LPWSTR pathOut, WORD pathOutMax, WORD* pathOutLength, WORD request,
            LPDWORD usageCount),
           (driver, pathIn, pathOut, pathOutMax, pathOutLength, request, usageCount))
BK_FORWARD(BOOL, SQLRemoveDriverW, (LPCWSTR driver, BOOL removeDsns, LPDWORD usageCount),
           (driver, removeDsns, usageCount))
