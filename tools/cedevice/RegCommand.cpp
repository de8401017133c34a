// cedevice reg: the device's registry, in the manner of the Windows reg
// command.
//   reg query  KEY [/v NAME | /ve]
//   reg add    KEY [/v NAME | /ve] [/t REG_SZ|REG_DWORD|REG_BINARY|REG_MULTI_SZ] [/d DATA] [/f]
//   reg delete KEY [/v NAME | /ve] [/f]
// KEY starts with HKLM\ or HKEY_LOCAL_MACHINE\.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "RegistryData.h"
#include "common/Utf.h"

namespace cedevice {

namespace {

struct RegArguments {
  std::string verb;
  std::u16string key;
  bool haveValue = false;
  std::u16string value;
  std::string type = "REG_SZ";
  std::string data;
};

bool ParseKey(const std::string& text, std::u16string* key) {
  for (const char* prefix : {"HKLM", "HKEY_LOCAL_MACHINE"}) {
    const std::string p = prefix;
    if (text.size() >= p.size() && strncasecmp(text.c_str(), p.c_str(), p.size()) == 0 &&
        (text.size() == p.size() || text[p.size()] == '\\')) {
      *key = cehost::ToUtf16(text.size() > p.size() ? text.substr(p.size() + 1) : std::string());
      return true;
    }
  }
  return false;
}

const char* TypeName(DWORD type) {
  switch (type) {
    case REG_SZ: return "REG_SZ";
    case REG_EXPAND_SZ: return "REG_EXPAND_SZ";
    case REG_BINARY: return "REG_BINARY";
    case REG_DWORD: return "REG_DWORD";
    case REG_MULTI_SZ: return "REG_MULTI_SZ";
    default: return "REG_NONE";
  }
}

int Query(const RegArguments& a) {
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, a.key.c_str(), 0, 0, &key) != ERROR_SUCCESS) {
    std::fprintf(stderr, "cedevice reg: the key HKEY_LOCAL_MACHINE\\%s does not exist\n", cehost::ToUtf8(a.key).c_str());
    return 1;
  }
  std::printf("\nHKEY_LOCAL_MACHINE%s%s\n", a.key.empty() ? "" : "\\", cehost::ToUtf8(a.key).c_str());
  bool found = !a.haveValue;
  for (DWORD index = 0;; ++index) {
    WCHAR name[256];
    DWORD nameLength = 256;
    BYTE data[4096];
    DWORD size = sizeof data;
    DWORD type = 0;
    if (RegEnumValueW(key, index, name, &nameLength, nullptr, &type, data, &size) != ERROR_SUCCESS) break;
    if (a.haveValue && !cehost::EqualsNoCase(name, a.value)) continue;
    found = true;
    const std::string shown = name[0] ? cehost::ToUtf8(name) : std::string("(Default)");
    std::printf("    %s    %s    %s\n", shown.c_str(), TypeName(type),
                DescribeRegistryData(type, std::vector<BYTE>(data, data + size)).c_str());
  }
  if (!a.haveValue) {
    for (DWORD index = 0;; ++index) {
      WCHAR name[256];
      DWORD length = 256;
      if (RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      std::printf("\nHKEY_LOCAL_MACHINE%s%s\\%s\n", a.key.empty() ? "" : "\\", cehost::ToUtf8(a.key).c_str(),
                  cehost::ToUtf8(name).c_str());
    }
  }
  RegCloseKey(key);
  if (!found) {
    std::fprintf(stderr, "cedevice reg: the value %s does not exist\n", cehost::ToUtf8(a.value).c_str());
    return 1;
  }
  return 0;
}

int Add(const RegArguments& a) {
  std::vector<BYTE> data;
  DWORD type;
  std::string error;
  if (!ParseRegistryData(a.type, a.data, &type, &data, &error)) {
    std::fprintf(stderr, "cedevice reg: %s\n", error.c_str());
    return 2;
  }
  HKEY key;
  LONG result = RegCreateKeyExW(HKEY_LOCAL_MACHINE, a.key.c_str(), 0, nullptr, 0, 0, nullptr, &key, nullptr);
  if (result == ERROR_SUCCESS && a.haveValue) {
    result = RegSetValueExW(key, a.value.c_str(), 0, type, data.data(), static_cast<DWORD>(data.size()));
  }
  if (result == ERROR_SUCCESS) RegCloseKey(key);
  if (result != ERROR_SUCCESS) {
    std::fprintf(stderr, "cedevice reg: the registry refused the change (error %d)\n", static_cast<int>(result));
    return 1;
  }
  return 0;
}

int Delete(const RegArguments& a) {
  LONG result;
  if (a.haveValue) {
    HKEY key;
    result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, a.key.c_str(), 0, 0, &key);
    if (result == ERROR_SUCCESS) {
      result = RegDeleteValueW(key, a.value.c_str());
      RegCloseKey(key);
    }
  } else {
    result = RegDeleteKeyW(HKEY_LOCAL_MACHINE, a.key.c_str());
  }
  if (result != ERROR_SUCCESS) {
    std::fprintf(stderr, "cedevice reg: nothing was deleted (error %d)\n", static_cast<int>(result));
    return 1;
  }
  return 0;
}

}  // namespace

int Reg(int argc, char** argv) {
  CommandLine line;
  std::string error;
  std::string root;
  if (!line.Parse(argc, argv, 2, {"root"}, &error) || !RootOption(line, &root, &error)) {
    std::fprintf(stderr, "cedevice reg: %s\n", error.c_str());
    return 2;
  }
  const auto& args = line.positional;
  RegArguments a;
  if (args.size() < 2 || (args[0] != "query" && args[0] != "add" && args[0] != "delete") ||
      !ParseKey(args[1], &a.key)) {
    std::fprintf(stderr, "cedevice reg: give query, add or delete and a key under HKLM\\\n");
    return 2;
  }
  a.verb = args[0];
  for (size_t i = 2; i < args.size(); ++i) {
    const std::string& option = args[i];
    const bool hasNext = i + 1 < args.size();
    if (option == "/v" && hasNext) {
      a.haveValue = true;
      a.value = cehost::ToUtf16(args[++i]);
    } else if (option == "/ve") {
      a.haveValue = true;
      a.value.clear();
    } else if (option == "/t" && hasNext) {
      a.type = args[++i];
    } else if (option == "/d" && hasNext) {
      a.data = args[++i];
    } else if (option != "/f") {  // never asks, so /f changes nothing
      std::fprintf(stderr, "cedevice reg: unknown option '%s'\n", option.c_str());
      return 2;
    }
  }
  if (!ConnectTo(root)) return 1;
  if (a.verb == "query") return Query(a);
  if (a.verb == "add") return Add(a);
  return Delete(a);
}

}  // namespace cedevice
