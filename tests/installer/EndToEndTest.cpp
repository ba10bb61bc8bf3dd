// The installer's own way in: with the driver registered, SQLConfigDataSource
// loads the built module for each request and calls its ConfigDSN.
#include "InstallerUnderTest.h"
#include "OdbcNames.h"
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

// User requests, then system ones (ODBC_*_SYS_DSN reach the module as 1-3 in
// system mode; a system data source lives wholly in the machine's hive unless
// the installer splits entries), each through the 8-bit and the wide entry.
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
        m_path = TempPath("bkdsn-batch-", ".txt");
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
    if (!InstallerUnderTest().profileMissesRegistrations)
        EXPECT_EQ(list.output, one + ": " + batchDriver + " (user)\n" + sys + ": " + batchDriver +
                                   " (system)\nlist " + batchDriver + ": ok\n");
    else
        EXPECT_EQ(list.output, "(no data sources)\nlist " + batchDriver + ": ok\n");
    // A value past every first read is shown whole: some installers answer
    // nothing for a value that does not fit the buffer.
    const std::string dbq = "C:\\" + std::string(5000, 'v');
    EXPECT_EQ(RunBkdsn(L"config " + Widen(quoted + " DSN=" + one + " DBQ=" + dbq)).exitCode, 0u);
    const ToolRun show = RunBkdsn(L"show " + Widen(one));
    for (const std::string& line : {"DBQ=" + dbq, std::string("ShortenNames=1")})
        EXPECT_TRUE(HasLine(show.output, line)) << line.substr(0, 20) << " in\n" << show.output.substr(0, 600);
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

// Every value below `key` of `root` as stored (type and bytes), by its path
// below `key`; with `deep` the subkeys' values too.
std::map<std::wstring, reg::Raw> StoredValues(HKEY root, const std::wstring& key, bool deep)
{
    std::map<std::wstring, reg::Raw> values;
    afx::UniqueRegKey handle;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, handle.put()) != ERROR_SUCCESS) return values;
    std::vector<BYTE> data(1 << 20);
    for (DWORD i = 0;; ++i) {
        wchar_t name[1024];
        DWORD length = 1024, type = 0, size = static_cast<DWORD>(data.size());
        if (RegEnumValueW(handle.get(), i, name, &length, nullptr, &type, data.data(), &size) != ERROR_SUCCESS)
            break;
        values[std::wstring(name, length)] = reg::Raw(type, std::string(data.begin(), data.begin() + size));
    }
    for (DWORD i = 0; deep; ++i) {
        wchar_t name[1024];
        DWORD length = 1024;
        if (RegEnumKeyExW(handle.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        const std::wstring sub(name, length);
        for (auto& [path, raw] : StoredValues(root, key + L"\\" + sub, true)) values[sub + L"\\" + path] = raw;
    }
    return values;
}

// What both hives store of a data source, byte for byte: its registration and its section.
std::map<std::wstring, reg::Raw> StoredBytes(const std::string& dsn)
{
    std::map<std::wstring, reg::Raw> stored;
    for (const auto& [root, hive] : {std::make_pair(HKEY_CURRENT_USER, L"user "),
                                     std::make_pair(HKEY_LOCAL_MACHINE, L"machine ")}) {
        if (const auto registration = reg::ReadRaw(root, odbc::kSourcesKey, dsn.c_str()))
            stored[hive + std::wstring(L"registration")] = *registration;
        for (auto& [name, raw] : StoredValues(root, Widen(DsnKey(dsn)), false)) stored[hive + name] = raw;
    }
    return stored;
}

// install-driver and remove-driver go through the installer, which counts the
// installs; the last removal takes the driver's entry, one more is refused
// with the installer's error unless the facts say it passes, --remove-dsns
// takes the data sources too, and the installer's registry ends as it began.
TEST_F(EndToEnd, BkdsnInstallsAndRemovesTheDriverThroughTheInstallerAsOftenAsInstalled)
{
    const InstallerFacts& facts = InstallerUnderTest();
    const std::string name = "Brennick Data Installed Driver", quoted = " \"" + name + "\"";
    const std::string key = std::string(odbc::kDriversKey) + "\\" + name, folder = ProgramDir();
    const auto before = StoredValues(HKEY_LOCAL_MACHINE, Widen(odbc::kDriversKey), true);
    const struct { std::string arguments; DWORD exitCode; DWORD count; const char* driver; } steps[] = {
        {"install-driver" + quoted + " bkODBCsu.dll", 0, 1, "bkODBCsu.dll"},
        {"install-driver" + quoted + " bkODBCsu.dll .\\bkCommon.dll", 0, 2, "bkCommon.dll"},
        {"remove-driver" + quoted, 0, 1, "bkCommon.dll"},
        {"remove-driver" + quoted, 0, 0, nullptr},
        {"remove-driver" + quoted, facts.removesDriverNotInstalled ? 0u : 1u, 0, nullptr},
        {"install-driver" + quoted + " bkODBCsu.dll", 0, 1, "bkODBCsu.dll"},
        {"remove-driver" + quoted + " --remove-dsns", 0, 0, nullptr},
    };
    const std::string user = Use("bkTOfInstalled"), system = Use("bkTOfInstalledSys");
    for (const auto& step : steps) {
        SCOPED_TRACE(step.arguments);
        if (step.arguments.find("--remove-dsns") != std::string::npos) {
            ASSERT_TRUE(SQLWriteDSNToIni(user.c_str(), name.c_str()));
            ASSERT_TRUE(SQLSetConfigMode(ODBC_SYSTEM_DSN));
            ASSERT_TRUE(SQLWriteDSNToIni(system.c_str(), name.c_str()));
            ASSERT_TRUE(SQLSetConfigMode(ODBC_BOTH_DSN));
        }
        const ToolRun run = RunBkdsn(Widen(step.arguments));
        EXPECT_EQ(run.exitCode, step.exitCode) << run.output;
        const std::string verb = step.arguments.substr(0, step.arguments.find(' '));
        EXPECT_TRUE(HasLine(run.output, verb + " " + name + (step.exitCode ? ": failed" : ": ok"))) << run.output;
        if (step.exitCode) {
            EXPECT_NE(run.output.find("installer error " + std::to_string(ODBC_ERROR_COMPONENT_NOT_FOUND) + ": "),
                      std::string::npos) << run.output;
            continue;
        }
        EXPECT_TRUE(HasLine(run.output, "\"" + name + "\" " + (verb == "install-driver" ? "installed in " + folder + ", " : "removed, ") +
                                            "usage count " + std::to_string(step.count))) << run.output;
        EXPECT_EQ(reg::ReadString(HKEY_LOCAL_MACHINE, std::string(odbc::kDriversKey) + "\\ODBC Drivers", name.c_str()),
                  step.count ? std::optional<std::string>("Installed") : std::nullopt);
        EXPECT_EQ(KeyExists(HKEY_LOCAL_MACHINE, key), step.count != 0);
        if (!step.count) continue;
        // bkdsn names the files found in its folder, where it runs.
        EXPECT_EQ(reg::ReadString(HKEY_LOCAL_MACHINE, key, "Setup"), InstalledFile(folder, "bkODBCsu.dll", true));
        EXPECT_EQ(reg::ReadString(HKEY_LOCAL_MACHINE, key, "Driver"), InstalledFile(folder, step.driver, true));
    }
    const bool kept = facts.driverRemovalKeepsDataSources;
    EXPECT_EQ(Registration(user), kept ? std::optional<std::string>(name) : std::nullopt);
    EXPECT_EQ(Registration(system, Scope::System), kept ? std::optional<std::string>(name) : std::nullopt);
    EXPECT_EQ(StoredValues(HKEY_LOCAL_MACHINE, Widen(odbc::kDriversKey), true), before);
}

// export writes what batch replays: once the data sources are gone, the file
// brings back byte for byte what was stored, for texts with quotes,
// backslashes (before a quote and at the end), #, blanks, the code page beyond
// ASCII and a value past a profile read's first buffer; the user's through
// add, the machine's through add-sys, of one driver or all, of one scope or both.
TEST_F(EndToEnd, BkdsnExportReplaysEveryDataSourceByteForByte)
{
    const std::string exportDriver = "Brennick Data Export Driver";
    ScopedDriverRegistration registration(exportDriver);
    const std::string e = Ansi(L"\u00E9");
    struct Source { std::string dsn; Scope scope; std::string driver; std::vector<std::string> keys; };
    const std::vector<Source> sources = {
        {Use("bkT \"Quoted\" #1 caf" + e), Scope::User, exportDriver,
         {"DBQ=C:\\Data \"quoted\"\\ #not a comment\\", "MaxColSupport=1536", "ShortenNames=1"}},
        {Use("bkTExport" + e + " Sys"), Scope::System, exportDriver,
         {"DBQ=C:\\" + std::string(600, 'x') + "\\\\\"q\\", "DatabaseType=2", "StandardMode=1"}},
        {Use("bkTExportPlain"), Scope::User, exportDriver, {"DBQ=\\\\server\\share\\", "DictionaryMode=1"}},
        {Use("bkTExportOther"), Scope::User, kDriver, {"DBQ=C:\\Other"}},
    };
    // Where an installer registers a data source is where export finds it.
    const auto foundIn = [](Scope scope) {
        return InstallerUnderTest().splitsEntryAcrossHives ? Scope::System : scope;
    };
    const struct { std::string arguments; bool otherDriver, user, system; } cases[] = {
        {" \"" + exportDriver + "\"", false, true, true},
        {" \"" + exportDriver + "\" --user", false, true, false},
        {" --system \"" + exportDriver + "\"", false, false, true},
        {"", true, true, true},
    };
    const std::string path = TempPath("bkdsn-export-", ".txt");
    for (const auto& c : cases) {
        SCOPED_TRACE("export" + c.arguments);
        std::map<std::string, std::map<std::wstring, reg::Raw>> stored;
        size_t expected = 0;
        for (const Source& source : sources) {
            ForgetDataSource(source.dsn);
            std::vector<std::string> elements = {"DSN=" + source.dsn};
            elements.insert(elements.end(), source.keys.begin(), source.keys.end());
            ASSERT_EQ(SQLConfigDataSource(nullptr, source.scope == Scope::User ? ODBC_ADD_DSN : ODBC_ADD_SYS_DSN,
                                          source.driver.c_str(), AttributeList(elements).c_str()), TRUE)
                << source.dsn;
            const bool exported = (c.otherDriver || source.driver == exportDriver) &&
                                  (foundIn(source.scope) == Scope::User ? c.user : c.system);
            stored[source.dsn] = exported ? StoredBytes(source.dsn) : std::map<std::wstring, reg::Raw>{};
            expected += exported;
            ASSERT_FALSE(StoredBytes(source.dsn).empty());
        }
        const ToolRun run = RunBkdsn(L"export" + Widen(c.arguments) + L" \"" + Widen(path) + L"\"");
        ASSERT_EQ(run.exitCode, 0u) << run.output;
        const std::string text = ReadFileBytes(path).value_or("");
        EXPECT_EQ(text.compare(0, 5, "\xEF\xBB\xBF# "), 0) << text;
        const size_t lines = static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) - 1;
        if (c.otherDriver) {
            // Every data source of the machine, not only the test's: checked, not replayed.
            EXPECT_GE(lines, expected) << text;
            EXPECT_NE(text.find(" \"" + std::string(kDriver) + "\" \"DSN=bkTExportOther\" \"DBQ=C:\\Other\""),
                      std::string::npos) << text;
            continue;
        }
        EXPECT_EQ(lines, expected) << text;
        EXPECT_TRUE(HasLine(run.output, "exported " + std::to_string(expected) + " data sources to " + path))
            << run.output;

        for (const Source& source : sources) ForgetDataSource(source.dsn);
        const ToolRun replay = RunBkdsn(L"batch \"" + Widen(path) + L"\"");
        EXPECT_EQ(replay.exitCode, 0u) << replay.output << text;
        for (const Source& source : sources) EXPECT_EQ(StoredBytes(source.dsn), stored[source.dsn]) << source.dsn << "\n" << text;
    }
    DeleteFileA(path.c_str());
    EXPECT_EQ(RunBkdsn(L"export --user --system x").exitCode, 2u);
    EXPECT_EQ(RunBkdsn(L"export a b x").exitCode, 2u);
}

// A wide text the code page cannot hold never reaches another data source:
// converted loosely, "\u015Cales" would be "Sales". Every request, through the
// installer's wide entry and the module's own, fails and leaves the existing
// data source as it was; so does a look-alike in the driver or in a value.
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
