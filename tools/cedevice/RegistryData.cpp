#include "RegistryData.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/Utf.h"

namespace cedevice {

namespace {

bool HexDigit(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

}  // namespace

bool ParseRegistryData(const std::string& type, const std::string& text, DWORD* regType, std::vector<BYTE>* data,
                       std::string* error) {
  data->clear();
  if (type == "REG_SZ" || type == "REG_MULTI_SZ") {
    *regType = type == "REG_SZ" ? REG_SZ : REG_MULTI_SZ;
    std::u16string chars = cehost::ToUtf16(text);
    if (*regType == REG_MULTI_SZ) {
      for (size_t at; (at = chars.find(u"\\0")) != std::u16string::npos;) chars.replace(at, 2, 1, u'\0');
      chars.push_back(u'\0');
    }
    chars.push_back(u'\0');
    data->resize(chars.size() * 2);
    std::memcpy(data->data(), chars.data(), data->size());
    return true;
  }
  if (type == "REG_DWORD") {
    // strtoul alone would take blanks and a sign before the number.
    char* end = nullptr;
    const unsigned long number = text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))
                                     ? 0
                                     : std::strtoul(text.c_str(), &end, 0);
    if (!end || *end != '\0' || number > 0xFFFFFFFFul) {
      *error = "'" + text + "' is not a REG_DWORD";
      return false;
    }
    const DWORD value = static_cast<DWORD>(number);
    *regType = REG_DWORD;
    data->resize(4);
    std::memcpy(data->data(), &value, 4);
    return true;
  }
  if (type == "REG_BINARY") {
    *regType = REG_BINARY;
    for (size_t i = 0; i < text.size(); i += 2) {
      // Each pair is two hex digits: strtoul alone would take " f" or "-1" too.
      if (i + 1 >= text.size() || !HexDigit(text[i]) || !HexDigit(text[i + 1])) {
        *error = "REG_BINARY data is pairs of hex digits";
        data->clear();
        return false;
      }
      data->push_back(static_cast<BYTE>(std::strtoul(text.substr(i, 2).c_str(), nullptr, 16)));
    }
    return true;
  }
  *error = "unknown type " + type;
  return false;
}

std::string DescribeRegistryData(DWORD type, const std::vector<BYTE>& data) {
  char buffer[32];
  if (type == REG_DWORD && data.size() == 4) {
    DWORD number;
    std::memcpy(&number, data.data(), 4);
    std::snprintf(buffer, sizeof buffer, "0x%x", static_cast<unsigned>(number));
    return buffer;
  }
  if (type == REG_SZ || type == REG_MULTI_SZ) {
    std::u16string text(data.size() / 2, u'\0');
    std::memcpy(text.data(), data.data(), text.size() * 2);
    while (!text.empty() && text.back() == u'\0') text.pop_back();
    for (auto& c : text) {
      if (c == u'\0') c = u'|';  // reg shows the strings of a REG_MULTI_SZ joined
    }
    return cehost::ToUtf8(text);
  }
  std::string hex;
  for (BYTE b : data) {
    std::snprintf(buffer, sizeof buffer, "%02X", b);
    hex += buffer;
  }
  return hex;
}

}  // namespace cedevice
