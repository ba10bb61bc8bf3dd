// Silent add, configure and remove through ConfigDSN against the installer
// under test, read back from the registry.
#include "InstallerUnderTest.h"
#include "OdbcNames.h"
#include "ReadBack.h"
#include "WindowHooks.h"

#include <gtest/gtest.h>
#include <odbcinst.h>

using namespace bktest;
using Keys = std::map<std::string, std::string>;

namespace {

class Persistence : public DataSourceTest {
protected:
    SetupModule module;
};

TEST_F(Persistence, EveryRequestButRemovalAddsAndAllStoreTheSame)
{
    std::optional<StoredEntry> first;
    // 4 to 7: outside the module's requests (1 to 3), taken as an add.
    for (WORD request : {ODBC_ADD_DSN, ODBC_CONFIG_DSN, 4, 5, 6, 7}) {
        const std::string dsn = Use("bkTRequest");
        ASSERT_EQ(module.ConfigDSN(request, {"DSN=" + dsn, "DBQ=C:\\Data", "ShortenNames=1"}), TRUE)
            << request;
        const StoredEntry stored = ReadEntry(dsn);
        EXPECT_EQ(stored.registration, kDriver) << request;
        EXPECT_EQ(stored.keys, (Keys{{"DBQ", "C:\\Data"}, {"ShortenNames", "1"}})) << request;
        if (first) EXPECT_EQ(stored, *first) << request;
        else first = stored;
    }
}

TEST_F(Persistence, NewDataSourceGetsExactlyTheSuppliedKeysUnderTheModulesNames)
{
    const std::string dsn = Use("bkTNew");
    ASSERT_EQ(module.ConfigDSN(ODBC_ADD_DSN, {"DSN=" + dsn, "dbq=C:\\Data", "shortennames=0", "Other=1"}), TRUE);
    EXPECT_EQ(ReadEntry(dsn).keys, (Keys{{"DBQ", "C:\\Data"}, {"ShortenNames", "0"}}));

    const std::string bare = Use("bkTBare");
    ASSERT_EQ(module.ConfigDSN(ODBC_ADD_DSN, {"DSN=" + bare}), TRUE);
    EXPECT_EQ(Registration(bare), kDriver);
    EXPECT_TRUE(ReadEntry(bare).keys.empty());
}

TEST_F(Persistence, SilentConfigureChangesOnlyTheSuppliedKeyAndKeepsLongValuesWhole)
{
    const std::string dsn = Use("bkTConfigure");
    const std::string folder = "C:\\" + std::string(300, 'f');   // longer than any read buffer of 260
    ASSERT_EQ(module.ConfigDSN(ODBC_ADD_DSN, {"DSN=" + dsn, "DBQ=" + folder, "MaxColSupport=1536",
                                   "StandardMode=1", "DatabaseType=2"}),
              TRUE);
    ASSERT_EQ(module.ConfigDSN(ODBC_CONFIG_DSN, {"DSN=" + dsn, "DatabaseType=1"}), TRUE);
    const StoredEntry stored = ReadEntry(dsn);
    EXPECT_EQ(stored.registration, kDriver);
    EXPECT_EQ(stored.keys, (Keys{{"DBQ", folder}, {"MaxColSupport", "1536"}, {"StandardMode", "1"},
                                 {"DatabaseType", "1"}}));
}

TEST_F(Persistence, SilentWriteThatBreaksTheNameRulesFailsAndWritesNothing)
{
    ScopedDefaultDsnDir dir;
    // A leading digit or blank is the module's own rule (Wine's installer takes
    // both); "[" and more than 32 characters are refused by the installer.
    for (const std::string& name :
         std::vector<std::string>{"1bkT", " bkT", "bkTa[b", "bkT" + std::string(30, 'x')}) {
        Use(name);
        EXPECT_EQ(module.ConfigDSN(ODBC_ADD_DSN, {"DSN=" + name, "DBQ=C:\\Data"}), FALSE) << name;
        EXPECT_EQ(ReadEntry(name), StoredEntry{}) << name;
    }
    const std::string valid = Use("bkTNoDriver");
    EXPECT_EQ(module.ConfigDSN(nullptr, ODBC_ADD_DSN, "", AttributeList({"DSN=" + valid})), FALSE);
    EXPECT_EQ(ReadEntry(valid), StoredEntry{});
    EXPECT_EQ(module.ConfigDSN(ODBC_ADD_DSN, {"DBQ=C:\\Data"}), FALSE);
    EXPECT_EQ(ReadEntry(""), StoredEntry{});   // nothing under an empty section name either
    EXPECT_TRUE(FilesUnder(dir.folder()).empty());
}

TEST_F(Persistence, RemovalIsSilentAlsoWithAParentWindow)
{
    HWND hidden = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    for (HWND hwndParent : {HWND(nullptr), GetDesktopWindow(), hidden}) {
        const std::string dsn = Use("bkTRemove");
        ASSERT_EQ(module.ConfigDSN(ODBC_ADD_DSN, {"DSN=" + dsn, "DBQ=C:\\Data"}), TRUE);
        const StoredEntry added = ReadEntry(dsn);
        WindowWatcher watcher;
        EXPECT_EQ(module.ConfigDSN(hwndParent, ODBC_REMOVE_DSN, kDriver, AttributeList({"DSN=" + dsn})), TRUE);
        EXPECT_TRUE(watcher.created().empty()) << ::testing::PrintToString(watcher.created());
        EXPECT_EQ(ReadEntry(dsn), AfterRemoval(added));
    }
    DestroyWindow(hidden);
}

TEST_F(Persistence, RemovalNeedsANameAndSucceedsForOneNeverAdded)
{
    // Wine's installer would remove the whole ODBC.INI for an empty name.
    const std::string kept = Use("bkTKept");
    ASSERT_EQ(module.ConfigDSN(ODBC_ADD_DSN, {"DSN=" + kept, "DBQ=C:\\Data"}), TRUE);
    const StoredEntry before = ReadEntry(kept);
    for (const std::string& list : {AttributeList({"DBQ=C:\\Data"}), AttributeList({"DSN="}),
                                    AttributeList({})})
        EXPECT_EQ(module.ConfigDSN(nullptr, ODBC_REMOVE_DSN, kDriver, list), FALSE);
    EXPECT_EQ(ReadEntry(kept), before);

    EXPECT_EQ(module.ConfigDSN(ODBC_REMOVE_DSN, {"DSN=" + Use("bkTNeverAdded")}), TRUE);
}

// The installer keeps the list of data sources, the file-DSN settings and its
// tracing settings as sections beside the data sources: registering or
// removing a data source of such a name would wipe them. The registry reads a
// trailing backslash as the same key, and another one as a path below it.
TEST_F(Persistence, InstallerSectionNamesAreNeverWrittenNorRemoved)
{
    const std::string kept = Use("bkTListed");
    ASSERT_EQ(module.ConfigDSN(ODBC_ADD_DSN, {"DSN=" + kept, "DBQ=C:\\Kept"}), TRUE);
    const StoredEntry before = ReadEntry(kept);
    ScopedDefaultDsnDir dir;
    for (const std::string& name :
         std::vector<std::string>{"ODBC Data Sources", "odbc file dsn", "Odbc", "ODBC Data Sources\\",
                                  "ODBC File DSN\\", "ODBC\\", kept + "\\"}) {
        EXPECT_EQ(module.ConfigDSN(ODBC_ADD_DSN, {"DSN=" + name, "DBQ=C:\\Data"}), FALSE) << name;
        EXPECT_EQ(module.ConfigDSN(ODBC_REMOVE_DSN, {"DSN=" + name}), FALSE) << name;
    }
    EXPECT_EQ(ReadEntry(kept), before);
    EXPECT_EQ(reg::ReadString(HKEY_LOCAL_MACHINE, odbc::kFileDsnKey, "DefaultDSNDir"),
              dir.folder());
}

} // namespace
