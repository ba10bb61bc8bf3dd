#include "PortGuard.h"

#include "ReadBack.h"

#include "afx/Handles.h"

#include <cstdlib>

namespace bktest {

namespace {

// Wine's port driver numbers ports from 1 to 256; the registry can name 1 to 255.
const int kMaxPort = 256;

std::string UnixPrefix()
{
    const char* prefix = std::getenv("WINEPREFIX");
    return prefix ? prefix : "";
}

// The same place through Wine's Z: drive, which maps the Unix root.
std::string DosPath(std::string unixPath)
{
    for (char& c : unixPath)
        if (c == '/') c = '\\';
    return "Z:" + unixPath;
}

std::string PortFile(const std::string& port) { return DosPath(UnixPrefix() + "/ports/" + port); }
std::string Marker(const std::string& port) { return "bk-port " + port + "\n"; }

bool Fail(std::string* why, const std::string& reason)
{
    *why = reason;
    return false;
}

// Every port link of the prefix, judged by its size alone (a stat, no open):
// a device has no size, a mapped file holds its marker.
bool LinksLeadToMarkerFiles(std::string* why)
{
    const std::string dosdevices = DosPath(UnixPrefix() + "/dosdevices/");
    for (const char* kind : {"com", "lpt"}) {
        for (int n = 1; n <= kMaxPort; ++n) {
            const std::string port = kind + std::to_string(n);
            WIN32_FILE_ATTRIBUTE_DATA data;
            if (!GetFileAttributesExA((dosdevices + port).c_str(), GetFileExInfoStandard, &data)) {
                if (n <= 9) return Fail(why, "no port link " + port);
                continue;   // no such port in this prefix
            }
            if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || data.nFileSizeHigh ||
                data.nFileSizeLow != Marker(port).size())
                return Fail(why, "port " + port + " does not lead to its marker file");
        }
    }
    return true;
}

bool RegistryNamesMarkerFiles(std::string* why)
{
    for (const char* kind : {"COM", "LPT"}) {
        for (int n = 1; n < kMaxPort; ++n) {
            const std::string name = kind + std::to_string(n);
            std::string lower = name;
            for (char& c : lower) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
            if (reg::ReadString(HKEY_LOCAL_MACHINE, "Software\\Wine\\Ports", name.c_str()) !=
                UnixPrefix() + "/ports/" + lower)
                return Fail(why, "HKLM\\Software\\Wine\\Ports does not map " + name + " to a file");
        }
    }
    return true;
}

// Bytes written to the device name must land in the mapped file.
bool WritesLandInFiles(std::string* why)
{
    struct Probe { std::string device, port; };
    std::vector<Probe> probes = {{"\\\\.\\AUX", "com1"}, {"\\\\.\\PRN", "lpt1"}, {"COM1", "com1"},
                                 {"LPT1", "lpt1"}};
    for (int n = 1; n <= 9; ++n)
        for (const char* kind : {"COM", "LPT"}) {
            std::string port = std::string(kind) + std::to_string(n);
            std::string lower = port;
            for (char& c : lower) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
            probes.push_back({"\\\\.\\" + port, lower});
        }
    for (const Probe& probe : probes) {
        const std::string token = "probe " + probe.device + "\n";
        {
            afx::UniqueFile device(CreateFileA(probe.device.c_str(), FILE_APPEND_DATA,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                               OPEN_EXISTING, 0, nullptr));
            DWORD written = 0;
            if (!device || !WriteFile(device.get(), token.data(), static_cast<DWORD>(token.size()),
                                      &written, nullptr))
                return Fail(why, "cannot write to " + probe.device);
        }
        const auto bytes = ReadFileBytes(PortFile(probe.port));
        WriteFileBytes(PortFile(probe.port), Marker(probe.port));
        if (bytes != Marker(probe.port) + token)
            return Fail(why, "a write to " + probe.device + " did not land in its port file");
    }
    return true;
}

} // namespace

bool PortsAreFiles(std::string* why)
{
    if (UnixPrefix().empty()) return Fail(why, "WINEPREFIX is not set");
    // Only once every link is known to be a file may anything be opened.
    return LinksLeadToMarkerFiles(why) && RegistryNamesMarkerFiles(why) &&
           WritesLandInFiles(why) && PortFilesUntouched(why);
}

bool PortFilesUntouched(std::string* why)
{
    for (const char* kind : {"com", "lpt"})
        for (int n = 1; n <= 9; ++n) {
            const std::string port = kind + std::to_string(n);
            if (ReadFileBytes(PortFile(port)) != Marker(port))
                return Fail(why, "port file " + port + " was written to");
        }
    return true;
}

} // namespace bktest
