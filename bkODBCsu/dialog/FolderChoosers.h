// The two ways of choosing the data folder: the product family's data-folder
// component (accounting data) and the shell's folder browser (estimating data).
#pragma once

#include "afx/String.h"

#include <windows.h>

// Each shows its chooser owned by `dialog`, starting from `folder`; true when
// a folder was chosen, which is then in `folder`. False leaves `folder` alone.
bool ChooseFolderWithComponent(HWND dialog, afx::CString& folder);
bool BrowseForFolder(HWND dialog, afx::CString& folder);

// `path` itself when shorter than `limit` characters, else shortened with an
// ellipsis to at most limit - 1 characters.
afx::CString CompactPathForDisplay(const afx::CString& path, unsigned short limit);
