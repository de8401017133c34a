// The shell's execute call: starts the program a device path names.
#include <shellapi.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <thread>
#include <vector>

#include "UiTrace.h"
#include "common/DeviceRoot.h"
#include "common/Utf.h"
#include "coredll/Kernel.h"

extern char** environ;

namespace cehost {

namespace {

// Parameters split at blanks; double quotes group, as the device's command line does.
std::vector<std::string> SplitParameters(std::u16string_view parameters) {
  std::vector<std::string> words;
  std::u16string word;
  bool quoted = false, any = false;
  for (char16_t c : parameters) {
    if (c == u'"') {
      quoted = !quoted;
      any = true;
    } else if (!quoted && (c == u' ' || c == u'\t')) {
      if (any) words.push_back(ToUtf8(word));
      word.clear();
      any = false;
    } else {
      word += c;
      any = true;
    }
  }
  if (any) words.push_back(ToUtf8(word));
  return words;
}

DWORD Start(const SHELLEXECUTEINFO& info) {
  if (info.lpVerb && !EqualsNoCase(View(info.lpVerb), u"open")) return ERROR_NOT_SUPPORTED;
  std::string path;
  if (!MapDevicePath(View(info.lpFile), &path)) return GetLastError();
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    const size_t slash = path.rfind('/');
    struct stat dir;
    return slash != std::string::npos && ::stat(path.substr(0, slash).c_str(), &dir) == 0 ? ERROR_FILE_NOT_FOUND
                                                                                          : ERROR_PATH_NOT_FOUND;
  }
  if (S_ISDIR(st.st_mode)) return ERROR_ACCESS_DENIED;

  std::vector<std::string> args{path};
  for (auto& word : SplitParameters(View(info.lpParameters))) args.push_back(std::move(word));
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  // The program belongs to this device, wherever it looks for its root.
  std::string root;
  FindDeviceRoot(&root);
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    if (std::string(*e).rfind("CEDEVICE_ROOT=", 0) != 0) env.push_back(*e);
  }
  env.push_back("CEDEVICE_ROOT=" + root);
  std::vector<char*> envp;
  for (auto& entry : env) envp.push_back(entry.data());
  envp.push_back(nullptr);

  pid_t child;
  const int err = ::posix_spawn(&child, path.c_str(), nullptr, nullptr, argv.data(), envp.data());
  switch (err) {
    case 0:
      break;
    case ENOEXEC:
      return ERROR_BAD_EXE_FORMAT;
    case EACCES:
    case EPERM:
      return ERROR_ACCESS_DENIED;
    default:
      return ErrorFromErrno(err);
  }
  // Nobody here waits for the program; its end is collected so it leaves no trace.
  std::thread([child] {
    int status;
    ::waitpid(child, &status, 0);
  }).detach();
  return ERROR_SUCCESS;
}

INT_PTR ShellError(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND: return SE_ERR_FNF;
    case ERROR_PATH_NOT_FOUND: return SE_ERR_PNF;
    case ERROR_ACCESS_DENIED: return SE_ERR_ACCESSDENIED;
    case ERROR_NOT_ENOUGH_MEMORY: return SE_ERR_OOM;
    default: return SE_ERR_NOASSOC;
  }
}

}  // namespace

}  // namespace cehost

using namespace cehost;

extern "C" BOOL ShellExecuteEx(LPSHELLEXECUTEINFO lpExecInfo) {
  if (!lpExecInfo || lpExecInfo->cbSize != sizeof(SHELLEXECUTEINFO) || !lpExecInfo->lpFile) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  const DWORD error = Start(*lpExecInfo);
  TraceLine("launch")
      .Text("file", std::u16string(View(lpExecInfo->lpFile)))
      .Text("params", std::u16string(View(lpExecInfo->lpParameters)))
      .Bool("ok", error == ERROR_SUCCESS)
      .Write();
  lpExecInfo->hProcess = nullptr;  // the host hands out no process handles
  if (error != ERROR_SUCCESS) {
    lpExecInfo->hInstApp = reinterpret_cast<HINSTANCE>(ShellError(error));
    return Fail(error);
  }
  lpExecInfo->hInstApp = reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(42));
  return TRUE;
}
