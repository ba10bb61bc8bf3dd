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
// two driver descriptions and timed alternately.
//
//   bench [ROUNDS]     (default 30 rounds of 20 cycles each)
#include "afx/Handles.h"
#include "common/Registry.h"

#include <windows.h>
#include <odbcinst.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

const char kDriver[] = "Brennick Data Benchmark";
const char kRefDriver[] = "Brennick Data Reference";
const char kDriversKey[] = "Software\\ODBC\\ODBCINST.INI";
const char kDsn[] = "bkBenchSales";
const char kFileDsnKey[] = "Software\\ODBC\\ODBC.INI\\ODBC File DSN";
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
            if (SQLGetPrivateProfileString(kDsn, key, "", value, sizeof value, "ODBC.INI") > 0)
                kept.emplace_back(key, value);
        SQLWriteDSNToIni(kDsn, kDriver);
        for (const auto& [key, text] : keys) SQLWritePrivateProfileString(kDsn, key, text, "ODBC.INI");
        for (const auto& [key, text] : kept) SQLWritePrivateProfileString(kDsn, key, text.c_str(), "ODBC.INI");
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

// Silent adds through the installer, this module and the reference in turn.
void BenchInstaller(const std::string& dll, const std::string& refDll, int rounds)
{
    const DriverRegistration module(kDriver, dll), reference(kRefDriver, refDll);
    const std::string add = List({"DSN=bkBenchSales", "DBQ=C:\\Data", "DatabaseType=2"});
    const std::string refAdd = List({"DSN=bkBenchRef", "DBQ=C:\\Data", "DatabaseType=2"});
    const int kAddsPerRound = 10;
    std::vector<double> moduleTimes, refTimes;
    for (int r = 0; r < rounds + 1; ++r) {
        double t = Now();
        for (int i = 0; i < kAddsPerRound; ++i)
            if (!SQLConfigDataSource(nullptr, ODBC_ADD_DSN, kDriver, add.c_str())) {
                std::printf("installer: a silent add of the module failed, not measured\n");
                return;
            }
        const double m = (Now() - t) / kAddsPerRound;
        t = Now();
        for (int i = 0; i < kAddsPerRound; ++i)
            if (!SQLConfigDataSource(nullptr, ODBC_ADD_DSN, kRefDriver, refAdd.c_str())) {
                std::printf("installer: a silent add of the reference failed, not measured\n");
                return;
            }
        const double f = (Now() - t) / kAddsPerRound;
        if (r > 0) { moduleTimes.push_back(m); refTimes.push_back(f); }   // the first round warms up
    }
    SQLConfigDataSource(nullptr, ODBC_REMOVE_DSN, kDriver, List({"DSN=bkBenchSales"}).c_str());
    SQLRemoveDSNFromIni("bkBenchRef");
    const double m = Median(moduleTimes), f = Median(refTimes);
    std::printf("silent add via SQLConfigDataSource: module %.1f us, reference %.1f us (median of %d rounds x %d)\n",
                m * 1e6, f * 1e6, rounds, kAddsPerRound);
    std::printf("ratio module/reference:     %.3f (target <= 1.25)\n", m / f);
}

// Where the rest goes: the same with bkCommon.dll, the module's one load-time
// import of its own, held by this process, so that it is not loaded and freed with the module.
void BenchInstallerWithCommonHeld(const std::string& dll, const std::string& refDll, int rounds)
{
    const afx::UniqueModule common(LoadLibraryA((dll.substr(0, dll.find_last_of('\\')) + "\\bkCommon.dll").c_str()));
    std::printf("-- with bkCommon.dll held by the caller:\n");
    BenchInstaller(dll, refDll, rounds);
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

} // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 30;
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string dll = self;
    dll = dll.substr(0, dll.find_last_of('\\')) + "\\bkODBCsu.dll";

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

    const std::string refDll = dll.substr(0, dll.find_last_of('\\')) + "\\bkRefSetup.dll";
    const double moduleLoad = LoadUnloadTime(dll), refLoad = LoadUnloadTime(refDll);

    const double m = Median(moduleTimes), d = Median(directTimes);
    std::printf("file DSN folder:            %s\n", folder.empty() ? "(none configured)" : folder.c_str());
    std::printf("add+configure+remove cycle: module %.1f us, direct %.1f us (median of %d rounds x %d)\n",
                m * 1e6, d * 1e6, rounds, kCyclesPerRound);
    std::printf("ratio module/direct:        %.3f (target <= 1.10)\n", m / d);
    std::printf("load + unload:              module %.1f us, reference %.1f us (median of 50)\n",
                moduleLoad * 1e6, refLoad * 1e6);
    BenchInstaller(dll, refDll, rounds);
    BenchInstallerWithCommonHeld(dll, refDll, rounds);
    return 0;
}
