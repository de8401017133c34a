// The DATA of `cedevice reg add /t TYPE /d DATA`: the first byte picks the
// type, the rest is the text. What is taken has the shape the registry
// stores; bytes are the hex digits given; a number or bytes shown by
// `reg query` are taken back as the same data.
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/cedevice/RegistryData.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const char* const kTypes[] = {"REG_SZ", "REG_MULTI_SZ", "REG_DWORD", "REG_BINARY", "REG_QWORD"};
  if (size == 0) return 0;
  const std::string type = kTypes[data[0] % 5];
  // An argument ends at its first zero byte.
  std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  text = text.substr(0, text.find('\0'));
  DWORD regType = 0;
  std::vector<BYTE> stored;
  std::string error;
  if (!cedevice::ParseRegistryData(type, text, &regType, &stored, &error)) {
    Require(!error.empty() && stored.empty());
    return 0;
  }
  switch (regType) {
    case REG_SZ:
    case REG_MULTI_SZ: {
      // Whole UTF-16 characters, ended by one terminator, a REG_MULTI_SZ by two.
      const size_t ends = regType == REG_SZ ? 2 : 4;
      Require(stored.size() % 2 == 0 && stored.size() >= ends);
      for (size_t i = stored.size() - ends; i < stored.size(); ++i) Require(stored[i] == 0);
      break;
    }
    case REG_DWORD:
    case REG_BINARY: {
      Require(regType != REG_DWORD || stored.size() == 4);
      Require(regType != REG_BINARY || stored.size() * 2 == text.size());
      const std::string shown = cedevice::DescribeRegistryData(regType, stored);
      if (regType == REG_BINARY) {
        // The bytes are the digits given, shown in capitals.
        std::string upper = text;
        for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        Require(shown == upper);
      }
      std::vector<BYTE> again;
      DWORD againType = 0;
      Require(cedevice::ParseRegistryData(type, shown, &againType, &again, &error));
      Require(againType == regType && again == stored);
      break;
    }
    default:
      Require(false);
  }
  return 0;
}
