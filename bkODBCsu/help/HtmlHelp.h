// The module's one way to call HTML Help. The HTML Help control is bound when
// help is first asked for, not when the module is built or loaded: its library
// is found through the control's registered in-process server (else by its
// bare name), loaded once and kept for the life of the process.
#pragma once

#include <windows.h>
#include <htmlhelp.h>

// Calls the control's HtmlHelpA with the four arguments unchanged; its result,
// or null when the control cannot be bound. Nothing is ever reported.
HWND InvokeHtmlHelp(HWND owner, const char* file, UINT command, DWORD_PTR data);
