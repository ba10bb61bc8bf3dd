// Text as the installer sees it: it converts every name from the ANSI code
// page to Unicode before it touches the registry, and a Unicode caller's text
// must reach this module as exactly the ANSI text it stands for.
#pragma once

#include <optional>
#include <string>

// `name` in Unicode, or nothing when it is not text in the ANSI code page
// (a lead byte without its trail, an invalid sequence). Such a name would be
// stored under another name than the one given, or collapse into one.
std::optional<std::wstring> NameToUnicode(const char* name);

// `text` (NUL-ended) in the ANSI code page, or nothing when
// the code page cannot hold it exactly: a character without an exact
// counterpart would otherwise become a look-alike ("\u015Cales" as "Sales")
// or a default character, and a request would act on a data source it did
// not name.
std::optional<std::string> TextToAnsi(const wchar_t* text);

// The same for a list of NUL-ended elements ended by an empty one, element by
// element; the result keeps the list's form. A null list is the empty list.
std::optional<std::string> ListToAnsi(const wchar_t* list);
