// Test hooks of the data-folder component stand-in (bkDataFolderUI.dll): how
// it answers SelectDataFolder, and what it was given. Shared by the stand-in
// and the programs that script it.
#pragma once

#include <windows.h>

#ifdef BK_DATAFOLDER_STANDIN_BUILD
#define BK_DATAFOLDER_STANDIN_API extern "C" __declspec(dllexport)
#else
#define BK_DATAFOLDER_STANDIN_API extern "C" __declspec(dllimport)
#endif

// The stand-in's class, registered under the component's ProgID.
#define BK_DATAFOLDER_STANDIN_CLSID L"{EF28E9F7-3B38-4111-BDF4-9DC4CB66C4BC}"
#define BK_DATAFOLDER_PROGID L"bkDataFolderUI.DataFolder"

// What the next SelectDataFolder calls do. Folder modes:
enum DataFolderAnswer {
    kLeaveFolder = 0,   // the in-and-out string stays as the caller passed it
    kReplaceFolder = 1, // replaced by `folder` (a null `folder` gives a null string)
};

struct DataFolderStandinRecord {
    LONG calls;                 // SelectDataFolder calls
    LONG owner;                 // arguments of the last call
    LONG mode;
    LONG resultOnEntry;         // what the result variable held on entry
    BOOL folderWasNull;
    UINT folderLength;          // SysStringLen of the string on entry
    WCHAR folder[1024];         // its text
    LONG created;               // component objects created
    LONG destroyed;             // ... and finally released
    // bkCommon's xs_logout count seen on entry to the last call and at the
    // last final release (-1 when bkCommon.dll is not loaded).
    LONG logoutsAtCall;
    LONG logoutsAtRelease;
    // ... and when the caller freed the string the last call handed out (-1: not freed).
    LONG logoutsAtAnswerFree;
};

// Forgets all records; until scripted again, calls answer 0 and leave the folder.
BK_DATAFOLDER_STANDIN_API void DataFolderStandin_Reset(void);
// Every following call sets the result to `result` and returns `status`.
BK_DATAFOLDER_STANDIN_API void DataFolderStandin_Script(LONG result, HRESULT status,
                                                        int folderMode, const WCHAR* folder);
BK_DATAFOLDER_STANDIN_API void DataFolderStandin_Record(DataFolderStandinRecord* record);
