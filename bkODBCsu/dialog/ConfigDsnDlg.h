// The configuration dialog: edits one attribute set modally.
#pragma once

#include <windows.h>

class CDSNAttributes;

// Runs the dialog over `attributes` with `parent` as owner; IDOK when the user
// confirmed and the set holds the values to write, IDCANCEL otherwise.
INT_PTR RunConfigDsnDialog(CDSNAttributes& attributes, HWND parent);
