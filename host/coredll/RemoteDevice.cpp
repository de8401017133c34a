#include "RemoteDevice.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "DeviceLink.h"
#include "WindowDelivery.h"
#include "common/RequestCodec.h"

namespace cehost {

namespace {

// Every link this process makes has a number of its own: a link made after
// another has ended may lie at the same address.
std::atomic<uint64_t> links{0};

// This thread's connection, closed when the thread ends. A thread makes one
// call at a time, so its request and its answer keep their storage from call
// to call.
struct ThreadConnection {
  int fd = -1;
  uint64_t link = 0;
  FrameReceiver frames{-1};
  FrameWriter request{Op::HelloThread};
  std::string answer;
  ~ThreadConnection() {
    if (fd >= 0) ::close(fd);
  }
};
thread_local ThreadConnection connection;

// Messages of other programs being handled here: a handler may end the
// program (Exit), and the sender must still get its answer.
std::atomic<int> answersOwed{0};

void AwaitOwedAnswers() {
  for (int waited = 0; answersOwed > 0 && waited < 2000; ++waited) ::usleep(1000);
}

bool Hello(int fd, FrameReceiver& frames, Op op) {
  FrameWriter hello(op);
  hello.U32(GetLastError());
  // The device names the thread that serves this one after it.
  if (op == Op::HelloThread) hello.U32(GetCurrentThreadId());
  std::string body;
  if (!SendFrame(fd, hello.Frame()) || !frames.Receive(&body, true)) return false;
  FrameReader welcome(body);
  uint32_t status;
  return welcome.Operation() == op && welcome.U32(&status) && welcome.Done() && status == ERROR_SUCCESS;
}

}  // namespace

std::shared_ptr<RemoteDevice> RemoteDevice::Connect(const std::string& root) {
  const int fd = ConnectSocket(root);
  if (fd < 0) return nullptr;
  FrameReceiver frames(fd);
  if (!Hello(fd, frames, Op::HelloProcess)) {
    ::close(fd);
    return nullptr;
  }
  std::shared_ptr<RemoteDevice> device(new RemoteDevice(root, fd, std::move(frames)));
  // The listener keeps the link alive for the rest of the process.
  std::thread([device] { device->Listen(); }).detach();
  static const bool awaiting = std::atexit(AwaitOwedAnswers) == 0;
  (void)awaiting;
  return device;
}

RemoteDevice::RemoteDevice(std::string root, int programFd, FrameReceiver programFrames)
    : root_(std::move(root)),
      link_(++links),
      programFd_(programFd),
      programFrames_(std::move(programFrames)),
      absent_(AbsentDevice()) {}

RemoteDevice::~RemoteDevice() { ::close(programFd_); }

namespace {

// The program's side of the deliveries: its own windows.
class LocalWindows : public ProgramService {
 public:
  BOOL DeliverMessage(DWORD window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override {
    return DeliverToLocalWindow(reinterpret_cast<HWND>(static_cast<ULONG_PTR>(window)), message, wParam, lParam,
                                result);
  }
  BOOL ForegroundWindow(DWORD window) override {
    return ForegroundLocalWindow(reinterpret_cast<HWND>(static_cast<ULONG_PTR>(window)));
  }
};

}  // namespace

void RemoteDevice::Listen() {
  LocalWindows windows;
  std::string body;
  FrameWriter answer(Op::HelloProcess);  // every answer is written in its storage
  while (programFrames_.Receive(&body)) {
    FrameReader delivery(body);
    ++answersOwed;
    const bool sent = codec::ServeDelivery(windows, delivery, &answer) && SendFrame(programFd_, answer.Frame());
    --answersOwed;
    if (!sent) break;
  }
  lost_ = true;
}

FrameWriter& RemoteDevice::Request(Op op) const {
  FrameWriter& request = connection.request;
  request.Reset(op);
  request.U32(GetLastError());
  return request;
}

bool RemoteDevice::Call(FrameWriter& request, FrameReader* answer) {
  if (lost_) return false;
  if (connection.link != link_ || connection.fd < 0) {
    if (connection.fd >= 0) ::close(connection.fd);
    connection.fd = ConnectSocket(root_);
    connection.link = link_;
    connection.frames = FrameReceiver(connection.fd);
    if (connection.fd >= 0 && !Hello(connection.fd, connection.frames, Op::HelloThread)) {
      ::close(connection.fd);
      connection.fd = -1;
    }
    if (connection.fd < 0) {
      lost_ = true;
      return false;
    }
  }
  if (!SendFrame(connection.fd, request.Frame()) || !connection.frames.Receive(&connection.answer, true)) {
    ::close(connection.fd);
    connection.fd = -1;
    lost_ = true;
    return false;
  }
  *answer = FrameReader(connection.answer);
  uint32_t error;
  if (answer->Operation() != request.Operation() || !answer->U32(&error)) {
    lost_ = true;
    return false;
  }
  SetLastError(error);
  return true;
}

namespace {

// Why a call cannot travel in one frame, or 0 when it can: it is refused
// before anything is sent, so the link stays up for the program's other
// calls. A control request's declared sizes travel even for a buffer that is
// absent, and its input and output go in the same frame.
template <Op op, typename Args>
DWORD TooLarge(const Args& args) {
  if constexpr (op == Op::ReadDevice || op == Op::WriteDevice) {
    return std::get<2>(args) > kMaxTransfer ? ERROR_NOT_ENOUGH_MEMORY : 0;
  } else if constexpr (op == Op::IoControlDevice) {
    const auto& [file, code, in, inSize, out, outSize, returned] = args;
    return uint64_t{inSize} + outSize > kMaxTransfer ? ERROR_INVALID_PARAMETER : 0;
  } else {
    return 0;
  }
}

}  // namespace

template <Op op, typename R, typename... A>
R RemoteDevice::Relay(A&... args) {
  const auto call = std::forward_as_tuple(args...);
  if constexpr (op == Op::ReadDevice || op == Op::WriteDevice) *std::get<3>(call) = 0;  // nothing moved yet
  if (const DWORD refusal = TooLarge<op>(call)) {
    SetLastError(refusal);
    return R();
  }
  FrameWriter& request = Request(op);
  codec::PutRequest<op>(request, call);
  FrameReader answer;
  if (Call(request, &answer)) {
    if constexpr (std::is_void_v<R>) {
      if (codec::TakeAnswer<op>(answer, call, static_cast<R*>(nullptr))) return;
    } else {
      R result{};
      if (codec::TakeAnswer<op>(answer, call, &result)) return result;
    }
  }
  return (absent_.get()->*codec::Request<op>::kMethod)(args...);
}

#define CEHOST_REMOTE_REQUEST(name, result, parameters, arguments, ...) \
  result RemoteDevice::name parameters { return Relay<Op::name, result> arguments; }
CEHOST_REQUESTS(CEHOST_REMOTE_REQUEST)
#undef CEHOST_REMOTE_REQUEST

bool RemoteDevice::Shutdown() {
  FrameWriter& request = Request(Op::Shutdown);
  FrameReader answer;
  return Call(request, &answer);
}

}  // namespace cehost
