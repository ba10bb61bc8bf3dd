#include "FolderTestSupport.h"

#include "InstallerUnderTest.h"
#include "WindowHooks.h"
#include "common/Registry.h"

#include <shlobj.h>

#include <gtest/gtest.h>

namespace foldertest {

namespace {

const char kProgIdKey[] = "Software\\Classes\\bkDataFolderUI.DataFolder";
// A class of its own for the uncreatable case, so no registration is shared.
const char kMissingClsid[] = "{5C1D1F0B-6A51-4B0C-9C55-2E5B9D7E0A11}";

HRESULT CallServerEntry(const char* name)
{
    HMODULE standin = GetModuleHandleA("bkDataFolderUI.dll");
    HRESULT(WINAPI * entry)() = nullptr;
    return standin && bktest::Bind(standin, name, entry) ? entry() : E_FAIL;
}

void SetString(const std::string& key, const char* name, const std::string& value)
{
    ASSERT_TRUE(reg::SetString(HKEY_LOCAL_MACHINE, key, name, value));
}

} // namespace

RegisteredComponent::RegisteredComponent()
{
    DataFolderStandin_Reset();
    EXPECT_EQ(CallServerEntry("DllRegisterServer"), S_OK);
}

RegisteredComponent::~RegisteredComponent()
{
    CallServerEntry("DllUnregisterServer");
    // Objects must not outlive a test: release what COM may still cache.
    CoFreeUnusedLibraries();
}

DataFolderStandinRecord RegisteredComponent::Record()
{
    DataFolderStandinRecord record = {};
    DataFolderStandin_Record(&record);
    return record;
}

UncreatableComponent::UncreatableComponent()
{
    SetString(std::string(kProgIdKey) + "\\CLSID", nullptr, kMissingClsid);
    const std::string clsidKey = std::string("Software\\Classes\\CLSID\\") + kMissingClsid;
    SetString(clsidKey + "\\InprocServer32", nullptr, "C:\\nowhere\\bkDataFolderUI.dll");
    SetString(clsidKey + "\\InprocServer32", "ThreadingModel", "Apartment");
}

UncreatableComponent::~UncreatableComponent()
{
    reg::DeleteTree(HKEY_LOCAL_MACHINE, kProgIdKey);
    reg::DeleteTree(HKEY_LOCAL_MACHINE, std::string("Software\\Classes\\CLSID\\") + kMissingClsid);
}

namespace {
BrowserMessageLog* g_log = nullptr;
}

BrowserMessageLog::BrowserMessageLog()
{
    g_log = this;
    m_hook = SetWindowsHookExA(WH_CALLWNDPROC, Hook, nullptr, GetCurrentThreadId());
    EXPECT_NE(m_hook, nullptr);
}

BrowserMessageLog::~BrowserMessageLog()
{
    if (m_hook) UnhookWindowsHookEx(m_hook);
    g_log = nullptr;
}

LRESULT CALLBACK BrowserMessageLog::Hook(int code, WPARAM wParam, LPARAM lParam)
{
    const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && g_log &&
        (sent->message == BFFM_SETSELECTIONA || sent->message == BFFM_SETSTATUSTEXTA) &&
        bktest::IsDialog(sent->hwnd)) {
        // Only string selections are recorded as text; an item list is not one.
        const bool isText = sent->message == BFFM_SETSTATUSTEXTA || sent->wParam;
        const char* text = isText ? reinterpret_cast<const char*>(sent->lParam) : nullptr;
        std::lock_guard<std::mutex> guard(g_log->m_lock);
        const bool fromDriver = (InSendMessageEx(nullptr) & ISMEX_SEND) != 0;
        g_log->m_messages.push_back({sent->message, sent->wParam, text ? text : "<item list>", fromDriver});
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

std::vector<BrowserMessage> BrowserMessageLog::Messages(UINT message, bool withDriver) const
{
    std::lock_guard<std::mutex> guard(m_lock);
    std::vector<BrowserMessage> found;
    for (const auto& m : m_messages)
        if (m.message == message && (withDriver || !m.fromDriver)) found.push_back(m);
    return found;
}

std::vector<std::string> BrowserMessageLog::Texts(UINT message, bool withDriver) const
{
    std::vector<std::string> texts;
    for (const auto& m : Messages(message, withDriver)) texts.push_back(m.text);
    return texts;
}

namespace {

// Reads a folder's entries, as a browser would.
void ListFolder(const std::string& folder)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    while (FindNextFileA(search, &found)) {}
    FindClose(search);
}

} // namespace

std::string TestFolder(char letter, size_t length, bool create)
{
    std::vector<std::string> chain = {"C:\\bkfolder-tests"};
    // Elements of at most 40 characters, so the shortening has elements to drop.
    while (chain.back().size() < length) {
        const size_t room = length - chain.back().size() - 1;
        const size_t element = room > 40 && room - 40 >= 2 ? 40 : room;
        chain.push_back(chain.back() + "\\" + std::string(element, letter));
    }
    if (create) {
        for (const auto& folder : chain) CreateDirectoryA(folder.c_str(), nullptr);
        // Wine's browser finds a folder by comparing item lists that carry the
        // last-access time, and its own reading of a folder just made or just
        // changed moves that time on. Read each once now, so it stays put.
        for (const auto& folder : chain) ListFolder(folder);
    }
    return chain.back();
}

} // namespace foldertest
