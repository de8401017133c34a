// The device manager of Windows CE, inside the program that loads this
// core library: the desktop has none. It activates drivers from registry
// keys as the device does (Drivers\BuiltIn at the program's start, any key
// through ActivateDevice), names their devices Prefix + Index + ":", and
// carries the calls on an open device file to the driver's entry points on
// the calling thread. A device name no driver answers is the desktop's
// serial port only when the device has that port; other names are files.
#pragma once

#include <windows.h>

namespace coredll {

// Activates the keys under Drivers\BuiltIn, once: the program's device
// manager starts at its first call that may reach the registry or a device,
// before that call, as the device's boot comes before every program.
void BootDevices();

HANDLE Activate(LPCWSTR key, DWORD clientInfo);
BOOL Deactivate(HANDLE device);

// True when the name has the device's form, XXXn: (three letters, a digit,
// a colon).
bool IsDeviceName(LPCWSTR name);
// Opens a device a driver answers: a handle, INVALID_HANDLE_VALUE with the
// driver's reason, or NULL when no driver answers the name.
HANDLE OpenDevice(LPCWSTR name, DWORD access, DWORD share);

// True when the name is one of the device's own serial ports, as its
// registry lists them (a Drivers\BuiltIn key of Serial.Dll): those are
// Wine's serial ports of the same names.
bool IsDesktopPort(LPCWSTR name);

// True when the handle is a device file of a driver; the calls then answer
// from it.
bool IsDeviceFile(HANDLE file);
BOOL CloseDevice(HANDLE file);
BOOL ReadDevice(HANDLE file, LPVOID buffer, DWORD count, LPDWORD done);
BOOL WriteDevice(HANDLE file, LPCVOID buffer, DWORD count, LPDWORD done);
DWORD SeekDevice(HANDLE file, LONG amount, DWORD method);
BOOL ControlDevice(HANDLE file, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize, LPDWORD returned);

// The process-exit notice to every driver the program still holds open,
// then their close, as the device manager does when a process ends.
void ProcessExiting();

// Signalled whenever a device is activated (the relay's client waits on it).
HANDLE DeviceActivated();
// True when a device of this name is active.
bool DeviceExists(LPCWSTR name);

}  // namespace coredll
