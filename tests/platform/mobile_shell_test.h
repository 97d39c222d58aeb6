// Resource ids of the menu bar tests (mobile_shell_test.rc), clear of the product's.
#pragma once

#define TEST_BAR 9100
#define TEST_BAR_DISABLED 9101
#define TEST_BAR_CUT_SHORT 9102
#define TEST_BAR_NO_POPUP 9103
#define TEST_BAR_NO_MENU 9104
#define TEST_BAR_MENU 9110
#define TEST_MISSING 9199

// Command ids: the drop-down button is 2 (IDCANCEL's number) as in the console's bar.
#define TEST_DROPDOWN 2
#define TEST_RUN 1001
#define TEST_UNUSED_ITEM 2000
#define TEST_FIRST_ITEM 2001
#define TEST_SECOND_ITEM 2002
