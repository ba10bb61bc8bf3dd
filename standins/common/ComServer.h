// What every stand-in in-process COM server of one class has in common: the
// module's object and lock counts, the object's reference counting, a class
// factory, and the machine-wide registration. Each server keeps its own
// exported Dll* entry points and forwards them here.
#pragma once

#include "Registry.h"

#include <objbase.h>

#include <new>
#include <string>

namespace standin {

// The server module and what keeps it loaded (one copy per server DLL).
inline HMODULE g_module = nullptr;
inline LONG g_objects = 0;
inline LONG g_locks = 0;

// To be called from DllMain on DLL_PROCESS_ATTACH.
inline void AttachModule(HINSTANCE module)
{
    g_module = module;
    DisableThreadLibraryCalls(module);
}

// IUnknown for an object of class Derived that implements Interface (whose
// IID is Iid): counted references, and a count of live objects for
// DllCanUnloadNow. Adds no virtual function of its own, so Interface's
// function table stays as it is.
template <typename Derived, typename Interface, const IID& Iid>
class ComObject : public Interface {
public:
    ComObject() { InterlockedIncrement(&g_objects); }
    ~ComObject() { InterlockedDecrement(&g_objects); }
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, Iid)) {
            *out = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&m_refs); }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG refs = InterlockedDecrement(&m_refs);
        if (refs == 0) delete static_cast<Derived*>(this);
        return refs;
    }

private:
    LONG m_refs = 1;
};

// The factory of Object; meant as a static object that lives as long as the module.
template <typename Object>
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
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        afx::ComPtr<Object> object;
        *object.put() = new (std::nothrow) Object;
        if (!object) return E_OUTOFMEMORY;
        return object->QueryInterface(iid, out);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock) InterlockedIncrement(&g_locks);
        else InterlockedDecrement(&g_locks);
        return S_OK;
    }
};

// DllGetClassObject of a server whose one class is `own`, made by `factory`.
inline HRESULT GetClassObject(REFCLSID clsid, REFCLSID own, IClassFactory& factory, REFIID iid,
                              void** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!IsEqualCLSID(clsid, own)) return CLASS_E_CLASSNOTAVAILABLE;
    return factory.QueryInterface(iid, out);
}

inline HRESULT CanUnloadNow()
{
    return g_objects == 0 && g_locks == 0 ? S_OK : S_FALSE;
}

// The registration of one class (its CLSID as text, "{...}") under a ProgID.
// Machine-wide: Wine does not read the per-user classes.
class Registration {
public:
    Registration(const wchar_t* progId, const wchar_t* clsid, const wchar_t* description)
        : m_progId(progId), m_clsid(clsid), m_description(description),
          m_clsidKey(std::wstring(L"Software\\Classes\\CLSID\\") + clsid),
          m_progIdKey(std::wstring(L"Software\\Classes\\") + progId) {}

    // DllRegisterServer: an apartment-threaded in-process server, this module.
    HRESULT Register() const {
        wchar_t path[MAX_PATH] = {};
        GetModuleFileNameW(g_module, path, MAX_PATH);
        const bool ok = SetString(m_progIdKey + L"\\CLSID", nullptr, m_clsid) &&
                        SetString(m_clsidKey, nullptr, m_description) &&
                        SetString(m_clsidKey + L"\\ProgID", nullptr, m_progId) &&
                        SetString(m_clsidKey + L"\\InprocServer32", nullptr, path) &&
                        SetString(m_clsidKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment");
        return ok ? S_OK : E_ACCESSDENIED;
    }

    // DllUnregisterServer.
    HRESULT Unregister() const {
        reg::DeleteTree(HKEY_LOCAL_MACHINE, m_clsidKey);
        reg::DeleteTree(HKEY_LOCAL_MACHINE, m_progIdKey);
        return S_OK;
    }

private:
    static bool SetString(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
        return reg::SetString(HKEY_LOCAL_MACHINE, key, name, value);
    }

    std::wstring m_progId, m_clsid, m_description, m_clsidKey, m_progIdKey;
};

} // namespace standin

// The module's entry points of a server of one class (CLSID `clsid`), made by
// `factory` (a standin::ClassFactory) and registered by `registration` (a
// standin::Registration). Expands to extern "C" definitions; the .def file
// exports them.
#define BK_STANDIN_COM_SERVER_ENTRIES(clsid, factory, registration)                            \
    extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID)                     \
    {                                                                                          \
        if (reason == DLL_PROCESS_ATTACH) standin::AttachModule(module);                       \
        return TRUE;                                                                           \
    }                                                                                          \
    STDAPI DllGetClassObject(REFCLSID wanted, REFIID iid, void** out)                          \
    {                                                                                          \
        return standin::GetClassObject(wanted, clsid, factory, iid, out);                      \
    }                                                                                          \
    STDAPI DllCanUnloadNow(void) { return standin::CanUnloadNow(); }                           \
    STDAPI DllRegisterServer(void) { return (registration).Register(); }                       \
    STDAPI DllUnregisterServer(void) { return (registration).Unregister(); }
