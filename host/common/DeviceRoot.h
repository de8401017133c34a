// The device root: the host directory that holds the device's file system.
// Device paths ("\Program Files\Wendra\Wendra.cfg") map into it, names
// matched without regard to case.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace cehost {

// Set by a program that boots its device; otherwise the root is found from
// CEDEVICE_ROOT, else from the executable's directory, walking up to the
// nearest directory that holds registry.reg or a Windows directory.
void SetDeviceRoot(const std::string& hostDir);
// False when no root can be found.
bool FindDeviceRoot(std::string* hostDir);

// Maps a device path to a host path. Existing names are matched without
// regard to case; the rest keeps its case. "." and ".." are refused, and so
// are characters a device name cannot hold ('*' and '?' only with
// wildcards). False with the reason in error.
bool ResolveDevicePath(std::u16string_view path, std::string* hostPath, DWORD* error, bool wildcards = false);

// The device path of a host path inside the root.
bool ToDevicePath(const std::string& hostPath, std::u16string* devicePath);

// Makes every folder of the path that is missing for its owner alone (0700,
// whatever the umask); folders that exist stay as they are. existed, when
// asked, tells whether the path itself was there. False with the reason in
// error.
bool MakePrivateDirectories(const std::string& path, std::string* error, bool* existed = nullptr);

// A device root holds a person's tracks: made as above. A root that exists
// and that other users may read or enter is used as it is, with one line on
// standard error (once per process) that says how to make it private.
bool PrepareDeviceRoot(const std::string& root, std::string* error);

// Device names have the form XXXn: ("COM7:").
bool IsDeviceName(std::u16string_view name);

}  // namespace cehost
