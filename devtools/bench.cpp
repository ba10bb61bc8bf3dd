// bench: what the setup module adds to the work of a silent data source
// configuration. One run measures, interleaved round by round,
//   module: an add + configure + remove cycle through ConfigDSN, and
//   direct: the installer calls and file work that cycle needs, made directly
//           (validate, read the unsupplied keys, register, write the keys,
//           write the file DSN; delete the file, remove the entry),
// and prints the medians and their ratio, then the cost of loading and
// unloading the module. With a display it also measures the time from a
// ConfigDSN call with a parent window to the dialog being shown, against a
// bare DialogBoxParam of the same template with no logic. Last, as a deploying
// script meets the module: silent adds through SQLConfigDataSource, which loads,
// calls and frees the setup module each time, for this module and for the
// reference module bkRefSetup.dll (the mandatory work at load and unload and
// the same installer calls and file write, nothing else), registered under
// two driver descriptions and timed alternately: adds of one name again and
// again, then an add and a removal each time (every add of a new data source);
// with what each piece of such a request costs (the request lock, each kind
// of installer call).
//
// The first dialog of a fresh process, which the user of the ODBC Data Source
// Administrator waits for, is its own mode: one new process per sample, this
// module and the reference in turn, each timed from just before its
// CreateProcess (and from the start of its main) until the dialog is visible.
//
//   bench [ROUNDS]                   (default 30 rounds of 20 cycles each)
//   bench first-dialog [PROCESSES]   (default 31 of each)
#include "afx/Handles.h"
#include "common/Registry.h"

#include "OdbcNames.h"

#include <windows.h>
#include <odbcinst.h>
#include <sddl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

const char kDriver[] = "Brennick Data Benchmark";
const char kRefDriver[] = "Brennick Data Reference";
const char* const kDriversKey = odbc::kDriversKey;
const char kDsn[] = "bkBenchSales";
const char* const kFileDsnKey = odbc::kFileDsnKey;
const int kCyclesPerRound = 20;

using ConfigDsnFn = BOOL(WINAPI*)(HWND, WORD, LPCSTR, LPCSTR);

double Now()
{
    static LARGE_INTEGER frequency = [] { LARGE_INTEGER f; QueryPerformanceFrequency(&f); return f; }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

std::string List(std::initializer_list<const char*> elements)
{
    std::string list;
    for (const char* e : elements) list.append(e).push_back('\0');
    list.push_back('\0');
    return list;
}

std::string DefaultDsnDir()
{
    return reg::ReadString(HKEY_LOCAL_MACHINE, kFileDsnKey, "DefaultDSNDir").value_or("");
}

// The same work as the module's cycle, with nothing around it. The default
// file-DSN folder is a machine setting read at every write, as the module does.
struct Direct {
    std::string file;

    void Write(std::initializer_list<std::pair<const char*, const char*>> keys,
               std::initializer_list<const char*> keep) const
    {
        SQLValidDSN(kDsn);
        // Stored keys the request does not name are kept: read before the
        // registration, written back after it.
        std::vector<std::pair<const char*, std::string>> kept;
        char value[260];
        for (const char* key : keep)
            if (SQLGetPrivateProfileString(kDsn, key, "", value, sizeof value, odbc::kDataSources) > 0)
                kept.emplace_back(key, value);
        SQLWriteDSNToIni(kDsn, kDriver);
        for (const auto& [key, text] : keys) SQLWritePrivateProfileString(kDsn, key, text, odbc::kDataSources);
        for (const auto& [key, text] : kept) SQLWritePrivateProfileString(kDsn, key, text.c_str(), odbc::kDataSources);
        if (!DefaultDsnDir().empty()) std::ofstream(file) << "[ODBC]\nDSN=" << kDsn << "\n";
    }

    void Cycle() const
    {
        Write({{"DBQ", "C:\\Data"}, {"MaxColSupport", "1536"}, {"DatabaseType", "2"}},
              {"ShortenNames", "StandardMode", "DictionaryMode"});
        Write({{"ShortenNames", "1"}},
              {"DBQ", "MaxColSupport", "StandardMode", "DictionaryMode", "DatabaseType"});
        if (!DefaultDsnDir().empty()) DeleteFileA(file.c_str());
        SQLRemoveDSNFromIni(kDsn);
    }
};

// Registers a driver description for the object's lifetime, its setup module
// `dll` (Windows reads "Setup"; Wine's installer loads the library named by "Driver").
class DriverRegistration {
public:
    DriverRegistration(const char* description, const std::string& dll) : m_key(std::string(kDriversKey) + "\\" + description)
    {
        for (const char* name : {"Setup", "Driver"}) reg::SetString(HKEY_LOCAL_MACHINE, m_key, name, dll);
    }
    ~DriverRegistration() { RegDeleteKeyA(HKEY_LOCAL_MACHINE, m_key.c_str()); }
    DriverRegistration(const DriverRegistration&) = delete;
    DriverRegistration& operator=(const DriverRegistration&) = delete;

private:
    std::string m_key;
};

double LoadUnloadTime(const std::string& dll)
{
    std::vector<double> times;
    for (int i = 0; i < 50; ++i) {
        const double t = Now();
        afx::UniqueModule loaded(LoadLibraryA(dll.c_str()));
        loaded.reset();
        times.push_back(Now() - t);
    }
    return Median(times);
}

// A data source gone from both hives, keys and registration. Where removal
// keeps the keys (Wine 8) the cycles above leave some behind, and a request
// that registers the name again carries them over: both measured data sources
// start from nothing, so that each request writes the same keys.
void ForgetDataSource(const char* dsn)
{
    for (HKEY hive : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        reg::DeleteTree(hive, std::string(odbc::kDataSourcesKey) + "\\" + dsn);
        reg::DeleteValue(hive, odbc::kSourcesKey, dsn);
    }
}

// Silent requests through the installer, this module and the reference in
// turn: adds of one name again and again (a script run twice), or an add and
// a remove each time, so that every add is of a new data source (a deployment).
void BenchInstaller(const std::string& dll, const std::string& refDll, int rounds, bool removeEach)
{
    const DriverRegistration module(kDriver, dll), reference(kRefDriver, refDll);
    for (const char* dsn : {"bkBenchSales", "bkBenchRef"}) ForgetDataSource(dsn);
    // One request (and its removal): false when one failed.
    const auto request = [removeEach](const char* driver, const char* dsn) {
        const std::string name = std::string("DSN=") + dsn;
        return SQLConfigDataSource(nullptr, ODBC_ADD_DSN, driver, List({name.c_str(), "DBQ=C:\\Data", "DatabaseType=2"}).c_str()) &&
               (!removeEach || SQLConfigDataSource(nullptr, ODBC_REMOVE_DSN, driver, List({name.c_str()}).c_str()));
    };
    const int kPerRound = 10;
    std::vector<double> moduleTimes, refTimes;
    for (int r = 0; r < rounds + 1; ++r) {
        double times[2] = {};
        for (int side = 0; side < 2; ++side) {
            const double t = Now();
            for (int i = 0; i < kPerRound; ++i)
                if (!request(side ? kRefDriver : kDriver, side ? "bkBenchRef" : "bkBenchSales")) {
                    std::printf("installer: a silent request of the %s failed, not measured\n",
                                side ? "reference" : "module");
                    return;
                }
            times[side] = (Now() - t) / kPerRound;
        }
        if (r > 0) { moduleTimes.push_back(times[0]); refTimes.push_back(times[1]); }   // the first round warms up
    }
    SQLConfigDataSource(nullptr, ODBC_REMOVE_DSN, kDriver, List({"DSN=bkBenchSales"}).c_str());
    SQLRemoveDSNFromIni("bkBenchRef");
    const double m = Median(moduleTimes), f = Median(refTimes);
    std::printf("silent %s via SQLConfigDataSource: module %.1f us, reference %.1f us (median of %d rounds x %d)\n",
                removeEach ? "add + remove" : "add", m * 1e6, f * 1e6, rounds, kPerRound);
    std::printf("ratio module/reference:     %.3f (target <= 1.0)\n", m / f);
}

// Where the rest goes: the same with bkCommon.dll, the module's one load-time
// import of its own, held by this process, so that it is not loaded and freed with the module.
void BenchInstallerWithCommonHeld(const std::string& dll, const std::string& refDll, int rounds)
{
    const afx::UniqueModule common(LoadLibraryA((dll.substr(0, dll.find_last_of('\\')) + "\\bkCommon.dll").c_str()));
    std::printf("-- with bkCommon.dll held by the caller:\n");
    BenchInstaller(dll, refDll, rounds, false);
}

// Time from the start of `open` to the activation of the dialog it shows,
// which is then cancelled at once. Measured through a thread CBT hook, the
// same way for both kinds of dialog.
thread_local double t_shownAt = 0;

LRESULT CALLBACK CancelOnActivate(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_ACTIVATE) {
        HWND window = reinterpret_cast<HWND>(wParam);
        char cls[16] = {};
        GetClassNameA(window, cls, sizeof cls);
        if (std::string(cls) == "#32770" && t_shownAt == 0) {
            t_shownAt = Now();
            PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

template <typename Open>
double TimeToShown(Open open)
{
    t_shownAt = 0;
    HHOOK hook = SetWindowsHookExA(WH_CBT, CancelOnActivate, nullptr, GetCurrentThreadId());
    const double start = Now();
    open();
    UnhookWindowsHookEx(hook);
    return t_shownAt ? t_shownAt - start : -1;
}

INT_PTR CALLBACK BareDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG) return TRUE;
    if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
        return TRUE;
    }
    return FALSE;
}

void BenchDialog(HMODULE module, ConfigDsnFn configDsn, int rounds)
{
    HWND parent = CreateWindowExA(0, "STATIC", "bench", WS_OVERLAPPEDWINDOW, 100, 100, 300, 200,
                                  nullptr, nullptr, nullptr, nullptr);
    if (!parent) {
        std::printf("dialog: no display, not measured\n");
        return;
    }
    const std::string configure = List({"DSN=bkBenchSales"});
    ACTCTXA ctx = {};
    ctx.cbSize = sizeof ctx;
    ctx.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
    ctx.hModule = module;
    ctx.lpResourceName = MAKEINTRESOURCEA(2);
    const afx::UniqueActCtx moduleControls(CreateActCtxA(&ctx));
    std::vector<double> viaModule, bare;
    for (int r = 0; r < rounds + 3; ++r) {
        const double m = TimeToShown([&] { configDsn(parent, ODBC_CONFIG_DSN, kDriver, configure.c_str()); });
        const double b = TimeToShown([&] {
            // The same controls as the module's dialog: those of its manifest.
            afx::ActCtxActivation controls(moduleControls.get());
            DialogBoxParamA(module, MAKEINTRESOURCEA(7000), parent, BareDialogProc, 0);
        });
        if (m < 0 || b < 0) {
            std::printf("dialog: not shown, not measured\n");
            break;
        }
        if (r >= 3) { viaModule.push_back(m); bare.push_back(b); }   // the first ones warm up
    }
    DestroyWindow(parent);
    if (viaModule.empty()) return;
    const double m = Median(viaModule), b = Median(bare);
    std::printf("ConfigDSN call to dialog shown: %.1f us, bare DialogBoxParam %.1f us (median of %d)\n",
                m * 1e6, b * 1e6, rounds);
    std::printf("ratio module/bare:          %.3f (target <= 1.3)\n", m / b);
}

// What the pieces of a silent request cost, each alone: the request lock as
// the module takes it, and each kind of installer call a silent add makes.
template <typename Piece>
double PieceTime(Piece piece)
{
    std::vector<double> times;
    for (int r = 0; r < 31; ++r) {
        const double t = Now();
        for (int i = 0; i < 20; ++i) piece();
        times.push_back((Now() - t) / 20);
    }
    return Median(times);
}

void BenchRequestPieces()
{
    const char dsn[] = "bkBenchPieces";
    SQLWriteDSNToIni(dsn, kDriver);
    SQLWritePrivateProfileString(dsn, "DBQ", "C:\\Data", odbc::kDataSources);
    const wchar_t sddl[] = L"D:(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x00100001;;;WD)";
    const wchar_t lockName[] = L"Global\\bkODBCsu bench lock";
    auto takeLock = [&](PSECURITY_DESCRIPTOR descriptor) {
        SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
        const afx::UniqueKernelHandle mutex(CreateMutexExW(&attributes, lockName, 0, SYNCHRONIZE | MUTEX_MODIFY_STATE));
        if (WaitForSingleObject(mutex.get(), 5000) == WAIT_OBJECT_0) ReleaseMutex(mutex.get());
    };
    afx::UniqueLocalMemory parsed;
    ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1,
                                                         reinterpret_cast<PSECURITY_DESCRIPTOR*>(parsed.put()), nullptr);
    char buffer[4096];
    const struct { const char* what; double time; } pieces[] = {
        {"security descriptor from its text", PieceTime([&] {
             afx::UniqueLocalMemory d;
             ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1,
                                                                  reinterpret_cast<PSECURITY_DESCRIPTOR*>(d.put()), nullptr);
         })},
        {"lock: create, wait, release, close", PieceTime([&] { takeLock(parsed.get()); })},
        {"SQLValidDSN", PieceTime([&] { SQLValidDSN(dsn); })},
        {"read of a stored key", PieceTime([&] { SQLGetPrivateProfileString(dsn, "DBQ", "", buffer, 260, odbc::kDataSources); })},
        {"read of an absent key", PieceTime([&] { SQLGetPrivateProfileString(dsn, "StandardMode", "", buffer, 260, odbc::kDataSources); })},
        {"list of the section's keys", PieceTime([&] { SQLGetPrivateProfileString(dsn, nullptr, "", buffer, 260, odbc::kDataSources); })},
        {"read of the registration", PieceTime([&] {
             SQLGetPrivateProfileString("ODBC Data Sources", dsn, "", buffer, 260, odbc::kDataSources); })},
        {"read of the driver's library", PieceTime([&] {
             SQLGetPrivateProfileString(kDriver, "Driver", "", buffer, 260, "ODBCINST.INI"); })},
        {"SQLWriteDSNToIni of a registered name", PieceTime([&] { SQLWriteDSNToIni(dsn, kDriver); })},
        {"write of a key", PieceTime([&] { SQLWritePrivateProfileString(dsn, "DBQ", "C:\\Data", odbc::kDataSources); })},
    };
    SQLRemoveDSNFromIni(dsn);
    for (const auto& piece : pieces) std::printf("  piece: %-38s %7.1f us\n", piece.what, piece.time * 1e6);
}

// ---- The first dialog of a fresh process ----

const char kFirstDsn[] = "bkBenchFirst";

// A child: load the setup module, call ConfigDSN with a parent window, and
// write to its standard output how long it took from `startTicks` (the
// parent's counter before CreateProcess) and from the start of main until
// the dialog was visible. The child then ends at once: what a dialog does
// when it closes is not measured, and hiding a window waits up to 2 seconds
// for a window manager that Xvfb does not have.
double t_mainAt = 0;
long long t_startTicks = 0;

LRESULT CALLBACK EndWhenVisible(int code, WPARAM wParam, LPARAM lParam)
{
    const auto* message = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
    if (code == HC_ACTION && message->message == WM_WINDOWPOSCHANGED &&
        (reinterpret_cast<const WINDOWPOS*>(message->lParam)->flags & SWP_SHOWWINDOW)) {
        char cls[16] = {};
        GetClassNameA(message->hwnd, cls, sizeof cls);
        if (std::string(cls) == "#32770" && IsWindowVisible(message->hwnd)) {
            const double visibleAt = Now();
            LARGE_INTEGER frequency;
            QueryPerformanceFrequency(&frequency);
            const double start = static_cast<double>(t_startTicks) / static_cast<double>(frequency.QuadPart);
            char line[64];
            const int length = std::snprintf(line, sizeof line, "%.1f %.1f\n", (visibleAt - start) * 1e6,
                                             (visibleAt - t_mainAt) * 1e6);
            DWORD written = 0;
            WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line, static_cast<DWORD>(length), &written, nullptr);
            OutputDebugStringA("bench: dialog visible");   // a mark in a trace (WINEDEBUG=+timestamp,+debugstr)
            TerminateProcess(GetCurrentProcess(), 0);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

int FirstDialogChild(const std::string& dll, long long startTicks)
{
    t_startTicks = startTicks;
    HWND parent = CreateWindowExA(0, "STATIC", "bench", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100, 400, 300,
                                  nullptr, nullptr, nullptr, nullptr);
    SetWindowsHookExA(WH_CALLWNDPROCRET, EndWhenVisible, nullptr, GetCurrentThreadId());
    const afx::UniqueModule module(LoadLibraryA(dll.c_str()));
    auto configDsn = module ? reinterpret_cast<ConfigDsnFn>(reinterpret_cast<void*>(
                                  GetProcAddress(module.get(), "ConfigDSN")))
                            : nullptr;
    OutputDebugStringA("bench: ConfigDSN called");
    if (parent && configDsn) configDsn(parent, ODBC_CONFIG_DSN, kDriver, List({"DSN=bkBenchFirst"}).c_str());
    return 1;   // the dialog never became visible
}

// Runs one child for `dll`; its two times in seconds, or false.
bool RunFirstDialogChild(const std::string& self, const std::string& dll, double& fromStart, double& fromMain)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return false;
    const afx::UniqueKernelHandle reader(readEnd);
    afx::UniqueKernelHandle writer(writeEnd);
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process = {};
    LARGE_INTEGER ticks;
    QueryPerformanceCounter(&ticks);
    std::string command = "\"" + self + "\" first-dialog-child \"" + dll + "\" " + std::to_string(ticks.QuadPart);
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process))
        return false;
    const afx::UniqueKernelHandle processHandle(process.hProcess), threadHandle(process.hThread);
    writer.reset();   // the child's copy is the only one left: its end ends the output
    // A child whose dialog never shows would wait in it for good: it is ended.
    // Its one line fits the pipe, so it is read once the child is gone.
    if (WaitForSingleObject(process.hProcess, 30000) != WAIT_OBJECT_0) TerminateProcess(process.hProcess, 1);
    WaitForSingleObject(process.hProcess, 5000);
    std::string output;
    char chunk[128];
    DWORD got = 0;
    while (ReadFile(readEnd, chunk, sizeof chunk, &got, nullptr) && got) output.append(chunk, got);
    DWORD exitCode = 1;
    GetExitCodeProcess(process.hProcess, &exitCode);
    if (exitCode != 0 || std::sscanf(output.c_str(), "%lf %lf", &fromStart, &fromMain) != 2) return false;
    fromStart /= 1e6;
    fromMain /= 1e6;
    return true;
}

int BenchFirstDialog(const std::string& self, const std::string& dll, const std::string& refDll, int processes)
{
    // A stored data source of which the dialog shows the values, read through the installer.
    SQLWriteDSNToIni(kFirstDsn, kDriver);
    for (const auto& [key, value] : {std::pair<const char*, const char*>{"DBQ", "C:\\Books\\Sales"},
                                     {"MaxColSupport", "1536"}, {"ShortenNames", "1"},
                                     {"StandardMode", "1"}, {"DatabaseType", "2"}})
        SQLWritePrivateProfileString(kFirstDsn, key, value, odbc::kDataSources);
    std::vector<double> moduleStart, moduleMain, refStart, refMain;
    for (int p = 0; p < processes + 1; ++p) {
        double s = 0, m = 0, rs = 0, rm = 0;
        if (!RunFirstDialogChild(self, dll, s, m) || !RunFirstDialogChild(self, refDll, rs, rm)) {
            std::printf("first dialog: a child did not show its dialog, not measured\n");
            SQLRemoveDSNFromIni(kFirstDsn);
            return 1;
        }
        if (p == 0) continue;   // the first pair warms the file system and the prefix
        moduleStart.push_back(s); moduleMain.push_back(m); refStart.push_back(rs); refMain.push_back(rm);
    }
    SQLRemoveDSNFromIni(kFirstDsn);
    const double ms = Median(moduleStart), mm = Median(moduleMain), rs = Median(refStart), rm = Median(refMain);
    std::printf("first dialog of a fresh process, from CreateProcess: module %.1f ms, reference %.1f ms (median of %d each)\n",
                ms * 1e3, rs * 1e3, processes);
    std::printf("ratio module/reference:     %.3f (target <= 1.1)\n", ms / rs);
    std::printf("  from the start of main: module %.1f ms, reference %.1f ms, ratio %.3f\n", mm * 1e3, rm * 1e3, mm / rm);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    t_mainAt = Now();
    if (argc == 4 && std::string(argv[1]) == "first-dialog-child")
        return FirstDialogChild(argv[2], std::atoll(argv[3]));
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string dll = self;
    dll = dll.substr(0, dll.find_last_of('\\')) + "\\bkODBCsu.dll";
    const std::string refDll = dll.substr(0, dll.find_last_of('\\')) + "\\bkRefSetup.dll";
    if (argc > 1 && std::string(argv[1]) == "first-dialog")
        return BenchFirstDialog(self, dll, refDll, argc > 2 ? std::max(1, std::atoi(argv[2])) : 31);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 30;

    afx::UniqueModule module(LoadLibraryA(dll.c_str()));
    auto configDsn = module ? reinterpret_cast<ConfigDsnFn>(reinterpret_cast<void*>(
                                  GetProcAddress(module.get(), "ConfigDSN")))
                            : nullptr;
    if (!configDsn) {
        std::fprintf(stderr, "cannot load %s\n", dll.c_str());
        return 1;
    }

    const std::string add = List({"DSN=bkBenchSales", "DBQ=C:\\Data", "MaxColSupport=1536", "DatabaseType=2"});
    const std::string configure = List({"DSN=bkBenchSales", "ShortenNames=1"});
    const std::string remove = List({"DSN=bkBenchSales"});
    const std::string folder = DefaultDsnDir();
    const Direct direct{folder.empty() ? std::string() : folder + "\\" + kDsn + " (not sharable).DSN"};

    auto moduleCycle = [&] {
        bool ok = configDsn(nullptr, ODBC_ADD_DSN, kDriver, add.c_str()) &&
                  configDsn(nullptr, ODBC_CONFIG_DSN, kDriver, configure.c_str()) &&
                  configDsn(nullptr, ODBC_REMOVE_DSN, kDriver, remove.c_str());
        if (!ok) {
            std::fprintf(stderr, "a ConfigDSN call failed\n");
            std::exit(1);
        }
    };

    // Warm up both paths (registry hives, file system caches).
    for (int i = 0; i < 5; ++i) { moduleCycle(); direct.Cycle(); }

    std::vector<double> moduleTimes, directTimes;
    for (int r = 0; r < rounds; ++r) {
        double t = Now();
        for (int i = 0; i < kCyclesPerRound; ++i) moduleCycle();
        moduleTimes.push_back((Now() - t) / kCyclesPerRound);
        t = Now();
        for (int i = 0; i < kCyclesPerRound; ++i) direct.Cycle();
        directTimes.push_back((Now() - t) / kCyclesPerRound);
    }
    BenchDialog(module.get(), configDsn, rounds);
    module.reset();

    const double moduleLoad = LoadUnloadTime(dll), refLoad = LoadUnloadTime(refDll),
                 commonLoad = LoadUnloadTime(dll.substr(0, dll.find_last_of('\\')) + "\\bkCommon.dll");

    const double m = Median(moduleTimes), d = Median(directTimes);
    std::printf("file DSN folder:            %s\n", folder.empty() ? "(none configured)" : folder.c_str());
    std::printf("add+configure+remove cycle: module %.1f us, direct %.1f us (median of %d rounds x %d)\n",
                m * 1e6, d * 1e6, rounds, kCyclesPerRound);
    std::printf("ratio module/direct:        %.3f (target <= 1.10)\n", m / d);
    std::printf("load + unload:              module %.1f us, reference %.1f us (median of 50)\n",
                moduleLoad * 1e6, refLoad * 1e6);
    std::printf("  of it bkCommon.dll alone:  %.1f us\n", commonLoad * 1e6);
    BenchInstaller(dll, refDll, rounds, false);
    BenchInstaller(dll, refDll, rounds, true);
    BenchRequestPieces();
    BenchInstallerWithCommonHeld(dll, refDll, rounds);
    return 0;
}
