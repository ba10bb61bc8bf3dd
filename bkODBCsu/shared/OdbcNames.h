// The ODBC installer's names for its profiles, its own sections and the
// registry keys behind them, spelled once for the module and the programs
// beside it.
#pragma once

namespace odbc {

constexpr char kDataSources[] = "ODBC.INI", kDrivers[] = "ODBCINST.INI";
// The installer's own sections of ODBC.INI, beside the data sources: the
// list of every data source, the file-DSN settings, the tracing settings.
constexpr char kSourcesSection[] = "ODBC Data Sources", kFileDsnSection[] = "ODBC File DSN",
               kTracingSection[] = "ODBC";
// The keys of the two profiles, below HKEY_CURRENT_USER (user data sources)
// or HKEY_LOCAL_MACHINE (system data sources, drivers).
#define BK_ODBC_KEY "Software\\ODBC\\"
constexpr char kDataSourcesKey[] = BK_ODBC_KEY "ODBC.INI", kDriversKey[] = BK_ODBC_KEY "ODBCINST.INI",
               kSourcesKey[] = BK_ODBC_KEY "ODBC.INI\\ODBC Data Sources",
               kFileDsnKey[] = BK_ODBC_KEY "ODBC.INI\\ODBC File DSN";
#undef BK_ODBC_KEY

} // namespace odbc
