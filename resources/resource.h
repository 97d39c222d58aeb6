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
