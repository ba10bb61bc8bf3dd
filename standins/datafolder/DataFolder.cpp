// Stand-in for the product family's data-folder component, for tests and the
// demo. An apartment-threaded in-process server of one class whose interface
// has SelectDataFolder at entry 8. Once a test has scripted it (or reset it),
// it answers as scripted and records what it was given (and when the caller
// freed the answer, through a malloc spy); before that it
// answers from the environment (BK_DATAFOLDER_CHOICE: the folder to choose)
// or, without that, lets the user pick a folder in a plain shell browser.
#include "DataFolderStandin.h"

#include "common/BkCommonStandin.h"
#include "common/ComServer.h"
#include "Components.h"

#include <objbase.h>
#include <oleauto.h>
#include <shlobj.h>

#include <cwchar>
#include <string>

namespace {

// {EF28E9F7-3B38-4111-BDF4-9DC4CB66C4BC}
const CLSID kClsid = {0xEF28E9F7, 0x3B38, 0x4111, {0xBD, 0xF4, 0x9D, 0xC4, 0xCB, 0x66, 0xC4, 0xBC}};

struct Script {
    bool active = false;
    LONG result = 0;
    HRESULT status = S_OK;
    int folderMode = kLeaveFolder;
    bool folderNull = false;
    std::wstring folder;
};

Script g_script;
DataFolderStandinRecord g_record = {};
BSTR g_answer = nullptr;   // the string a scripted call handed out, until it is freed

// Sees the task allocator's frees, through which SysFreeString ends once the
// BSTR cache is off: the free of the answer notes the xs_logout count.
struct AnswerFreeSpy final : IMallocSpy {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        *out = IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IMallocSpy) ? this : nullptr;
        return *out ? S_OK : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    void* STDMETHODCALLTYPE PreFree(void* block, BOOL) override {
        // A BSTR's block begins with its length, just before the text.
        const UINT_PTR text = reinterpret_cast<UINT_PTR>(g_answer), start = reinterpret_cast<UINT_PTR>(block);
        if (g_answer && text > start && text - start <= 8) {
            g_record.logoutsAtAnswerFree = standin::LogoutCalls();
            g_answer = nullptr;
        }
        return block;
    }
    SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T size) override { return size; }
    void* STDMETHODCALLTYPE PostAlloc(void* block) override { return block; }
    void STDMETHODCALLTYPE PostFree(BOOL) override {}
    SIZE_T STDMETHODCALLTYPE PreRealloc(void* block, SIZE_T size, void** out, BOOL) override {
        *out = block;
        return size;
    }
    void* STDMETHODCALLTYPE PostRealloc(void* block, BOOL) override { return block; }
    void* STDMETHODCALLTYPE PreGetSize(void* block, BOOL) override { return block; }
    SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T size, BOOL) override { return size; }
    void* STDMETHODCALLTYPE PreDidAlloc(void* block, BOOL) override { return block; }
    int STDMETHODCALLTYPE PostDidAlloc(void*, BOOL, int actual) override { return actual; }
    void STDMETHODCALLTYPE PreHeapMinimize() override {}
    void STDMETHODCALLTYPE PostHeapMinimize() override {}
} g_answerFreeSpy;

// The demo's answer when no test scripts the stand-in.
LONG AnswerUnscripted(HWND owner, BSTR* folder)
{
    if (const wchar_t* choice = _wgetenv(L"BK_DATAFOLDER_CHOICE")) {
        SysFreeString(*folder);
        *folder = SysAllocString(choice);
        return 1;
    }
    BROWSEINFOW info = {};
    info.hwndOwner = owner;
    info.lpszTitle = L"Choose the accounting data folder";
    info.ulFlags = BIF_RETURNONLYFSDIRS;
    LPITEMIDLIST chosen = SHBrowseForFolderW(&info);
    if (!chosen) return 0;
    wchar_t path[MAX_PATH] = {};
    const BOOL ok = SHGetPathFromIDListW(chosen, path);
    CoTaskMemFree(chosen);
    if (!ok) return 0;
    SysFreeString(*folder);
    *folder = SysAllocString(path);
    return 1;
}

class DataFolder final : public standin::ComObject<DataFolder, IDataFolder, kIID_DataFolder> {
public:
    DataFolder() { ++g_record.created; }
    ~DataFolder() {
        ++g_record.destroyed;
        g_record.logoutsAtRelease = standin::LogoutCalls();
    }

    HRESULT STDMETHODCALLTYPE SelectDataFolder(LONG owner, LONG mode, LONG* result,
                                               BSTR* folder) override {
        if (!result || !folder) return E_POINTER;
        ++g_record.calls;
        g_record.owner = owner;
        g_record.mode = mode;
        g_record.resultOnEntry = *result;
        g_record.folderWasNull = *folder == nullptr;
        g_record.folderLength = SysStringLen(*folder);
        g_record.folder[0] = L'\0';
        if (*folder)
            lstrcpynW(g_record.folder, *folder, sizeof g_record.folder / sizeof g_record.folder[0]);
        g_record.logoutsAtCall = standin::LogoutCalls();

        if (!g_script.active) {
            *result = AnswerUnscripted(static_cast<HWND>(LongToHandle(owner)), folder);
            return S_OK;
        }
        *result = g_script.result;
        if (g_script.folderMode == kReplaceFolder) {
            SysFreeString(*folder);
            *folder = g_answer = g_script.folderNull ? nullptr : SysAllocString(g_script.folder.c_str());
            g_record.logoutsAtAnswerFree = -1;
        }
        return g_script.status;
    }
};

standin::ClassFactory<DataFolder> g_factory;
const standin::Registration g_registration(BK_DATAFOLDER_PROGID, BK_DATAFOLDER_STANDIN_CLSID,
                                           L"Data folder component stand-in");

} // namespace

BK_STANDIN_COM_SERVER_ENTRIES(kClsid, g_factory, g_registration)

extern "C" {

void DataFolderStandin_Reset(void)
{
    g_script = Script();
    g_script.active = true;
    g_record = DataFolderStandinRecord();
    g_record.logoutsAtCall = g_record.logoutsAtRelease = g_record.logoutsAtAnswerFree = -1;
    // The spy stays registered (a second registration is refused): the tests
    // that reset the stand-in link it, so it is never unloaded under them.
    if (auto noCache = reinterpret_cast<void(WINAPI*)()>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("oleaut32.dll"), "SetOaNoCache"))))
        noCache();
    CoRegisterMallocSpy(&g_answerFreeSpy);
}

void DataFolderStandin_Script(LONG result, HRESULT status, int folderMode, const WCHAR* folder)
{
    g_script.active = true;
    g_script.result = result;
    g_script.status = status;
    g_script.folderMode = folderMode;
    g_script.folderNull = folder == nullptr;
    g_script.folder = folder ? folder : L"";
}

void DataFolderStandin_Record(DataFolderStandinRecord* record)
{
    if (record) *record = g_record;
}

} // extern "C"
