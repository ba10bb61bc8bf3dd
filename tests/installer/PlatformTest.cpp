// What Wine's ODBC installer does where the module and its tests rely on it,
// pinned as Wine's own conformance tests do, so that a change of platform
// behaviour shows here first.
#include "TestSupport.h"

#include "afx/Handles.h"

#include <gtest/gtest.h>
#include <odbcinst.h>

using namespace bktest;
using Keys = std::map<std::string, std::string>;

namespace {

class Platform : public DataSourceTest {
protected:
    void SetUp() override { SQLGetConfigMode(&m_mode); }
    void TearDown() override {
        SQLSetConfigMode(m_mode);
        DataSourceTest::TearDown();
    }
    static int Get(const std::string& dsn, const char* key, const char* defaultText,
                   int size = 260) {
        std::vector<char> buffer(static_cast<size_t>(size));
        return SQLGetPrivateProfileString(dsn.c_str(), key, defaultText, buffer.data(), size,
                                          "ODBC.INI");
    }

private:
    UWORD m_mode = ODBC_BOTH_DSN;
};

// Registration in the machine's ODBC.INI; keys in the user's, whatever the
// config mode (Wine 8 neither writes nor reads the machine's keys in system mode).
TEST_F(Platform, RegistrationGoesToTheMachineAndKeysToTheUserInEveryMode)
{
    const std::string dsn = Use("bkTWhere");
    ASSERT_TRUE(SQLWriteDSNToIni(dsn.c_str(), kDriver));
    EXPECT_EQ(ReadEntry(dsn), (StoredEntry{kDriver, {{"driver", ""}}, {}}));   // no library registered

    for (UWORD mode : {ODBC_BOTH_DSN, ODBC_USER_DSN, ODBC_SYSTEM_DSN}) {
        ASSERT_TRUE(SQLSetConfigMode(mode));
        const std::string key = "Mode" + std::to_string(mode);
        EXPECT_TRUE(SQLWritePrivateProfileString(dsn.c_str(), key.c_str(), "v", "ODBC.INI"));
        EXPECT_EQ(ReadString(HKEY_CURRENT_USER, UserDsnKey(dsn), key.c_str()), "v") << mode;
        EXPECT_FALSE(ReadString(HKEY_LOCAL_MACHINE, MachineDsnKey(dsn), key.c_str())) << mode;
        EXPECT_EQ(Get(dsn, "driver", ""), 0) << mode;   // the machine's section is not read
    }
}

// Windows documents that the registration removes an existing section first;
// Wine does so for the machine's section and leaves the user's keys alone.
TEST_F(Platform, RegistrationOfAnExistingSectionRecreatesOnlyTheMachinesPart)
{
    const std::string dsn = Use("bkTAgain");
    ASSERT_TRUE(SQLWriteDSNToIni(dsn.c_str(), kDriver));
    ASSERT_TRUE(SQLWritePrivateProfileString(dsn.c_str(), "DBQ", "C:\\Data", "ODBC.INI"));
    {
        afx::UniqueRegKey key;
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, MachineDsnKey(dsn).c_str(), 0, KEY_SET_VALUE,
                                key.put()),
                  ERROR_SUCCESS);
        RegSetValueExA(key.get(), "Extra", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2);
    }

    ASSERT_TRUE(SQLWriteDSNToIni(dsn.c_str(), kDriver));
    EXPECT_EQ(ReadEntry(dsn), (StoredEntry{kDriver, {{"driver", ""}}, {{"DBQ", "C:\\Data"}}}));
}

TEST_F(Platform, RemovalTakesOnlyTheMachinesPartAndSucceedsForAnUnknownName)
{
    const std::string dsn = Use("bkTGone");
    ASSERT_TRUE(SQLWriteDSNToIni(dsn.c_str(), kDriver));
    ASSERT_TRUE(SQLWritePrivateProfileString(dsn.c_str(), "DBQ", "C:\\Data", "ODBC.INI"));
    EXPECT_TRUE(SQLRemoveDSNFromIni(dsn.c_str()));
    EXPECT_EQ(ReadEntry(dsn), (StoredEntry{{}, {}, {{"DBQ", "C:\\Data"}}}));
    EXPECT_TRUE(SQLRemoveDSNFromIni(Use("bkTUnknown").c_str()));
}

// A null default answers 0 even for a value or a section that exists (so the
// existence check with a null default finds nothing); a value that does not
// fit the buffer answers 0 as if absent, where Windows truncates it.
TEST_F(Platform, ProfileReadsAnswerZeroForANullDefaultOrAValueThatDoesNotFit)
{
    const std::string dsn = Use("bkTRead");
    ASSERT_TRUE(SQLWriteDSNToIni(dsn.c_str(), kDriver));
    ASSERT_TRUE(SQLWritePrivateProfileString(dsn.c_str(), "DBQ", "C:\\Data", "ODBC.INI"));
    ASSERT_TRUE(SQLWritePrivateProfileString(dsn.c_str(), "Long", std::string(300, 'x').c_str(),
                                             "ODBC.INI"));
    EXPECT_EQ(Get(dsn, "DBQ", ""), 7);
    EXPECT_EQ(Get(dsn, "DBQ", nullptr), 0);
    EXPECT_EQ(Get(dsn, nullptr, nullptr), 0);
    EXPECT_EQ(Get(dsn, "Long", ""), 0);
    EXPECT_EQ(Get(dsn, "Long", "", 301), 300);
}

TEST_F(Platform, ValidDsnRefusesExactlyTheCharactersTheModulesMessageNames)
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

// Wine loads the library named by the driver's Driver value (not Setup), calls
// only the 8-bit ConfigDSN, and frees the library after every call.
TEST_F(Platform, ConfigDataSourceLoadsTheDriverLibraryForEachCallOnly)
{
    ScopedDriverRegistration driver;
    const std::string dsn = Use("bkTLoaded"), list = AttributeList({"DSN=" + dsn});
    ASSERT_EQ(GetModuleHandleA("bkODBCsu.dll"), nullptr);
    ASSERT_TRUE(SQLConfigDataSource(nullptr, ODBC_ADD_DSN, kDriver, list.c_str()));
    EXPECT_EQ(Registration(dsn), kDriver);
    EXPECT_EQ(GetModuleHandleA("bkODBCsu.dll"), nullptr);

    const std::wstring driverW(kDriver, kDriver + strlen(kDriver));
    const std::wstring listW = L"DSN=bkTLoaded" + std::wstring(2, L'\0');
    EXPECT_FALSE(SQLConfigDataSourceW(nullptr, ODBC_REMOVE_DSN, driverW.c_str(), listW.c_str()));
    const std::string driverKey = std::string("Software\\ODBC\\ODBCINST.INI\\") + kDriver;
    ASSERT_EQ(RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, driverKey.c_str(), "Driver"), ERROR_SUCCESS);
    EXPECT_FALSE(SQLConfigDataSource(nullptr, ODBC_REMOVE_DSN, kDriver, list.c_str()));
    EXPECT_EQ(Registration(dsn), kDriver);   // neither call reached the module
}

} // namespace
