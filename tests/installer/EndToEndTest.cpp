// The installer's own way in: with the driver registered, SQLConfigDataSource
// loads the built module for each request and calls its ConfigDSN.
#include "InstallerUnderTest.h"
#include "ReadBack.h"

#include "afx/Handles.h"

#include <gtest/gtest.h>
#include <odbcinst.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <vector>

using namespace bktest;
using Keys = std::map<std::string, std::string>;

namespace {

// Unicode text in the ANSI code page; empty when the code page lacks a character.
std::string Ansi(const std::wstring& text)
{
    BOOL defaulted = FALSE;
    std::string ansi(text.size() * 2, '\0');
    ansi.resize(static_cast<size_t>(WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(),
                                                        static_cast<int>(text.size()), &ansi[0],
                                                        static_cast<int>(ansi.size()), nullptr, &defaulted)));
    return defaulted ? std::string() : ansi;
}

// The installer's 8-bit entry or its wide one, which reaches the module's ConfigDSNW.
enum class Entry { Ansi, Wide };

class EndToEnd : public DataSourceTest {
protected:
    static BOOL Config(WORD request, std::initializer_list<std::string> elements, Entry entry = Entry::Ansi) {
        if (entry == Entry::Ansi)
            return SQLConfigDataSource(nullptr, request, kDriver, AttributeList(elements).c_str());
        std::vector<std::wstring> wide;
        for (const auto& element : elements) wide.push_back(Widen(element));
        return ConfigW(request, wide);
    }
    static BOOL ConfigW(WORD request, const std::vector<std::wstring>& elements,
                        const std::wstring& driver = DriverW()) {
        return SQLConfigDataSourceW(nullptr, request, driver.c_str(), AttributeListW(elements).c_str());
    }
    ScopedDriverRegistration driver;
    ScopedDefaultDsnDir dir;
};

// User requests, then the same through the system requests: ODBC_*_SYS_DSN
// reach the module as 1-3 with the installer in system mode. A system data
// source lives wholly in the machine's hive, unless the installer splits
// entries across the hives (test support's facts). Each through the
// installer's 8-bit entry and through its wide one.
TEST_F(EndToEnd, AddConfigureAndRemoveThroughTheInstaller)
{
    struct Case { Scope scope; WORD add, config, remove; Entry entry; };
    for (const Case& c : {Case{Scope::User, ODBC_ADD_DSN, ODBC_CONFIG_DSN, ODBC_REMOVE_DSN, Entry::Ansi},
                          Case{Scope::System, ODBC_ADD_SYS_DSN, ODBC_CONFIG_SYS_DSN, ODBC_REMOVE_SYS_DSN, Entry::Ansi},
                          Case{Scope::User, ODBC_ADD_DSN, ODBC_CONFIG_DSN, ODBC_REMOVE_DSN, Entry::Wide},
                          Case{Scope::System, ODBC_ADD_SYS_DSN, ODBC_CONFIG_SYS_DSN, ODBC_REMOVE_SYS_DSN, Entry::Wide}}) {
        SCOPED_TRACE(std::to_string(c.add) + (c.entry == Entry::Wide ? " wide" : " 8-bit"));
        const Scope other = c.scope == Scope::User ? Scope::System : Scope::User;
        const std::string dsn = Use("bkTEndToEnd"), file = dir.FileFor(dsn);
        ASSERT_EQ(Config(c.add, {"DSN=" + dsn, "DBQ=C:\\Data", "MaxColSupport=1536"}, c.entry), TRUE);
        EXPECT_EQ(ReadEntry(dsn, c.scope),
                  (StoredEntry{kDriver, InstallerKeywords(ScopedDriverRegistration::ModulePath()),
                               {{"DBQ", "C:\\Data"}, {"MaxColSupport", "1536"}}}));
        if (!InstallerUnderTest().splitsEntryAcrossHives) {
            EXPECT_EQ(ReadEntry(dsn, other), StoredEntry{});
        }
        EXPECT_EQ(ReadFileBytes(file), "[ODBC]\r\nDSN=" + dsn + "\r\n");

        // The configure keeps every stored key, whatever the registration does to them.
        ASSERT_EQ(Config(c.config, {"DSN=" + dsn, "ShortenNames=1"}, c.entry), TRUE);
        const StoredEntry configured = ReadEntry(dsn, c.scope);
        EXPECT_EQ(configured.registration, kDriver);
        EXPECT_EQ(configured.keys,
                  (Keys{{"DBQ", "C:\\Data"}, {"MaxColSupport", "1536"}, {"ShortenNames", "1"}}));
        if (!InstallerUnderTest().splitsEntryAcrossHives) {
            EXPECT_EQ(ReadEntry(dsn, other), StoredEntry{});
        }
        EXPECT_EQ(ReadFileBytes(file), "[ODBC]\r\nDSN=" + dsn + "\r\n");

        ASSERT_EQ(Config(c.remove, {"DSN=" + dsn}, c.entry), TRUE);
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

    // Request 7 (ODBC_REMOVE_DEFAULT_DSN, outside the module's 1 to 3) never
    // reaches the module, which would have taken it as an add: an installer
    // refuses it, or removes the Default data source as documented.
    const std::string dsn = Use("bkTSeven");
    EXPECT_EQ(Config(7, {"DSN=" + dsn}), InstallerUnderTest().refusesRemoveDefault ? FALSE : TRUE);
    EXPECT_EQ(ReadEntry(dsn), StoredEntry{});
    EXPECT_TRUE(FilesUnder(dir.folder()).empty());
}

// ---- bkdsn, the deployment tool, run as a script runs it ----

struct ToolRun {
    DWORD exitCode = 0xFFFFFFFF;
    std::string output;   // stdout and stderr, UTF-8, without carriage returns
};

// bkdsn with `arguments`, against the installer under test: under the
// contract it runs beside the stand-in, which the override then loads.
ToolRun RunBkdsn(const std::wstring& arguments)
{
    std::string exe = ProgramDir() + "\\bkdsn.exe";
    if (UnderContract()) {
        const std::string beside = ProgramDir() + "\\standin-contract\\bkdsn.exe";
        EXPECT_TRUE(CopyFileA(exe.c_str(), beside.c_str(), FALSE)) << GetLastError();
        exe = beside;
    }
    ToolRun run;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 1 << 20)) {
        ADD_FAILURE() << "no pipe";
        return run;
    }
    afx::UniqueFile reader(readEnd), writer(writeEnd);
    SetHandleInformation(reader.get(), HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = writer.get();
    std::wstring commandLine = L"\"" + Widen(exe) + L"\" " + arguments;
    PROCESS_INFORMATION process = {};
    // Run from the module's folder, where its bkCommon.dll is found (under the
    // contract the tool's own folder holds only the stand-in).
    const std::wstring folder = Widen(ProgramDir());
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, folder.c_str(), &startup,
                        &process)) {
        ADD_FAILURE() << "bkdsn did not start, error " << GetLastError();
        return run;
    }
    afx::UniqueFile child(process.hProcess), thread(process.hThread);
    writer.reset();
    // Read what is there while it runs and once more when it has ended, never
    // waiting for the pipe's end: a process the child started (a Wine service)
    // may hold the pipe open.
    const auto drain = [&] {
        DWORD available = 0, got = 0;
        while (PeekNamedPipe(reader.get(), nullptr, 0, nullptr, &available, nullptr) && available) {
            std::string chunk(available, '\0');
            if (!ReadFile(reader.get(), &chunk[0], available, &got, nullptr) || !got) break;
            run.output.append(chunk, 0, got);
        }
    };
    const DWORD start = GetTickCount();
    while (WaitForSingleObject(child.get(), 20) == WAIT_TIMEOUT) {
        drain();
        if (GetTickCount() - start > 60000) {
            TerminateProcess(child.get(), 99);
            ADD_FAILURE() << "bkdsn did not end within 60 s";
            break;
        }
    }
    drain();
    GetExitCodeProcess(child.get(), &run.exitCode);
    run.output.erase(std::remove(run.output.begin(), run.output.end(), '\r'), run.output.end());
    return run;
}

// A batch file of `lines` (UTF-8 text) in one of the encodings bkdsn reads.
enum class Encoding { Utf8, Utf8Bom, Utf16Bom };
class BatchFile {
public:
    BatchFile(const std::vector<std::string>& lines, Encoding encoding) {
        char temp[MAX_PATH] = {};
        GetTempPathA(MAX_PATH, temp);
        m_path = std::string(temp) + "bkdsn-batch-" + std::to_string(GetCurrentProcessId()) + ".txt";
        std::string text;
        for (const auto& line : lines) text += line + "\r\n";
        std::string bytes = encoding == Encoding::Utf8Bom ? "\xEF\xBB\xBF" + text : text;
        if (encoding == Encoding::Utf16Bom) {
            std::wstring wide(text.size(), L'\0');
            wide.resize(static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                                                &wide[0], static_cast<int>(wide.size()))));
            bytes = "\xFF\xFE" + std::string(reinterpret_cast<const char*>(wide.data()), wide.size() * 2);
        }
        EXPECT_TRUE(WriteFileBytes(m_path, bytes));
    }
    ~BatchFile() { DeleteFileA(m_path.c_str()); }
    BatchFile(const BatchFile&) = delete;
    BatchFile& operator=(const BatchFile&) = delete;
    std::wstring Path() const { return L"\"" + Widen(m_path) + L"\""; }

private:
    std::string m_path;
};

bool HasLine(const std::string& output, const std::string& line)
{
    return ("\n" + output).find("\n" + line + "\n") != std::string::npos;
}

const std::string kQuotedDriver = "\"" + std::string(kDriver) + "\"";

// Three requests of a file, each reported, then listed with their hives as
// the installer's own profile functions read them. A driver description of
// its own, so that the list is exactly what this batch deployed.
TEST_F(EndToEnd, BkdsnBatchRunsEveryLineAndListShowsWhatItDeployed)
{
    const std::string batchDriver = "Brennick Data Batch Driver", quoted = "\"" + batchDriver + "\"";
    ScopedDriverRegistration registration(batchDriver);
    const std::string one = Use("bkTBatchOne"), sys = Use("bkTBatchSys");
    const BatchFile file({"# deployment of two data sources",
                          "add " + quoted + " DSN=" + one + " \"DBQ=C:\\Data One\"",
                          "",
                          "add-sys " + quoted + " DSN=" + sys + "   # the machine's",
                          "config " + quoted + " DSN=" + one + " ShortenNames=1"},
                         Encoding::Utf8Bom);
    const ToolRun run = RunBkdsn(L"batch " + file.Path());
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    for (const std::string& line : {"line 2: add " + one + ": ok", "line 4: add-sys " + sys + ": ok",
                                    "line 5: config " + one + ": ok",
                                    std::string("batch: 3 requests, 3 succeeded, 0 failed, 0 not run")})
        EXPECT_TRUE(HasLine(run.output, line)) << line << " in\n" << run.output;
    EXPECT_EQ(ReadEntry(one).keys, (Keys{{"DBQ", "C:\\Data One"}, {"ShortenNames", "1"}}));
    EXPECT_EQ(ReadEntry(one).registration, batchDriver);
    EXPECT_EQ(ReadEntry(sys, Scope::System).registration, batchDriver);

    // An installer whose profile functions read only the user's hive finds no registration there.
    const ToolRun list = RunBkdsn(L"list " + Widen(quoted));
    EXPECT_EQ(list.exitCode, 0u) << list.output;
    if (!InstallerUnderTest().profileMissesRegistrations) {
        EXPECT_EQ(list.output, one + ": " + batchDriver + " (user)\n" + sys + ": " + batchDriver +
                                   " (system)\nlist " + batchDriver + ": ok\n");
    } else {
        EXPECT_EQ(list.output, "(no data sources)\nlist " + batchDriver + ": ok\n");
    }
    const ToolRun other = RunBkdsn(L"list \"bkT Other Driver\"");
    EXPECT_EQ(other.output, "(no data sources)\nlist bkT Other Driver: ok\n");
    if (!InstallerUnderTest().profileMissesRegistrations) {
        const ToolRun all = RunBkdsn(L"list");
        EXPECT_TRUE(HasLine(all.output, one + ": " + batchDriver + " (user)")) << all.output;
        EXPECT_TRUE(HasLine(all.output, sys + ": " + batchDriver + " (system)")) << all.output;
    }
}

// A malformed line anywhere: every one is reported with its number, and
// nothing runs, not even the lines before it.
TEST_F(EndToEnd, BkdsnBatchWithAMalformedLineRunsNothing)
{
    const std::string dsn = Use("bkTBatchFirst");
    const BatchFile file({"add " + kQuotedDriver + " DSN=" + dsn, "deploy " + kQuotedDriver + " DSN=x",
                          "add \"" + std::string(kDriver) + " DSN=" + dsn, "show", "set-dsn-dir a b"},
                         Encoding::Utf8);
    const ToolRun run = RunBkdsn(L"batch " + file.Path());
    EXPECT_EQ(run.exitCode, 2u) << run.output;
    for (int line = 2; line <= 5; ++line)
        EXPECT_NE(run.output.find("line " + std::to_string(line) + ": malformed"), std::string::npos)
            << line << " in\n" << run.output;
    EXPECT_EQ(run.output.find("line 1"), std::string::npos) << run.output;
    EXPECT_EQ(ReadEntry(dsn), StoredEntry{});
    EXPECT_EQ(RunBkdsn(L"batch").exitCode, 2u);
    EXPECT_EQ(RunBkdsn(L"batch " + file.Path() + L" --keep-gong").exitCode, 2u);
}

// A failing line (a look-alike name the code page cannot hold, beside an
// existing data source it would become) stops the batch unless told to keep
// going; a name inside the code page deploys from a UTF-16 file as from UTF-8.
TEST_F(EndToEnd, BkdsnBatchStopsAtAFailingLineUnlessToldToKeepGoing)
{
    const std::string sales = Use("bkTSales"), cafe = Use(Ansi(L"bkTCaf\u00E9")), third = Use("bkTBatchThird");
    const struct { Encoding encoding; const wchar_t* option; const char* summary; bool thirdRuns; } cases[] = {
        {Encoding::Utf8, L"", "batch: 3 requests, 1 succeeded, 1 failed, 1 not run", false},
        {Encoding::Utf16Bom, L" --keep-going", "batch: 3 requests, 2 succeeded, 1 failed, 0 not run", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.summary);
        for (const auto& dsn : {sales, cafe, third}) ForgetDataSource(dsn);
        ASSERT_EQ(Config(ODBC_ADD_DSN, {"DSN=" + sales, "DBQ=C:\\Sales"}), TRUE);
        const StoredEntry stored = ReadEntry(sales);
        const BatchFile file({"add " + kQuotedDriver + " DSN=bkTCaf\xC3\xA9 DBQ=C:\\Caf\xC3\xA9",
                              "remove " + kQuotedDriver + " DSN=bkT\xC5\x9C" "ales",
                              "add " + kQuotedDriver + " DSN=" + third},
                             c.encoding);
        const ToolRun run = RunBkdsn(L"batch " + file.Path() + c.option);
        EXPECT_EQ(run.exitCode, 1u) << run.output;
        for (const std::string& line : {std::string("line 1: add bkTCaf\xC3\xA9: ok"),
                                        std::string("line 2: remove bkT\xC5\x9C" "ales: failed"),
                                        std::string(c.summary)})
            EXPECT_TRUE(HasLine(run.output, line)) << line << " in\n" << run.output;
        EXPECT_EQ(HasLine(run.output, "line 3: add " + third + ": ok"), c.thirdRuns) << run.output;
        EXPECT_EQ(ReadEntry(sales), stored);
        EXPECT_EQ(ReadEntry(cafe).keys, (Keys{{"DBQ", Ansi(L"C:\\Caf\u00E9")}}));
        EXPECT_EQ(Registration(third).has_value(), c.thirdRuns);
    }
    // The same refusal from the command line.
    const ToolRun single = RunBkdsn(L"remove " + Widen(kQuotedDriver) + L" DSN=bkT\u015Cales");
    EXPECT_EQ(single.exitCode, 1u);
    EXPECT_TRUE(HasLine(single.output, "remove bkT\xC5\x9C" "ales: failed")) << single.output;
    EXPECT_EQ(Registration(sales), kDriver);
}

// A wide text the code page cannot hold never reaches another data source:
// converted loosely, "\u015Cales" would be "Sales". Every request, through the
// installer's wide entry and through the module's own, fails and leaves the
// existing data source as it was; the same for a look-alike in the driver
// description or in a value.
TEST_F(EndToEnd, WideTextOutsideTheCodePageActsOnNoDataSource)
{
    const std::string dsn = Use("bkTSales");
    ASSERT_EQ(Config(ODBC_ADD_DSN, {"DSN=" + dsn, "DBQ=C:\\Data"}), TRUE);
    const StoredEntry stored = ReadEntry(dsn), storedSystem = ReadEntry(dsn, Scope::System);
    const auto file = ReadFileBytes(dir.FileFor(dsn));
    ASSERT_TRUE(file);

    SetupModule module;
    const std::wstring lookAlike = L"DSN=bkT\u015Cales";
    const struct { WORD request; std::vector<std::wstring> elements; std::wstring driver; } cases[] = {
        {ODBC_REMOVE_DSN, {lookAlike}, DriverW()},
        {ODBC_CONFIG_DSN, {lookAlike, L"ShortenNames=1"}, DriverW()},
        {ODBC_ADD_DSN, {lookAlike, L"DBQ=C:\\Other"}, DriverW()},
        {ODBC_REMOVE_SYS_DSN, {lookAlike}, DriverW()},
        {ODBC_CONFIG_DSN, {L"DSN=bkTSales", L"DBQ=C:\\\u0141\u00F3d\u017A"}, DriverW()},
        {ODBC_REMOVE_DSN, {L"DSN=bkTSales"}, L"Brennick Data T\u0117st Driver"},
        {ODBC_REMOVE_DSN, {L"DSN=bkTSales", L"DBQ=\xD800"}, DriverW()},   // a lone surrogate
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request);
        EXPECT_EQ(ConfigW(c.request, c.elements, c.driver), FALSE);
        const WORD direct =
            c.request > ODBC_REMOVE_DSN ? c.request - (ODBC_ADD_SYS_DSN - ODBC_ADD_DSN) : c.request;
        EXPECT_EQ(module.ConfigDSNW(nullptr, direct, c.driver.c_str(), AttributeListW(c.elements)), FALSE);
        EXPECT_EQ(ReadEntry(dsn), stored);
        EXPECT_EQ(ReadFileBytes(dir.FileFor(dsn)), file);
        EXPECT_EQ(ReadEntry(dsn, Scope::System), storedSystem);
    }
}

// A name inside the code page (Caf\u00E9 under 1252, a Japanese one under 932)
// works through both entries of the installer and of the module, and lands
// identically.
TEST_F(EndToEnd, NameInsideTheCodePageLandsIdenticallyThroughEveryEntry)
{
    const std::wstring name = GetACP() == 932 ? L"bkT\u65E5\u672C" : L"bkTCaf\u00E9";
    const std::string dsn = Use(Ansi(name));
    if (dsn.empty() || (GetACP() != 1252 && GetACP() != 932)) GTEST_SKIP() << "code page " << GetACP();
    const std::vector<std::wstring> elements = {L"DSN=" + name, L"DBQ=C:\\" + name};
    SetupModule module;
    const std::function<BOOL()> entries[] = {
        [&] { return ConfigW(ODBC_ADD_DSN, elements); },
        [&] { return Config(ODBC_ADD_DSN, {"DSN=" + dsn, "DBQ=C:\\" + dsn}); },
        [&] { return module.ConfigDSNW(nullptr, ODBC_ADD_DSN, DriverW().c_str(), AttributeListW(elements)); },
        [&] { return module.ConfigDSN(ODBC_ADD_DSN, {"DSN=" + dsn, "DBQ=C:\\" + dsn}); },
    };
    std::optional<StoredEntry> first;
    for (const auto& add : entries) {
        ForgetDataSource(dsn);
        DeleteFileA(dir.FileFor(dsn).c_str());
        ASSERT_EQ(add(), TRUE);
        const StoredEntry entry = ReadEntry(dsn);
        EXPECT_EQ(entry.keys, (Keys{{"DBQ", "C:\\" + dsn}}));
        EXPECT_EQ(ReadFileBytes(dir.FileFor(dsn)), "[ODBC]\r\nDSN=" + dsn + "\r\n");
        if (!first) first = entry;
        EXPECT_EQ(entry, *first);
    }
    ASSERT_EQ(ConfigW(ODBC_REMOVE_DSN, {L"DSN=" + name}), TRUE);
    EXPECT_FALSE(Registration(dsn));
    EXPECT_FALSE(FileExists(dir.FileFor(dsn)));
}

} // namespace
