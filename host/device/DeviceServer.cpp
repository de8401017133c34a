#include "DeviceServer.h"

#include "RequestDispatch.h"
#include "common/RequestCodec.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <thread>

namespace cehost {

// A program's own connection carries the device's messages to its windows;
// the program answers each before the next is sent.
struct DeviceServer::Program {
  int fd;
  std::mutex sending;
  std::mutex mutex;
  std::condition_variable answered;
  bool waiting = false;
  Op asked = Op::Shutdown;  // the delivery the answer being waited for answers
  bool gone = false;
  std::string answer;
};

namespace {

bool PeerProcess(int fd, ProcessId* pid) {
  ucred credentials{};
  socklen_t size = sizeof credentials;
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0 || credentials.pid <= 0) return false;
  *pid = static_cast<ProcessId>(credentials.pid);
  return true;
}

int BindSocket(const std::string& root, std::string* error) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *error = std::string("cannot make a socket: ") + std::strerror(errno);
    return -1;
  }
  const std::string path = SocketPath(root);
  ::unlink(path.c_str());  // left by a device that was killed; the root's lock says none runs now
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::string name = path;
  int dir = -1;
  if (name.size() >= sizeof address.sun_path) {
    dir = ::open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    name = "/proc/self/fd/" + std::to_string(dir) + "/cedevice.sock";
  }
  std::memcpy(address.sun_path, name.c_str(), name.size() + 1);
  // Only the owner may connect, whatever the umask made of the socket file.
  const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                     ::chmod(name.c_str(), 0600) == 0 && ::listen(fd, 64) == 0;
  const int err = errno;
  if (dir >= 0) ::close(dir);
  if (!bound) {
    *error = "cannot serve the socket " + path + ": " + std::strerror(err);
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

template <Op op, typename... A>
BOOL DeviceServer::Deliver(ProcessId pid, A... args) {
  const auto call = std::forward_as_tuple(args...);
  FrameWriter frame(op);
  frame.U32(GetLastError());
  codec::PutRequest<op>(frame, call);
  std::string body;
  if (Ask(pid, frame, &body)) {
    FrameReader answer(body);
    uint32_t error;
    BOOL ok;
    if (answer.U32(&error) && codec::TakeAnswer<op>(answer, call, &ok) && answer.Done()) {
      SetLastError(error);
      return ok;
    }
    Drop(pid);  // an answer that is not one ends the program's link, as any malformed frame does
  }
  SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return FALSE;
}

void DeviceServer::Drop(ProcessId pid) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = programs_.find(pid);
  if (it != programs_.end()) ::shutdown(it->second->fd, SHUT_RDWR);
}

int DeviceServer::LockRoot(const std::string& root, std::string* error) {
  const std::string lockPath = root + "/cedevice.lock";
  const int lockFd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lockFd < 0) {
    *error = "cannot use the device root " + root + ": " + std::strerror(errno);
    return -1;
  }
  if (::flock(lockFd, LOCK_EX | LOCK_NB) != 0) {
    *error = "a device is already running at " + root;
    ::close(lockFd);
    return -1;
  }
  return lockFd;
}

std::unique_ptr<DeviceServer> DeviceServer::Open(std::shared_ptr<Device> device, int lockFd, std::string* error) {
  const std::string root = device->Root();
  const int listenFd = BindSocket(root, error);
  if (listenFd < 0) {
    ::close(lockFd);
    return nullptr;
  }
  const int wakeFd = ::eventfd(0, EFD_CLOEXEC);
  return std::unique_ptr<DeviceServer>(new DeviceServer(std::move(device), lockFd, listenFd, wakeFd));
}

DeviceServer::DeviceServer(std::shared_ptr<Device> device, int lockFd, int listenFd, int wakeFd)
    : device_(std::move(device)), lockFd_(lockFd), listenFd_(listenFd), wakeFd_(wakeFd) {}

DeviceServer::~DeviceServer() {
  Stop();
  ::unlink(SocketPath(device_->Root()).c_str());
  ::close(listenFd_);
  ::close(wakeFd_);
  ::close(lockFd_);  // releases the root for the next device
}

void DeviceServer::Stop() {
  std::lock_guard<std::mutex> lock(mutex_);
  stopping_ = true;
  const uint64_t one = 1;
  if (::write(wakeFd_, &one, sizeof one) < 0) {
    // The counter cannot overflow with one write per stop; a failure changes nothing.
  }
}

void DeviceServer::Run() {
  for (;;) {
    pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0 && errno != EINTR) break;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_) break;
    }
    if (!(fds[0].revents & POLLIN)) continue;
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::lock_guard<std::mutex> lock(mutex_);
    connections_.insert(fd);
    ++serving_;
    std::thread([this, fd] { Serve(fd); }).detach();
  }

  // Every program's hold ends as on its exit, then the device shuts down.
  std::map<ProcessId, std::shared_ptr<Program>> programs;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    programs = programs_;
  }
  for (const auto& [pid, program] : programs) device_->ProcessExited(pid);
  device_->Shutdown();
  std::unique_lock<std::mutex> lock(mutex_);
  for (int fd : connections_) ::shutdown(fd, SHUT_RDWR);
  idle_.wait(lock, [this] { return serving_ == 0; });
}

void DeviceServer::Serve(int fd) {
  ProcessId pid = 0;
  std::string body;
  FrameReceiver frames(fd);
  if (PeerProcess(fd, &pid) && frames.Receive(&body)) {
    FrameReader hello(body);
    uint32_t lastError;
    if (hello.Operation() == Op::HelloProcess && hello.U32(&lastError) && hello.Done()) {
      ServeProgram(pid, fd, frames);
    } else if (uint32_t thread; hello.Operation() == Op::HelloThread && hello.U32(&lastError) &&
                                hello.U32(&thread) && hello.Done()) {
      // Named after the thread it serves, so a look at both processes pairs them.
      const std::string name = "for " + std::to_string(thread);
      pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
      bool known;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        known = programs_.count(pid) != 0;
      }
      // A thread's connection serves a program that announced itself first;
      // another is told so, then closed.
      FrameWriter welcome(Op::HelloThread);
      welcome.U32(known ? ERROR_SUCCESS : ERROR_ACCESS_DENIED);
      if (SendFrame(fd, welcome.Frame()) && known) {
        auto service = device_->ServiceFor(pid);
        FrameWriter answer(Op::HelloThread);  // every answer is written in its storage
        while (frames.Receive(&body)) {
          FrameReader request(body);
          bool shutdown = false;
          if (!DispatchRequest(*service, request, &answer, &shutdown)) break;
          if (shutdown) Stop();
          if (!SendFrame(fd, answer.Frame())) break;
        }
      }
    }
  }
  std::lock_guard<std::mutex> lock(mutex_);
  connections_.erase(fd);
  ::close(fd);
  if (--serving_ == 0) idle_.notify_all();
}

void DeviceServer::ServeProgram(ProcessId pid, int fd, FrameReceiver& frames) {
  auto program = std::make_shared<Program>();
  program->fd = fd;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto& slot = programs_[pid];
    if (slot) return;  // a second announcement of the same program is refused
    slot = program;
  }
  WindowDirectory::Delivery delivery;
  delivery.send = [this, pid](DWORD window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    return Deliver<Op::DeliverMessage>(pid, window, message, wParam, lParam, result);
  };
  // The device's order has the window on top already; what the program answers changes nothing here.
  delivery.foreground = [this, pid](DWORD window) { Deliver<Op::ForegroundWindow>(pid, window); };
  device_->Windows().SetDelivery(pid, std::move(delivery));
  FrameWriter welcome(Op::HelloProcess);
  welcome.U32(ERROR_SUCCESS);
  std::string body;
  if (SendFrame(fd, welcome.Frame())) {
    // The program sends nothing on its own connection but answers, each to
    // the delivery asked; the asker reads it.
    while (frames.Receive(&body)) {
      std::lock_guard<std::mutex> lock(program->mutex);
      if (!program->waiting || FrameReader(body).Operation() != program->asked) break;
      program->answer = std::move(body);
      program->waiting = false;
      program->answered.notify_all();
    }
  }
  {
    std::lock_guard<std::mutex> lock(program->mutex);
    program->gone = true;
    program->answered.notify_all();
  }
  EndProgram(pid);
}

void DeviceServer::EndProgram(ProcessId pid) {
  device_->ProcessExited(pid);
  std::lock_guard<std::mutex> lock(mutex_);
  programs_.erase(pid);
}

bool DeviceServer::Ask(ProcessId pid, FrameWriter& frame, std::string* answer) {
  std::shared_ptr<Program> program;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = programs_.find(pid);
    if (it != programs_.end()) program = it->second;
  }
  if (!program) return false;
  std::lock_guard<std::mutex> one(program->sending);
  std::unique_lock<std::mutex> lock(program->mutex);
  if (program->gone) return false;
  program->waiting = true;
  program->asked = frame.Operation();
  if (!SendFrame(program->fd, frame.Frame())) {
    program->waiting = false;
    return false;
  }
  program->answered.wait(lock, [&] { return !program->waiting || program->gone; });
  if (program->waiting) {  // the program ended before it answered
    program->waiting = false;
    return false;
  }
  *answer = std::move(program->answer);
  return true;
}

}  // namespace cehost
