#pragma once
// Resource and control ids shared by res/QuavixServer.rc and the Windows shell. Plain macros:
// the resource compiler reads this file too.

#define IDS_APP_TITLE 103
#define IDS_ERROR_TITLE 104
#define IDS_NO_DEVICE 105
#define IDS_INIT_FAILED 106
#define IDS_NO_INTERFACE 107
#define IDS_WINDOW_CLASS 109

#define IDI_QUAVIX 107
#define IDD_SETTINGS 103
#define IDC_PORT 1001
#define IDC_ALLOW_OUTSIDE 1002
#define IDC_START_AT_LOGIN 1003
#define IDM_MAIN 109
#define IDM_EXIT 105
// Asked for by the message loop; the resources deliberately define no such table.
#define IDA_MAIN 109
