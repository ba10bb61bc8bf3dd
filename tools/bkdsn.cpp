// bkdsn: scripted deployment of data sources through the ODBC installer.
//
//   bkdsn install-driver DESCRIPTION SETUP_DLL   register the driver's setup module
//   bkdsn set-dsn-dir FOLDER                      set the machine's default file-DSN folder
//   bkdsn REQUEST DESCRIPTION [KEY=VALUE ...]     add / configure / remove a data source
//   bkdsn show DSN                                print a data source's stored entry and
//                                                 which hive holds each part of it
//
// REQUEST is add, config, remove (user data sources), add-sys, config-sys,
// remove-sys (system data sources), or a request code 1 to 7.
// Exit status 0 on success, 1 when the installer or the driver refused, 2 on misuse.
#include "afx/Handles.h"
#include "common/Registry.h"

#include <windows.h>
#include <odbcinst.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char kDriversKey[] = "Software\\ODBC\\ODBCINST.INI";
const char kFileDsnKey[] = "Software\\ODBC\\ODBC.INI\\ODBC File DSN";

int Usage()
{
    std::fputs("usage: bkdsn install-driver DESCRIPTION SETUP_DLL\n"
               "       bkdsn set-dsn-dir FOLDER\n"
               "       bkdsn add|config|remove|add-sys|config-sys|remove-sys|1..7 DESCRIPTION [KEY=VALUE ...]\n"
               "       bkdsn show DSN\n",
               stderr);
    return 2;
}

int InstallDriver(const std::string& description, const std::string& setup)
{
    // Windows reads "Setup"; Wine's installer loads the library named by "Driver".
    const std::string key = std::string(kDriversKey) + "\\" + description;
    const bool ok = reg::SetString(HKEY_LOCAL_MACHINE, key, "Setup", setup) &&
                    reg::SetString(HKEY_LOCAL_MACHINE, key, "Driver", setup) &&
                    reg::SetString(HKEY_LOCAL_MACHINE, std::string(kDriversKey) + "\\ODBC Drivers",
                              description.c_str(), "Installed");
    std::printf("install-driver %s: %s\n", description.c_str(), ok ? "done" : "failed");
    return ok ? 0 : 1;
}

int SetDsnDir(const std::string& folder)
{
    const bool ok = reg::SetString(HKEY_LOCAL_MACHINE, kFileDsnKey, "DefaultDSNDir", folder);
    std::printf("set-dsn-dir %s: %s\n", folder.c_str(), ok ? "done" : "failed");
    return ok ? 0 : 1;
}

int RequestCode(const std::string& word)
{
    static const char* const names[] = {"add", "config", "remove", "add-sys", "config-sys",
                                        "remove-sys", "remove-default"};
    for (int i = 0; i < 7; ++i)
        if (word == names[i]) return i + 1;
    if (word.size() == 1 && word[0] >= '1' && word[0] <= '7') return word[0] - '0';
    return 0;
}

void PrintInstallerErrors()
{
    for (WORD i = 1; i <= 8; ++i) {
        DWORD code = 0;
        char message[SQL_MAX_MESSAGE_LENGTH] = {};
        WORD length = 0;
        if (SQLInstallerError(i, &code, message, sizeof message, &length) != SQL_SUCCESS) break;
        std::fprintf(stderr, "installer error %lu: %s\n", static_cast<unsigned long>(code), message);
    }
}

int Configure(int request, const std::string& driver, int argc, char** argv)
{
    std::string attributes;
    for (int i = 0; i < argc; ++i) attributes.append(argv[i]).push_back('\0');
    attributes.push_back('\0');
    const BOOL ok = SQLConfigDataSource(nullptr, static_cast<WORD>(request), driver.c_str(),
                                        attributes.c_str());
    std::printf("request %d for %s: %s\n", request, driver.c_str(), ok ? "TRUE" : "FALSE");
    if (!ok) PrintInstallerErrors();
    return ok ? 0 : 1;
}

const char kOdbcIni[] = "Software\\ODBC\\ODBC.INI";

struct Hive {
    HKEY root;
    const char* name;
};
const Hive kHives[] = {{HKEY_CURRENT_USER, "user's"}, {HKEY_LOCAL_MACHINE, "machine's"}};

// The driver a data source is registered for in one hive's list of data
// sources; empty when it is not registered there.
std::string Registration(HKEY root, const std::string& dsn)
{
    return reg::ReadString(root, std::string(kOdbcIni) + "\\ODBC Data Sources", dsn.c_str()).value_or("");
}

// The names of the keys a hive's section of the data source holds, comma-separated.
std::string StoredKeys(HKEY root, const std::string& dsn)
{
    std::string names;
    const afx::UniqueRegKey key = reg::Open(root, std::string(kOdbcIni) + "\\" + dsn);
    if (!key) return names;
    for (DWORD i = 0;; ++i) {
        char name[256];
        DWORD length = sizeof name;
        if (RegEnumValueA(key.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names += (names.empty() ? "" : ", ") + std::string(name, length);
    }
    return names;
}

// The registration, the keys as the installer reads them (the user's data
// source, else the system's), and in which hive each part is stored: the
// installers differ there.
int Show(const std::string& dsn)
{
    bool registered = false;
    for (const Hive& hive : kHives) {
        const std::string driver = Registration(hive.root, dsn);
        if (driver.empty()) continue;
        registered = true;
        std::printf("[%s] registered for \"%s\" in the %s ODBC.INI\n", dsn.c_str(), driver.c_str(),
                    hive.name);
    }
    if (!registered) std::printf("[%s] not registered\n", dsn.c_str());

    // A null entry lists the section's keys, each ended by a NUL.
    std::vector<char> keys(8192, '\0');
    const int length = SQLGetPrivateProfileString(dsn.c_str(), nullptr, "", keys.data(),
                                                  static_cast<int>(keys.size()), "ODBC.INI");
    for (const char* key = keys.data(); length > 0 && *key; key += std::strlen(key) + 1) {
        char value[1024] = {};
        SQLGetPrivateProfileString(dsn.c_str(), key, "", value, sizeof value, "ODBC.INI");
        std::printf("%s=%s\n", key, value);
    }
    for (const Hive& hive : kHives) {
        const std::string names = StoredKeys(hive.root, dsn);
        if (!names.empty()) std::printf("  stored in the %s ODBC.INI: %s\n", hive.name, names.c_str());
    }
    return registered ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) return Usage();
    const std::string command = argv[1];
    if (command == "install-driver") return argc == 4 ? InstallDriver(argv[2], argv[3]) : Usage();
    if (command == "set-dsn-dir") return argc == 3 ? SetDsnDir(argv[2]) : Usage();
    if (command == "show") return argc == 3 ? Show(argv[2]) : Usage();
    if (const int request = RequestCode(command)) return Configure(request, argv[2], argc - 3, argv + 3);
    return Usage();
}
