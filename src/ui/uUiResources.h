#pragma once
// Resource IDs of the settings dialogs (templates in src/res/settings.rc).

#define IDD_COMMON_SETTINGS 100
#define IDD_INFO_PAGE 101
#define IDD_SETTINGS_LIST 102
#define IDD_MAIN_SETTINGS 103
#define IDB_LOGO 200
#define IDI_SETTINGS_LIST 201
#define IDR_UI_MANIFEST 2

// The shell
#define IDC_LOGO 1001
#define IDC_MODELNAME 1002
#define IDC_DRIVERVERSION 1003
#define IDC_PAGES 1004
#define IDC_MORE 1005
#define IDC_HEADER_LINE 1006
#define IDC_FOOTER_LINE 1007

// The information tab
#define IDC_TYPEINFO 1101
#define IDC_MODELINFO 1102
#define IDC_VERINFO 1103
#define IDC_DEVELOPERINFO 1104
#define IDC_DESCRIPTIONINFO 1105
#define IDC_CONTACTINFO 1106
#define IDC_INFO_CAPTION_FIRST 1111  // the six captions, top to bottom

// The driver's page
#define IDC_HOST 1201
#define IDC_TERMINALKEY 1202
#define IDC_PASSWORD 1203
#define IDC_LINELENGTH 1204
#define IDC_TIMEOUT 1205
#define IDC_TIMEOUT_LABEL 1206

// The settings list
#define IDC_SETTINGS 1301
#define IDC_STATUS 1302
#define IDC_DEFAULT 1303
#define IDC_EDEDIT 1304
#define IDC_CBEDIT 1305

// Menu commands of "Дополнительно"
#define IDM_RESET 2001
#define IDM_DEVICETEST 2002
#define IDM_SETTINGSLIST 2003
#define IDM_OPENCURRENTLOG 2004
#define IDM_OPENLOGFOLDER 2005
#define IDM_HELP 2006
#define IDM_ACTION_FIRST 2100  // + the action's index

// The settings list's popup menu
#define IDM_EDIT 2201
#define IDM_ROWDEFAULT 2202
