// Ids of the main window's controls that the logger core drives.
#pragma once

constexpr int IDC_START = 1000;
constexpr int IDC_STOP = 1001;
constexpr int IDC_LOG_LAMP_STEADY = 1007;
constexpr int IDC_LOG_LAMP_BLINK = 1008;
constexpr int IDC_RECEIVE_LAMP_DATA = 1011;
constexpr int IDC_RECEIVE_LAMP_IDLE = 1012;
constexpr int IDC_LATITUDE = 1015;
constexpr int IDC_LONGITUDE = 1016;
constexpr int IDC_TOP_SPEED = 1017;
constexpr int IDC_FIX_TYPE = 1018;
constexpr int IDC_FIX_QUALITY = 1019;
constexpr int IDC_STATUS_BOX = 1020;
