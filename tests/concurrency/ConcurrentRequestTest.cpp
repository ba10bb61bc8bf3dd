// Requests as deployment scripts make them: several processes and threads at
// once through the installer's SQLConfigDataSource, and processes ended at
// any moment. Nothing one request writes may be lost to another, nor any
// stored key to a request that died; a holder of the request lock that is
// stuck or dead never blocks the next request for longer than its bound.
//
// The program runs itself as its child processes: with BKTEST_CHILD set, the
// disabled test Child.Requests does the child's work and nothing else.
#include "InstallerUnderTest.h"
#include "ReadBack.h"

#include "afx/Handles.h"

#include <gtest/gtest.h>
#include <odbcinst.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <sstream>
#include <thread>

using namespace bktest;
using Keys = std::map<std::string, std::string>;

namespace {

// The lock every version of the module honours, spelled here on its own.
const wchar_t kRequestLock[] = L"Global\\bkODBCsu data source requests";
const wchar_t kGo[] = L"Local\\bktest concurrency go";
const wchar_t kFirstDone[] = L"Local\\bktest concurrency first request done";
const DWORD kWaitMs = 60000;   // the bound on every wait for a child or a thread

const Keys kStored{{"DBQ", "C:\\Books"},      {"MaxColSupport", "255"}, {"ShortenNames", "0"},
                   {"StandardMode", "0"},     {"DictionaryMode", "0"},  {"DatabaseType", "2"}};

BOOL Configure(WORD request, const std::string& dsn, const Keys& keys)
{
    std::vector<std::string> elements{"DSN=" + dsn};
    for (const auto& [key, value] : keys) elements.push_back(key + "=" + value);
    return SQLConfigDataSource(nullptr, request, kDriver, AttributeList(elements).c_str());
}

// Every error the installer queued for the last call, one per line.
std::string InstallerErrors()
{
    std::string all;
    for (WORD record = 1; record <= 8; ++record) {
        DWORD code = 0;
        char text[512] = {};
        WORD length = 0;
        if (SQLInstallerError(record, &code, text, sizeof text, &length) == SQL_NO_DATA) break;
        all += std::to_string(code) + ": " + text + "\n";
    }
    return all;
}

afx::UniqueKernelHandle Event(const wchar_t* name)
{
    return afx::UniqueKernelHandle(CreateEventW(nullptr, TRUE, FALSE, name));
}

std::string Argument(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

// ---- The child's side ----

// BKTEST_CHILD="configure DSN KEY COUNT TAG": COUNT configures of DSN, the
// n-th setting KEY to TAG-n, from the moment the parent says go; the exit
// code is the number of failed requests. "loop DSN": configures of DSN, the
// first one signalled, until the parent ends the process (or a minute passes).
TEST(DISABLED_Child, Requests)
{
    std::istringstream words(Argument("BKTEST_CHILD"));
    std::string role, dsn;
    words >> role >> dsn;
    if (role == "configure") {
        std::string key, tag;
        int count = 0;
        words >> key >> count >> tag;
        const auto go = Event(kGo);
        WaitForSingleObject(go.get(), kWaitMs);
        int failed = 0;
        for (int n = 1; n <= count; ++n) {
            if (Configure(ODBC_CONFIG_DSN, dsn, {{key, tag + "-" + std::to_string(n)}})) continue;
            ++failed;
            std::printf("%s request %d failed: %s", key.c_str(), n, InstallerErrors().c_str());
        }
        std::fflush(stdout);
        ExitProcess(static_cast<UINT>(failed));
    }
    if (role == "loop") {
        // Bounded too, so that a child whose parent died does not run on.
        const auto firstDone = Event(kFirstDone);
        const DWORD start = GetTickCount();
        for (unsigned n = 0; GetTickCount() - start < kWaitMs; ++n) {
            Configure(ODBC_CONFIG_DSN, dsn,
                      {{"DBQ", "C:\\Loop\\" + std::to_string(n)}, {"ShortenNames", std::to_string(n % 2)}});
            SetEvent(firstDone.get());
        }
        ExitProcess(0);
    }
    ADD_FAILURE() << "unknown child role \"" << role << "\"";
}

// ---- The parent's side ----

// This program, run as a child with `role`; the handle of its process.
afx::UniqueKernelHandle StartChild(const std::string& role)
{
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(self) +
                           L"\" --gtest_filter=DISABLED_Child.Requests --gtest_also_run_disabled_tests";
    SetEnvironmentVariableA("BKTEST_CHILD", role.c_str());
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    const BOOL started = CreateProcessW(self, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                        &startup, &process);
    SetEnvironmentVariableA("BKTEST_CHILD", nullptr);
    EXPECT_TRUE(started) << "error " << GetLastError();
    if (!started) return afx::UniqueKernelHandle();
    CloseHandle(process.hThread);
    return afx::UniqueKernelHandle(process.hProcess);
}

// The exit code of a child that ended within the bound; none when it did not.
std::optional<DWORD> WaitForChild(const afx::UniqueKernelHandle& child)
{
    if (!child || WaitForSingleObject(child.get(), kWaitMs) != WAIT_OBJECT_0) {
        if (child) TerminateProcess(child.get(), 99);
        return std::nullopt;
    }
    DWORD code = 0;
    GetExitCodeProcess(child.get(), &code);
    return code;
}

class ConcurrentRequests : public DataSourceTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_go) << "the go event";
        ResetEvent(m_go.get());
    }

    // A data source holding every key, through the installer.
    void Stored(const std::string& dsn)
    {
        ASSERT_EQ(Configure(ODBC_ADD_DSN, Use(dsn), kStored), TRUE) << InstallerErrors();
        ASSERT_EQ(ReadEntry(dsn).keys, kStored);
    }

    ScopedDriverRegistration driver;
    ScopedDefaultDsnDir dir;
    afx::UniqueKernelHandle m_go = Event(kGo);
};

// Writers of one data source, each its own key, in three processes and two
// threads of this one at once: no write is lost to another request's stale
// read, the key nobody writes keeps its value, and no request fails.
TEST_F(ConcurrentRequests, WritersOfOneDataSourceEachKeepTheirLastValue)
{
    const int count = 30;
    Stored("Shared");
    const std::vector<std::string> processKeys{"DBQ", "MaxColSupport", "ShortenNames"},
        threadKeys{"StandardMode", "DictionaryMode"};
    std::vector<afx::UniqueKernelHandle> children;
    for (const auto& key : processKeys)
        children.push_back(StartChild("configure Shared " + key + " " + std::to_string(count) + " p"));

    std::atomic<int> threadFailures{0};
    std::vector<std::thread> threads;
    for (const auto& key : threadKeys)
        threads.emplace_back([&, key] {
            WaitForSingleObject(m_go.get(), kWaitMs);
            for (int n = 1; n <= count; ++n)
                if (!Configure(ODBC_CONFIG_DSN, "Shared", {{key, "t-" + std::to_string(n)}})) ++threadFailures;
        });
    SetEvent(m_go.get());
    for (auto& thread : threads) thread.join();
    for (size_t i = 0; i < children.size(); ++i)
        EXPECT_EQ(WaitForChild(children[i]), 0u) << "failed requests of the process writing " << processKeys[i];
    EXPECT_EQ(threadFailures, 0);

    Keys expected = kStored;
    for (const auto& key : processKeys) expected[key] = "p-" + std::to_string(count);
    for (const auto& key : threadKeys) expected[key] = "t-" + std::to_string(count);
    const StoredEntry entry = ReadEntry("Shared");
    EXPECT_EQ(entry.keys, expected);
    EXPECT_EQ(entry.registration, kDriver);
}

// Threads of one process, each adding, configuring and removing a data
// source of its own, at once: every request succeeds and stores what it
// was given, with the installer binding and the module's process-wide
// state shared between them.
TEST_F(ConcurrentRequests, ThreadsOnDataSourcesOfTheirOwnAllSucceed)
{
    const int threadCount = 4, rounds = 8;
    std::vector<std::string> names;
    for (int t = 0; t < threadCount; ++t) names.push_back(Use("Own" + std::to_string(t)));
    std::vector<std::string> faults(threadCount);
    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; ++t)
        threads.emplace_back([&, t] {
            WaitForSingleObject(m_go.get(), kWaitMs);
            std::ostringstream fault;
            for (int round = 0; round < rounds; ++round) {
                const Keys added{{"DBQ", "C:\\Own\\" + std::to_string(round)}, {"DatabaseType", "1"}};
                Keys configured = added;
                configured["MaxColSupport"] = std::to_string(round);
                if (!Configure(ODBC_ADD_DSN, names[t], added)) fault << "add " << round << " failed; ";
                if (!Configure(ODBC_CONFIG_DSN, names[t], {{"MaxColSupport", std::to_string(round)}}))
                    fault << "configure " << round << " failed; ";
                const Keys stored = ReadEntry(names[t]).keys;
                if (stored != configured) fault << "round " << round << " stored " << ::testing::PrintToString(stored) << "; ";
                if (!Configure(ODBC_REMOVE_DSN, names[t], {})) fault << "remove " << round << " failed; ";
            }
            faults[t] = fault.str();
        });
    SetEvent(m_go.get());
    for (auto& thread : threads) thread.join();
    for (int t = 0; t < threadCount; ++t) EXPECT_EQ(faults[t], "") << names[t];
}

// A child configuring in a loop, ended at a random moment, trial after
// trial: the data source stays whole, each key holding a value its writer
// gave it, and the lock its requests held does not block the next one.
TEST_F(ConcurrentRequests, AProcessEndedMidRequestLeavesTheDataSourceWhole)
{
    const char* seedText = std::getenv("BKTEST_SEED");
    const unsigned seed = seedText ? static_cast<unsigned>(std::strtoul(seedText, nullptr, 10))
                                   : static_cast<unsigned>(std::random_device()());
    const int trials = std::getenv("BKTEST_KILL_TRIALS") ? std::atoi(std::getenv("BKTEST_KILL_TRIALS")) : 20;
    std::printf("kill trials: seed %u (BKTEST_SEED), %d trials\n", seed, trials);
    std::mt19937 random(seed);
    Stored("Ended");
    const auto firstDone = Event(kFirstDone);
    for (int trial = 0; trial < trials; ++trial) {
        SCOPED_TRACE("seed " + std::to_string(seed) + ", trial " + std::to_string(trial));
        ResetEvent(firstDone.get());
        const auto child = StartChild("loop Ended");
        ASSERT_TRUE(child);
        HANDLE waits[] = {firstDone.get(), child.get()};
        ASSERT_EQ(WaitForMultipleObjects(2, waits, FALSE, kWaitMs), WAIT_OBJECT_0) << "no first request";
        Sleep(std::uniform_int_distribution<DWORD>(0, 120)(random));
        TerminateProcess(child.get(), 1);
        WaitForSingleObject(child.get(), kWaitMs);

        const StoredEntry entry = ReadEntry("Ended");
        EXPECT_EQ(entry.registration, kDriver);
        ASSERT_EQ(entry.keys.size(), kStored.size()) << ::testing::PrintToString(entry.keys);
        for (const auto& [key, value] : entry.keys) {
            const bool written = (key == "DBQ" && value.rfind("C:\\Loop\\", 0) == 0) ||
                                 (key == "ShortenNames" && (value == "0" || value == "1"));
            EXPECT_TRUE(value == kStored.at(key) || written) << key << " = " << value;
        }
        // The next request takes the lock the ended one may have held.
        ASSERT_EQ(Configure(ODBC_CONFIG_DSN, "Ended", {{"StandardMode", "0"}}), TRUE) << InstallerErrors();
    }
}

// A holder that keeps the lock past the bound: the request fails, says why
// through the installer, and leaves the data source as it was. A holder
// that ends while holding it leaves it free for the next request.
TEST_F(ConcurrentRequests, AStuckHolderFailsTheRequestWithinItsBoundAndADeadOneDoesNot)
{
    Stored("Waiting");
    const auto lock = afx::UniqueKernelHandle(CreateMutexW(nullptr, FALSE, kRequestLock));
    ASSERT_TRUE(lock) << "error " << GetLastError();
    const auto release = Event(nullptr);
    std::thread holder([&] {
        EXPECT_EQ(WaitForSingleObject(lock.get(), kWaitMs), WAIT_OBJECT_0);
        SetEvent(m_go.get());
        WaitForSingleObject(release.get(), kWaitMs);
        ReleaseMutex(lock.get());
    });
    WaitForSingleObject(m_go.get(), kWaitMs);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Configure(ODBC_CONFIG_DSN, "Waiting", {{"DBQ", "C:\\Stuck"}}), FALSE);
    const std::string errors = InstallerErrors();
    const auto waited = std::chrono::steady_clock::now() - start;
    SetEvent(release.get());
    holder.join();
    EXPECT_GE(waited, std::chrono::seconds(4));
    EXPECT_LT(waited, std::chrono::seconds(30));
    if (!InstallerUnderTest().dropsPostedErrors) {
        EXPECT_NE(errors.find("held them for more than 5 seconds"), std::string::npos) << errors;
    }
    EXPECT_EQ(ReadEntry("Waiting").keys, kStored);

    // Taken and never released: the thread's end abandons it.
    std::thread([&] { EXPECT_EQ(WaitForSingleObject(lock.get(), kWaitMs), WAIT_OBJECT_0); }).join();
    EXPECT_EQ(Configure(ODBC_CONFIG_DSN, "Waiting", {{"DBQ", "C:\\After"}}), TRUE) << InstallerErrors();
    EXPECT_EQ(ReadEntry("Waiting").keys.at("DBQ"), "C:\\After");
}

} // namespace
