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
#include "common/ComServer.h"
#include "common/EventLog.h"
#include "Components.h"

#include <objbase.h>
#include <oleauto.h>

#include <string>

namespace {

#define BK_PATHS_STANDIN_CLSID L"{3F5A34F9-983C-4323-A49E-63C63A8DF91D}"
#define BK_PATHS_PROGID L"Vexa.KVL.Core.Paths.9.5"
const CLSID kClsid = {0x3F5A34F9, 0x983C, 0x4323, {0xA4, 0x9E, 0x63, 0xC6, 0x3A, 0x8D, 0xF9, 0x1D}};

std::string Narrow(const wchar_t* text)
{
    if (!text) return "(null)";
    const int bytes = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, &out[0], bytes, nullptr, nullptr);
    out.resize(static_cast<size_t>(bytes > 0 ? bytes - 1 : 0));
    return out;
}

using standin::AppendEvent;

class Paths final : public standin::ComObject<Paths, IPaths, kIID_Paths> {
public:
    Paths() { AppendEvent("paths|create"); }
    ~Paths() { AppendEvent("paths|release"); }

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
};

standin::ClassFactory<Paths> g_factory;
const standin::Registration g_registration(BK_PATHS_PROGID, BK_PATHS_STANDIN_CLSID,
                                           L"Paths component stand-in");

} // namespace

BK_STANDIN_COM_SERVER_ENTRIES(kClsid, g_factory, g_registration)
