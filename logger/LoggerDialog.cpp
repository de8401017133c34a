// Dialog 102, the main window, as the resource script gives it: position and
// size in dialog units, controls in creation and tab order.
#include <windows.h>

#include "resource.h"

namespace {

#define EDGE WS_EX_STATICEDGE

const DLGITEMTEMPLATEW kControls[] = {
    // style, extended style, x, y, cx, cy, id, class, caption or image
    {0x50010000, EDGE, 6, 35, 51, 50, IDC_START, WC_BUTTONW, TEXT("ログ開始")},
    {0x58010000, EDGE, 57, 35, 51, 50, IDC_STOP, WC_BUTTONW, TEXT("ログ停止")},
    {0x50010000, EDGE, 111, 35, 51, 50, IDC_MINIMIZE, WC_BUTTONW, TEXT("最小化")},
    {0x50010000, EDGE, 111, 90, 51, 50, IDC_EXIT, WC_BUTTONW, TEXT("終了")},
    {0x5000000E, 0, 1, 10, 7, 9, IDC_LOG_LAMP_STEADY, WC_STATICW, MAKEINTRESOURCEW(IDB_LAMP_OFF)},
    {0x4000000E, 0, 1, 10, 7, 9, IDC_LOG_LAMP_BLINK, WC_STATICW, MAKEINTRESOURCEW(IDB_LAMP_ON)},
    {0x5000000E, 0, 0, 0, 25, 10, IDC_BANNER, WC_STATICW, MAKEINTRESOURCEW(IDB_BANNER)},
    {0x50000200, 0, 9, 11, 16, 8, IDC_STATUS_BOX, WC_STATICW, TEXT("LOG")},
    {0x5800000E, 0, 1, 20, 7, 9, IDC_RECEIVE_LAMP_DATA, WC_STATICW, MAKEINTRESOURCEW(IDB_LAMP_ON)},
    {0x5000000E, 0, 1, 20, 7, 9, IDC_RECEIVE_LAMP_IDLE, WC_STATICW, MAKEINTRESOURCEW(IDB_LAMP_OFF)},
    {0x50020000, 0, 9, 20, 16, 8, IDC_UNNAMED, WC_STATICW, TEXT("RCV")},
    {0x58010000, EDGE, 6, 90, 51, 50, IDC_LAUNCH1, WC_BUTTONW, TEXT("Button1")},
    {0x58010000, EDGE, 57, 90, 51, 50, IDC_LAUNCH2, WC_BUTTONW, TEXT("Button2")},
    {0x50000802, EDGE, 54, 5, 42, 10, IDC_LATITUDE, WC_EDITW, TEXT("")},
    {0x50020202, 0, 33, 5, 21, 10, IDC_UNNAMED, WC_STATICW, TEXT("緯度:")},
    {0x50000802, EDGE, 54, 15, 42, 10, IDC_LONGITUDE, WC_EDITW, TEXT("")},
    {0x50020202, 0, 33, 15, 21, 10, IDC_UNNAMED, WC_STATICW, TEXT("経度:")},
    {0x50000802, EDGE, 123, 5, 18, 10, IDC_TOP_SPEED, WC_EDITW, TEXT("")},
    {0x50020202, 0, 96, 5, 27, 10, IDC_UNNAMED, WC_STATICW, TEXT("最高速:")},
    {0x50020200, 0, 141, 5, 18, 10, IDC_UNNAMED, WC_STATICW, TEXT("km/h")},
    {0x50010801, EDGE, 123, 15, 12, 10, IDC_FIX_TYPE, WC_EDITW, TEXT("")},
    {0x50000801, EDGE, 135, 15, 21, 10, IDC_FIX_QUALITY, WC_EDITW, TEXT("")},
    {0x50020002, 0, 99, 15, 24, 10, IDC_UNNAMED, WC_STATICW, TEXT("測位:")},
};

}  // namespace

// Popup, visible, thin border, no caption, centred, foreground, the template's
// font; listed as an application window.
extern const DLGTEMPLATEW kLoggerDialog = {
    0x90800A40, 0x80040000, sizeof kControls / sizeof kControls[0], 0, 0, 170, 144, TEXT(""), 9,
    TEXT("ＭＳ Ｐゴシック"), kControls};
