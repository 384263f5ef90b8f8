#pragma once

// Resource identifiers of Tessel.exe.
#define IDI_APP 101
#define IDD_MAIN 102
#define IDC_HAND_LINK 104
#define IDI_FIELD 105
#define IDI_SENSOR 106
#define IDI_ROOT 107
#define IDD_PROPERTIES 110
#define IDD_REPORT_INTERVAL 111

#define IDC_EXIT 1000
#define IDC_SENSOR_TREE 1004
#define IDC_WEB_LINK 1005
#define IDC_AUTO_UPDATE 1006

// The sensor properties dialog.
#define IDC_PROPERTY_TREE 1100
#define IDC_PROPERTY_NOTE 1101
#define IDC_REPORT_INTERVAL 1102

// The report interval dialog.
#define IDC_INTERVAL_CURRENT 1110
#define IDC_INTERVAL_MINIMUM 1111
#define IDC_INTERVAL_EDIT 1112
#define IDC_INTERVAL_RESULT 1113
