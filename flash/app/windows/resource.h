// Resource identifiers of QZFlash.exe, grouped by kind. Plain defines, since
// the resource compiler reads this file too; winmain.cpp checks them against
// the identifiers the portable code uses.
#ifndef QZFLASH_RESOURCE_H
#define QZFLASH_RESOURCE_H

// Strings
#define IDS_APP_TITLE           103
#define IDS_CLASS_NAME          109

// Icons
#define IDI_QZFLASH             107
#define IDI_SMALL               108
#define IDI_ABOUT               130

// Menu and accelerators
#define IDM_MAIN                109
#define IDA_MAIN                109

// Dialogs
#define IDD_ABOUT               103
#define IDD_CARD_SELECTION      131
#define IDD_DUAL_BIOS           133

// Controls
#define IDC_ANY_STATIC          -1
#define IDC_CARD_CANCEL         7
#define IDC_CARD_LIST           1000
#define IDC_DUAL_LINE1          1007
#define IDC_DUAL_LINE2          1008
#define IDC_DUAL_LINE3          1009
#define IDC_DUAL_LINE4          1010

// Commands
#define IDM_ABOUT               104
#define IDM_EXIT                105
#define IDM_LOAD_IMAGE          32771
#define IDM_SAVE_IMAGE          32772
#define IDM_SAVE_BIOS           32773
#define IDM_UPDATE_BIOS         32774
#define IDM_REBOOT              32776
#define IDM_RESTORE_BIOS        32780
#define IDM_NOTHING             32781

#endif
