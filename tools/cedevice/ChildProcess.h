// The children of cedevice run: Wendra, the relay's client.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace cedevice {

// Starts argv[0] with this process's environment and the extra entries, in
// a process group of its own, so a Ctrl-C at the terminal reaches only this
// command, which ends the children in order; a child also ends when this
// command dies. Its standard output and error are appended to output, and a
// given pipe end becomes its descriptor 3. Everything the child needs is
// made before the fork: other threads of this process may hold the
// allocator's lock then, so the child makes system calls only. -1 when no
// child could be made.
pid_t SpawnChild(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                 const std::string& output, int pipeEnd = -1);

}  // namespace cedevice
