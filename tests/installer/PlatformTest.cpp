// What the installer does where the module and its tests rely on it, pinned
// as Wine's own conformance tests do: Wine's installer (so that a change of
// platform behaviour shows here first), and the contract stand-in where Wine
// departs from the documented contract (so that the stand-in plays what the
// documentation says). Each fixture runs against its own installer only.
#include "InstallerUnderTest.h"
#include "OdbcNames.h"
#include "ReadBack.h"

#include "afx/Handles.h"

#include <gtest/gtest.h>
#include <odbcinst.h>

using namespace bktest;
using Keys = std::map<std::string, std::string>;

namespace {

// SQLGetPrivateProfileString of ODBC.INI into a buffer of `size`, filled
// with '#' first; `text`, when given, receives the buffer.
int Get(const std::string& dsn, const char* key, const char* defaultText, int size = 260,
        std::string* text = nullptr)
{
    std::vector<char> buffer(static_cast<size_t>(size) + 1, '#');
    const int result =
        SQLGetPrivateProfileString(dsn.c_str(), key, defaultText, buffer.data(), size, "ODBC.INI");
    if (text) text->assign(buffer.data(), static_cast<size_t>(size));
    return result;
}

// The code of the installer's first error; 0 when it has none.
DWORD LastError()
{
    DWORD code = 0;
    char text[SQL_MAX_MESSAGE_LENGTH] = {};
    return SQLInstallerError(1, &code, text, sizeof text, nullptr) == SQL_SUCCESS ? code : 0;
}

class Platform : public DataSourceTest {
protected:
    void SetUp() override {
        if (UnderContract()) GTEST_SKIP() << "pins Wine's installer by its facts";
        // No library registered for the test driver unless a test registers it.
        reg::DeleteTree(HKEY_LOCAL_MACHINE, std::string(odbc::kDriversKey) + "\\" + kDriver);
        SQLGetConfigMode(&m_mode);
    }
    void TearDown() override {
        SQLSetConfigMode(m_mode);
        DataSourceTest::TearDown();
    }

private:
    UWORD m_mode = ODBC_BOTH_DSN;
};

// Where the registration and the keys go in each mode. Split (Wine 8): the
// registration in the machine's hive, the keys in the user's whatever the
// mode, and the machine's section is never read. Else (documented): user and
// both modes the user's hive, system mode the machine's.
TEST_F(Platform, SplitsEntryAcrossHivesAsItsFactsSay)
{
    const bool split = InstallerUnderTest().splitsEntryAcrossHives;
    const std::string dsn = Use("bkTWhere");
    const char* const sources = odbc::kSourcesKey;
    ASSERT_TRUE(SQLWriteDSNToIni(dsn.c_str(), kDriver));
    EXPECT_EQ(reg::ReadString(split ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, sources, dsn.c_str()), kDriver);
    EXPECT_FALSE(reg::ReadString(split ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE, sources, dsn.c_str()));
    EXPECT_EQ(ReadEntry(dsn), (StoredEntry{kDriver, {{"driver", ""}}, {}}));   // no library registered
    // The installer's own profile functions find the registration, unless they read only the user's hive.
    char listed[260] = {};
    EXPECT_EQ(SQLGetPrivateProfileString("ODBC Data Sources", dsn.c_str(), "", listed, sizeof listed,
                                         "ODBC.INI") > 0,
              !InstallerUnderTest().profileMissesRegistrations);

    for (UWORD mode : {ODBC_BOTH_DSN, ODBC_USER_DSN, ODBC_SYSTEM_DSN}) {
        ASSERT_TRUE(SQLSetConfigMode(mode));
        const std::string key = "Mode" + std::to_string(mode);
        const bool user = split || mode != ODBC_SYSTEM_DSN;
        EXPECT_TRUE(SQLWritePrivateProfileString(dsn.c_str(), key.c_str(), "v", "ODBC.INI"));
        EXPECT_EQ(reg::ReadString(user ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE, DsnKey(dsn), key.c_str()), "v") << mode;
        EXPECT_FALSE(reg::ReadString(user ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, DsnKey(dsn), key.c_str())) << mode;
        if (split) {
            EXPECT_EQ(Get(dsn, "driver", ""), 0) << mode;   // the machine's section is not read
        }
    }
}

// Windows documents that the registration removes an existing section first.
// Wine 8 does so for the machine's section and leaves the user's keys alone.
TEST_F(Platform, RegistrationOfAnExistingSectionKeepsKeysAsItsFactsSay)
{
    const InstallerFacts& facts = InstallerUnderTest();
    const std::string dsn = Use("bkTAgain");
    ASSERT_TRUE(SQLWriteDSNToIni(dsn.c_str(), kDriver));
    ASSERT_TRUE(SQLWritePrivateProfileString(dsn.c_str(), "DBQ", "C:\\Data", "ODBC.INI"));
    {
        // A value beside the installer's keyword, in the section that holds it.
        const afx::UniqueRegKey key = reg::Open(RegistrationHive(Scope::User), DsnKey(dsn), KEY_SET_VALUE);
        ASSERT_TRUE(key);
        reg::WriteRaw(key.get(), "Extra", REG_SZ, std::string("x", 2));
    }

    ASSERT_TRUE(SQLWriteDSNToIni(dsn.c_str(), kDriver));
    Keys kept;
    if (facts.registrationKeepsKeys) {
        kept = {{"DBQ", "C:\\Data"}};
        if (!facts.splitsEntryAcrossHives) kept["Extra"] = "x";
    }
    EXPECT_EQ(ReadEntry(dsn), (StoredEntry{kDriver, {{"driver", ""}}, kept}));
}

TEST_F(Platform, RemovalKeepsKeysAsItsFactsSayAndSucceedsForAnUnknownName)
{
    const std::string dsn = Use("bkTGone");
    ASSERT_TRUE(SQLWriteDSNToIni(dsn.c_str(), kDriver));
    ASSERT_TRUE(SQLWritePrivateProfileString(dsn.c_str(), "DBQ", "C:\\Data", "ODBC.INI"));
    EXPECT_TRUE(SQLRemoveDSNFromIni(dsn.c_str()));
    EXPECT_EQ(ReadEntry(dsn), (StoredEntry{{}, {}, InstallerUnderTest().removalKeepsKeys
                                                       ? Keys{{"DBQ", "C:\\Data"}} : Keys{}}));
    EXPECT_TRUE(SQLRemoveDSNFromIni(Use("bkTUnknown").c_str()));
}

// A null default answers 0 even for a value or a section that exists (so the
// existence check with a null default finds nothing); a value that does not
// fit the buffer answers 0 as if absent where the facts say so, where
// Windows cuts it.
TEST_F(Platform, ProfileReadsAnswerZeroForANullDefaultAndCutValuesAsItsFactsSay)
{
    const std::string dsn = Use("bkTRead");
    ASSERT_TRUE(SQLWriteDSNToIni(dsn.c_str(), kDriver));
    ASSERT_TRUE(SQLWritePrivateProfileString(dsn.c_str(), "DBQ", "C:\\Data", "ODBC.INI"));
    ASSERT_TRUE(SQLWritePrivateProfileString(dsn.c_str(), "Long", std::string(300, 'x').c_str(),
                                             "ODBC.INI"));
    EXPECT_EQ(Get(dsn, "DBQ", ""), 7);
    EXPECT_EQ(Get(dsn, "DBQ", nullptr), 0);
    EXPECT_EQ(Get(dsn, nullptr, nullptr), 0);
    EXPECT_EQ(Get(dsn, "Long", ""), InstallerUnderTest().cutValueReadsAsNothing ? 0 : 259);
    EXPECT_EQ(Get(dsn, "Long", "", 301), 300);
}

// A setup module tells why it failed by posting an error, which the
// installer's caller reads back, unless the installer drops it.
TEST(InstallerErrors, PostedErrorsReachTheCallerAsItsFactsSay)
{
    SQLPostInstallerError(ODBC_ERROR_REQUEST_FAILED, "posted by a setup module");
    DWORD code = 0;
    char text[100] = {};
    WORD length = 0;
    const SQLRETURN answer = SQLInstallerError(1, &code, text, sizeof text, &length);
    if (InstallerUnderTest().dropsPostedErrors) {
        EXPECT_NE(std::string(text), "posted by a setup module") << answer;
    } else {
        EXPECT_EQ(answer, SQL_SUCCESS);
        EXPECT_EQ(code, DWORD(ODBC_ERROR_REQUEST_FAILED));
        EXPECT_EQ(std::string(text), "posted by a setup module");
    }
}

// A driver's library, read through the installer's profile in each mode: the
// machine's list of drivers, whatever the mode, unless the installer looks
// for it in the user's hive in user mode, or in every mode (an installer
// whose profile reads only the user's hive).
TEST(InstallerDrivers, ProfileReadsTheDriversLibraryInEveryModeAsItsFactsSay)
{
    const ScopedDriverRegistration driver;
    UWORD saved = ODBC_BOTH_DSN;
    SQLGetConfigMode(&saved);
    for (UWORD mode : {ODBC_USER_DSN, ODBC_SYSTEM_DSN}) {
        SCOPED_TRACE(mode);
        ASSERT_TRUE(SQLSetConfigMode(mode));
        char library[260] = {};
        const int length = SQLGetPrivateProfileString(kDriver, "Driver", "", library, sizeof library, "ODBCINST.INI");
        const InstallerFacts& facts = InstallerUnderTest();
        const bool missed = facts.profileMissesRegistrations ||
                            (mode == ODBC_USER_DSN && facts.profileMissesDriversInUserMode);
        EXPECT_EQ(length > 0, !missed) << library;
    }
    SQLSetConfigMode(saved);
}

// Wine and the contract refuse the same characters.
TEST(InstallerNames, ValidDsnRefusesExactlyTheCharactersTheModulesMessageNames)
{
    SetupModule module;
    char text[512] = {};
    ASSERT_GT(LoadStringA(module.handle(), 2, text, sizeof text), 0);   // the invalid-name message
    const std::string message = text, marker = "following characters:";
    ASSERT_NE(message.find(marker), std::string::npos);
    std::string listed;
    for (char c : message.substr(message.find(marker) + marker.size()))
        if (!isspace(static_cast<unsigned char>(c))) listed += c;
    EXPECT_EQ(listed, "[]{}()?*=!@,;\\");

    for (char c : listed) EXPECT_FALSE(SQLValidDSN((std::string("a") + c + "b").c_str())) << c;
    for (const char* name : {"a|b", "a<b", "a/b", "c:x", "a\nb", "a b", "1a", " a"})
        EXPECT_TRUE(SQLValidDSN(name)) << name;
    EXPECT_TRUE(SQLValidDSN(std::string(32, 'a').c_str()));
    EXPECT_FALSE(SQLValidDSN(std::string(33, 'a').c_str()));
}

// The installer loads the library named by Setup (documented) or, Wine 8,
// by Driver, and frees it after every call. Its wide entry reaches a module
// through ConfigDSNW, and where the installer falls back, through ConfigDSN.
TEST_F(Platform, ConfigDataSourceLoadsTheLibraryItsFactsNameForEachCallOnly)
{
    const InstallerFacts& facts = InstallerUnderTest();
    bool moduleIsWide = false;
    {
        SetupModule module;
        moduleIsWide = GetProcAddress(module.handle(), "ConfigDSNW") != nullptr;
    }
    ScopedDriverRegistration driver;
    const std::string dsn = Use("bkTLoaded"), list = AttributeList({"DSN=" + dsn});
    ASSERT_EQ(GetModuleHandleA("bkODBCsu.dll"), nullptr);
    ASSERT_TRUE(SQLConfigDataSource(nullptr, ODBC_ADD_DSN, kDriver, list.c_str()));
    EXPECT_EQ(Registration(dsn), kDriver);
    EXPECT_EQ(GetModuleHandleA("bkODBCsu.dll"), nullptr);

    const bool wideReaches = moduleIsWide || !facts.wideNeedsConfigDsnW;
    const std::wstring listW = AttributeListW({L"DSN=bkTLoaded"});
    EXPECT_EQ(SQLConfigDataSourceW(nullptr, ODBC_REMOVE_DSN, DriverW().c_str(), listW.c_str()),
              wideReaches ? TRUE : FALSE);
    EXPECT_EQ(Registration(dsn).has_value(), !wideReaches);
    EXPECT_EQ(GetModuleHandleA("bkODBCsu.dll"), nullptr);
    if (wideReaches) {
        ASSERT_TRUE(SQLConfigDataSourceW(nullptr, ODBC_ADD_DSN, DriverW().c_str(), listW.c_str()));
        EXPECT_EQ(Registration(dsn), kDriver);
    }

    // Without the value it loads, the request reaches no module; with that
    // value back and the other naming nothing, it works.
    const char* const loaded = facts.loadsDriverNotSetup ? "Driver" : "Setup";
    const char* const other = facts.loadsDriverNotSetup ? "Setup" : "Driver";
    const std::string key = std::string(odbc::kDriversKey) + "\\" + kDriver;
    ASSERT_EQ(RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, key.c_str(), loaded), ERROR_SUCCESS);
    EXPECT_FALSE(SQLConfigDataSource(nullptr, ODBC_REMOVE_DSN, kDriver, list.c_str()));
    EXPECT_FALSE(SQLConfigDataSourceW(nullptr, ODBC_REMOVE_DSN, DriverW().c_str(), listW.c_str()));
    EXPECT_EQ(Registration(dsn), kDriver);   // no call reached the module

    const std::string path = ScopedDriverRegistration::ModulePath(), nowhere = "C:\\bkTNowhere.dll";
    ASSERT_TRUE(reg::SetString(HKEY_LOCAL_MACHINE, key, loaded, path));
    ASSERT_TRUE(reg::SetString(HKEY_LOCAL_MACHINE, key, other, nowhere));
    EXPECT_TRUE(SQLConfigDataSource(nullptr, ODBC_REMOVE_DSN, kDriver, list.c_str()));
    EXPECT_FALSE(Registration(dsn));
}

// Driver registration, on every installer: each install of a description adds
// one to its UsageCount and returns it, each removal takes one, the last its
// key and "ODBC Drivers" value. File keywords are kept as the facts say
// (documented: a file name joined to the install folder, a full path as
// given), for files there and not; the last removal, asked to, takes the
// driver's data sources; a driver not installed is refused. Unless the facts
// say otherwise.
class DriverInstall : public DataSourceTest {
protected:
    void SetUp() override {
        GetCurrentDirectoryA(MAX_PATH, m_folder);
        SetCurrentDirectoryA(ProgramDir().c_str());   // where the module is found by its name
        Forget();
    }
    void TearDown() override {
        SetCurrentDirectoryA(m_folder);
        SQLSetConfigMode(ODBC_BOTH_DSN);
        Forget();
        DataSourceTest::TearDown();
    }
    static void Forget() {
        reg::DeleteTree(HKEY_LOCAL_MACHINE, kKey);
        reg::DeleteValue(HKEY_LOCAL_MACHINE, kDrivers, kName);
    }
    static bool Install(const std::string& driver, const std::string& setup, DWORD* count) {
        const std::wstring list = AttributeListW({Widen(kName), Widen("Driver=" + driver), Widen("Setup=" + setup)});
        wchar_t out[MAX_PATH] = {};
        WORD length = 0;
        const BOOL ok = SQLInstallDriverExW(list.c_str(), Widen(kFolder).c_str(), out, MAX_PATH, &length,
                                            ODBC_INSTALL_COMPLETE, count);
        EXPECT_EQ(std::wstring(out), Widen(kFolder));
        return ok != FALSE;
    }
    static constexpr const char* kName = "bkT Installed Driver";
    inline static const std::string kKey = std::string(odbc::kDriversKey) + "\\bkT Installed Driver";
    inline static const std::string kDrivers = std::string(odbc::kDriversKey) + "\\ODBC Drivers";
    static constexpr const char* kFolder = "C:\\bkT Folder";

private:
    char m_folder[MAX_PATH] = {};
};

TEST_F(DriverInstall, CountsInstallsKeepsFilesAndRemovesAsItsFactsSay)
{
    const InstallerFacts& facts = InstallerUnderTest();
    const std::string missing = "bkTDriver.dll", missingPath = "C:\\bkT Elsewhere\\bkTSetup.dll";
    const std::string found = "bkODBCsu.dll", foundPath = ScopedDriverRegistration::ModulePath();
    const struct { bool install; DWORD count; std::string driver, setup; } steps[] = {
        {true, 1, missing, missingPath}, {true, 2, foundPath, found}, {false, 1, foundPath, found},
        {true, 2, missing, missingPath}, {false, 1, missing, missingPath}, {false, 0, "", ""}};
    for (const auto& step : steps) {
        SCOPED_TRACE(std::string(step.install ? "install, count " : "remove, count ") + std::to_string(step.count));
        DWORD count = 99;
        ASSERT_TRUE(step.install ? Install(step.driver, step.setup, &count)
                                 : SQLRemoveDriverW(Widen(kName).c_str(), FALSE, &count));
        EXPECT_EQ(count, step.count);
        if (!step.count) {
            EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kKey));
            EXPECT_FALSE(reg::ReadString(HKEY_LOCAL_MACHINE, kDrivers, kName));
            continue;
        }
        EXPECT_EQ(reg::ReadString(HKEY_LOCAL_MACHINE, kDrivers, kName), "Installed");
        EXPECT_EQ(reg::ReadRaw(HKEY_LOCAL_MACHINE, kKey, "UsageCount"),
                  reg::Raw(REG_DWORD, std::string(reinterpret_cast<const char*>(&step.count), sizeof step.count)));
        for (const auto& [keyword, value] : {std::make_pair("Driver", step.driver), std::make_pair("Setup", step.setup)})
            EXPECT_EQ(reg::ReadString(HKEY_LOCAL_MACHINE, kKey, keyword),
                      InstalledFile(kFolder, value, FileExists(value))) << keyword;
    }

    // The data sources of the driver, the user's and the machine's, and another driver's.
    DWORD count = 99;
    ASSERT_TRUE(Install(missing, missingPath, &count));
    const std::string user = Use("bkTOfDriver"), system = Use("bkTOfDriverSys"), other = Use("bkTOther");
    ASSERT_TRUE(SQLWriteDSNToIni(user.c_str(), kName));
    ASSERT_TRUE(SQLWriteDSNToIni(other.c_str(), kDriver));
    ASSERT_TRUE(SQLSetConfigMode(ODBC_SYSTEM_DSN));
    ASSERT_TRUE(SQLWriteDSNToIni(system.c_str(), kName));
    ASSERT_TRUE(SQLSetConfigMode(ODBC_BOTH_DSN));
    ASSERT_TRUE(SQLRemoveDriverW(Widen(kName).c_str(), TRUE, &count));
    EXPECT_EQ(count, 0u);
    const bool kept = facts.driverRemovalKeepsDataSources;
    EXPECT_EQ(Registration(user), kept ? std::optional<std::string>(kName) : std::nullopt);
    EXPECT_EQ(Registration(system, Scope::System), kept ? std::optional<std::string>(kName) : std::nullopt);
    EXPECT_EQ(Registration(other), kDriver);

    // Not installed (any more).
    count = 99;
    EXPECT_EQ(SQLRemoveDriverW(Widen(kName).c_str(), FALSE, &count), facts.removesDriverNotInstalled ? TRUE : FALSE);
    if (facts.removesDriverNotInstalled)
        EXPECT_EQ(count, 0u);
    else
        EXPECT_EQ(LastError(), static_cast<DWORD>(ODBC_ERROR_COMPONENT_NOT_FOUND));
}

// ---- The contract stand-in: what the documentation prescribes where Wine differs ----

class Contract : public DataSourceTest {
protected:
    void SetUp() override {
        if (!UnderContract()) GTEST_SKIP() << "pins the contract stand-in";
    }
    void TearDown() override {
        SQLSetConfigMode(ODBC_BOTH_DSN);
        DataSourceTest::TearDown();
    }
};

// User mode: the user's hive; system mode: the machine's; both: writes to the
// user's, reads and removals from the user's when the user has that data
// source, else from the machine's. A registration recreates the section with
// the single keyword Driver; a removal takes registration and section.
TEST_F(Contract, EveryCallGoesToTheModesHiveAndRegistrationRecreatesTheSection)
{
    const std::string dsn = Use("bkTWhere"), library = ScopedDriverRegistration::ModulePath();
    const struct { UWORD mode; HKEY hive, other; } cases[] = {
        {ODBC_USER_DSN, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE},
        {ODBC_SYSTEM_DSN, HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER},
        {ODBC_BOTH_DSN, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(SQLSetConfigMode(c.mode));
        ASSERT_TRUE(SQLWritePrivateProfileString(dsn.c_str(), "Old", "x", "ODBC.INI")) << c.mode;
        ASSERT_TRUE(SQLWriteDSNToIni(dsn.c_str(), kDriver)) << c.mode;
        ASSERT_TRUE(SQLWritePrivateProfileString(dsn.c_str(), "DBQ", "C:\\Data", "ODBC.INI"));
        EXPECT_EQ(Values(c.hive, DsnKey(dsn)), (Keys{{"Driver", library}, {"DBQ", "C:\\Data"}}))
            << c.mode;
        EXPECT_EQ(reg::ReadString(c.hive, odbc::kSourcesKey, dsn.c_str()), kDriver);
        EXPECT_FALSE(KeyExists(c.other, DsnKey(dsn))) << c.mode;
        std::string text;
        EXPECT_EQ(Get(dsn, "DBQ", "", 260, &text), 7);
        EXPECT_EQ(text.substr(0, 8), std::string("C:\\Data\0", 8));
        EXPECT_TRUE(SQLRemoveDSNFromIni(dsn.c_str()));
        EXPECT_FALSE(KeyExists(c.hive, DsnKey(dsn))) << c.mode;
        EXPECT_FALSE(Registration(dsn, Scope::User) || Registration(dsn, Scope::System)) << c.mode;
    }
    // Both: a system data source is read from the machine's hive, and a
    // user's data source of the same name hides it.
    ASSERT_TRUE(SQLSetConfigMode(ODBC_SYSTEM_DSN));
    ASSERT_TRUE(SQLWriteDSNToIni(dsn.c_str(), kDriver));
    ASSERT_TRUE(SQLWritePrivateProfileString(dsn.c_str(), "DBQ", "C:\\System", "ODBC.INI"));
    ASSERT_TRUE(SQLSetConfigMode(ODBC_BOTH_DSN));
    std::string text;
    Get(dsn, "DBQ", "", 260, &text);
    EXPECT_EQ(text.substr(0, 10), std::string("C:\\System\0", 10));
    ASSERT_TRUE(SQLWriteDSNToIni(dsn.c_str(), kDriver));
    Get(dsn, "DBQ", "none", 260, &text);
    EXPECT_EQ(text.substr(0, 5), std::string("none\0", 5));
    EXPECT_EQ(ReadEntry(dsn, Scope::System).keys, (Keys{{"DBQ", "C:\\System"}}));
    EXPECT_FALSE(SQLSetConfigMode(3));
    EXPECT_EQ(LastError(), static_cast<DWORD>(ODBC_ERROR_INVALID_PARAM_SEQUENCE));
    EXPECT_FALSE(SQLWriteDSNToIni("bkT[", kDriver));
    EXPECT_EQ(LastError(), static_cast<DWORD>(ODBC_ERROR_INVALID_DSN));
    EXPECT_FALSE(SQLWriteDSNToIni(dsn.c_str(), "bkT Not Installed"));
    EXPECT_EQ(LastError(), static_cast<DWORD>(ODBC_ERROR_INVALID_NAME));
}

// A null key lists the section's keys, each NUL-ended, with one more NUL at
// the end; a value or list cut to the buffer answers size - 1 or size - 2; a
// missing key gives the default; a null default fails with 0.
TEST_F(Contract, ProfileReadsListCutAndDefaultAsDocumented)
{
    const std::string dsn = Use("bkTRead");
    ASSERT_TRUE(SQLWriteDSNToIni(dsn.c_str(), kDriver));
    ASSERT_TRUE(SQLWritePrivateProfileString(dsn.c_str(), "DBQ", "C:\\Data", "ODBC.INI"));
    // In the registry's order of the values (Wine's registry sorts them by name).
    const std::string list = "DBQ" + std::string(1, '\0') + "Driver" + std::string(2, '\0');
    const struct { const char* key; const char* defaultText; int size; int result; std::string text; } cases[] = {
        {"DBQ", "", 260, 7, std::string("C:\\Data\0", 8)},
        {"DBQ", "", 8, 7, std::string("C:\\Data\0", 8)},
        {"DBQ", "", 4, 3, std::string("C:\\\0", 4)},
        {"Missing", "dflt", 260, 4, std::string("dflt\0", 5)},
        {"Missing", "dflt", 3, 2, std::string("df\0", 3)},
        {"DBQ", nullptr, 260, 0, std::string(1, '\0')},
        {nullptr, "", 260, 11, list},
        {nullptr, "", 12, 11, list},
        {nullptr, "", 9, 7, "DBQ" + std::string(1, '\0') + "Dri" + std::string(2, '\0')},
    };
    for (const auto& c : cases) {
        std::string text;
        EXPECT_EQ(Get(dsn, c.key, c.defaultText, c.size, &text), c.result)
            << (c.key ? c.key : "(null)") << " " << c.size;
        EXPECT_EQ(text.substr(0, c.text.size()), c.text) << (c.key ? c.key : "(null)") << " " << c.size;
    }
    EXPECT_EQ(Get(Use("bkTNoSuch"), nullptr, ""), 0);
}

// The setup library named by Setup (not Driver) is loaded for the call only;
// a system request reaches ConfigDSN as the user request in system mode, and
// the mode is BOTHDSN again afterwards. An unknown driver or request fails
// with the documented error and reaches no module.
TEST_F(Contract, ConfigDataSourceLoadsSetupAndRunsSystemRequestsInSystemMode)
{
    ScopedDriverRegistration driver;
    const std::string driverKey = std::string(odbc::kDriversKey) + "\\" + kDriver,
                      nowhere = "C:\\bkTNowhere.dll";
    ASSERT_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, driverKey.c_str(), "Driver", REG_SZ, nowhere.c_str(),
                              static_cast<DWORD>(nowhere.size() + 1)), ERROR_SUCCESS);
    const std::string dsn = Use("bkTSystem"), list = AttributeList({"DSN=" + dsn, "DBQ=C:\\Data"});
    ASSERT_TRUE(SQLSetConfigMode(ODBC_USER_DSN));
    ASSERT_TRUE(SQLConfigDataSource(nullptr, ODBC_ADD_SYS_DSN, kDriver, list.c_str()));
    UWORD mode = 99;
    EXPECT_TRUE(SQLGetConfigMode(&mode));
    EXPECT_EQ(mode, ODBC_BOTH_DSN);
    EXPECT_EQ(GetModuleHandleA("bkODBCsu.dll"), nullptr);
    EXPECT_EQ(ReadEntry(dsn, Scope::System), (StoredEntry{kDriver, {{"Driver", nowhere}}, {{"DBQ", "C:\\Data"}}}));
    EXPECT_EQ(ReadEntry(dsn, Scope::User), StoredEntry{});

    ASSERT_EQ(RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, driverKey.c_str(), "Setup"), ERROR_SUCCESS);
    EXPECT_FALSE(SQLConfigDataSource(nullptr, ODBC_REMOVE_SYS_DSN, kDriver, list.c_str()));
    EXPECT_EQ(LastError(), static_cast<DWORD>(ODBC_ERROR_INVALID_NAME));
    EXPECT_FALSE(SQLConfigDataSource(nullptr, 8 /* out of range */, kDriver, list.c_str()));
    EXPECT_EQ(LastError(), static_cast<DWORD>(ODBC_ERROR_INVALID_REQUEST_TYPE));
    EXPECT_EQ(Registration(dsn, Scope::System), kDriver);
}

} // namespace
