// Ids of the main window's controls that the logger core drives.
#pragma once

#define IDC_START 1000
#define IDC_STOP 1001
#define IDC_LOG_LAMP_STEADY 1007
#define IDC_LOG_LAMP_BLINK 1008
#define IDC_RECEIVE_LAMP_DATA 1011
#define IDC_RECEIVE_LAMP_IDLE 1012
#define IDC_LATITUDE 1015
#define IDC_LONGITUDE 1016
#define IDC_TOP_SPEED 1017
#define IDC_FIX_TYPE 1018
#define IDC_FIX_QUALITY 1019
#define IDC_STATUS_BOX 1020
