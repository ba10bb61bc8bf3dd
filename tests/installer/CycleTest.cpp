// The module as a long-running caller meets it: loaded, called and freed
// thousands of times in one process, directly and through the installer, it
// leaves the process's TLS indices, handles and committed memory as they were.
// A program of its own, so that no other test's state moves the figures.
#include "InstallerUnderTest.h"
#include "ReadBack.h"
#include "ProcessFigures.h"

#include <gtest/gtest.h>
#include <odbcinst.h>

#include <functional>

using namespace bktest;

namespace {

struct CycleCase {
    const char* name;
    int requests;
    std::function<BOOL(const std::string& dsn)> request;
};

class ModuleCycles : public DataSourceTest, public ::testing::WithParamInterface<CycleCase> {};

TEST_P(ModuleCycles, LeaveTlsHandlesAndMemoryFlat)
{
    const CycleCase& c = GetParam();
    const ScopedDefaultDsnDir folder;              // every add writes its file DSN too
    const ScopedDriverRegistration registration;
    const std::string dsn = Use("bkTCycle");
    const auto run = [&](int count) {
        for (int i = 0; i < count; ++i)
            if (c.request(dsn) != TRUE) return i;
        return count;
    };
    ASSERT_EQ(run(20), 20);                        // the installer and the heap settle first
    const auto before = bkfigures::ProcessFigures::Now();
    ASSERT_EQ(run(c.requests), c.requests);
    const bkfigures::Growth growth = bkfigures::ProcessFigures::Now() - before;

    // Bounded by a small constant, whatever the count: before the runtime's own
    // objects were released at unload, every cycle took one TLS index, two
    // handles and several KiB.
    EXPECT_LE(growth.tlsIndices, 0);
    EXPECT_LE(growth.handles, 8);
    EXPECT_LE(growth.committedBytes, 512 * 1024);
    EXPECT_TRUE(FileExists(folder.FileFor(dsn)));
}

INSTANTIATE_TEST_SUITE_P(
    Requests, ModuleCycles,
    ::testing::Values(
        CycleCase{"LoadConfigDsnFree", 2000,
                  [](const std::string& dsn) {
                      SetupModule module;
                      return module.ConfigDSN(ODBC_ADD_DSN, {"DSN=" + dsn, "DBQ=C:\\Data", "DatabaseType=1"});
                  }},
        CycleCase{"ThroughTheInstaller", 500,
                  [](const std::string& dsn) {
                      return SQLConfigDataSource(nullptr, ODBC_ADD_DSN, kDriver,
                                                 AttributeList({"DSN=" + dsn, "DBQ=C:\\Data"}).c_str());
                  }}),
    [](const ::testing::TestParamInfo<CycleCase>& info) { return std::string(info.param.name); });

} // namespace
