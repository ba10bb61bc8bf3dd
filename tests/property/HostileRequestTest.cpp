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
#include "PortGuard.h"
#include "RequestGenerator.h"
#include "RequestModel.h"
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
using namespace hostile;

namespace {

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
            RegSetKeyValueA(root, kTracing.c_str(), kSentinel, REG_SZ, "keep", 5);
    }

    void TearDown() override
    {
        if (m_base.empty()) return;   // set up nothing
        ForgetDataSource(kSentinel);
        for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) RegDeleteKeyValueA(root, kTracing.c_str(), kSentinel);
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
        const auto fileDsnSection = Values(HKEY_LOCAL_MACHINE, kFileDsnKey);
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
            check(Values(HKEY_LOCAL_MACHINE, kFileDsnKey) == fileDsnSection, "the ODBC File DSN section was changed");
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
