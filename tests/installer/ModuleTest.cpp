// The built module as a binary and as a guest in its caller's thread: its
// export and import tables, COM on the loading thread, and the caller's
// activation context around a call.
#include "InstallerUnderTest.h"
#include "ReadBack.h"
#include "afx/Handles.h"

#include <gtest/gtest.h>
#include <objbase.h>
#include <winver.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <optional>
#include <thread>

using namespace bktest;

namespace {

struct PeSection {
    std::string name;
    uint32_t address, size, characteristics;
    std::string bytes;   // the raw data
    bool Holds(uint64_t rva) const { return rva >= address && rva < address + size; }
};

struct PeTables {
    uint32_t exportedFunctions = 0;
    std::vector<std::string> exportNames;
    std::vector<uint32_t> exportOrdinals;   // by name, as the names
    std::map<std::string, std::vector<std::string>> imports;   // lower-case DLL -> names
    std::vector<PeSection> sections;
    uint64_t imageBase = 0;
    bool pe64 = false;
    std::vector<uint32_t> delayImportSlots;   // of the linker's delay-import tables
    const PeSection* SectionOf(uint64_t rva) const {
        for (const PeSection& section : sections)
            if (section.Holds(rva)) return &section;
        return nullptr;
    }
};

// Reads the export, import and delay-import tables and the sections from the
// file's bytes, for 32- and 64-bit images alike.
PeTables ReadPeTables(const std::string& image)
{
    const auto bytes = [&](size_t offset, size_t size) {
        if (offset + size > image.size()) throw std::runtime_error("truncated image");
        return image.data() + offset;
    };
    const auto u16 = [&](size_t o) { uint16_t v; std::memcpy(&v, bytes(o, 2), 2); return v; };
    const auto u32 = [&](size_t o) { uint32_t v; std::memcpy(&v, bytes(o, 4), 4); return v; };
    const auto u64 = [&](size_t o) { uint64_t v; std::memcpy(&v, bytes(o, 8), 8); return v; };

    const size_t header = u32(0x3C);
    if (u32(header) != 0x4550) throw std::runtime_error("no PE signature");
    const size_t sections = u16(header + 6), optional = header + 24;
    const bool pe64 = u16(optional) == 0x20B;
    const size_t directories = optional + (pe64 ? 112 : 96);
    const size_t sectionTable = optional + u16(header + 20);
    const auto offsetOf = [&](uint32_t rva) -> size_t {
        for (size_t i = 0; i < sections; ++i) {
            const size_t s = sectionTable + 40 * i;
            const uint32_t address = u32(s + 12), size = std::max(u32(s + 8), u32(s + 16));
            if (rva >= address && rva < address + size) return u32(s + 20) + (rva - address);
        }
        throw std::runtime_error("address outside every section");
    };
    const auto text = [&](uint32_t rva) { return std::string(bytes(offsetOf(rva), 1)); };

    PeTables tables;
    tables.pe64 = pe64;
    tables.imageBase = pe64 ? u64(optional + 24) : u32(optional + 28);
    for (size_t i = 0; i < sections; ++i) {
        const size_t s = sectionTable + 40 * i;
        const size_t raw = std::min(u32(s + 8), u32(s + 16));
        tables.sections.push_back({std::string(bytes(s, 8), strnlen(bytes(s, 8), 8)), u32(s + 12),
                                   std::max(u32(s + 8), u32(s + 16)), u32(s + 36),
                                   std::string(bytes(u32(s + 20), raw), raw)});
    }
    if (const uint32_t rva = u32(directories)) {
        const size_t dir = offsetOf(rva);
        tables.exportedFunctions = u32(dir + 20);
        const size_t names = offsetOf(u32(dir + 32));
        for (uint32_t i = 0; i < u32(dir + 24); ++i) tables.exportNames.push_back(text(u32(names + 4 * i)));
        const size_t ordinals = offsetOf(u32(dir + 36));
        for (uint32_t i = 0; i < u32(dir + 24); ++i)
            tables.exportOrdinals.push_back(u32(dir + 16) + u16(ordinals + 2 * i));
    }
    if (const uint32_t rva = u32(directories + 8)) {
        for (size_t d = offsetOf(rva); u32(d + 12); d += 20) {
            std::string dll = text(u32(d + 12));
            for (char& c : dll) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            auto& names = tables.imports[dll];
            for (size_t t = offsetOf(u32(d) ? u32(d) : u32(d + 16));; t += pe64 ? 8 : 4) {
                const uint64_t entry = pe64 ? u64(t) : u32(t);
                if (!entry) break;
                const bool byOrdinal = entry >> (pe64 ? 63 : 31);
                names.push_back(byOrdinal ? "#" + std::to_string(entry & 0xFFFF)
                                          : text(static_cast<uint32_t>(entry) + 2));
            }
        }
    }
    // Delay-import descriptors: 32 bytes each, the slots at +12, the names at
    // +16, relative to the image. Where the linker did not fill the directory
    // for them (binutils with dlltool's delay-import libraries), they are
    // found by their shape: attributes 1, a DLL's name, and both tables inside
    // the image.
    const auto inImage = [&](uint32_t rva) {
        return std::any_of(tables.sections.begin(), tables.sections.end(),
                           [&](const PeSection& s) { return rva && s.Holds(rva); });
    };
    const auto isDescriptor = [&](size_t d) {
        if (u32(d) != 1 || !inImage(u32(d + 4)) || !inImage(u32(d + 12)) || !inImage(u32(d + 16)))
            return false;
        std::string dll = text(u32(d + 4));
        for (char& c : dll) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return dll.size() > 4 && dll.compare(dll.size() - 4, 4, ".dll") == 0;
    };
    std::vector<size_t> descriptors;
    if (const uint32_t rva = u32(directories + 13 * 8)) {
        for (size_t d = offsetOf(rva); u32(d + 4); d += 32) descriptors.push_back(d);
    } else {
        for (size_t i = 0; i < sections; ++i) {
            const size_t s = sectionTable + 40 * i, raw = std::min(u32(s + 8), u32(s + 16));
            for (size_t at = 0; at + 32 <= raw; at += 4)
                if (isDescriptor(u32(s + 20) + at)) descriptors.push_back(u32(s + 20) + at);
        }
    }
    const uint32_t step = pe64 ? 8 : 4;
    for (size_t d : descriptors) {
        for (uint32_t n = 0;; ++n) {
            const size_t name = offsetOf(u32(d + 16)) + n * step;
            if (!(pe64 ? u64(name) : u32(name))) break;
            tables.delayImportSlots.push_back(u32(d + 12) + n * step);
        }
    }
    return tables;
}

// Both setup functions by their plain names (no stdcall decoration) at
// fixed ordinals, nothing else.
TEST(Module, ExportsConfigDsnAndConfigDsnWUndecoratedAtOrdinalsOneAndTwoAndImportsOnlySystemDllsAndBkCommon)
{
    const auto image = ReadFileBytes(ProgramDir() + "\\bkODBCsu.dll");
    ASSERT_TRUE(image);
    const PeTables pe = ReadPeTables(*image);
    EXPECT_EQ(pe.exportedFunctions, 2u);
    EXPECT_EQ(pe.exportNames, (std::vector<std::string>{"ConfigDSN", "ConfigDSNW"}));
    EXPECT_EQ(pe.exportOrdinals, (std::vector<uint32_t>{1, 2}));

    ASSERT_EQ(pe.imports.count("bkcommon.dll"), 1u);
    EXPECT_EQ(pe.imports.at("bkcommon.dll"), std::vector<std::string>{"xs_logout"});
    char system[MAX_PATH] = {};
    GetSystemDirectoryA(system, MAX_PATH);
    for (const auto& [dll, names] : pe.imports) {
        if (dll == "bkcommon.dll") continue;
        EXPECT_NE(dll.rfind("lib", 0), 0u) << dll;   // libstdc++, libgcc, libwinpthread
        EXPECT_TRUE(FileExists(std::string(system) + "\\" + dll)) << dll << " is no system DLL";
    }
}

// Windows Installer decides by the version resource whether a repair or an
// upgrade replaces the file; it must be the build's one version throughout.
TEST(Module, CarriesAVersionResourceWithTheBuildsVersion)
{
    const std::string path = ProgramDir() + "\\bkODBCsu.dll";
    DWORD ignored = 0;
    std::vector<char> info(GetFileVersionInfoSizeA(path.c_str(), &ignored));
    ASSERT_FALSE(info.empty()) << "no version resource";
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, static_cast<DWORD>(info.size()), info.data()));

    unsigned major = 0, minor = 0, patch = 0;
    ASSERT_EQ(std::sscanf(BKTEST_MODULE_VERSION, "%u.%u.%u", &major, &minor, &patch), 3);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT size = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &size));
    ASSERT_GE(size, sizeof *fixed);
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    for (const DWORD ms : {fixed->dwFileVersionMS, fixed->dwProductVersionMS})
        EXPECT_EQ(ms, MAKELONG(minor, major));
    for (const DWORD ls : {fixed->dwFileVersionLS, fixed->dwProductVersionLS})
        EXPECT_EQ(ls, MAKELONG(0, patch));
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));

    const auto text = [&](const char* name) {
        char* value = nullptr;
        UINT length = 0;
        const std::string query = std::string("\\StringFileInfo\\040904B0\\") + name;
        return VerQueryValueA(info.data(), query.c_str(), reinterpret_cast<void**>(&value), &length) && value
                   ? std::string(value)
                   : std::string("(none)");
    };
    const std::string version = std::string(BKTEST_MODULE_VERSION) + ".0";
    EXPECT_EQ(text("FileVersion"), version);
    EXPECT_EQ(text("ProductVersion"), version);
    EXPECT_EQ(text("OriginalFilename"), "bkODBCsu.dll");
    EXPECT_EQ(text("ProductName"), "Brennick Data ODBC Driver");
    EXPECT_NE(text("FileDescription"), "(none)");
}

// The installer loads and frees the module for every request: the image stays
// small (runtimes static, stripped), and loads none of the shell or OLE
// Automation, which only the dialog and Help use (bound on first use).
TEST(Module, IsSmallStrippedAndLoadsNoShellWithItself)
{
    const auto image = ReadFileBytes(ProgramDir() + "\\bkODBCsu.dll");
    ASSERT_TRUE(image);
    const size_t limit = sizeof(void*) == 8 ? 300 * 1000 : 250 * 1000;
    EXPECT_LE(image->size(), limit);
    uint32_t header = 0, symbolTable = 0;
    std::memcpy(&header, image->data() + 0x3C, 4);
    std::memcpy(&symbolTable, image->data() + header + 12, 4);
    EXPECT_EQ(symbolTable, 0u) << "not stripped";
    const PeTables pe = ReadPeTables(*image);
    for (const char* dll : {"shell32.dll", "shlwapi.dll", "oleaut32.dll", "comctl32.dll"})
        EXPECT_EQ(pe.imports.count(dll), 0u) << dll;
}

// A delay-loaded function is bound by a store into its slot on its first call,
// and the resolver changes no protection: every slot must lie in a writable
// section, whatever flags a linker version gives the section it puts them in
// (binutils 2.44 makes a 64-bit .idata read-only, and the store faults). The
// module's own slots sit in .bkdl, each holding its first-call stub until then.
TEST(Module, DelayImportSlotsLieInWritableSections)
{
    const auto image = ReadFileBytes(ProgramDir() + "\\bkODBCsu.dll");
    ASSERT_TRUE(image);
    const PeTables pe = ReadPeTables(*image);
    const auto writable = [](const PeSection* s) { return s && s->characteristics & IMAGE_SCN_MEM_WRITE; };
    for (uint32_t slot : pe.delayImportSlots)
        EXPECT_TRUE(writable(pe.SectionOf(slot)))
            << "delay-import slot at " << std::hex << slot << " in "
            << (pe.SectionOf(slot) ? pe.SectionOf(slot)->name : "no section");

    const auto own = std::find_if(pe.sections.begin(), pe.sections.end(),
                                  [](const PeSection& s) { return s.name == ".bkdl"; });
    ASSERT_NE(own, pe.sections.end()) << "no section of the module's own delay-import slots";
    EXPECT_TRUE(writable(&*own));
    const size_t step = pe.pe64 ? 8 : 4;
    EXPECT_GE(own->bytes.size() / step, 4u);   // the shell, shlwapi, OLE Automation, controls
    for (size_t at = 0; at + step <= own->bytes.size(); at += step) {
        uint64_t target = 0;
        std::memcpy(&target, own->bytes.data() + at, step);
        const PeSection* stub = pe.SectionOf(target - pe.imageBase);
        EXPECT_TRUE(stub && stub->characteristics & IMAGE_SCN_MEM_EXECUTE)
            << "slot " << at / step << " does not start at a stub";
    }
}

// Each case runs on a thread of its own, which starts without COM.
TEST(Module, LoadAndUnloadInitialiseAndUninitialiseComOnceEach)
{
    HRESULT afterLoad = E_FAIL, afterUnload = E_FAIL, stillJoined = E_FAIL, balanced = E_FAIL;
    std::thread([&] {
        {
            SetupModule module;
            afterLoad = CoInitialize(nullptr);   // the module's apartment is there
            CoUninitialize();
        }
        afterUnload = CoInitialize(nullptr);     // and gone again
        { SetupModule module; }                  // a thread already in an apartment stays in
        stillJoined = CoInitialize(nullptr);
        CoUninitialize();
        CoUninitialize();
        // The module's S_FALSE took a reference too, and gave it back.
        balanced = CoInitialize(nullptr);
        CoUninitialize();
    }).join();
    EXPECT_EQ(afterLoad, S_FALSE);
    EXPECT_EQ(afterUnload, S_OK);
    EXPECT_EQ(stillJoined, S_FALSE);
    EXPECT_EQ(balanced, S_OK);
}

TEST(Module, UnloadOnAnotherThreadLeavesThatThreadsApartment)
{
    std::optional<SetupModule> module;
    std::thread([&] { module.emplace(); }).join();
    HRESULT afterUnload = E_FAIL;
    std::thread([&] {
        CoInitialize(nullptr);
        module.reset();
        afterUnload = CoInitialize(nullptr);   // still joined: the module never was here
        CoUninitialize();
        CoUninitialize();
    }).join();
    EXPECT_EQ(afterUnload, S_FALSE);
}

TEST(Module, UnloadLeavesTheCallersMultithreadedApartment)
{
    HRESULT joined = E_FAIL, afterUnload = E_FAIL;
    std::thread([&] {
        joined = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        { SetupModule module; }
        afterUnload = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        if (SUCCEEDED(afterUnload)) CoUninitialize();
        if (SUCCEEDED(joined)) CoUninitialize();
    }).join();
    ASSERT_EQ(joined, S_OK);
    EXPECT_EQ(afterUnload, S_FALSE);
}

class ModuleCall : public DataSourceTest {};

TEST_F(ModuleCall, RunsWithTheModulesResourcesAndGivesTheCallersContextBack)
{
    SetupModule module;
    // A context of the caller's own: made from the same manifest, but distinct
    // from the module's.
    ACTCTXW request = {};
    request.cbSize = sizeof request;
    request.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
    request.hModule = module.handle();
    request.lpResourceName = MAKEINTRESOURCEW(2);
    afx::UniqueActCtx callers(CreateActCtxW(&request));
    ASSERT_TRUE(callers);
    afx::ActCtxActivation active(callers.get());

    const std::string dsn = Use("bkTContext");
    for (const std::string& name : {dsn, Use("1bkT")}) {   // the way out by success and by refusal
        module.ConfigDSN(1, {"DSN=" + name, "DBQ=C:\\Data"});
        HANDLE current = nullptr;
        ASSERT_TRUE(GetCurrentActCtx(&current));
        afx::UniqueActCtx held(current);
        EXPECT_EQ(current, callers.get()) << name;
    }
    // The key names come from the module's string table.
    EXPECT_EQ(ReadEntry(dsn).keys, (std::map<std::string, std::string>{{"DBQ", "C:\\Data"}}));
}

} // namespace
