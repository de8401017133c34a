// The least a 10 Hz poll costs on this machine: a thread that sleeps 100 ms,
// then asks another process one question over a Unix socket and takes the
// answer, as a program's poll of a device port does through the device
// process; nothing else. bench/device-load.py measures it beside the whole
// device and gpsd, in the same run.
//
// poll_floor --resident MB --threads N gives each of its two processes the
// shape of a larger one, for comparison: MB of memory written once at its
// start and never again, and N threads that only wait.
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <thread>
#include <vector>

namespace {

bool Receive(int fd, char* buffer, size_t size, bool handOff) {
  if (handOff) sched_yield();  // the answering thread shares this CPU
  for (;;) {
    const ssize_t n = ::recv(fd, buffer, size, MSG_DONTWAIT);
    if (n > 0) return true;
    if (n == 0 || (errno != EAGAIN && errno != EINTR)) return false;
    pollfd readable{fd, POLLIN, 0};
    if (::poll(&readable, 1, -1) < 0 && errno != EINTR) return false;
  }
}

// Kept until the process ends, so its pages stay resident.
std::vector<char> resident;

void TakeShape(size_t megabytes, int threads) {
  resident.assign(megabytes << 20, 1);
  for (int i = 0; i < threads; ++i) {
    std::thread([] {
      for (;;) ::pause();
    }).detach();
  }
}

}  // namespace

int main(int argc, char** argv) {
  size_t megabytes = 0;
  int threads = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--resident") == 0 && i + 1 < argc) {
      megabytes = std::strtoul(argv[++i], nullptr, 10);
    } else if (std::strcmp(argv[i], "--threads") == 0 && i + 1 < argc) {
      threads = std::atoi(argv[++i]);
    } else {
      std::fprintf(stderr, "usage: poll_floor [--resident MB] [--threads N]\n");
      return 2;
    }
  }
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
    std::perror("poll_floor: socketpair");
    return 1;
  }
  char question[64] = {}, answer[40] = {};
  const pid_t parent = ::getpid();
  const pid_t server = ::fork();
  if (server < 0) {
    std::perror("poll_floor: fork");
    return 1;
  }
  TakeShape(megabytes, threads);
  if (server == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) return 0;
    ::prctl(PR_SET_NAME, "answerer");  // the bench tells the two apart by name
    while (Receive(ends[1], question, sizeof question, false)) {
      if (::send(ends[1], answer, sizeof answer, MSG_NOSIGNAL) != sizeof answer) break;
    }
    return 0;
  }
  ::prctl(PR_SET_NAME, "poller");
  const timespec period{0, 100 * 1000 * 1000};
  for (;;) {
    ::nanosleep(&period, nullptr);
    if (::send(ends[0], question, sizeof question, MSG_NOSIGNAL) != sizeof question ||
        !Receive(ends[0], answer, sizeof answer, true)) {
      return 1;
    }
  }
}
