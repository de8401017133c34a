// The host's child processes: cedevice's (Wendra, the relay's client) and
// the tests' (the programs they start on a device).
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace cehost {

struct ChildOptions {
  // Entries "NAME=value" beside this process's environment, each in place
  // of the inherited entry of its name.
  std::vector<std::string> environment;
  // Files for the standard output and error, the owner's alone; "" keeps
  // this process's own, and one name for both gives them one descriptor.
  std::string output;
  std::string error;
  bool append = false;  // the files are added to, else they start empty
  int pipeEnd = -1;     // becomes the child's descriptor 3
  // A process group of its own, so a Ctrl-C at the terminal reaches only
  // this process, which ends its children in order; the child also ends
  // when this process dies.
  bool ownGroup = false;
};

// Starts argv[0]. Everything the child needs is made before the fork: other
// threads of this process may hold the allocator's lock then, so the child
// makes system calls only. -1 when no child could be made.
pid_t SpawnChild(const std::vector<std::string>& argv, const ChildOptions& options);

}  // namespace cehost
