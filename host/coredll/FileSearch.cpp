// The device's file searches: FindFirstFileW over one folder with * and ?
// matched without regard to case, then FindNextFileW through what it found.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "FileInfo.h"
#include "common/Utf.h"

namespace cehost {

namespace {

bool WildcardMatch(std::u16string_view pattern, std::u16string_view name) {
  size_t p = 0, n = 0, star = std::u16string_view::npos, mark = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == u'?' || FoldCase(pattern[p]) == FoldCase(name[n]))) {
      ++p, ++n;
    } else if (p < pattern.size() && pattern[p] == u'*') {
      star = p++;
      mark = n;
    } else if (star != std::u16string_view::npos) {
      p = star + 1;
      n = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*') ++p;
  return p == pattern.size();
}

class FindObject : public KernelObject {
 public:
  std::vector<WIN32_FIND_DATAW> found;
  size_t next = 0;
};

// What a search reports of a file it found.
WIN32_FIND_DATAW FindData(const struct stat& st, const std::u16string& name) {
  WIN32_FIND_DATAW data{};
  data.dwFileAttributes = Attributes(st);
  data.ftCreationTime = ToFileTime(st.st_ctim);
  data.ftLastAccessTime = ToFileTime(st.st_atim);
  data.ftLastWriteTime = ToFileTime(st.st_mtim);
  data.nFileSizeHigh = static_cast<DWORD>(static_cast<unsigned long long>(st.st_size) >> 32);
  data.nFileSizeLow = static_cast<DWORD>(st.st_size);
  const size_t length = std::min<size_t>(name.size(), MAX_PATH - 1);
  std::memcpy(data.cFileName, name.data(), length * sizeof(WCHAR));
  return data;
}

}  // namespace

}  // namespace cehost

using namespace cehost;

extern "C" {

HANDLE FindFirstFileW(LPCWSTR lpFileName, LPWIN32_FIND_DATAW lpFindFileData) {
  if (!lpFileName || !lpFindFileData) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  std::u16string pattern = lpFileName;
  const size_t slash = pattern.find_last_of(u"\\/");
  const std::u16string dir = slash == std::u16string::npos ? u"\\" : pattern.substr(0, slash + 1);
  std::u16string name = slash == std::u16string::npos ? pattern : pattern.substr(slash + 1);
  if (name == u"*.*") name.resize(1);  // "*.*" matches every name, with or without a dot
  std::string hostDir;
  std::string check;
  if (name.empty() || !MapDevicePath(dir, &hostDir) || !MapDevicePath(pattern, &check, true)) {
    if (name.empty()) SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  DIR* d = ::opendir(hostDir.c_str());
  if (!d) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  auto search = std::make_shared<FindObject>();
  while (dirent* entry = ::readdir(d)) {
    const std::u16string entryName = ToUtf16(entry->d_name);
    if (entryName == u"." || entryName == u".." || !WildcardMatch(name, entryName)) continue;
    struct stat st;
    if (::stat((hostDir + "/" + entry->d_name).c_str(), &st) == 0) search->found.push_back(FindData(st, entryName));
  }
  ::closedir(d);
  if (search->found.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  *lpFindFileData = search->found[search->next++];
  return InsertHandle(search);
}

BOOL FindNextFileW(HANDLE hFindFile, LPWIN32_FIND_DATAW lpFindFileData) {
  auto search = LookupHandleAs<FindObject>(hFindFile);
  if (!search) return Fail(ERROR_INVALID_HANDLE);
  if (!lpFindFileData) return Fail(ERROR_INVALID_PARAMETER);
  if (search->next >= search->found.size()) return Fail(ERROR_NO_MORE_FILES);
  *lpFindFileData = search->found[search->next++];
  return TRUE;
}

BOOL FindClose(HANDLE hFindFile) {
  if (!LookupHandleAs<FindObject>(hFindFile)) return Fail(ERROR_INVALID_HANDLE);
  return CloseHandle(hFindFile);
}

}  // extern "C"
