// Resource ids shared by the .rc file and the code.
#pragma once

// Icons
#define IDI_PROGRAM 100
#define IDI_DOCUMENT 101

// Strings
#define IDS_APP_TITLE 800
#define IDS_NO_HELP_FILE 803
#define IDS_BROWSE_FILTER 810
#define IDS_BROWSE_ADVICE 811
#define IDS_BROWSE_TITLE 813
#define IDS_DONE 814
#define IDS_CANCEL 815
#define IDS_MENU 820
#define IDS_RUN 821
#define IDS_ASSOCIATED 822
#define IDS_ASSOCIATION_REMOVED 823
#define IDS_STOP 824
#define IDS_RUN_STOPPED 825
#define IDS_PROGRESS_RUNNING 826
#define IDS_PROGRESS_LINES 827
#define IDS_PROGRESS_FILES 828
#define IDS_PROGRESS_VALUES 829
#define IDS_NO_RUN_KEPT 830
#define IDS_RUN_STILL_RUNNING 831

// The console dialog and its controls
#define IDD_CONSOLE 200
#define IDC_COMMAND 300
#define IDC_BROWSE 303
#define IDC_PROMPT 304
#define IDC_LOG 305
#define IDC_PROGRESS 306

// Menu bars (RCDATA) and the console's menu
#define IDR_DONE_CANCEL_BAR 250
#define IDR_CONSOLE_BAR 251
#define IDM_CONSOLE 251

// Console menu commands
#define IDM_HELP 400
#define IDM_ABOUT 401
#define IDM_EXIT 402
#define IDM_ASSOCIATE 403
#define IDM_CLEAR_LOG 404
#define IDM_RUN_CHANGES 405
#define IDM_UNDO_RUN 406
