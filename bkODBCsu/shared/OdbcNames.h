// The ODBC installer's names for its profiles, its own sections and the
// registry keys behind them, spelled here once for the module and for the
// programs beside it.
#pragma once

namespace odbc {

// The profile of the data sources, and the profile of the drivers.
constexpr char kDataSources[] = "ODBC.INI";
constexpr char kDrivers[] = "ODBCINST.INI";

// The installer's own sections of ODBC.INI, beside the data sources: the
// list of every data source, the file-DSN settings and the tracing settings.
constexpr char kSourcesSection[] = "ODBC Data Sources";
constexpr char kFileDsnSection[] = "ODBC File DSN";
constexpr char kTracingSection[] = "ODBC";

// The keys that hold the two profiles, below HKEY_CURRENT_USER (user data
// sources) or HKEY_LOCAL_MACHINE (system data sources, drivers).
#define BK_ODBC_KEY "Software\\ODBC\\"
constexpr char kDataSourcesKey[] = BK_ODBC_KEY "ODBC.INI";
constexpr char kDriversKey[] = BK_ODBC_KEY "ODBCINST.INI";
constexpr char kSourcesKey[] = BK_ODBC_KEY "ODBC.INI\\ODBC Data Sources";
constexpr char kFileDsnKey[] = BK_ODBC_KEY "ODBC.INI\\ODBC File DSN";
#undef BK_ODBC_KEY

} // namespace odbc
