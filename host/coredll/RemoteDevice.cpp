#include "RemoteDevice.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "DeviceLink.h"
#include "WindowDelivery.h"

namespace cehost {

namespace {

// This thread's connection, closed when the thread ends.
struct ThreadConnection {
  int fd = -1;
  const RemoteDevice* device = nullptr;
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

bool Hello(int fd, Op op) {
  FrameWriter hello(op);
  hello.U32(GetLastError());
  std::string body;
  if (!SendFrame(fd, hello.Frame()) || !ReceiveFrame(fd, &body)) return false;
  FrameReader welcome(body);
  uint32_t status;
  return welcome.Operation() == op && welcome.U32(&status) && welcome.Done() && status == ERROR_SUCCESS;
}

template <typename T>
uint32_t Size(const T& container) {
  return static_cast<uint32_t>(container.size());
}

}  // namespace

std::shared_ptr<RemoteDevice> RemoteDevice::Connect(const std::string& root) {
  const int fd = ConnectSocket(root);
  if (fd < 0) return nullptr;
  if (!Hello(fd, Op::HelloProcess)) {
    ::close(fd);
    return nullptr;
  }
  std::shared_ptr<RemoteDevice> device(new RemoteDevice(root, fd));
  // The listener keeps the link alive for the rest of the process.
  std::thread([device] { device->Listen(); }).detach();
  static const bool awaiting = std::atexit(AwaitOwedAnswers) == 0;
  (void)awaiting;
  return device;
}

RemoteDevice::RemoteDevice(std::string root, int programFd)
    : root_(std::move(root)), programFd_(programFd), absent_(AbsentDevice()) {}

RemoteDevice::~RemoteDevice() { ::close(programFd_); }

void RemoteDevice::Listen() {
  std::string body;
  while (ReceiveFrame(programFd_, &body)) {
    FrameReader message(body);
    uint32_t window, code;
    uint64_t wParam, lParam;
    LRESULT result = 0;
    BOOL ok;
    if (message.Operation() == Op::DeliverMessage && message.U32(&window) && message.U32(&code) &&
        message.U64(&wParam) && message.U64(&lParam) && message.Done()) {
      ++answersOwed;
      ok = DeliverToLocalWindow(reinterpret_cast<HWND>(static_cast<ULONG_PTR>(window)), code,
                                static_cast<WPARAM>(wParam), static_cast<LPARAM>(lParam), &result);
    } else if (message.Operation() == Op::ForegroundWindow && message.U32(&window) && message.Done()) {
      ++answersOwed;
      ok = ForegroundLocalWindow(reinterpret_cast<HWND>(static_cast<ULONG_PTR>(window)));
    } else {
      break;
    }
    FrameWriter answer(message.Operation());
    answer.U32(ok).U32(GetLastError()).U64(static_cast<uint64_t>(result));
    const bool sent = SendFrame(programFd_, answer.Frame());
    --answersOwed;
    if (!sent) break;
  }
  lost_ = true;
}

FrameWriter RemoteDevice::Request(Op op) const {
  FrameWriter request(op);
  request.U32(GetLastError());
  return request;
}

bool RemoteDevice::Call(FrameWriter& request, FrameReader* answer) {
  if (lost_) return false;
  if (connection.device != this || connection.fd < 0) {
    if (connection.fd >= 0) ::close(connection.fd);
    connection.fd = ConnectSocket(root_);
    connection.device = this;
    if (connection.fd >= 0 && !Hello(connection.fd, Op::HelloThread)) {
      ::close(connection.fd);
      connection.fd = -1;
    }
    if (connection.fd < 0) {
      lost_ = true;
      return false;
    }
  }
  std::string body;
  const std::string& frame = request.Frame();
  Op op;
  std::memcpy(&op, frame.data() + 4, sizeof op);
  if (!SendFrame(connection.fd, frame) || !ReceiveFrame(connection.fd, &body)) {
    ::close(connection.fd);
    connection.fd = -1;
    lost_ = true;
    return false;
  }
  *answer = FrameReader(std::move(body));
  uint32_t error;
  if (answer->Operation() != op || !answer->U32(&error)) {
    lost_ = true;
    return false;
  }
  SetLastError(error);
  return true;
}

LONG RemoteDevice::RegOpenKey(const std::u16string& key) {
  FrameWriter request = Request(Op::RegOpenKey);
  request.Text(key);
  FrameReader answer("");
  uint32_t result;
  if (!Call(request, &answer) || !answer.U32(&result)) return absent_->RegOpenKey(key);
  return static_cast<LONG>(result);
}

LONG RemoteDevice::RegCreateKey(const std::u16string& key, DWORD* disposition) {
  FrameWriter request = Request(Op::RegCreateKey);
  request.Text(key);
  FrameReader answer("");
  uint32_t result, created;
  if (!Call(request, &answer) || !answer.U32(&result) || !answer.U32(&created)) {
    return absent_->RegCreateKey(key, disposition);
  }
  *disposition = created;
  return static_cast<LONG>(result);
}

LONG RemoteDevice::RegQueryValue(const std::u16string& key, const std::u16string& name, DWORD* type,
                                 std::vector<BYTE>* data) {
  FrameWriter request = Request(Op::RegQueryValue);
  request.Text(key).Text(name);
  FrameReader answer("");
  uint32_t result, valueType;
  if (!Call(request, &answer) || !answer.U32(&result) || !answer.U32(&valueType) || !answer.Bytes(data)) {
    return absent_->RegQueryValue(key, name, type, data);
  }
  *type = valueType;
  return static_cast<LONG>(result);
}

LONG RemoteDevice::RegSetValue(const std::u16string& key, const std::u16string& name, DWORD type,
                               const BYTE* data, DWORD size) {
  FrameWriter request = Request(Op::RegSetValue);
  request.Text(key).Text(name).U32(type).Bytes(data, size);
  FrameReader answer("");
  uint32_t result;
  if (!Call(request, &answer) || !answer.U32(&result)) return absent_->RegSetValue(key, name, type, data, size);
  return static_cast<LONG>(result);
}

LONG RemoteDevice::RegDeleteValue(const std::u16string& key, const std::u16string& name) {
  FrameWriter request = Request(Op::RegDeleteValue);
  request.Text(key).Text(name);
  FrameReader answer("");
  uint32_t result;
  if (!Call(request, &answer) || !answer.U32(&result)) return absent_->RegDeleteValue(key, name);
  return static_cast<LONG>(result);
}

LONG RemoteDevice::RegDeleteKey(const std::u16string& key) {
  FrameWriter request = Request(Op::RegDeleteKey);
  request.Text(key);
  FrameReader answer("");
  uint32_t result;
  if (!Call(request, &answer) || !answer.U32(&result)) return absent_->RegDeleteKey(key);
  return static_cast<LONG>(result);
}

LONG RemoteDevice::RegEnumKey(const std::u16string& key, DWORD index, std::u16string* name) {
  FrameWriter request = Request(Op::RegEnumKey);
  request.Text(key).U32(index);
  FrameReader answer("");
  uint32_t result;
  if (!Call(request, &answer) || !answer.U32(&result) || !answer.Text(name)) {
    return absent_->RegEnumKey(key, index, name);
  }
  return static_cast<LONG>(result);
}

LONG RemoteDevice::RegEnumValue(const std::u16string& key, DWORD index, std::u16string* name, DWORD* type,
                                std::vector<BYTE>* data) {
  FrameWriter request = Request(Op::RegEnumValue);
  request.Text(key).U32(index);
  FrameReader answer("");
  uint32_t result, valueType;
  if (!Call(request, &answer) || !answer.U32(&result) || !answer.Text(name) || !answer.U32(&valueType) ||
      !answer.Bytes(data)) {
    return absent_->RegEnumValue(key, index, name, type, data);
  }
  *type = valueType;
  return static_cast<LONG>(result);
}

DWORD RemoteDevice::ActivateDevice(const std::u16string& key, DWORD clientInfo) {
  FrameWriter request = Request(Op::ActivateDevice);
  request.Text(key).U32(clientInfo);
  FrameReader answer("");
  uint32_t id;
  if (!Call(request, &answer) || !answer.U32(&id)) return absent_->ActivateDevice(key, clientInfo);
  return id;
}

BOOL RemoteDevice::DeactivateDevice(DWORD device) {
  FrameWriter request = Request(Op::DeactivateDevice);
  request.U32(device);
  FrameReader answer("");
  uint32_t ok;
  if (!Call(request, &answer) || !answer.U32(&ok)) return absent_->DeactivateDevice(device);
  return static_cast<BOOL>(ok);
}

DWORD RemoteDevice::OpenDevice(const std::u16string& name, DWORD access, DWORD share) {
  FrameWriter request = Request(Op::OpenDevice);
  request.Text(name).U32(access).U32(share);
  FrameReader answer("");
  uint32_t id;
  if (!Call(request, &answer) || !answer.U32(&id)) return absent_->OpenDevice(name, access, share);
  return id;
}

BOOL RemoteDevice::CloseDevice(DWORD file) {
  FrameWriter request = Request(Op::CloseDevice);
  request.U32(file);
  FrameReader answer("");
  uint32_t ok;
  if (!Call(request, &answer) || !answer.U32(&ok)) return absent_->CloseDevice(file);
  return static_cast<BOOL>(ok);
}

BOOL RemoteDevice::ReadDevice(DWORD file, void* buffer, DWORD count, DWORD* done) {
  *done = 0;
  if (count > kMaxTransfer) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  FrameWriter request = Request(Op::ReadDevice);
  request.U32(file).U32(count);
  FrameReader answer("");
  uint32_t ok;
  std::vector<BYTE> data;
  if (!Call(request, &answer) || !answer.U32(&ok) || !answer.Bytes(&data) || data.size() > count) {
    return absent_->ReadDevice(file, buffer, count, done);
  }
  if (!data.empty()) std::memcpy(buffer, data.data(), data.size());
  *done = Size(data);
  return static_cast<BOOL>(ok);
}

BOOL RemoteDevice::WriteDevice(DWORD file, const void* buffer, DWORD count, DWORD* done) {
  *done = 0;
  if (count > kMaxTransfer) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  FrameWriter request = Request(Op::WriteDevice);
  request.U32(file).Bytes(buffer, count);
  FrameReader answer("");
  uint32_t ok, written;
  if (!Call(request, &answer) || !answer.U32(&ok) || !answer.U32(&written)) {
    return absent_->WriteDevice(file, buffer, count, done);
  }
  *done = written;
  return static_cast<BOOL>(ok);
}

DWORD RemoteDevice::SeekDevice(DWORD file, LONG amount, DWORD method) {
  FrameWriter request = Request(Op::SeekDevice);
  request.U32(file).U32(static_cast<uint32_t>(amount)).U32(method);
  FrameReader answer("");
  uint32_t position;
  if (!Call(request, &answer) || !answer.U32(&position)) return absent_->SeekDevice(file, amount, method);
  return position;
}

// The buffers' presence and declared sizes travel apart from their bytes, so
// the driver sees exactly what the caller gave; an output buffer carries the
// caller's bytes in and the driver's back.
BOOL RemoteDevice::IoControlDevice(DWORD file, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize,
                                   DWORD* returned) {
  if ((in && inSize > kMaxTransfer) || (out && outSize > kMaxTransfer)) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  FrameWriter request = Request(Op::IoControlDevice);
  request.U32(file).U32(code).Optional(in, inSize, true).Optional(out, outSize, true).Optional(
      returned, sizeof(DWORD), true);
  FrameReader answer("");
  uint32_t ok, count;
  std::vector<BYTE> data;
  if (!Call(request, &answer) || !answer.U32(&ok) || !answer.Bytes(&data) || !answer.U32(&count) ||
      data.size() != (out ? outSize : 0)) {
    return absent_->IoControlDevice(file, code, in, inSize, out, outSize, returned);
  }
  if (out && !data.empty()) std::memcpy(out, data.data(), data.size());
  if (returned) *returned = count;
  return static_cast<BOOL>(ok);
}

DWORD RemoteDevice::CreateMutex(const std::u16string& name, BOOL initialOwner) {
  FrameWriter request = Request(Op::CreateMutex);
  request.Text(name).U32(initialOwner ? 1 : 0);
  FrameReader answer("");
  uint32_t id;
  if (!Call(request, &answer) || !answer.U32(&id)) return absent_->CreateMutex(name, initialOwner);
  return id;
}

BOOL RemoteDevice::ReleaseMutex(DWORD mutex) {
  FrameWriter request = Request(Op::ReleaseMutex);
  request.U32(mutex);
  FrameReader answer("");
  uint32_t ok;
  if (!Call(request, &answer) || !answer.U32(&ok)) return absent_->ReleaseMutex(mutex);
  return static_cast<BOOL>(ok);
}

BOOL RemoteDevice::CloseMutex(DWORD mutex) {
  FrameWriter request = Request(Op::CloseMutex);
  request.U32(mutex);
  FrameReader answer("");
  uint32_t ok;
  if (!Call(request, &answer) || !answer.U32(&ok)) return absent_->CloseMutex(mutex);
  return static_cast<BOOL>(ok);
}

DWORD RemoteDevice::CreateTopWindow(const std::u16string& title) {
  FrameWriter request = Request(Op::CreateTopWindow);
  request.Text(title);
  FrameReader answer("");
  uint32_t window;
  if (!Call(request, &answer) || !answer.U32(&window)) return absent_->CreateTopWindow(title);
  return window;
}

BOOL RemoteDevice::DestroyTopWindow(DWORD window) {
  FrameWriter request = Request(Op::DestroyTopWindow);
  request.U32(window);
  FrameReader answer("");
  uint32_t ok;
  if (!Call(request, &answer) || !answer.U32(&ok)) return absent_->DestroyTopWindow(window);
  return static_cast<BOOL>(ok);
}

BOOL RemoteDevice::SetWindowTitle(DWORD window, const std::u16string& title) {
  FrameWriter request = Request(Op::SetWindowTitle);
  request.U32(window).Text(title);
  FrameReader answer("");
  uint32_t ok;
  if (!Call(request, &answer) || !answer.U32(&ok)) return absent_->SetWindowTitle(window, title);
  return static_cast<BOOL>(ok);
}

BOOL RemoteDevice::GetWindowTitle(DWORD window, std::u16string* title) {
  FrameWriter request = Request(Op::GetWindowTitle);
  request.U32(window);
  FrameReader answer("");
  uint32_t ok;
  if (!Call(request, &answer) || !answer.U32(&ok) || !answer.Text(title)) {
    return absent_->GetWindowTitle(window, title);
  }
  return static_cast<BOOL>(ok);
}

std::vector<DWORD> RemoteDevice::ListWindows() {
  FrameWriter request = Request(Op::ListWindows);
  FrameReader answer("");
  uint32_t count;
  if (!Call(request, &answer) || !answer.U32(&count)) return absent_->ListWindows();
  std::vector<DWORD> windows;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t window;
    if (!answer.U32(&window)) return absent_->ListWindows();
    windows.push_back(window);
  }
  return windows;
}

BOOL RemoteDevice::PlaceWindow(DWORD window, DWORD placement) {
  FrameWriter request = Request(Op::PlaceWindow);
  request.U32(window).U32(placement);
  FrameReader answer("");
  uint32_t ok;
  if (!Call(request, &answer) || !answer.U32(&ok)) return absent_->PlaceWindow(window, placement);
  return static_cast<BOOL>(ok);
}

BOOL RemoteDevice::SetForegroundWindow(DWORD window) {
  FrameWriter request = Request(Op::SetForegroundWindow);
  request.U32(window);
  FrameReader answer("");
  uint32_t ok;
  if (!Call(request, &answer) || !answer.U32(&ok)) return absent_->SetForegroundWindow(window);
  return static_cast<BOOL>(ok);
}

BOOL RemoteDevice::SendWindowMessage(DWORD window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  FrameWriter request = Request(Op::SendWindowMessage);
  request.U32(window).U32(message).U64(wParam).U64(static_cast<uint64_t>(lParam));
  FrameReader answer("");
  uint32_t ok;
  uint64_t value;
  if (!Call(request, &answer) || !answer.U32(&ok) || !answer.U64(&value)) {
    return absent_->SendWindowMessage(window, message, wParam, lParam, result);
  }
  *result = static_cast<LRESULT>(value);
  return static_cast<BOOL>(ok);
}

void RemoteDevice::GetLocalTime(SYSTEMTIME* time) {
  FrameWriter request = Request(Op::GetLocalTime);
  FrameReader answer("");
  std::vector<BYTE> data;
  if (!Call(request, &answer) || !answer.Bytes(&data) || data.size() != sizeof(SYSTEMTIME)) {
    absent_->GetLocalTime(time);
    return;
  }
  std::memcpy(time, data.data(), sizeof(SYSTEMTIME));
}

BOOL RemoteDevice::SetLocalTime(const SYSTEMTIME& time) {
  FrameWriter request = Request(Op::SetLocalTime);
  request.Bytes(&time, sizeof time);
  FrameReader answer("");
  uint32_t ok;
  if (!Call(request, &answer) || !answer.U32(&ok)) return absent_->SetLocalTime(time);
  return static_cast<BOOL>(ok);
}

bool RemoteDevice::Shutdown() {
  FrameWriter request = Request(Op::Shutdown);
  FrameReader answer("");
  return Call(request, &answer);
}

}  // namespace cehost
