// The module's one way to read a string value from the registry.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace afx {

// Which value types are read as text: REG_SZ and REG_EXPAND_SZ, or any.
enum class ValueTypes { Strings, AnyAsText };
// What becomes of a REG_EXPAND_SZ value's environment references.
enum class ExpandSz { Keep, Expand };

// A value (`value` null for the key's default) read whole and taken up to its
// first NUL, as the registry promises no terminator; nothing when the key or
// value is missing or of a type not read as text.
std::optional<std::string> ReadRegistryString(HKEY root, const char* key, const char* value,
                                              ValueTypes types, ExpandSz expand);

} // namespace afx
