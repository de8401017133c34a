// A program that takes a second to start, as Wendra's window thread meets
// it: preloaded into Wendra, this holds each caller of posix_spawn (the
// shell's execute call) for a second, once it has left the file "launching"
// in the device's root for the test to wait on.
#include <dlfcn.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <string>

extern "C" int posix_spawn(pid_t* pid, const char* path, const posix_spawn_file_actions_t* actions,
                           const posix_spawnattr_t* attributes, char* const argv[], char* const envp[]) {
  typedef int (*Spawn)(pid_t*, const char*, const posix_spawn_file_actions_t*, const posix_spawnattr_t*,
                       char* const[], char* const[]);
  static const Spawn next = reinterpret_cast<Spawn>(dlsym(RTLD_NEXT, "posix_spawn"));
  if (const char* root = getenv("CEDEVICE_ROOT")) {
    const int marker = open((std::string(root) + "/launching").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (marker >= 0) close(marker);
  }
  timespec second{1, 0};
  while (nanosleep(&second, &second) != 0) {
  }
  return next(pid, path, actions, attributes, argv, envp);
}
