// The device process's server: programs connect to the device's socket, one
// connection per calling thread plus one for the program itself, and each
// connection is served on a thread of its own, so a driver entry point runs
// on the thread that stands for its caller. When a program's own connection
// closes, the program has ended, and the device ends what it held.
#pragma once

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "Device.h"
#include "common/Protocol.h"

namespace cehost {

class DeviceServer {
 public:
  // The root's lock, held by the device process for its whole life; -1 with
  // a message when another device runs at the root.
  static int LockRoot(const std::string& root, std::string* error);
  // Binds the device's socket; the server owns the lock from then on.
  static std::unique_ptr<DeviceServer> Open(std::shared_ptr<Device> device, int lockFd, std::string* error);
  ~DeviceServer();

  // Serves until a program asks for the shutdown or Stop is called; then
  // ends every program's hold on the device and shuts the device down.
  void Run();
  void Stop();

 private:
  struct Program;

  DeviceServer(std::shared_ptr<Device> device, int lockFd, int listenFd, int wakeFd);
  void Serve(int fd);
  void ServeProgram(ProcessId pid, int fd, FrameReceiver& frames);
  // A delivery of common/Requests.h to the program: sent on its own
  // connection, answered there; FALSE with ERROR_INVALID_WINDOW_HANDLE when
  // the program is gone or its answer is not one.
  template <Op op, typename... A>
  BOOL Deliver(ProcessId pid, A... args);
  // Sends the frame on the program's own connection and waits for its
  // answer; false when the program is gone before it answered.
  bool Ask(ProcessId pid, FrameWriter& frame, std::string* answer);
  // Ends the program's own connection, which ends the program for the device.
  void Drop(ProcessId pid);
  void EndProgram(ProcessId pid);

  std::shared_ptr<Device> device_;
  int lockFd_;
  int listenFd_;
  int wakeFd_;

  std::mutex mutex_;
  std::condition_variable idle_;
  std::set<int> connections_;
  int serving_ = 0;
  bool stopping_ = false;
  std::map<ProcessId, std::shared_ptr<Program>> programs_;
};

}  // namespace cehost
