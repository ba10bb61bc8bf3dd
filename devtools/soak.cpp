// soak: the setup module as a long-running caller meets it. In one process,
//   CYCLES times: LoadLibrary, a silent add through ConfigDSN, FreeLibrary;
//   ADDS times:   a silent add through SQLConfigDataSource (the installer
//                 loads, calls and frees the module itself),
// printing the process's TLS indices, handles and committed memory along the
// way and the growth per 1,000 requests. Exits 1 when a request fails or a
// figure grows beyond a small constant.
//
//   soak [CYCLES [ADDS [MODULE]]]     (default 10000, 2000, bkODBCsu.dll beside soak.exe)
#include "ProcessFigures.h"
#include "OdbcNames.h"
#include "afx/Handles.h"
#include "common/Registry.h"

#include <windows.h>
#include <odbcinst.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const char kDriver[] = "Brennick Data Soak";
const char* const kDriversKey = odbc::kDriversKey;
const char kAttributes[] = "DSN=bkSoak\0DBQ=C:\\Data\0DatabaseType=1\0";
const char kRemove[] = "DSN=bkSoak\0";

// What "flat" allows over a whole run, whatever its length: the installer and
// the heap settle a little after the warm-up.
const long kMaxTlsGrowth = 0;
const long kMaxHandleGrowth = 8;
const long long kMaxCommittedGrowth = 512 * 1024;

using ConfigDsnFn = BOOL(WINAPI*)(HWND, WORD, LPCSTR, LPCSTR);

void Print(const char* what, int done, const bkfigures::ProcessFigures& now,
           const bkfigures::ProcessFigures& start)
{
    const bkfigures::Growth g = now - start;
    std::printf("%-8s %6d   TLS indices %4lu (%+ld)   handles %5lu (%+ld)   committed %8.1f KiB (%+.1f KiB)\n",
                what, done, now.tlsIndices, g.tlsIndices, now.handles, g.handles, now.committed / 1024.0,
                g.committedBytes / 1024.0);
    std::fflush(stdout);
}

// Runs `count` requests after a short warm-up, printing figures every 1,000;
// true when every request succeeded and the figures stayed flat.
template <typename Request>
bool Soak(const char* what, int count, Request request)
{
    for (int i = 0; i < 20; ++i)
        if (!request()) { std::printf("%s: warm-up request failed\n", what); return false; }
    const auto start = bkfigures::ProcessFigures::Now();
    Print(what, 0, start, start);
    const double t0 = static_cast<double>(GetTickCount());
    for (int i = 1; i <= count; ++i) {
        if (!request()) {
            std::printf("%s: request %d failed\n", what, i);
            return false;
        }
        if (i % 1000 == 0 || i == count) Print(what, i, bkfigures::ProcessFigures::Now(), start);
    }
    const bkfigures::Growth g = bkfigures::ProcessFigures::Now() - start;
    const double per1000 = 1000.0 / count;
    std::printf("%s: %d requests in %.1f s; per 1,000: %+.1f TLS indices, %+.1f handles, %+.1f KiB committed\n",
                what, count, (GetTickCount() - t0) / 1000.0, g.tlsIndices * per1000, g.handles * per1000,
                g.committedBytes / 1024.0 * per1000);
    const bool flat = g.tlsIndices <= kMaxTlsGrowth && g.handles <= kMaxHandleGrowth &&
                      g.committedBytes <= kMaxCommittedGrowth;
    std::printf("%s: %s\n", what, flat ? "flat" : "GROWS");
    return flat;
}

} // namespace

int main(int argc, char** argv)
{
    const int cycles = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int adds = argc > 2 ? std::atoi(argv[2]) : 2000;
    std::string dll;
    if (argc > 3) {
        dll = argv[3];
    } else {
        char self[MAX_PATH] = {};
        GetModuleFileNameA(nullptr, self, MAX_PATH);
        dll = self;
        dll = dll.substr(0, dll.find_last_of('\\')) + "\\bkODBCsu.dll";
    }
    std::printf("module: %s\n", dll.c_str());

    bool ok = true;
    if (cycles > 0) {
        ok = Soak("cycle", cycles, [&] {
                 afx::UniqueModule module(LoadLibraryA(dll.c_str()));
                 auto configDsn = module ? reinterpret_cast<ConfigDsnFn>(reinterpret_cast<void*>(
                                               GetProcAddress(module.get(), "ConfigDSN")))
                                         : nullptr;
                 return configDsn && configDsn(nullptr, ODBC_ADD_DSN, kDriver, kAttributes);
             }) && ok;
    }
    if (adds > 0) {
        // Windows reads "Setup"; Wine's installer loads the library named by "Driver".
        const std::string key = std::string(kDriversKey) + "\\" + kDriver;
        if (!reg::SetString(HKEY_LOCAL_MACHINE, key, "Setup", dll) ||
            !reg::SetString(HKEY_LOCAL_MACHINE, key, "Driver", dll) ||
            !reg::SetString(HKEY_LOCAL_MACHINE, std::string(kDriversKey) + "\\ODBC Drivers", kDriver,
                            "Installed")) {
            std::printf("cannot register %s\n", kDriver);
            return 1;
        }
        ok = Soak("install", adds, [] { return SQLConfigDataSource(nullptr, ODBC_ADD_DSN, kDriver, kAttributes); }) && ok;
    }
    SQLConfigDataSource(nullptr, ODBC_REMOVE_DSN, kDriver, kRemove);
    return ok ? 0 : 1;
}
