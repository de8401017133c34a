// How the device manager names what it activates: a device's name from its
// key's Prefix and Index, the index a key without one takes, the active key
// of each activation, the order of the boot's keys, and the notice a driver
// receives when a process that holds its device open ends.
#pragma once

#include <windows.h>
#include <pkfuncs.h>

#include <algorithm>
#include <string>
#include <vector>

namespace ceplatform {

using WideText = std::basic_string<WCHAR>;

// Prefix, index and a colon: "COM" and 5 make "COM5:".
inline WideText DeviceName(const WideText& prefix, DWORD index) {
  WideText digits;
  do {
    digits.insert(digits.begin(), static_cast<WCHAR>('0' + index % 10));
  } while (index /= 10);
  return prefix + digits + static_cast<WCHAR>(':');
}

// The index of a new device: the one its key gives, or without one the
// first of 1 to 9 whose name is free. False when that one is taken (the
// device manager answers ERROR_DEVICE_IN_USE). taken(index): whether a
// device of the prefix has the index.
template <typename Taken>
bool ChooseIndex(const DWORD* given, Taken taken, DWORD* index) {
  DWORD candidate = given ? *given : 1;
  if (!given) {
    while (candidate < 10 && taken(candidate)) ++candidate;
  }
  if (taken(candidate) || (!given && candidate >= 10)) return false;
  *index = candidate;
  return true;
}

// The active key of an activation, numbered from 1: Drivers\Active\01.
inline WideText ActiveKey(const WideText& activeRoot, unsigned number) {
  WideText text = activeRoot + static_cast<WCHAR>('\\');
  if (number < 10) text += static_cast<WCHAR>('0');
  WideText digits;
  do {
    digits.insert(digits.begin(), static_cast<WCHAR>('0' + number % 10));
  } while (number /= 10);
  return text + digits;
}

// A key under Drivers\BuiltIn that names a driver (Dll, Prefix, Index).
struct BootKey {
  DWORD order;  // its Order value; MAXDWORD without one
  WideText name;
};

// The boot activates its keys by Order, keys without one last, then by key
// name, case ignored; fold(c) is the platform's case fold of a character.
template <typename Fold>
void SortForBoot(std::vector<BootKey>* keys, Fold fold) {
  std::stable_sort(keys->begin(), keys->end(), [&](const BootKey& a, const BootKey& b) {
    if (a.order != b.order) return a.order < b.order;
    return std::lexicographical_compare(a.name.begin(), a.name.end(), b.name.begin(), b.name.end(),
                                        [&](WCHAR x, WCHAR y) { return fold(x) < fold(y); });
  });
}

// The notice of a process's end, one per file it holds open: dwSize,
// dwFlags, the process and the thread, the device's 16 bytes.
inline DEVICE_PSL_NOTIFY ExitNotice(DWORD process, DWORD thread) {
  return DEVICE_PSL_NOTIFY{sizeof(DEVICE_PSL_NOTIFY), DLL_PROCESS_EXITING, process, thread};
}

}  // namespace ceplatform
