#include "FolderChoosers.h"

#include "afx/Handles.h"
#include "afx/ComString.h"
#include "../host/BkCommon.h"
#include "../shared/Components.h"
#include "../resource.h"

#include <objbase.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace {

const LONG kFolderChosen = 1;

// The common library wants to hear once after every completed folder choice,
// while the component and its answer are still alive. Declared after them,
// this runs before their owners let go, on every way out.
class LogoutAfterChoice {
public:
    LogoutAfterChoice() = default;
    ~LogoutAfterChoice() { xs_logout(); }
    LogoutAfterChoice(const LogoutAfterChoice&) = delete;
    LogoutAfterChoice& operator=(const LogoutAfterChoice&) = delete;
};

// Status-line text is shortened below this many characters.
const unsigned short kStatusTextLimit = 50;

int CALLBACK BrowseFolderCallback(HWND browser, UINT message, LPARAM parameter, LPARAM data)
{
    // Called from inside the shell's dialog procedure: nothing may unwind into it.
    try {
        // A path of at most MAX_PATH characters and its terminator.
        char buffer[MAX_PATH + 1] = {};
        switch (message) {
        case BFFM_INITIALIZED: {
            afx::CString caption;
            caption.LoadString(IDS_BROWSE_CAPTION);
            ::SetWindowTextA(browser, caption);
            // A folder too long for the buffer opens the browser without a
            // preselection: a cut path would name some other folder.
            const auto* current = reinterpret_cast<const afx::CString*>(data);
            if (current && !current->IsEmpty() &&
                static_cast<size_t>(current->GetLength()) < sizeof buffer) {
                std::memcpy(buffer, current->GetString(), current->GetLength() + 1);
                ::SendMessageA(browser, BFFM_SETSELECTIONA, TRUE, reinterpret_cast<LPARAM>(buffer));
            }
            break;
        }
        case BFFM_SELCHANGED:
            if (::SHGetPathFromIDListA(reinterpret_cast<PCIDLIST_ABSOLUTE>(parameter), buffer)) {
                const afx::CString shown = CompactPathForDisplay(buffer, kStatusTextLimit);
                ::lstrcpynA(buffer, shown, sizeof buffer);
            } else {
                buffer[0] = '\0';
            }
            ::SendMessageA(browser, BFFM_SETSTATUSTEXTA, 0, reinterpret_cast<LPARAM>(buffer));
            break;
        default:
            break;
        }
    } catch (...) {
    }
    return 0;
}

} // namespace

bool ChooseFolderWithComponent(HWND dialog, afx::CString& folder)
{
    afx::ComPtr<IDataFolder> component;
    CLSID clsid;
    if (SUCCEEDED(::CLSIDFromProgID(kDataFolderProgId, &clsid)))
        ::CoCreateInstance(clsid, nullptr, CLSCTX_ALL, kIID_DataFolder, component.put_void());
    // Not registered or not creatable: no message, and no other chooser instead.
    if (!component) return false;

    LONG result = 0;
    CBstrHolder current(folder.GetString());
    // Its status tells nothing the result does not: only a result of 1 counts.
    component->SelectDataFolder(HandleToLong(dialog), -1, &result, current.inout());
    const LogoutAfterChoice logout;

    if (result != kFolderChosen) return false;
    folder = BstrToAnsi(current.get());
    return true;
}

bool BrowseForFolder(HWND dialog, afx::CString& folder)
{
    afx::ComPtr<IMalloc> allocator;
    if (FAILED(::SHGetMalloc(allocator.put())) || !allocator) return false;

    afx::CString title;
    title.LoadString(IDS_BROWSE_TITLE);

    BROWSEINFOA info = {};
    info.hwndOwner = dialog;
    info.pidlRoot = nullptr;
    info.pszDisplayName = nullptr;
    info.lpszTitle = title;
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_STATUSTEXT;
    info.lpfn = BrowseFolderCallback;
    info.lParam = reinterpret_cast<LPARAM>(&folder);
    info.iImage = 0;

    const afx::UniqueItemList chosen(allocator.get(), ::SHBrowseForFolderA(&info));
    if (!chosen) return false;

    char path[MAX_PATH] = {};
    if (!::SHGetPathFromIDListA(chosen.get(), path)) return false;
    folder = path;
    return true;
}

afx::CString CompactPathForDisplay(const afx::CString& path, unsigned short limit)
{
    if (path.GetLength() < limit) return path;
    char buffer[MAX_PATH] = {};
    // The API writes up to `limit` bytes: never let that exceed the buffer.
    const UINT fits = std::min<UINT>(limit, sizeof buffer);
    if (path.GetLength() >= MAX_PATH) {
        // Too long for the API, which copies the path into a MAX_PATH buffer
        // of its own (Wine's crashes). Shorten it the same way by hand: an
        // ellipsis in place of the leading part, the end of the path kept.
        const std::string ellipsis = "...";
        if (fits <= ellipsis.size()) return afx::CString(ellipsis.substr(0, fits ? fits - 1 : 0));
        const size_t tail = fits - 1 - ellipsis.size();
        return afx::CString(ellipsis + path.str().substr(path.str().size() - tail));
    }
    ::PathCompactPathExA(buffer, path, fits, 0);
    return afx::CString(buffer);
}
