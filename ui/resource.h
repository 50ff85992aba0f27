// Resource identifiers shared by the resource script and the code.
#pragma once

#define IDD_PASSWORD 109
#define IDD_PROGRESS 110
#define IDD_LANGUAGE 111
#define IDI_APPLICATION_ICON 108
#define IDR_ANIMATION 112

#define IDS_ADMIN_ERROR 1
#define IDS_CRC_ERROR 2
#define IDS_SPACE_ERROR 3
#define IDS_REBOOT 4
#define IDS_EXIST_ERROR 5
#define IDS_INTERNET 6
