#include "DeviceLink.h"

#include <mutex>
#include <tuple>

#include "RemoteDevice.h"
#include "common/DeviceRoot.h"

namespace cehost {

namespace {

// The answers of a device that cannot be reached, as the list gives them.
class Unreachable : public DeviceService {
 public:
#define CEHOST_ABSENT_REQUEST(name, result, parameters, arguments, absent) \
  result name parameters override {                                       \
    static_cast<void>(std::forward_as_tuple arguments);                   \
    return absent;                                                        \
  }
  CEHOST_REQUESTS(CEHOST_ABSENT_REQUEST)
#undef CEHOST_ABSENT_REQUEST

 private:
  // The time of a device whose clock cannot be read.
  static constexpr SYSTEMTIME kAbsentTime{2003, 1, 3, 1, 0, 0, 0, 0};

  static DWORD Refuse(DWORD error, DWORD result = 0) {
    SetLastError(error);
    return result;
  }
  template <typename T>
  static void Fill(T* output, const T& value) {
    *output = value;
  }
};

// Lives as long as the process: threads may still call after static
// destruction has begun.
struct Link {
  std::mutex mutex;
  std::shared_ptr<DeviceService> service;
  std::shared_ptr<DeviceService> absent = std::make_shared<Unreachable>();
};

Link& TheLink() {
  static Link* link = new Link;
  return *link;
}

}  // namespace

std::shared_ptr<DeviceService> AbsentDevice() { return TheLink().absent; }

std::shared_ptr<DeviceService> ProcessDevice() {
  Link& link = TheLink();
  std::lock_guard<std::mutex> lock(link.mutex);
  if (link.service) return link.service;
  // No device of its own: the device process serving the root, once it runs.
  std::string root;
  if (FindDeviceRoot(&root)) {
    if (auto remote = RemoteDevice::Connect(root)) {
      link.service = remote;
      return remote;
    }
  }
  return link.absent;
}

void SetProcessDevice(std::shared_ptr<DeviceService> service) {
  Link& link = TheLink();
  std::lock_guard<std::mutex> lock(link.mutex);
  link.service = std::move(service);
}

}  // namespace cehost
