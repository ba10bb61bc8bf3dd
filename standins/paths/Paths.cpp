// Stand-in for the product family's paths component, for tests and the demo:
// an apartment-threaded in-process server of one class whose interface has
// ResolvePath at entry 29 (QueryInterface counting as 0). It answers as the
// environment variable BKTEST_PATHS_ANSWER scripts it, read at every call:
//   path:<text>   S_OK and <text> (also when the variable is not set: "path:")
//   null          S_OK and no string at all
//   fail          E_FAIL and no string
// and appends what happens to the file that BKTEST_EVENT_LOG names:
//   paths|create, paths|resolve|<logical path>|<output preset to null: 1 or 0>,
//   paths|release (the last reference went).
#include <objbase.h>
#include <oleauto.h>

#include <new>
#include <string>

namespace {

#define BK_PATHS_STANDIN_CLSID L"{3F5A34F9-983C-4323-A49E-63C63A8DF91D}"
#define BK_PATHS_PROGID L"Vexa.KVL.Core.Paths.9.5"
const CLSID kClsid = {0x3F5A34F9, 0x983C, 0x4323, {0xA4, 0x9E, 0x63, 0xC6, 0x3A, 0x8D, 0xF9, 0x1D}};
const IID kIid = {0x20D47130, 0x8A26, 0x4535, {0xB3, 0x28, 0x71, 0xFF, 0x42, 0xAE, 0xAB, 0x7F}};

HMODULE g_module = nullptr;
LONG g_objects = 0;
LONG g_locks = 0;

std::string Narrow(const wchar_t* text)
{
    if (!text) return "(null)";
    const int bytes = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, &out[0], bytes, nullptr, nullptr);
    out.resize(static_cast<size_t>(bytes > 0 ? bytes - 1 : 0));
    return out;
}

void AppendEvent(const std::string& line)
{
    char log[MAX_PATH] = {};
    if (!GetEnvironmentVariableA("BKTEST_EVENT_LOG", log, MAX_PATH)) return;
    HANDLE file = CreateFileA(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    const std::string text = line + "\n";
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

#define BK_RESERVED(n) \
    virtual HRESULT STDMETHODCALLTYPE Reserved##n() { return E_NOTIMPL; }

// The paths interface as far as its function table goes: IUnknown, 26 entries
// nobody calls here, then ResolvePath at entry 29. No virtual destructor: it
// would take a place in the table.
struct IPaths : public IUnknown {
    BK_RESERVED(3) BK_RESERVED(4) BK_RESERVED(5) BK_RESERVED(6) BK_RESERVED(7) BK_RESERVED(8)
    BK_RESERVED(9) BK_RESERVED(10) BK_RESERVED(11) BK_RESERVED(12) BK_RESERVED(13)
    BK_RESERVED(14) BK_RESERVED(15) BK_RESERVED(16) BK_RESERVED(17) BK_RESERVED(18)
    BK_RESERVED(19) BK_RESERVED(20) BK_RESERVED(21) BK_RESERVED(22) BK_RESERVED(23)
    BK_RESERVED(24) BK_RESERVED(25) BK_RESERVED(26) BK_RESERVED(27) BK_RESERVED(28)
    virtual HRESULT STDMETHODCALLTYPE ResolvePath(BSTR logicalPath, BSTR* resolved) = 0;
};

class Paths final : public IPaths {
public:
    Paths() { InterlockedIncrement(&g_objects); AppendEvent("paths|create"); }
    ~Paths() { AppendEvent("paths|release"); InterlockedDecrement(&g_objects); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, kIid)) {
            *out = static_cast<IPaths*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&m_refs); }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG refs = InterlockedDecrement(&m_refs);
        if (refs == 0) delete this;
        return refs;
    }

    HRESULT STDMETHODCALLTYPE ResolvePath(BSTR logicalPath, BSTR* resolved) override {
        if (!resolved) return E_POINTER;
        AppendEvent("paths|resolve|" + Narrow(logicalPath) + "|" + (*resolved ? "0" : "1"));
        wchar_t answer[1024] = L"path:";
        GetEnvironmentVariableW(L"BKTEST_PATHS_ANSWER", answer, 1024);
        const std::wstring script = answer;
        if (script == L"fail") return E_FAIL;
        if (script == L"null") return S_OK;
        if (script.compare(0, 5, L"path:") != 0) return E_INVALIDARG;
        *resolved = SysAllocString(script.c_str() + 5);
        return *resolved ? S_OK : E_OUTOFMEMORY;
    }

private:
    LONG m_refs = 1;
};

class ClassFactory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
            *out = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    // A static object: lives as long as the module.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        Paths* object = new (std::nothrow) Paths;
        if (!object) return E_OUTOFMEMORY;
        const HRESULT hr = object->QueryInterface(iid, out);
        object->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock) InterlockedIncrement(&g_locks);
        else InterlockedDecrement(&g_locks);
        return S_OK;
    }
};

ClassFactory g_factory;

const std::wstring kClsidKey = std::wstring(L"Software\\Classes\\CLSID\\") + BK_PATHS_STANDIN_CLSID;
const std::wstring kProgIdKey = std::wstring(L"Software\\Classes\\") + BK_PATHS_PROGID;

bool SetString(const std::wstring& key, const wchar_t* name, const std::wstring& value)
{
    HKEY handle = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        &handle, nullptr) != ERROR_SUCCESS)
        return false;
    const LONG rc = RegSetValueExW(handle, name, 0, REG_SZ,
                                   reinterpret_cast<const BYTE*>(value.c_str()),
                                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(handle);
    return rc == ERROR_SUCCESS;
}

} // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = module;
        DisableThreadLibraryCalls(module);
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!IsEqualCLSID(clsid, kClsid)) return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(iid, out);
}

STDAPI DllCanUnloadNow(void)
{
    return g_objects == 0 && g_locks == 0 ? S_OK : S_FALSE;
}

// Registers the class machine-wide (Wine does not read the per-user classes).
STDAPI DllRegisterServer(void)
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(g_module, path, MAX_PATH);
    const bool ok = SetString(kProgIdKey + L"\\CLSID", nullptr, BK_PATHS_STANDIN_CLSID) &&
                    SetString(kClsidKey, nullptr, L"Paths component stand-in") &&
                    SetString(kClsidKey + L"\\ProgID", nullptr, BK_PATHS_PROGID) &&
                    SetString(kClsidKey + L"\\InprocServer32", nullptr, path) &&
                    SetString(kClsidKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment");
    return ok ? S_OK : E_ACCESSDENIED;
}

STDAPI DllUnregisterServer(void)
{
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kClsidKey.c_str());
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kClsidKey.c_str());
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kProgIdKey.c_str());
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kProgIdKey.c_str());
    return S_OK;
}

} // extern "C"
