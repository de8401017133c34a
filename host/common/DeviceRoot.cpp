#include "DeviceRoot.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>

#include "Utf.h"

namespace cehost {

namespace {

std::mutex rootMutex;
std::string rootDir;  // empty until set or found

bool IsDirectory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

std::string Canonical(const std::string& path) {
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved)) return resolved;
  return path;
}

// The entry of a host directory whose name equals name without regard to
// case; the exact name wins.
std::string MatchEntry(const std::string& dir, const std::string& name) {
  if (Exists(dir + "/" + name)) return name;
  DIR* d = ::opendir(dir.c_str());
  if (!d) return name;
  std::string found = name;
  const std::u16string wanted = ToUtf16(name);
  while (dirent* entry = ::readdir(d)) {
    if (EqualsNoCase(ToUtf16(entry->d_name), wanted)) {
      found = entry->d_name;
      break;
    }
  }
  ::closedir(d);
  return found;
}

bool ValidComponent(std::u16string_view part, bool wildcards) {
  if (part == u"." || part == u"..") return false;
  for (char16_t c : part) {
    if (c < 0x20 || c == u'<' || c == u'>' || c == u':' || c == u'"' || c == u'|') return false;
    if (!wildcards && (c == u'*' || c == u'?')) return false;
  }
  return true;
}

}  // namespace

void SetDeviceRoot(const std::string& hostDir) {
  std::lock_guard<std::mutex> lock(rootMutex);
  rootDir = Canonical(hostDir);
}

bool FindDeviceRoot(std::string* hostDir) {
  std::lock_guard<std::mutex> lock(rootMutex);
  if (rootDir.empty()) {
    if (const char* env = std::getenv("CEDEVICE_ROOT"); env && *env) {
      rootDir = Canonical(env);
    } else {
      char exe[PATH_MAX];
      const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
      if (n > 0) {
        std::string dir(exe, static_cast<size_t>(n));
        while (!dir.empty()) {
          dir.resize(dir.rfind('/') == std::string::npos ? 0 : dir.rfind('/'));
          const std::string candidate = dir.empty() ? "/" : dir;
          if (Exists(candidate + "/registry.reg") || IsDirectory(candidate + "/Windows")) {
            rootDir = candidate;
            break;
          }
        }
      }
    }
  }
  *hostDir = rootDir;
  return !rootDir.empty();
}

bool ResolveDevicePath(std::u16string_view path, std::string* hostPath, DWORD* error, bool wildcards) {
  std::string root;
  if (!FindDeviceRoot(&root)) {
    *error = ERROR_PATH_NOT_FOUND;
    return false;
  }
  std::string result = root;
  bool matching = true;  // once a name is missing, the rest cannot exist either
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find_first_of(u"\\/", start);
    if (end == std::u16string_view::npos) end = path.size();
    const std::u16string_view part = path.substr(start, end - start);
    start = end + 1;
    if (part.empty()) continue;
    if (!ValidComponent(part, wildcards)) {
      *error = ERROR_INVALID_NAME;
      return false;
    }
    std::string name = ToUtf8(part);
    if (matching) {
      name = MatchEntry(result, name);
      matching = Exists(result + "/" + name);
    }
    result += "/" + name;
  }
  *hostPath = result;
  return true;
}

bool ToDevicePath(const std::string& hostPath, std::u16string* devicePath) {
  std::string root;
  if (!FindDeviceRoot(&root)) return false;
  const std::string path = Canonical(hostPath);
  if (path.compare(0, root.size(), root) != 0 || (path.size() > root.size() && path[root.size()] != '/')) {
    return false;
  }
  std::u16string device = ToUtf16(path.substr(root.size()));
  for (auto& c : device) {
    if (c == u'/') c = u'\\';
  }
  *devicePath = device.empty() ? u"\\" : device;
  return true;
}

bool IsDeviceName(std::u16string_view name) {
  if (name.size() < 5 || name.back() != u':') return false;
  for (size_t i = 0; i < 3; ++i) {
    const char16_t c = name[i];
    if (!((c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'))) return false;
  }
  for (size_t i = 3; i + 1 < name.size(); ++i) {
    if (name[i] < u'0' || name[i] > u'9') return false;
  }
  return true;
}

bool MakePrivateDirectories(const std::string& path, std::string* error, bool* existed) {
  struct stat st;
  const bool there = ::stat(path.c_str(), &st) == 0;
  if (existed) *existed = there;
  for (size_t end = path.find('/', 1); !there; end = path.find('/', end + 1)) {
    const std::string folder = path.substr(0, end);
    if (::mkdir(folder.c_str(), 0700) == 0) {
      ::chmod(folder.c_str(), 0700);  // a umask may have taken the owner's bits too
    } else if (errno != EEXIST) {
      *error = "cannot create " + folder + ": " + std::strerror(errno);
      return false;
    }
    if (end == std::string::npos) break;
  }
  if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    *error = path + " is not a directory";
    return false;
  }
  return true;
}

bool PrepareDeviceRoot(const std::string& root, std::string* error) {
  bool existed = false;
  if (!MakePrivateDirectories(root, error, &existed)) return false;
  struct stat st;
  if (existed && ::stat(root.c_str(), &st) == 0 && (st.st_mode & 077) != 0) {
    static std::mutex warnedMutex;
    static std::set<std::string> warned;
    std::lock_guard<std::mutex> lock(warnedMutex);
    if (warned.insert(root).second) {
      std::fprintf(stderr, "the device root %s can be read or entered by other users; chmod 700 %s makes it yours alone\n",
                   root.c_str(), root.c_str());
    }
  }
  return true;
}

}  // namespace cehost
