// Every request a program makes of its device, defined once: its name, its
// result and its parameters. The name is both the DeviceService method and
// the operation of its frame (common/Protocol.h). A request frame carries the
// inputs in the order of the parameters, an answer frame the result and then
// the outputs (the pointers) in that order; RemoteDevice's stubs and the
// device's dispatch are both made from this list by common/RequestCodec.h, so
// the two ends cannot read a field the other did not write.
//
// Results follow the platform: BOOL or an id (0 for a failure) with the reason
// in the calling thread's last error; registry calls answer the error code.
// The order of the list is the order of the operations' numbers.
#pragma once

// X(name, result, (parameters), (arguments))
#define CEHOST_REQUESTS(X)                                                                                      \
  /* Registry under HKEY_LOCAL_MACHINE; key paths are relative to it. */                                      \
  X(RegOpenKey, LONG, (const std::u16string& key), (key))                                                      \
  X(RegCreateKey, LONG, (const std::u16string& key, DWORD* disposition), (key, disposition))                   \
  X(RegQueryValue, LONG,                                                                                        \
    (const std::u16string& key, const std::u16string& name, DWORD* type, std::vector<BYTE>* data),             \
    (key, name, type, data))                                                                                    \
  X(RegSetValue, LONG,                                                                                          \
    (const std::u16string& key, const std::u16string& name, DWORD type, const BYTE* data, DWORD size),         \
    (key, name, type, data, size))                                                                              \
  X(RegDeleteValue, LONG, (const std::u16string& key, const std::u16string& name), (key, name))                \
  X(RegDeleteKey, LONG, (const std::u16string& key), (key))                                                    \
  X(RegEnumKey, LONG, (const std::u16string& key, DWORD index, std::u16string* name), (key, index, name))      \
  X(RegEnumValue, LONG,                                                                                         \
    (const std::u16string& key, DWORD index, std::u16string* name, DWORD* type, std::vector<BYTE>* data),      \
    (key, index, name, type, data))                                                                             \
  /* Device manager: activated devices and open device files, by id. */                                       \
  X(ActivateDevice, DWORD, (const std::u16string& key, DWORD clientInfo), (key, clientInfo))                   \
  X(DeactivateDevice, BOOL, (DWORD device), (device))                                                          \
  X(OpenDevice, DWORD, (const std::u16string& name, DWORD access, DWORD share), (name, access, share))         \
  X(CloseDevice, BOOL, (DWORD file), (file))                                                                   \
  X(ReadDevice, BOOL, (DWORD file, void* buffer, DWORD count, DWORD* done), (file, buffer, count, done))       \
  X(WriteDevice, BOOL, (DWORD file, const void* buffer, DWORD count, DWORD* done),                             \
    (file, buffer, count, done))                                                                                \
  X(SeekDevice, DWORD, (DWORD file, LONG amount, DWORD method), (file, amount, method))                        \
  X(IoControlDevice, BOOL,                                                                                      \
    (DWORD file, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned),               \
    (file, code, in, inSize, out, outSize, returned))                                                           \
  /* Named mutexes: created or opened (ERROR_ALREADY_EXISTS) by name. */                                       \
  X(CreateMutex, DWORD, (const std::u16string& name, BOOL initialOwner), (name, initialOwner))                 \
  X(ReleaseMutex, BOOL, (DWORD mutex), (mutex))                                                                \
  X(CloseMutex, BOOL, (DWORD mutex), (mutex))                                                                  \
  /* The device's local time. */                                                                               \
  X(GetLocalTime, void, (SYSTEMTIME* time), (time))                                                            \
  X(SetLocalTime, BOOL, (const SYSTEMTIME& time), (time))                                                      \
  /* Top-level windows of every program, listed in stacking order, top first.                                  \
     Ids are the windows' HWND values, the same in every program. */                                           \
  X(CreateTopWindow, DWORD, (const std::u16string& title), (title))                                            \
  X(DestroyTopWindow, BOOL, (DWORD window), (window))                                                          \
  X(SetWindowTitle, BOOL, (DWORD window, const std::u16string& title), (window, title))                        \
  X(GetWindowTitle, BOOL, (DWORD window, std::u16string* title), (window, title))                              \
  X(ListWindows, std::vector<DWORD>, (), ())                                                                   \
  /* placement: a WindowPlacement */                                                                           \
  X(PlaceWindow, BOOL, (DWORD window, DWORD placement), (window, placement))                                   \
  X(SetForegroundWindow, BOOL, (DWORD window), (window))                                                       \
  /* A message to another program's window, handled on that window's thread;                                  \
     the caller waits for the answer. */                                                                       \
  X(SendWindowMessage, BOOL, (DWORD window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result),      \
    (window, message, wParam, lParam, result))
