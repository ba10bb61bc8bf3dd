#include "FolderChoosers.h"

// Placeholder until the folder choosers land.
bool ChooseFolderWithComponent(HWND, afx::CString&) { return false; }
bool BrowseForFolder(HWND, afx::CString&) { return false; }
afx::CString CompactPathForDisplay(const afx::CString& path, unsigned short) { return path; }
