#include "TempDir.h"

#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace cetest {

namespace fs = std::filesystem;

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/cetest-XXXXXX";
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot create a temporary directory");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;  // a test that failed may leave files; removal is best effort
  fs::remove_all(path_, ignored);
}

void TempDir::Write(const std::string& relative, const std::string& content) const {
  const fs::path file = fs::path(path_) / relative;
  fs::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary);
  out << content;
}

std::string TempDir::Read(const std::string& relative) const {
  std::ifstream in(fs::path(path_) / relative, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

bool TempDir::Exists(const std::string& relative) const { return fs::exists(fs::path(path_) / relative); }

void InstallDriver(const std::string& root, const std::string& builtDriver) {
  fs::create_directories(fs::path(root) / "Windows");
  fs::copy_file(builtDriver, fs::path(root) / "Windows" / "Ravelink.Dll", fs::copy_options::overwrite_existing);
}

bool WriteRelayKey(unsigned long index, unsigned long source, unsigned long tap) {
  HKEY key;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Drivers\\BuiltIn\\Ravelink", 0, nullptr, 0, 0, nullptr, &key, nullptr) !=
      ERROR_SUCCESS) {
    return false;
  }
  const char16_t dll[] = u"Ravelink.Dll";
  const char16_t prefix[] = u"COM";
  const DWORD numbers[] = {static_cast<DWORD>(index), static_cast<DWORD>(source), static_cast<DWORD>(tap)};
  bool ok = RegSetValueExW(key, u"Dll", 0, REG_SZ, reinterpret_cast<const BYTE*>(dll), sizeof dll) == ERROR_SUCCESS &&
            RegSetValueExW(key, u"Prefix", 0, REG_SZ, reinterpret_cast<const BYTE*>(prefix), sizeof prefix) == ERROR_SUCCESS;
  const char16_t* names[] = {u"Index", u"srcIndex", u"monIndex"};
  for (int i = 0; i < 3; ++i) {
    ok = ok && RegSetValueExW(key, names[i], 0, REG_DWORD, reinterpret_cast<const BYTE*>(&numbers[i]), 4) == ERROR_SUCCESS;
  }
  RegCloseKey(key);
  return ok;
}

}  // namespace cetest
