// The built module as a binary and as a guest in its caller's thread: its
// export and import tables, COM on the loading thread, and the caller's
// activation context around a call.
#include "InstallerUnderTest.h"
#include "ReadBack.h"
#include "afx/Handles.h"

#include <gtest/gtest.h>
#include <objbase.h>
#include <odbcinst.h>
#include <winver.h>
#include <imagehlp.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <memory>
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

// A structure of an image at `p`, which need not be aligned for it.
template <typename T> T ReadAt(const char* p) { T value; std::memcpy(&value, p, sizeof value); return value; }

// Reads the export, import and delay-import tables and the sections of an
// image of this program's own bitness, mapped as a file through imagehlp.
PeTables ReadPeTables(const std::string& path)
{
    LOADED_IMAGE image = {};
    if (!MapAndLoad(const_cast<char*>(path.c_str()), nullptr, &image, TRUE, TRUE))
        throw std::runtime_error("cannot map " + path);
    const std::unique_ptr<LOADED_IMAGE, BOOL(WINAPI*)(PLOADED_IMAGE)> mapped(&image, UnMapAndLoad);
    const auto at = [&](uint32_t rva) {
        if (void* p = ImageRvaToVa(image.FileHeader, image.MappedAddress, rva, nullptr))
            return static_cast<const char*>(p);
        throw std::runtime_error("address outside every section");
    };
    const auto u32 = [&](uint32_t rva) { return ReadAt<uint32_t>(at(rva)); };
    const auto entry = [&](uint32_t rva) { return ReadAt<ULONG_PTR>(at(rva)); };
    const IMAGE_OPTIONAL_HEADER& header = image.FileHeader->OptionalHeader;
    const auto directory = [&](DWORD which) -> uint32_t {
        return which < header.NumberOfRvaAndSizes ? header.DataDirectory[which].VirtualAddress : 0;
    };
    const auto lower = [](std::string text) {
        for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return text;
    };

    PeTables tables;
    tables.pe64 = sizeof(void*) == 8;
    tables.imageBase = header.ImageBase;
    for (ULONG i = 0; i < image.NumberOfSections; ++i) {
        const IMAGE_SECTION_HEADER& s = image.Sections[i];
        const size_t raw = std::min(s.SizeOfRawData, s.Misc.VirtualSize);
        const char* name = reinterpret_cast<const char*>(s.Name);
        tables.sections.push_back({std::string(name, strnlen(name, 8)), s.VirtualAddress,
                                   std::max(s.SizeOfRawData, s.Misc.VirtualSize), s.Characteristics,
                                   std::string(reinterpret_cast<const char*>(image.MappedAddress) +
                                                   s.PointerToRawData, raw)});
    }
    if (const uint32_t rva = directory(IMAGE_DIRECTORY_ENTRY_EXPORT)) {
        const auto dir = ReadAt<IMAGE_EXPORT_DIRECTORY>(at(rva));
        tables.exportedFunctions = dir.NumberOfFunctions;
        for (uint32_t i = 0; i < dir.NumberOfNames; ++i) {
            tables.exportNames.push_back(at(u32(dir.AddressOfNames + 4 * i)));
            tables.exportOrdinals.push_back(dir.Base +
                                            ReadAt<uint16_t>(at(dir.AddressOfNameOrdinals + 2 * i)));
        }
    }
    if (const uint32_t rva = directory(IMAGE_DIRECTORY_ENTRY_IMPORT)) {
        for (uint32_t d = rva; ReadAt<IMAGE_IMPORT_DESCRIPTOR>(at(d)).Name; d += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
            const auto dll = ReadAt<IMAGE_IMPORT_DESCRIPTOR>(at(d));
            auto& names = tables.imports[lower(at(dll.Name))];
            for (uint32_t t = dll.OriginalFirstThunk ? dll.OriginalFirstThunk : dll.FirstThunk; entry(t);
                 t += sizeof(ULONG_PTR))
                names.push_back(IMAGE_SNAP_BY_ORDINAL(entry(t)) ? "#" + std::to_string(entry(t) & 0xFFFF)
                                                                : at(static_cast<uint32_t>(entry(t)) + 2));
        }
    }
    // Delay-import descriptors, with addresses relative to the image. Where
    // the linker did not fill the directory for them (binutils with dlltool's
    // delay-import libraries), they are found by their shape: relative
    // addresses only, a DLL's name, and both tables inside the image.
    using Delay = IMAGE_DELAYLOAD_DESCRIPTOR;
    const auto inImage = [&](uint32_t rva) { return rva && tables.SectionOf(rva); };
    const auto isDescriptor = [&](const Delay& d) {
        if (d.Attributes.AllAttributes != 1 || !inImage(d.DllNameRVA) || !inImage(d.ImportAddressTableRVA) ||
            !inImage(d.ImportNameTableRVA))
            return false;
        const std::string dll = lower(at(d.DllNameRVA));
        return dll.size() > 4 && dll.compare(dll.size() - 4, 4, ".dll") == 0;
    };
    std::vector<Delay> descriptors;
    if (const uint32_t rva = directory(IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT)) {
        for (uint32_t d = rva; ReadAt<Delay>(at(d)).DllNameRVA; d += sizeof(Delay))
            descriptors.push_back(ReadAt<Delay>(at(d)));
    } else {
        for (const PeSection& s : tables.sections)
            for (size_t offset = 0; offset + sizeof(Delay) <= s.bytes.size(); offset += 4)
                if (isDescriptor(ReadAt<Delay>(s.bytes.data() + offset)))
                    descriptors.push_back(ReadAt<Delay>(s.bytes.data() + offset));
    }
    for (const Delay& d : descriptors)
        for (uint32_t n = 0; entry(d.ImportNameTableRVA + n * sizeof(ULONG_PTR)); ++n)
            tables.delayImportSlots.push_back(d.ImportAddressTableRVA + n * static_cast<uint32_t>(sizeof(ULONG_PTR)));
    return tables;
}

// Both setup functions by their plain names (no stdcall decoration) at
// fixed ordinals, nothing else.
TEST(Module, ExportsConfigDsnAndConfigDsnWUndecoratedAtOrdinalsOneAndTwoAndImportsOnlySystemDllsAndBkCommon)
{
    const auto image = ReadFileBytes(ProgramDir() + "\\bkODBCsu.dll");
    ASSERT_TRUE(image);
    const PeTables pe = ReadPeTables(ProgramDir() + "\\bkODBCsu.dll");
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
    EXPECT_LE(image->size(), size_t{BKTEST_MODULE_SIZE_LIMIT});
    const auto dos = ReadAt<IMAGE_DOS_HEADER>(image->data());
    const auto file = ReadAt<IMAGE_FILE_HEADER>(image->data() + dos.e_lfanew + sizeof(DWORD));   // after "PE\0\0"
    EXPECT_EQ(file.PointerToSymbolTable, 0u) << "not stripped";
    const PeTables pe = ReadPeTables(ProgramDir() + "\\bkODBCsu.dll");
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
    const PeTables pe = ReadPeTables(ProgramDir() + "\\bkODBCsu.dll");
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
        module.ConfigDSN(ODBC_ADD_DSN, {"DSN=" + name, "DBQ=C:\\Data"});
        HANDLE current = nullptr;
        ASSERT_TRUE(GetCurrentActCtx(&current));
        afx::UniqueActCtx held(current);
        EXPECT_EQ(current, callers.get()) << name;
    }
    // The key names come from the module's string table.
    EXPECT_EQ(ReadEntry(dsn).keys, (std::map<std::string, std::string>{{"DBQ", "C:\\Data"}}));
}

} // namespace
