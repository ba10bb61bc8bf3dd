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

TEST_F(EndToEnd, AddConfigureAndRemoveThroughTheInstaller)
{
    const std::string dsn = Use("bkTEndToEnd"), file = dir.FileFor(dsn);
    ASSERT_EQ(Config(ODBC_ADD_DSN, {"DSN=" + dsn, "DBQ=C:\\Data", "MaxColSupport=1536"}), TRUE);
    EXPECT_EQ(ReadEntry(dsn),
              (StoredEntry{kDriver,
                           {{"driver", ScopedDriverRegistration::ModulePath()}},
                           {{"DBQ", "C:\\Data"}, {"MaxColSupport", "1536"}}}));
    EXPECT_EQ(ReadFileBytes(file), "[ODBC]\r\nDSN=" + dsn + "\r\n");

    ASSERT_EQ(Config(ODBC_CONFIG_DSN, {"DSN=" + dsn, "ShortenNames=1"}), TRUE);
    const StoredEntry configured = ReadEntry(dsn);
    EXPECT_EQ(configured.registration, kDriver);
    EXPECT_EQ(configured.user,
              (Keys{{"DBQ", "C:\\Data"}, {"MaxColSupport", "1536"}, {"ShortenNames", "1"}}));
    EXPECT_EQ(ReadFileBytes(file), "[ODBC]\r\nDSN=" + dsn + "\r\n");

    ASSERT_EQ(Config(ODBC_REMOVE_DSN, {"DSN=" + dsn}), TRUE);
    EXPECT_FALSE(Registration(dsn));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, MachineDsnKey(dsn)));
    EXPECT_FALSE(FileExists(file));
}

TEST_F(EndToEnd, RefusalsReachTheInstallersCaller)
{
    // A deployment script sees the module's refusal of a name.
    const std::string refused = Use("1bkT");
    EXPECT_EQ(Config(ODBC_ADD_DSN, {"DSN=" + refused}), FALSE);
    EXPECT_EQ(ReadEntry(refused), StoredEntry{});

    // Wine's installer refuses request 7 without calling the module, which
    // would have taken it as an add.
    const std::string dsn = Use("bkTSeven");
    EXPECT_EQ(Config(7, {"DSN=" + dsn}), FALSE);
    EXPECT_EQ(ReadEntry(dsn), StoredEntry{});
    EXPECT_TRUE(FilesUnder(dir.folder()).empty());
}

} // namespace
