// Resource ids of Wendra: the main window's dialog, its images and the
// controls the window itself handles (ControlIds.h holds those the core drives).
#pragma once

#include "ControlIds.h"

#define IDD_LOGGER 102
#define IDI_WENDRA 128
#define IDB_LAMP_OFF 129
#define IDB_LAMP_ON 130
#define IDB_BANNER 131

#define IDC_MINIMIZE 1002
#define IDC_EXIT 1003
#define IDC_BANNER 1009
#define IDC_LAUNCH1 1013
#define IDC_LAUNCH2 1014
#define IDC_STATIC (-1)
