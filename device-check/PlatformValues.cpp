// The platform's documented values of every control code, escape code and
// record the system's code uses, checked when this unit compiles: in the
// device's build against the cross compiler's Windows headers and include/,
// and in the host's build against host/include. A value that drifts in
// either header set fails that build.
#include <windows.h>

#include <pegdser.h>
#include <pkfuncs.h>

namespace {

// The serial driver's requests: device type 0x1B, buffered, any access,
// numbered from 1 as the device numbers them.
constexpr DWORD Serial(DWORD number) { return 0x001B0000u | number << 2; }

static_assert(IOCTL_SERIAL_SET_BREAK_ON == Serial(1), "IOCTL_SERIAL_SET_BREAK_ON");
static_assert(IOCTL_SERIAL_SET_BREAK_OFF == Serial(2), "IOCTL_SERIAL_SET_BREAK_OFF");
static_assert(IOCTL_SERIAL_SET_DTR == Serial(3), "IOCTL_SERIAL_SET_DTR");
static_assert(IOCTL_SERIAL_CLR_DTR == Serial(4), "IOCTL_SERIAL_CLR_DTR");
static_assert(IOCTL_SERIAL_SET_RTS == Serial(5), "IOCTL_SERIAL_SET_RTS");
static_assert(IOCTL_SERIAL_CLR_RTS == Serial(6), "IOCTL_SERIAL_CLR_RTS");
static_assert(IOCTL_SERIAL_SET_XOFF == Serial(7), "IOCTL_SERIAL_SET_XOFF");
static_assert(IOCTL_SERIAL_SET_XON == Serial(8), "IOCTL_SERIAL_SET_XON");
static_assert(IOCTL_SERIAL_GET_WAIT_MASK == Serial(9), "IOCTL_SERIAL_GET_WAIT_MASK");
static_assert(IOCTL_SERIAL_SET_WAIT_MASK == Serial(10), "IOCTL_SERIAL_SET_WAIT_MASK");
static_assert(IOCTL_SERIAL_WAIT_ON_MASK == Serial(11), "IOCTL_SERIAL_WAIT_ON_MASK");
static_assert(IOCTL_SERIAL_GET_COMMSTATUS == Serial(12), "IOCTL_SERIAL_GET_COMMSTATUS");
static_assert(IOCTL_SERIAL_GET_MODEMSTATUS == Serial(13), "IOCTL_SERIAL_GET_MODEMSTATUS");
static_assert(IOCTL_SERIAL_GET_PROPERTIES == Serial(14), "IOCTL_SERIAL_GET_PROPERTIES");
static_assert(IOCTL_SERIAL_SET_TIMEOUTS == Serial(15), "IOCTL_SERIAL_SET_TIMEOUTS");
static_assert(IOCTL_SERIAL_GET_TIMEOUTS == Serial(16), "IOCTL_SERIAL_GET_TIMEOUTS");
static_assert(IOCTL_SERIAL_PURGE == Serial(17), "IOCTL_SERIAL_PURGE");
static_assert(IOCTL_SERIAL_SET_QUEUE_SIZE == Serial(18), "IOCTL_SERIAL_SET_QUEUE_SIZE");
static_assert(IOCTL_SERIAL_IMMEDIATE_CHAR == Serial(19), "IOCTL_SERIAL_IMMEDIATE_CHAR");
static_assert(IOCTL_SERIAL_GET_DCB == Serial(20), "IOCTL_SERIAL_GET_DCB");
static_assert(IOCTL_SERIAL_SET_DCB == Serial(21), "IOCTL_SERIAL_SET_DCB");
static_assert(IOCTL_SERIAL_ENABLE_IR == Serial(22), "IOCTL_SERIAL_ENABLE_IR");
static_assert(IOCTL_SERIAL_DISABLE_IR == Serial(23), "IOCTL_SERIAL_DISABLE_IR");

// The process-exit notice: device type 259 (PSL), function 255, neither buffered nor direct.
static_assert(IOCTL_PSL_NOTIFY == 0x010303FFu, "IOCTL_PSL_NOTIFY");
static_assert(DLL_PROCESS_EXITING == 4, "DLL_PROCESS_EXITING");

// EscapeCommFunction's codes.
static_assert(SETXOFF == 1 && SETXON == 2, "SETXOFF, SETXON");
static_assert(SETRTS == 3 && CLRRTS == 4, "SETRTS, CLRRTS");
static_assert(SETDTR == 5 && CLRDTR == 6, "SETDTR, CLRDTR");
static_assert(SETBREAK == 8 && CLRBREAK == 9, "SETBREAK, CLRBREAK");
static_assert(SETIR == 10 && CLRIR == 11, "SETIR, CLRIR");

// What the driver reports of itself.
static_assert(NOPARITY == 0 && ONESTOPBIT == 0, "NOPARITY, ONESTOPBIT");
static_assert(PST_RS232 == 1 && SP_SERIALCOMM == 1, "PST_RS232, SP_SERIALCOMM");

// Records as the device lays them out: a caller passes these sizes.
static_assert(sizeof(DCB) == 28, "DCB");
static_assert(sizeof(COMMPROP) == 64, "COMMPROP");
static_assert(sizeof(COMMTIMEOUTS) == 20, "COMMTIMEOUTS");
static_assert(sizeof(COMSTAT) == 12, "COMSTAT");
static_assert(sizeof(SERIAL_DEV_STATUS) == 16, "SERIAL_DEV_STATUS");
static_assert(sizeof(SERIAL_QUEUE_SIZES) == 8, "SERIAL_QUEUE_SIZES");
// dwSize, dwFlags and the device's 32-bit process and thread: 16 bytes, on
// the device and on a 64-bit host alike.
static_assert(sizeof(DEVICE_PSL_NOTIFY) == 16, "DEVICE_PSL_NOTIFY");

}  // namespace
