// Resource ids of Wendra: the main window's dialog, its images and the
// controls the window itself handles (ControlIds.h holds those the core drives).
#pragma once

#include "ControlIds.h"

constexpr int IDD_LOGGER = 102;
constexpr int IDI_WENDRA = 128;
constexpr int IDB_LAMP_OFF = 129;
constexpr int IDB_LAMP_ON = 130;
constexpr int IDB_BANNER = 131;

constexpr int IDC_MINIMIZE = 1002;
constexpr int IDC_EXIT = 1003;
constexpr int IDC_BANNER = 1009;
constexpr int IDC_LAUNCH1 = 1013;
constexpr int IDC_LAUNCH2 = 1014;
constexpr int IDC_UNNAMED = 0xFFFF;
