// The device's file system, inside the device root. Files are local to the
// program; share modes are honoured between the handles of one program.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "FileInfo.h"
#include "StreamObject.h"
#include "common/DeviceRoot.h"
#include "common/Utf.h"

namespace cehost {

namespace {

// --- share modes ------------------------------------------------------------

struct FileKey {
  dev_t device;
  ino_t inode;
  bool operator<(const FileKey& other) const {
    return device != other.device ? device < other.device : inode < other.inode;
  }
};

struct Opening {
  DWORD access;
  DWORD share;
  const void* owner;
};

std::mutex shareMutex;
std::map<FileKey, std::vector<Opening>> openings;

bool Compatible(const Opening& a, DWORD access, DWORD share) {
  if ((access & GENERIC_READ) && !(a.share & FILE_SHARE_READ)) return false;
  if ((access & GENERIC_WRITE) && !(a.share & FILE_SHARE_WRITE)) return false;
  if ((a.access & GENERIC_READ) && !(share & FILE_SHARE_READ)) return false;
  if ((a.access & GENERIC_WRITE) && !(share & FILE_SHARE_WRITE)) return false;
  return true;
}

// Records an opening unless an earlier one forbids it.
bool Admit(const FileKey& key, DWORD access, DWORD share, const void* owner) {
  std::lock_guard<std::mutex> lock(shareMutex);
  auto& list = openings[key];
  for (const auto& other : list) {
    if (!Compatible(other, access, share)) return false;
  }
  list.push_back({access, share, owner});
  return true;
}

bool WouldAdmit(const FileKey& key, DWORD access, DWORD share) {
  std::lock_guard<std::mutex> lock(shareMutex);
  auto it = openings.find(key);
  if (it == openings.end()) return true;
  return std::all_of(it->second.begin(), it->second.end(),
                     [&](const Opening& other) { return Compatible(other, access, share); });
}

void Release(const FileKey& key, const void* owner) {
  std::lock_guard<std::mutex> lock(shareMutex);
  auto it = openings.find(key);
  if (it == openings.end()) return;
  auto& list = it->second;
  list.erase(std::remove_if(list.begin(), list.end(), [&](const Opening& o) { return o.owner == owner; }),
             list.end());
  if (list.empty()) openings.erase(it);
}

// --- files ------------------------------------------------------------------

class FileObject : public StreamObject {
 public:
  FileObject(int fd, DWORD access, FileKey key) : fd_(fd), access_(access), key_(key) {}
  ~FileObject() override { Close(); }

  BOOL Close() override {
    if (fd_ < 0) return TRUE;
    Release(key_, this);
    const int result = ::close(fd_);
    fd_ = -1;
    return result == 0 ? TRUE : Fail(ErrorFromErrno(errno));
  }

  BOOL Read(void* buffer, DWORD count, DWORD* done) override {
    if (!(access_ & GENERIC_READ)) return Fail(ERROR_ACCESS_DENIED);
    DWORD total = 0;
    while (total < count) {
      const ssize_t n = ::read(fd_, static_cast<char*>(buffer) + total, count - total);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        *done = total;
        return Fail(ErrorFromErrno(errno));
      }
      if (n == 0) break;
      total += static_cast<DWORD>(n);
    }
    *done = total;
    return TRUE;
  }

  // A write the disk cannot take whole (ERROR_DISK_FULL) leaves nothing of
  // itself past the file's old end: a reader never finds half of it.
  BOOL Write(const void* buffer, DWORD count, DWORD* done) override {
    if (!(access_ & GENERIC_WRITE)) return Fail(ERROR_ACCESS_DENIED);
    const off_t start = ::lseek(fd_, 0, SEEK_CUR);
    struct stat before;
    const bool known = start >= 0 && ::fstat(fd_, &before) == 0;
    DWORD total = 0;
    while (total < count) {
      const ssize_t n = ::write(fd_, static_cast<const char*>(buffer) + total, count - total);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        const DWORD error = ErrorFromErrno(errno);
        *done = total;
        if (known && total > 0 && start + static_cast<off_t>(total) > before.st_size &&
            ::ftruncate(fd_, before.st_size > start ? before.st_size : start) == 0) {
          *done = before.st_size > start ? static_cast<DWORD>(before.st_size - start) : 0;
          ::lseek(fd_, start + static_cast<off_t>(*done), SEEK_SET);
        }
        return Fail(error);
      }
      total += static_cast<DWORD>(n);
    }
    *done = total;
    return TRUE;
  }

  DWORD Seek(LONG low, PLONG high, DWORD method) override {
    static const int whence[] = {SEEK_SET, SEEK_CUR, SEEK_END};
    if (method > FILE_END) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return INVALID_SET_FILE_POINTER;
    }
    const long long distance =
        high ? static_cast<long long>((static_cast<unsigned long long>(static_cast<DWORD>(*high)) << 32) |
                                      static_cast<DWORD>(low))
             : static_cast<long long>(low);
    const off_t current = ::lseek(fd_, 0, SEEK_CUR);
    const off_t end = ::lseek(fd_, 0, SEEK_END);
    ::lseek(fd_, current, SEEK_SET);
    const long long base = method == FILE_BEGIN ? 0 : method == FILE_CURRENT ? current : end;
    if (base + distance < 0) {
      SetLastError(ERROR_NEGATIVE_SEEK);
      return INVALID_SET_FILE_POINTER;
    }
    const off_t position = ::lseek(fd_, static_cast<off_t>(distance), whence[method]);
    if (position < 0) {
      SetLastError(ErrorFromErrno(errno));
      return INVALID_SET_FILE_POINTER;
    }
    if (high) *high = static_cast<LONG>(static_cast<unsigned long long>(position) >> 32);
    return static_cast<DWORD>(position);
  }

  BOOL Flush() override {
    if (!(access_ & GENERIC_WRITE)) return Fail(ERROR_ACCESS_DENIED);
    return ::fdatasync(fd_) == 0 ? TRUE : Fail(ErrorFromErrno(errno));
  }

  BOOL SetEnd() override {
    if (!(access_ & GENERIC_WRITE)) return Fail(ERROR_ACCESS_DENIED);
    const off_t position = ::lseek(fd_, 0, SEEK_CUR);
    if (position < 0 || ::ftruncate(fd_, position) != 0) return Fail(ErrorFromErrno(errno));
    return TRUE;
  }

 private:
  int fd_;
  const DWORD access_;
  const FileKey key_;
};

// --- paths ------------------------------------------------------------------

std::string Parent(const std::string& hostPath) {
  const size_t slash = hostPath.rfind('/');
  return slash == std::string::npos ? std::string(".") : hostPath.substr(0, slash);
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The error for a name that does not exist: the file, or the path to it.
DWORD MissingError(const std::string& hostPath) {
  return IsDirectory(Parent(hostPath)) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

bool MapOrFail(LPCWSTR path, std::string* hostPath, bool wildcards = false) {
  if (!path || !*path) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  return MapDevicePath(path, hostPath, wildcards);
}

// Why CreateFileW may not open path as asked, or 0 when it may; existing is
// the file's status, or nullptr when there is none.
DWORD OpenRefusal(const std::string& path, const struct stat* existing, DWORD disposition, DWORD access) {
  if (existing && S_ISDIR(existing->st_mode)) return ERROR_ACCESS_DENIED;
  if (!existing && !IsDirectory(Parent(path))) return ERROR_PATH_NOT_FOUND;
  if (existing && disposition == CREATE_NEW) return ERROR_FILE_EXISTS;
  if (!existing && (disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING)) return ERROR_FILE_NOT_FOUND;
  if (disposition == TRUNCATE_EXISTING && !(access & GENERIC_WRITE)) return ERROR_INVALID_PARAMETER;
  return 0;
}

// Why a copy may not write the file at to, or 0 when it may.
DWORD TargetRefusal(const std::string& to, const struct stat& source, BOOL failIfExists) {
  struct stat target;
  if (::stat(to.c_str(), &target) != 0) return 0;
  if (failIfExists) return ERROR_FILE_EXISTS;
  // The source is open for reading and may not be shared with a writer, so
  // a copy onto itself (the same name in another case) is a sharing
  // violation; truncating the target would empty the source.
  if (target.st_dev == source.st_dev && target.st_ino == source.st_ino) return ERROR_SHARING_VIOLATION;
  if (S_ISDIR(target.st_mode)) return ERROR_ACCESS_DENIED;
  if (!WouldAdmit(FileKey{target.st_dev, target.st_ino}, GENERIC_WRITE, 0)) return ERROR_SHARING_VIOLATION;
  return 0;
}

// Copies the rest of in to out: the reason of a failure, or 0.
DWORD CopyBytes(int in, int out) {
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(in, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return ErrorFromErrno(errno);
    if (n == 0) return 0;
    for (ssize_t done = 0; done < n;) {
      const ssize_t w = ::write(out, buffer + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w < 0) return ErrorFromErrno(errno);
      done += w;
    }
  }
}

}  // namespace

FILETIME ToFileTime(const struct timespec& ts) {
  constexpr unsigned long long kEpochDifference = 116444736000000000ULL;  // 1601 to 1970 in 100 ns
  const unsigned long long ticks = kEpochDifference + static_cast<unsigned long long>(ts.tv_sec) * 10000000ULL +
                                   static_cast<unsigned long long>(ts.tv_nsec) / 100;
  return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

DWORD Attributes(const struct stat& st) {
  DWORD attributes = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
  if (!(st.st_mode & S_IWUSR)) attributes |= FILE_ATTRIBUTE_READONLY;
  return attributes;
}

}  // namespace cehost

using namespace cehost;

extern "C" {

HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode, LPSECURITY_ATTRIBUTES,
                   DWORD dwCreationDisposition, DWORD, HANDLE) {
  if (lpFileName && IsDeviceName(lpFileName)) return OpenDeviceFile(lpFileName, dwDesiredAccess, dwShareMode);
  std::string path;
  if (!MapOrFail(lpFileName, &path)) return INVALID_HANDLE_VALUE;
  if (dwCreationDisposition < CREATE_NEW || dwCreationDisposition > TRUNCATE_EXISTING) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  struct stat st;
  const bool existed = ::stat(path.c_str(), &st) == 0;
  if (const DWORD refusal = OpenRefusal(path, existed ? &st : nullptr, dwCreationDisposition, dwDesiredAccess)) {
    SetLastError(refusal);
    return INVALID_HANDLE_VALUE;
  }

  const bool read = dwDesiredAccess & GENERIC_READ;
  const bool write = dwDesiredAccess & GENERIC_WRITE;
  int flags = O_CLOEXEC | (read && write ? O_RDWR : write ? O_WRONLY : O_RDONLY);
  if (!existed) flags |= O_CREAT | O_EXCL;
  const int fd = ::open(path.c_str(), flags, 0600);  // a person's files: the owner's alone
  if (fd < 0) {
    SetLastError(errno == ENOENT ? MissingError(path) : ErrorFromErrno(errno));
    return INVALID_HANDLE_VALUE;
  }
  ::fstat(fd, &st);
  const FileKey key{st.st_dev, st.st_ino};
  auto file = std::make_shared<FileObject>(fd, dwDesiredAccess, key);
  if (!Admit(key, dwDesiredAccess, dwShareMode, file.get())) {
    file->Close();
    SetLastError(ERROR_SHARING_VIOLATION);
    return INVALID_HANDLE_VALUE;
  }
  if (existed && (dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == TRUNCATE_EXISTING)) {
    if (::ftruncate(fd, 0) != 0) {
      const DWORD error = ErrorFromErrno(errno);
      file->Close();
      SetLastError(error);
      return INVALID_HANDLE_VALUE;
    }
  }
  if (dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == OPEN_ALWAYS) {
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  }
  return InsertHandle(file);
}

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
              LPOVERLAPPED) {
  auto stream = LookupHandleAs<StreamObject>(hFile);
  if (!stream) return Fail(ERROR_INVALID_HANDLE);
  if (!lpBuffer && nNumberOfBytesToRead > 0) return Fail(ERROR_INVALID_PARAMETER);
  DWORD done = 0;
  const BOOL ok = stream->Read(lpBuffer, nNumberOfBytesToRead, &done);
  if (lpNumberOfBytesRead) *lpNumberOfBytesRead = done;
  return ok;
}

BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
               LPOVERLAPPED) {
  auto stream = LookupHandleAs<StreamObject>(hFile);
  if (!stream) return Fail(ERROR_INVALID_HANDLE);
  if (!lpBuffer && nNumberOfBytesToWrite > 0) return Fail(ERROR_INVALID_PARAMETER);
  DWORD done = 0;
  const BOOL ok = stream->Write(lpBuffer, nNumberOfBytesToWrite, &done);
  if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = done;
  return ok;
}

DWORD SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh, DWORD dwMoveMethod) {
  auto stream = LookupHandleAs<StreamObject>(hFile);
  if (!stream) {
    SetLastError(ERROR_INVALID_HANDLE);
    return INVALID_SET_FILE_POINTER;
  }
  return stream->Seek(lDistanceToMove, lpDistanceToMoveHigh, dwMoveMethod);
}

BOOL FlushFileBuffers(HANDLE hFile) {
  auto stream = LookupHandleAs<StreamObject>(hFile);
  if (!stream) return Fail(ERROR_INVALID_HANDLE);
  return stream->Flush();
}

BOOL SetEndOfFile(HANDLE hFile) {
  auto stream = LookupHandleAs<StreamObject>(hFile);
  if (!stream) return Fail(ERROR_INVALID_HANDLE);
  return stream->SetEnd();
}

BOOL CopyFileW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, BOOL bFailIfExists) {
  std::string from, to;
  if (!MapOrFail(lpExistingFileName, &from) || !MapOrFail(lpNewFileName, &to)) return FALSE;
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return Fail(errno == ENOENT ? MissingError(from) : ErrorFromErrno(errno));
  struct stat st;
  ::fstat(in, &st);
  DWORD refusal = S_ISDIR(st.st_mode) ? ERROR_ACCESS_DENIED
                  : !WouldAdmit(FileKey{st.st_dev, st.st_ino}, GENERIC_READ, FILE_SHARE_READ)
                      ? ERROR_SHARING_VIOLATION
                      : TargetRefusal(to, st, bFailIfExists);
  const int out = refusal ? -1 : ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (!refusal && out < 0) refusal = errno == ENOENT ? ERROR_PATH_NOT_FOUND : ErrorFromErrno(errno);
  if (refusal) {
    ::close(in);
    return Fail(refusal);
  }
  DWORD error = CopyBytes(in, out);
  ::close(in);
  if (::close(out) != 0 && error == 0) error = ErrorFromErrno(errno);
  if (!error) return TRUE;
  // A copy that fails leaves no target behind, as on the device: a truncated
  // file under the target's name would pass for a whole one.
  ::unlink(to.c_str());
  return Fail(error);
}

DWORD GetFileAttributesW(LPCWSTR lpFileName) {
  std::string path;
  if (!MapOrFail(lpFileName, &path)) return INVALID_FILE_ATTRIBUTES;
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    SetLastError(MissingError(path));
    return INVALID_FILE_ATTRIBUTES;
  }
  return Attributes(st);
}

}  // extern "C"
