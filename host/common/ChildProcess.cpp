#include "ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

extern char** environ;

namespace cehost {

namespace {

// from as the child's descriptor to, kept open across the exec.
void Become(int from, int to) {
  if (from == to) {
    ::fcntl(to, F_SETFD, 0);
  } else {
    ::dup2(from, to);
  }
}

int OpenFile(const std::string& path, bool append) {
  if (path.empty()) return -1;
  return ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (append ? O_APPEND : O_TRUNC), 0600);
}

}  // namespace

pid_t SpawnChild(const std::vector<std::string>& argv, const ChildOptions& options) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('=') + 1);
    bool replaced = false;
    for (const auto& given : options.environment) replaced = replaced || given.rfind(name, 0) == 0;
    if (!replaced) env.push_back(entry);
  }
  env.insert(env.end(), options.environment.begin(), options.environment.end());
  std::vector<char*> args, envp;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  // A file that cannot be opened leaves the child this process's own stream.
  const int out = OpenFile(options.output, options.append);
  const int err = options.error == options.output ? out : OpenFile(options.error, options.append);
  sigset_t none;
  sigemptyset(&none);
  const pid_t parent = ::getpid();

  const pid_t child = ::fork();
  if (child != 0) {
    if (out >= 0) ::close(out);
    if (err >= 0 && err != out) ::close(err);
    return child;
  }
  if (options.ownGroup) {
    ::setpgid(0, 0);
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) ::_exit(1);  // the parent died before the line above
    ::pthread_sigmask(SIG_SETMASK, &none, nullptr);
  }
  if (out >= 0) Become(out, 1);
  if (err >= 0) Become(err, 2);
  if (options.pipeEnd >= 0) Become(options.pipeEnd, 3);
  ::execve(args[0], args.data(), envp.data());
  ::_exit(127);
}

}  // namespace cehost
