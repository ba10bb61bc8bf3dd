// Where the unshareable file DSN of a name goes: only into a folder that means
// the same place whatever the caller's current directory, only under a name
// that is an ordinary file name, and only within the path limit. The path is
// only formed here; nothing is opened.
#include "ReadBack.h"
#include "core/DSNAttributes.h"

#include <gtest/gtest.h>

using namespace bktest;

namespace {

std::string PathFor(const std::string& name)
{
    const CDSNAttributes set("Drv", "\0");
    return set.GetUnsharedFileDsnPath(name.c_str()).str();
}

TEST(FileDsnPath, OnlyDriveRootedAndUncFoldersAndTheEmptyOneGiveAPath)
{
    const struct { DWORD type; std::string folder; bool used; } cases[] = {
        {REG_SZ, "C:\\dsn", true},          {REG_EXPAND_SZ, "c:\\", true},
        {REG_SZ, "", true},                  {REG_SZ, "\\\\server\\share", true},
        {REG_SZ, "\\\\srv\\share\\dsn", true}, {REG_SZ, "dsnrel", false},
        {REG_EXPAND_SZ, "%SystemDrive%\\dsn", false}, {REG_SZ, "C:dsn", false},
        {REG_SZ, "\\dsn", false},            {REG_SZ, "\\\\.\\C:\\dsn", false},
        {REG_SZ, "\\\\?\\C:\\dsn", false},   {REG_SZ, "\\\\server", false},
        {REG_SZ, "\\\\server\\", false},     {REG_SZ, "\\\\\\share", false},
        {REG_SZ, "..\\dsn", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder);
        ScopedDefaultDsnDir dir(c.type, c.folder + std::string(1, '\0'));
        EXPECT_EQ(PathFor("Sales"), c.used ? c.folder + "\\Sales (not sharable).DSN" : "");
    }
}

TEST(FileDsnPath, DeviceNamesUnsafeCharactersAndOverlongPathsGiveNone)
{
    ScopedDefaultDsnDir dir(REG_SZ, std::string("C:\\dsn") + '\0');
    const struct { std::string name; bool used; } cases[] = {
        // The part before the first dot (or the whole name) names a device,
        // whatever the case and trailing blanks.
        {"COM1.x", false}, {"lpt9 .dsn", false}, {"PRN.x", false}, {"aux.", false},
        {"Nul.txt", false}, {"CONIN$.a", false}, {"conout$ .b", false}, {"COM\xB9.x", false},
        {"COM0.x", false}, {"COM1", false}, {"con ", false}, {"COM1.x.y", false}, {"con.a.b", false},
        {"CON  .x", false}, {"COM10.x", true}, {"Console.x", true},
        {"Sa|es", false}, {"a<b", false}, {"a>b", false}, {"a\"b", false}, {"a*b", false},
        {"a?b", false}, {"a/b", false}, {"a:b", false}, {"a\\b", false}, {"D\x84\nX", false},
        {"a\x7F", false}, {"a\x1F", false}, {"Sales.2024", true},
        // "C:\dsn\" + name + " (not sharable).DSN" holds 26 characters besides the name.
        {std::string(234, 'n'), true}, {std::string(235, 'n'), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(PathFor(c.name), c.used ? "C:\\dsn\\" + c.name + " (not sharable).DSN" : "");
    }
}

} // namespace
