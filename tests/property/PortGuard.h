// Wine hands a prefix's COM and LPT ports to the machine's real serial and
// parallel devices. A test that tries device names runs only when every port
// of its prefix is an ordinary file, as scripts/env.sh (wine_remap_ports)
// arranges: under $WINEPREFIX/ports, each file holding one marker line.
#pragma once

#include <string>

namespace bktest {

// Checks, without opening anything that could be a device, that every COM
// and LPT name of the prefix leads to its marker file, then that writes to
// COM1-9, LPT1-9, AUX and PRN land in those files. False, with the reason,
// when any of it does not hold: the caller must then try no device name.
bool PortsAreFiles(std::string* why);

// True when the files of the ports a name can reach (COM1-9, LPT1-9, and so
// AUX and PRN) still hold only their marker lines.
bool PortFilesUntouched(std::string* why);

} // namespace bktest
