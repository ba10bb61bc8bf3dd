// The product family's COM components the module calls, as far as their
// function tables go (QueryInterface counting as entry 0): declared once, for
// the module and for the stand-ins that take the components' place in tests.
// Entries the module never calls only hold their places.
//
// Each interface must have external linkage, not an anonymous namespace: a
// class with internal linkage has all its derived classes in one file, and at
// -O2 GCC uses that to devirtualise calls on it; with no class in the
// module's file overriding the entry, the call would be dropped.
#pragma once

#include <objbase.h>
#include <oleauto.h>

#define BK_UNUSED(n) virtual HRESULT STDMETHODCALLTYPE Reserved##n() { return E_NOTIMPL; }

// The data-folder component: SelectDataFolder at entry 8.
const wchar_t kDataFolderProgId[] = L"bkDataFolderUI.DataFolder";
// {8B903E72-89F1-40C7-B30F-6A20E2C1A943}
const IID kIID_DataFolder = {0x8B903E72, 0x89F1, 0x40C7, {0xB3, 0x0F, 0x6A, 0x20, 0xE2, 0xC1, 0xA9, 0x43}};
struct IDataFolder : public IUnknown {
    BK_UNUSED(3) BK_UNUSED(4) BK_UNUSED(5) BK_UNUSED(6) BK_UNUSED(7)
    // owner: window handle as a 32-bit integer; mode: always -1; result:
    // preset to 0 by the caller, 1 when a folder was chosen; folder: in the
    // current folder, out the chosen one (the caller frees what it holds).
    virtual HRESULT STDMETHODCALLTYPE SelectDataFolder(LONG owner, LONG mode, LONG* result,
                                                       BSTR* folder) = 0;
};

// The paths component: ResolvePath at entry 29.
const wchar_t kPathsProgId[] = L"Vexa.KVL.Core.Paths.9.5";
// {20D47130-8A26-4535-B328-71FF42AEAB7F}
const IID kIID_Paths = {0x20D47130, 0x8A26, 0x4535, {0xB3, 0x28, 0x71, 0xFF, 0x42, 0xAE, 0xAB, 0x7F}};
struct IPaths : public IUnknown {
    BK_UNUSED(3) BK_UNUSED(4) BK_UNUSED(5) BK_UNUSED(6) BK_UNUSED(7) BK_UNUSED(8) BK_UNUSED(9)
    BK_UNUSED(10) BK_UNUSED(11) BK_UNUSED(12) BK_UNUSED(13) BK_UNUSED(14) BK_UNUSED(15)
    BK_UNUSED(16) BK_UNUSED(17) BK_UNUSED(18) BK_UNUSED(19) BK_UNUSED(20) BK_UNUSED(21)
    BK_UNUSED(22) BK_UNUSED(23) BK_UNUSED(24) BK_UNUSED(25) BK_UNUSED(26) BK_UNUSED(27)
    BK_UNUSED(28)
    // logicalPath: a bkPath:// name; resolved: out the file it names (the
    // caller frees it), or null.
    virtual HRESULT STDMETHODCALLTYPE ResolvePath(BSTR logicalPath, BSTR* resolved) = 0;
};

#undef BK_UNUSED
