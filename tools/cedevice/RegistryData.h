// A value's data as cedevice reg writes and shows it: the DATA of
// `reg add /t TYPE /d DATA` as the registry stores it, and what `reg query`
// prints of stored data.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace cedevice {

// REG_SZ and REG_MULTI_SZ (its strings parted by \0) as UTF-16 with their
// terminators; REG_DWORD as a number, decimal or 0x hexadecimal; REG_BINARY
// as pairs of hex digits. False with the reason for anything else.
bool ParseRegistryData(const std::string& type, const std::string& text, DWORD* regType, std::vector<BYTE>* data,
                       std::string* error);

// A REG_DWORD as 0x hexadecimal, text as UTF-8 (the strings of a REG_MULTI_SZ
// joined by |, as reg shows them), anything else as hex digits.
std::string DescribeRegistryData(DWORD type, const std::vector<BYTE>& data);

}  // namespace cedevice
