// The ODBC installer operations the module uses, in their 8-bit forms. The
// installer library is bound at run time: when it is missing, the caller is
// told once per call by a message box and every operation answers 0, so a
// missing installer looks like plain failure (names rejected, writes failing,
// nothing found).
#pragma once

namespace installer {

int ValidDSN(const char* dsn);
int WriteDSNToIni(const char* dsn, const char* driver);
int WritePrivateProfileString(const char* section, const char* entry, const char* string,
                              const char* file);
int GetPrivateProfileString(const char* section, const char* entry, const char* defaultText,
                            char* buffer, int bufferSize, const char* file);
int RemoveDSNFromIni(const char* dsn);
// Queues an installer error for the caller of the request (SQLPostInstallerError).
void PostError(unsigned long code, const char* text);

} // namespace installer
