// Data source names as the installer sees them: it converts every name from
// the ANSI code page to Unicode before it touches the registry.
#pragma once

#include <optional>
#include <string>

// `name` in Unicode, or nothing when it is not text in the ANSI code page
// (a lead byte without its trail, an invalid sequence). Such a name would be
// stored under another name than the one given, or collapse into one.
std::optional<std::wstring> NameToUnicode(const char* name);
