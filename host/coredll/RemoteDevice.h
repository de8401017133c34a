// A program's connection to the device process: one socket per calling
// thread, so that the device runs each call on a thread of its own, and one
// for the program itself, on which the device delivers messages for the
// program's windows and by whose end it learns that the program has ended.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "common/DeviceService.h"
#include "common/Protocol.h"

namespace cehost {

class RemoteDevice : public DeviceService, public std::enable_shared_from_this<RemoteDevice> {
 public:
  // nullptr when no device serves the root.
  static std::shared_ptr<RemoteDevice> Connect(const std::string& root);
  ~RemoteDevice() override;

#define CEHOST_REMOTE_REQUEST(name, result, parameters, arguments, ...) result name parameters override;
  CEHOST_REQUESTS(CEHOST_REMOTE_REQUEST)
#undef CEHOST_REMOTE_REQUEST

  // Asks the device process to shut down; true when it took the request.
  bool Shutdown();

 private:
  RemoteDevice(std::string root, int programFd, FrameReceiver programFrames);
  // This thread's request frame, started with its last error.
  FrameWriter& Request(Op op) const;
  // Sends the request on this thread's connection and reads the answer, which
  // stays valid until the thread's next request; the answer's last error
  // becomes this thread's. False when the device is gone.
  bool Call(FrameWriter& request, FrameReader* answer);
  // A request made as common/Requests.h defines it; the answers of a device
  // that cannot be reached when the device is gone.
  template <Op op, typename R, typename... A>
  R Relay(A&... args);
  void Listen();

  const std::string root_;
  const uint64_t link_;  // tells this link's thread connections from an earlier one's
  const int programFd_;
  FrameReceiver programFrames_;  // read by the listener alone
  std::atomic<bool> lost_{false};
  const std::shared_ptr<DeviceService> absent_;
};

}  // namespace cehost
