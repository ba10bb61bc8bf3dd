// The installer's own way in: with the driver registered, SQLConfigDataSource
// loads the built module for each request and calls its ConfigDSN.
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <odbcinst.h>

using namespace bktest;
using Keys = std::map<std::string, std::string>;

namespace {

class EndToEnd : public DataSourceTest {
protected:
    static BOOL Config(WORD request, std::initializer_list<std::string> elements) {
        return SQLConfigDataSource(nullptr, request, kDriver, AttributeList(elements).c_str());
    }
    ScopedDriverRegistration driver;
    ScopedDefaultDsnDir dir;
};

// User requests, then the same through the system requests: ODBC_*_SYS_DSN
// reach the module as 1-3 with the installer in system mode. A system data
// source lives wholly in the machine's hive, unless the installer splits
// entries across the hives (test support's facts).
TEST_F(EndToEnd, AddConfigureAndRemoveThroughTheInstaller)
{
    struct Case { Scope scope; WORD add, config, remove; };
    for (const Case& c : {Case{Scope::User, ODBC_ADD_DSN, ODBC_CONFIG_DSN, ODBC_REMOVE_DSN},
                          Case{Scope::System, ODBC_ADD_SYS_DSN, ODBC_CONFIG_SYS_DSN, ODBC_REMOVE_SYS_DSN}}) {
        SCOPED_TRACE(c.add);
        const Scope other = c.scope == Scope::User ? Scope::System : Scope::User;
        const std::string dsn = Use("bkTEndToEnd"), file = dir.FileFor(dsn);
        ASSERT_EQ(Config(c.add, {"DSN=" + dsn, "DBQ=C:\\Data", "MaxColSupport=1536"}), TRUE);
        EXPECT_EQ(ReadEntry(dsn, c.scope),
                  (StoredEntry{kDriver, InstallerKeywords(ScopedDriverRegistration::ModulePath()),
                               {{"DBQ", "C:\\Data"}, {"MaxColSupport", "1536"}}}));
        if (!InstallerUnderTest().splitsEntryAcrossHives) {
            EXPECT_EQ(ReadEntry(dsn, other), StoredEntry{});
        }
        EXPECT_EQ(ReadFileBytes(file), "[ODBC]\r\nDSN=" + dsn + "\r\n");

        // The configure keeps every stored key, whatever the registration does to them.
        ASSERT_EQ(Config(c.config, {"DSN=" + dsn, "ShortenNames=1"}), TRUE);
        const StoredEntry configured = ReadEntry(dsn, c.scope);
        EXPECT_EQ(configured.registration, kDriver);
        EXPECT_EQ(configured.keys,
                  (Keys{{"DBQ", "C:\\Data"}, {"MaxColSupport", "1536"}, {"ShortenNames", "1"}}));
        if (!InstallerUnderTest().splitsEntryAcrossHives) {
            EXPECT_EQ(ReadEntry(dsn, other), StoredEntry{});
        }
        EXPECT_EQ(ReadFileBytes(file), "[ODBC]\r\nDSN=" + dsn + "\r\n");

        ASSERT_EQ(Config(c.remove, {"DSN=" + dsn}), TRUE);
        EXPECT_EQ(ReadEntry(dsn, c.scope), AfterRemoval(configured));
        EXPECT_FALSE(FileExists(file));
    }
}

TEST_F(EndToEnd, RefusalsReachTheInstallersCaller)
{
    // A deployment script sees the module's refusal of a name.
    const std::string refused = Use("1bkT");
    EXPECT_EQ(Config(ODBC_ADD_DSN, {"DSN=" + refused}), FALSE);
    EXPECT_EQ(ReadEntry(refused), StoredEntry{});

    // Request 7 never reaches the module, which would have taken it as an
    // add: an installer refuses it, or removes the Default data source as documented.
    const std::string dsn = Use("bkTSeven");
    EXPECT_EQ(Config(7, {"DSN=" + dsn}), InstallerUnderTest().refusesRemoveDefault ? FALSE : TRUE);
    EXPECT_EQ(ReadEntry(dsn), StoredEntry{});
    EXPECT_TRUE(FilesUnder(dir.folder()).empty());
}

} // namespace
