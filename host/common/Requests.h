// Every request a program makes of its device, and every delivery the device
// makes to a program, defined once: its name, its result and its parameters. The name is both the DeviceService method and
// the operation of its frame (common/Protocol.h). A request frame carries the
// inputs in the order of the parameters, an answer frame the result and then
// the outputs (the pointers) in that order; RemoteDevice's stubs and the
// device's dispatch are both made from this list by common/RequestCodec.h, so
// the two ends cannot read a field the other did not write.
//
// Results follow the platform: BOOL or an id (0 for a failure) with the reason
// in the calling thread's last error; registry calls answer the error code.
// The order of the lists is the order of the operations' numbers.
#pragma once

// X(name, result, (parameters), (arguments), absent)
// absent: what the call answers while the program has no device to reach
// (coredll/DeviceLink.cpp): a registry call's code, Refuse(error) (0 and
// the last error; Refuse(error, value) answers the value), or
// Fill(output, value).
#define CEHOST_REQUESTS(X)                                                                                       \
  /* Registry under HKEY_LOCAL_MACHINE; key paths are relative to it. */                                         \
  X(RegOpenKey, LONG, (const std::u16string& key), (key), ERROR_FILE_NOT_FOUND)                                  \
  X(RegCreateKey, LONG, (const std::u16string& key, DWORD* disposition), (key, disposition),                     \
    ERROR_ACCESS_DENIED)                                                                                         \
  X(RegQueryValue, LONG,                                                                                         \
    (const std::u16string& key, const std::u16string& name, DWORD* type, std::vector<BYTE>* data),               \
    (key, name, type, data), ERROR_FILE_NOT_FOUND)                                                               \
  X(RegSetValue, LONG,                                                                                           \
    (const std::u16string& key, const std::u16string& name, DWORD type, const BYTE* data, DWORD size),           \
    (key, name, type, data, size), ERROR_ACCESS_DENIED)                                                          \
  X(RegDeleteValue, LONG, (const std::u16string& key, const std::u16string& name), (key, name),                  \
    ERROR_FILE_NOT_FOUND)                                                                                        \
  X(RegDeleteKey, LONG, (const std::u16string& key), (key), ERROR_FILE_NOT_FOUND)                                \
  X(RegEnumKey, LONG, (const std::u16string& key, DWORD index, std::u16string* name), (key, index, name),        \
    ERROR_FILE_NOT_FOUND)                                                                                        \
  X(RegEnumValue, LONG,                                                                                          \
    (const std::u16string& key, DWORD index, std::u16string* name, DWORD* type, std::vector<BYTE>* data),        \
    (key, index, name, type, data), ERROR_FILE_NOT_FOUND)                                                        \
  /* Device manager: activated devices and open device files, by id. */                                          \
  X(ActivateDevice, DWORD, (const std::u16string& key, DWORD clientInfo), (key, clientInfo),                     \
    Refuse(ERROR_FILE_NOT_FOUND))                                                                                \
  X(DeactivateDevice, BOOL, (DWORD device), (device), Refuse(ERROR_INVALID_HANDLE))                              \
  X(OpenDevice, DWORD, (const std::u16string& name, DWORD access, DWORD share), (name, access, share),           \
    Refuse(ERROR_FILE_NOT_FOUND))                                                                                \
  X(CloseDevice, BOOL, (DWORD file), (file), Refuse(ERROR_INVALID_HANDLE))                                       \
  X(ReadDevice, BOOL, (DWORD file, void* buffer, DWORD count, DWORD* done), (file, buffer, count, done),         \
    Refuse(ERROR_INVALID_HANDLE))                                                                                \
  X(WriteDevice, BOOL, (DWORD file, const void* buffer, DWORD count, DWORD* done),                               \
    (file, buffer, count, done), Refuse(ERROR_INVALID_HANDLE))                                                   \
  X(SeekDevice, DWORD, (DWORD file, LONG amount, DWORD method), (file, amount, method),                          \
    Refuse(ERROR_INVALID_HANDLE, 0xFFFFFFFFu))                                                                   \
  X(IoControlDevice, BOOL,                                                                                       \
    (DWORD file, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned),                 \
    (file, code, in, inSize, out, outSize, returned), Refuse(ERROR_INVALID_HANDLE))                              \
  /* Named mutexes: created or opened (ERROR_ALREADY_EXISTS) by name. */                                         \
  X(CreateMutex, DWORD, (const std::u16string& name, BOOL initialOwner), (name, initialOwner),                   \
    Refuse(ERROR_GEN_FAILURE))                                                                                   \
  X(ReleaseMutex, BOOL, (DWORD mutex), (mutex), Refuse(ERROR_INVALID_HANDLE))                                    \
  X(CloseMutex, BOOL, (DWORD mutex), (mutex), Refuse(ERROR_INVALID_HANDLE))                                      \
  /* The device's local time. */                                                                                 \
  X(GetLocalTime, void, (SYSTEMTIME* time), (time), Fill(time, kAbsentTime))                                     \
  X(SetLocalTime, BOOL, (const SYSTEMTIME& time), (time), Refuse(ERROR_GEN_FAILURE))                             \
  /* Top-level windows of every program, listed in stacking order, top first.                                    \
     Ids are the windows' HWND values, the same in every program. */                                             \
  X(CreateTopWindow, DWORD, (const std::u16string& title), (title), Refuse(ERROR_GEN_FAILURE))                   \
  X(DestroyTopWindow, BOOL, (DWORD window), (window), Refuse(ERROR_INVALID_WINDOW_HANDLE))                       \
  X(SetWindowTitle, BOOL, (DWORD window, const std::u16string& title), (window, title),                          \
    Refuse(ERROR_INVALID_WINDOW_HANDLE))                                                                         \
  X(GetWindowTitle, BOOL, (DWORD window, std::u16string* title), (window, title),                                \
    Refuse(ERROR_INVALID_WINDOW_HANDLE))                                                                         \
  X(ListWindows, std::vector<DWORD>, (), (), std::vector<DWORD>())                                               \
  /* placement: a WindowPlacement */                                                                             \
  X(PlaceWindow, BOOL, (DWORD window, DWORD placement), (window, placement),                                     \
    Refuse(ERROR_INVALID_WINDOW_HANDLE))                                                                         \
  X(SetForegroundWindow, BOOL, (DWORD window), (window), Refuse(ERROR_INVALID_WINDOW_HANDLE))                    \
  /* A message to another program's window, handled on that window's thread;                                     \
     the caller waits for the answer. */                                                                         \
  X(SendWindowMessage, BOOL, (DWORD window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result),        \
    (window, message, wParam, lParam, result), Refuse(ERROR_INVALID_WINDOW_HANDLE))

// From the device to a program, on the program's own connection, while the
// device thread that makes one waits for the answer. The device's deliveries
// are ProgramService methods (common/DeviceService.h); the device writes them
// and the program answers them with the same code as the requests.
#define CEHOST_DELIVERIES(X)                                                                                    \
  /* A message another program sent to one of the program's windows, handled                                  \
     on that window's thread. */                                                                                \
  X(DeliverMessage, BOOL, (DWORD window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result),          \
    (window, message, wParam, lParam, result))                                                                  \
  /* Another program made one of the program's windows the foreground window. */                               \
  X(ForegroundWindow, BOOL, (DWORD window), (window))
