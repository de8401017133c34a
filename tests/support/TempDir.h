// A temporary directory for one test, removed with everything in it.
#pragma once

#include <string>

namespace cetest {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return path_; }
  // Writes a file below the directory, creating its parent directories.
  void Write(const std::string& relative, const std::string& content) const;
  // The content of a file below the directory; empty when it is missing.
  std::string Read(const std::string& relative) const;
  bool Exists(const std::string& relative) const;

 private:
  std::string path_;
};

// Copies the built driver library into the device root's system directory.
void InstallDriver(const std::string& root, const std::string& builtDriver);
// Writes the splitter's relay key as the logger's installer does; false when
// the registry refused it.
bool WriteRelayKey(unsigned long index, unsigned long source, unsigned long tap);

}  // namespace cetest
