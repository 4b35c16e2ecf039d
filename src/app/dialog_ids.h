// Resource and control ids of the main dialog, shared by the dialog logic and the dialog
// template. Plain C: the resource script includes it too.
#ifndef LOADWING_APP_DIALOG_IDS_H
#define LOADWING_APP_DIALOG_IDS_H

#define IDD_MAIN 102
#define IDI_APP 128
#define IDB_LOGO 132
#define IDI_CONNECTED 133
#define IDI_DISCONNECTED 134

#define IDC_STATUS 1001
#define IDC_PATH 1002
#define IDC_SELECT 1025
#define IDC_CLOSE 1026
#define IDC_START 1027
#define IDC_PORTLIST 1032
#define IDC_PROGRESS 1043
#define IDC_CONNECT 1048

#endif
