// Resource identifiers shared by the resource script and the code.
#pragma once

#define IDD_PASSWORD 109
#define IDD_PROGRESS 110
#define IDD_LANGUAGE 111
#define IDI_APPLICATION_ICON 108
#define IDR_ANIMATION 112

// Controls of the dialog templates.
#define IDC_PASSWORD_EDIT 1005
#define IDC_PROGRESS_BAR 1007
#define IDC_LANGUAGE_LIST 1008
#define IDC_ANIMATION 112

#define IDS_ADMIN_ERROR 1
#define IDS_CRC_ERROR 2
#define IDS_SPACE_ERROR 3
#define IDS_REBOOT 4
#define IDS_EXIST_ERROR 5
#define IDS_INTERNET 6
#define IDS_HASH_ERROR 7
#define IDS_RESUME_BY_HAND 8

// The atoms of the system's predefined window classes in a dialog template.
#define CLASS_BUTTON 0x80
#define CLASS_EDIT 0x81
#define CLASS_STATIC 0x82
#define CLASS_LISTBOX 0x83
