// Identifiers of the module's resources. Shared by the resource script and the code.
#pragma once

#define IDD_CONFIG_DSN          7000

#define IDC_DSN_NAME            7000
#define IDC_DATA_FOLDER         7001
#define IDC_SELECT_FOLDER       7002
#define IDC_OPTIONS             7003
#define IDC_NAMING_MODE         7004
#define IDC_MAX_COL_SUPPORT     7005
#define IDC_SHORTEN_NAMES       7006
#define IDC_NAMING_LABEL        7008
#define IDC_DATABASE_TYPE       7009

#define IDS_CAPTION             1
#define IDS_INVALID_DSN_NAME    2
#define IDS_DSN_EXISTS          3
#define IDS_BROWSE_TITLE        7
#define IDS_BROWSE_CAPTION      8
// The seven attribute key names are consecutive: id = IDS_KEY_FIRST + attribute index.
#define IDS_KEY_FIRST           10

// Resource type of the list-initialisation data sent to the dialog's combo boxes.
#define RT_DLGINIT_DATA         240
