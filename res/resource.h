// Resource ids of ulxjm.exe, shared by the resource script, the windows and
// the window tests.
#pragma once

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

// Icons, bitmaps, menus
#define IDR_MAINFRAME 128
#define IDB_BANNER 173
#define IDR_MORE_MENU 165
#define ID_MORE_DECRYPT_OTHER 32808
#define ID_MORE_ENCRYPT_OTHER 32809

// Strings
#define IDS_OLE_INIT_FAILED 100
#define IDS_APP_TITLE 57344

// Encrypt window CDlgJiaMi
#define IDD_JIAMI 131
#define IDC_JIAMI_CURRENT_FOLDER 1001  // radio "当前文件夹", hidden
#define IDC_JIAMI_OTHER_FOLDER 1002    // radio "其他文件夹", hidden
#define IDC_JIAMI_PASSWORD 1003
#define IDC_JIAMI_CONFIRM 1004
#define IDC_JIAMI_STRENGTH 1005
#define IDC_JIAMI_START 1007
#define IDC_JIAMI_CANCEL 1008
#define IDC_JIAMI_TARGET 1015
#define IDC_JIAMI_MORE 1035
#define IDC_JIAMI_CHOOSE 1037
#define IDC_JIAMI_DECRYPT_OTHER 1051  // hidden

// Decrypt window CDlgJieMi
#define IDD_JIEMI 132
#define IDC_JIEMI_MODE_IMAGE 1001
#define IDC_JIEMI_PASSWORD 1003
#define IDC_JIEMI_START 1008
#define IDC_JIEMI_CANCEL 1010
#define IDC_JIEMI_FOLDER 1015
#define IDC_JIEMI_MODE_FULL 1019
#define IDC_JIEMI_STATUS 1020
#define IDC_JIEMI_MODE_BROWSE 1021
#define IDC_JIEMI_MORE 1039
#define IDC_JIEMI_PASSWORD_LABEL 1082
#define IDC_JIEMI_SEPARATOR 1084
#define IDC_JIEMI_MODE_LABEL 1085

// Waiting window of image use CDlgStatic
#define IDD_WAITING 133
#define IDC_WAITING_TEXT 1018

// Watch window CDlgTempStatic (watch and progress modes)
#define IDD_TEMPSTATIC 137
#define IDC_TEMP_INFO 1020
#define IDC_TEMP_ENCRYPT_NOW 1039
#define IDC_TEMP_BAR 1041
#define IDC_TEMP_CANCEL_AUTO 1044
#define IDC_TEMP_TO_TRAY 1045

// Progress window CDlgZQStatic
#define IDD_ZQSTATIC 135
#define IDC_ZQ_CANCEL 1007
#define IDC_ZQ_CLOSE 1008
#define IDC_ZQ_TOTAL_BAR 1022
#define IDC_ZQ_TOTAL 1023
#define IDC_ZQ_DONE 1024
#define IDC_ZQ_PERCENT 1025
#define IDC_ZQ_SUCCEEDED 1026  // hidden, unused
#define IDC_ZQ_FAILED 1027
#define IDC_ZQ_ELAPSED 1028
#define IDC_ZQ_FILE_BAR 1029
#define IDC_ZQ_CURRENT 1030
#define IDC_ZQ_SKIPPED 1031

// ---- Encrypt side: About box, settings page, start-up password, readme
// editor (dialogs in encrypt.rc).

// About box CAboutDlg
#define IDD_ABOUTBOX 100
#define IDC_ABOUT_VERSION 1101
#define IDC_ABOUT_TEXT 1102

// Settings page CPropSet1
#define IDD_PROPSET1 136
#define IDC_SET_TIPS 1003
#define IDC_SET_FILTER_TEXT 1004
#define IDC_SET_FLAG 1036
#define IDC_SET_AUTOHIDE 1037
#define IDC_SET_FILTER 1038
#define IDC_SET_TIPS_LABEL 1046
#define IDC_SET_README 1047
#define IDC_SET_PASSWORD 1049
#define IDC_SET_EDIT_README 1093

// Start-up password CDlgSetRun, CDlgModiRun, CDlgInputRun
#define IDD_SETRUN 138
#define IDC_SETRUN_PASSWORD 1003
#define IDC_SETRUN_REPEAT 1004
#define IDC_SETRUN_OK 1007
#define IDC_SETRUN_CANCEL 1008
#define IDD_MODIRUN 139
#define IDC_MODI_OLD 1003
#define IDC_MODI_NEW 1004
#define IDC_MODI_REPEAT 1005
#define IDC_MODI_OK 1007
#define IDC_MODI_CANCEL 1008
#define IDC_MODI_OLD_LABEL 1110
#define IDC_MODI_HINT 1111
#define IDD_INPUTRUN 169
#define IDC_INRUN_OK 1007
#define IDC_INRUN_CANCEL 1008
#define IDC_INRUN_PASSWORD 1050

// Readme editor CDlgEditReadme
#define IDD_EDIT_README 175
#define IDC_README_TEXT 1094

// ---- Decrypt side: decrypt-other-folder list and screen lock (dialogs in
// decrypt.rc).

// Decrypt-other-folder list CDlgList
#define IDD_LIST 141
#define IDC_LIST_FOLDERS 1055
#define IDC_LIST_DECRYPT 1056
#define IDC_LIST_DECRYPT_OTHER 1057
#define IDC_LIST_PURGE 1058  // hidden while no row is invalid

// Screen lock CDlgLock
#define IDD_LOCK 154
#define IDC_LOCK_UNLOCK 1079
#define IDC_LOCK_PASSWORD 1080

// Browse window CDlgBrows, its context menu and button icons
#define IDD_BROWS 142
#define IDR_BROWSE_MENU 143
#define IDI_BROWSE_OPEN 146
#define IDI_BROWSE_COPYTO 147
#define IDI_BROWSE_MOVETO 148
#define IDI_BROWSE_MOVEIN 149
#define IDI_BROWSE_NEW 150
#define IDI_BROWSE_RENAME 151
#define IDI_BROWSE_DELETE 152
#define IDI_BROWSE_LOCK 153
#define IDC_BROWS_TOTALS 1023
#define IDC_BROWS_FOLDER_LIST 1055
#define IDC_BROWS_DELETE 1058
#define IDC_BROWS_TREE 1059
#define IDC_BROWS_LIST 1060
#define IDC_BROWS_LOCK 1061
#define IDC_BROWS_PATH 1065
#define IDC_BROWS_PATH_LABEL 1066
#define IDC_BROWS_OPEN 1067
#define IDC_BROWS_COPYTO 1068
#define IDC_BROWS_MOVETO 1069
#define IDC_BROWS_RENAME 1070
#define IDC_BROWS_MOVEIN 1072
#define IDC_BROWS_NEW 1073
#define IDC_BROWS_SELECTION 1074
#define IDC_BROWS_REFRESH 1075
#define IDC_BROWS_FOLDER_LABEL 1076
#define ID_BROWSE_OPEN 32779
#define ID_BROWSE_COPY_OUT 32795
#define ID_BROWSE_MOVE_OUT 32785
#define ID_BROWSE_CUT 32777
#define ID_BROWSE_COPY 32775
#define ID_BROWSE_PASTE 32776
#define ID_BROWSE_MOVE_IN 32793
#define ID_BROWSE_NEW_FOLDER 32783
#define ID_BROWSE_RENAME 32787
#define ID_BROWSE_DELETE 32789
