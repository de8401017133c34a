#include "ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

extern char** environ;

namespace cedevice {

namespace {

// from as the child's descriptor to, kept open across the exec.
void Become(int from, int to) {
  if (from == to) {
    ::fcntl(to, F_SETFD, 0);
  } else {
    ::dup2(from, to);
  }
}

}  // namespace

pid_t SpawnChild(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                 const std::string& output, int pipeEnd) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) env.push_back(*e);
  env.insert(env.end(), environment.begin(), environment.end());
  std::vector<char*> args, envp;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  // A log that cannot be opened leaves the child this command's own output.
  const int log = ::open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  sigset_t none;
  sigemptyset(&none);
  const pid_t parent = ::getpid();

  const pid_t child = ::fork();
  if (child != 0) {
    if (log >= 0) ::close(log);
    return child;
  }
  ::setpgid(0, 0);
  ::prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (::getppid() != parent) ::_exit(1);  // this command died before the line above
  ::pthread_sigmask(SIG_SETMASK, &none, nullptr);
  if (log >= 0) {
    Become(log, 1);
    Become(log, 2);
  }
  if (pipeEnd >= 0) Become(pipeEnd, 3);
  ::execve(args[0], args.data(), envp.data());
  ::_exit(127);
}

}  // namespace cedevice
