// The module as a long-running caller meets it: loaded, called and freed
// thousands of times in one process, directly, with out of memory inside each
// load, and through the installer, it leaves the process's TLS indices,
// handles, committed memory, heap blocks and activation contexts as they were.
// A program of its own, so that no other test's state moves the figures.
#include "InstallerUnderTest.h"
#include "ReadBack.h"
#include "ProcessFigures.h"

#include <gtest/gtest.h>
#include <odbcinst.h>

#include <functional>
#include <utility>

using namespace bktest;

namespace {

struct CycleCase {
    const char* name;
    int requests;
    std::function<BOOL(const std::string& dsn)> request;
};

class ModuleCycles : public DataSourceTest, public ::testing::WithParamInterface<CycleCase> {};

// The module's import slot of `function` from `dll`, made writable; null when
// it imports none.
void** ImportSlot(HMODULE module, const char* dll, const char* function)
{
    const auto at = [module](auto rva) { return reinterpret_cast<BYTE*>(module) + rva; };
    const auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(at(reinterpret_cast<IMAGE_DOS_HEADER*>(module)->e_lfanew));
    const DWORD imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
    for (auto* desc = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(at(imports)); desc->Name; ++desc) {
        if (_stricmp(reinterpret_cast<char*>(at(desc->Name)), dll) != 0) continue;
        auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(at(desc->FirstThunk));
        for (auto* name = reinterpret_cast<IMAGE_THUNK_DATA*>(at(desc->OriginalFirstThunk));
             name->u1.AddressOfData; ++name, ++slot) {
            const auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(at(name->u1.AddressOfData));
            if (IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal) || strcmp(byName->Name, function) != 0) continue;
            DWORD protection = 0;
            if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &protection)) return nullptr;
            return reinterpret_cast<void**>(&slot->u1.Function);
        }
    }
    return nullptr;
}

// The module's next allocation fails, as when memory runs out: its import of
// malloc answers null once, then leads to the runtime's own again.
void** g_mallocSlot = nullptr;
void* g_malloc = nullptr;
extern "C" void* __cdecl FailingMalloc(size_t) { return *g_mallocSlot = g_malloc, nullptr; }

void FailNextAllocation(HMODULE module)
{
    if (!(g_mallocSlot = ImportSlot(module, "msvcrt.dll", "malloc"))) return ADD_FAILURE() << "the module imports no malloc";
    g_malloc = std::exchange(*g_mallocSlot, reinterpret_cast<void*>(&FailingMalloc));
}

// The activation contexts the module put in force and had not released when
// it was freed (one per load). No call lists a process's contexts, so the
// module's imports of ActivateActCtx and ReleaseActCtx lead through these.
long g_liveActCtx = 0;
HANDLE g_moduleActCtx = nullptr;
decltype(&ActivateActCtx) g_activate = nullptr;
decltype(&ReleaseActCtx) g_release = nullptr;
extern "C" BOOL WINAPI CountingActivate(HANDLE ctx, ULONG_PTR* cookie)
{
    if (ctx != g_moduleActCtx) g_moduleActCtx = ctx, ++g_liveActCtx;
    return g_activate(ctx, cookie);
}
extern "C" void WINAPI CountingRelease(HANDLE ctx)
{
    if (ctx == g_moduleActCtx) g_moduleActCtx = nullptr, --g_liveActCtx;
    g_release(ctx);
}

void CountActivationContexts(HMODULE module)
{
    void** activate = ImportSlot(module, "kernel32.dll", "ActivateActCtx");
    void** release = ImportSlot(module, "kernel32.dll", "ReleaseActCtx");
    if (!activate || !release) return ADD_FAILURE() << "the module imports no ActivateActCtx or ReleaseActCtx";
    g_activate = reinterpret_cast<decltype(g_activate)>(std::exchange(*activate, reinterpret_cast<void*>(&CountingActivate)));
    g_release = reinterpret_cast<decltype(g_release)>(std::exchange(*release, reinterpret_cast<void*>(&CountingRelease)));
}

TEST_P(ModuleCycles, LeaveTlsHandlesMemoryAndActivationContextsFlat)
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
    g_liveActCtx = 0;
    const auto before = bkfigures::ProcessFigures::Now();
    ASSERT_EQ(run(c.requests), c.requests);
    const bkfigures::Growth growth = bkfigures::ProcessFigures::Now() - before;

    // Bounded by a small constant, whatever the count: before the runtime's own
    // objects were released at unload, every cycle took one TLS index, two
    // handles and several KiB.
    EXPECT_LE(growth.tlsIndices, 0);
    EXPECT_LE(growth.handles, 8);
    EXPECT_LE(growth.committedBytes, 512 * 1024);
    EXPECT_LE(growth.heapBytes, 256 * 1024);   // a context left behind holds KiB; Wine 10 keeps ~60 bytes a load
    EXPECT_LE(g_liveActCtx, 0);
    EXPECT_TRUE(FileExists(folder.FileFor(dsn)));
}

INSTANTIATE_TEST_SUITE_P(
    Requests, ModuleCycles,
    ::testing::Values(
        CycleCase{"LoadConfigDsnFree", 2000,
                  [](const std::string& dsn) {
                      SetupModule module;
                      CountActivationContexts(module.handle());
                      return module.ConfigDSN(ODBC_ADD_DSN, {"DSN=" + dsn, "DBQ=C:\\Data", "DatabaseType=1"});
                  }},
        // Out of memory, caught at the export: the runtime's exception handling
        // takes a TLS index of its own then. The same load goes on working.
        CycleCase{"OutOfMemoryCaughtInside", 500,
                  [](const std::string& dsn) {
                      SetupModule module;
                      CountActivationContexts(module.handle());
                      FailNextAllocation(module.handle());
                      return module.ConfigDSN(ODBC_ADD_DSN, {"DSN=" + dsn}) == FALSE &&
                             module.ConfigDSN(ODBC_ADD_DSN, {"DSN=" + dsn, "DBQ=C:\\Data"});
                  }},
        CycleCase{"ThroughTheInstaller", 500,
                  [](const std::string& dsn) {
                      return SQLConfigDataSource(nullptr, ODBC_ADD_DSN, kDriver,
                                                 AttributeList({"DSN=" + dsn, "DBQ=C:\\Data"}).c_str());
                  }}),
    [](const ::testing::TestParamInfo<CycleCase>& info) { return std::string(info.param.name); });

} // namespace
