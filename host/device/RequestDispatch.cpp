#include "RequestDispatch.h"

#include <cstring>

namespace cehost {

namespace {

template <typename T>
uint32_t Size(const T& container) {
  return static_cast<uint32_t>(container.size());
}

}  // namespace

// Every request carries the caller's last error, which the call starts with;
// every answer carries the last error the call left.
bool DispatchRequest(DeviceService& service, FrameReader& request, std::string* reply, bool* shutdown) {
  uint32_t lastError;
  if (!request.U32(&lastError)) return false;
  SetLastError(lastError);
  const Op op = request.Operation();
  std::u16string key, name, text;
  uint32_t a = 0, b = 0, c = 0;
  uint64_t wide = 0, wide2 = 0;
  std::vector<BYTE> data;

  auto answer = [&](auto fill) {
    FrameWriter out(op);
    const DWORD error = GetLastError();  // taken before anything else can change it
    out.U32(error);
    fill(out);
    *reply = out.Frame();
    return true;
  };

  switch (op) {
    case Op::RegOpenKey:
      if (!request.Text(&key) || !request.Done()) return false;
      return answer([&](FrameWriter& out) { out.U32(static_cast<uint32_t>(service.RegOpenKey(key))); });
    case Op::RegCreateKey: {
      if (!request.Text(&key) || !request.Done()) return false;
      DWORD disposition = 0;
      const LONG result = service.RegCreateKey(key, &disposition);
      return answer([&](FrameWriter& out) { out.U32(static_cast<uint32_t>(result)).U32(disposition); });
    }
    case Op::RegQueryValue: {
      if (!request.Text(&key) || !request.Text(&name) || !request.Done()) return false;
      DWORD type = 0;
      const LONG result = service.RegQueryValue(key, name, &type, &data);
      return answer([&](FrameWriter& out) {
        out.U32(static_cast<uint32_t>(result)).U32(type).Bytes(data.data(), Size(data));
      });
    }
    case Op::RegSetValue: {
      if (!request.Text(&key) || !request.Text(&name) || !request.U32(&a) || !request.Bytes(&data) ||
          !request.Done()) {
        return false;
      }
      const LONG result = service.RegSetValue(key, name, a, data.data(), Size(data));
      return answer([&](FrameWriter& out) { out.U32(static_cast<uint32_t>(result)); });
    }
    case Op::RegDeleteValue: {
      if (!request.Text(&key) || !request.Text(&name) || !request.Done()) return false;
      const LONG result = service.RegDeleteValue(key, name);
      return answer([&](FrameWriter& out) { out.U32(static_cast<uint32_t>(result)); });
    }
    case Op::RegDeleteKey: {
      if (!request.Text(&key) || !request.Done()) return false;
      const LONG result = service.RegDeleteKey(key);
      return answer([&](FrameWriter& out) { out.U32(static_cast<uint32_t>(result)); });
    }
    case Op::RegEnumKey: {
      if (!request.Text(&key) || !request.U32(&a) || !request.Done()) return false;
      const LONG result = service.RegEnumKey(key, a, &name);
      return answer([&](FrameWriter& out) { out.U32(static_cast<uint32_t>(result)).Text(name); });
    }
    case Op::RegEnumValue: {
      if (!request.Text(&key) || !request.U32(&a) || !request.Done()) return false;
      DWORD type = 0;
      const LONG result = service.RegEnumValue(key, a, &name, &type, &data);
      return answer([&](FrameWriter& out) {
        out.U32(static_cast<uint32_t>(result)).Text(name).U32(type).Bytes(data.data(), Size(data));
      });
    }
    case Op::ActivateDevice: {
      if (!request.Text(&key) || !request.U32(&a) || !request.Done()) return false;
      const DWORD id = service.ActivateDevice(key, a);
      return answer([&](FrameWriter& out) { out.U32(id); });
    }
    case Op::DeactivateDevice: {
      if (!request.U32(&a) || !request.Done()) return false;
      const BOOL ok = service.DeactivateDevice(a);
      return answer([&](FrameWriter& out) { out.U32(ok); });
    }
    case Op::OpenDevice: {
      if (!request.Text(&name) || !request.U32(&a) || !request.U32(&b) || !request.Done()) return false;
      const DWORD id = service.OpenDevice(name, a, b);
      return answer([&](FrameWriter& out) { out.U32(id); });
    }
    case Op::CloseDevice: {
      if (!request.U32(&a) || !request.Done()) return false;
      const BOOL ok = service.CloseDevice(a);
      return answer([&](FrameWriter& out) { out.U32(ok); });
    }
    case Op::ReadDevice: {
      if (!request.U32(&a) || !request.U32(&b) || !request.Done() || b > kMaxTransfer) return false;
      data.resize(b);
      DWORD done = 0;
      const BOOL ok = service.ReadDevice(a, data.data(), b, &done);
      return answer([&](FrameWriter& out) { out.U32(ok).Bytes(data.data(), ok ? done : 0); });
    }
    case Op::WriteDevice: {
      if (!request.U32(&a) || !request.Bytes(&data) || !request.Done()) return false;
      DWORD done = 0;
      const BOOL ok = service.WriteDevice(a, data.data(), Size(data), &done);
      return answer([&](FrameWriter& out) { out.U32(ok).U32(done); });
    }
    case Op::SeekDevice: {
      if (!request.U32(&a) || !request.U32(&b) || !request.U32(&c) || !request.Done()) return false;
      const DWORD position = service.SeekDevice(a, static_cast<LONG>(b), c);
      return answer([&](FrameWriter& out) { out.U32(position); });
    }
    case Op::IoControlDevice: {
      // Buffers keep their presence and declared sizes apart from their
      // bytes, so the driver sees exactly what the caller gave.
      bool inPresent, outPresent, returnedPresent;
      uint32_t inSize, outSize, returnedSize;
      std::vector<BYTE> in, out, returned;
      if (!request.U32(&a) || !request.U32(&b) || !request.Optional(&inPresent, &inSize, &in, true) ||
          !request.Optional(&outPresent, &outSize, &out, true) ||
          !request.Optional(&returnedPresent, &returnedSize, &returned, true) || !request.Done() ||
          (inPresent && in.size() != inSize) || (outPresent && out.size() != outSize) ||
          (returnedPresent && returned.size() != sizeof(DWORD))) {
        return false;
      }
      DWORD count = 0;
      if (returnedPresent) std::memcpy(&count, returned.data(), sizeof count);
      const BOOL ok = service.IoControlDevice(a, b, inPresent ? in.data() : nullptr, inSize,
                                              outPresent ? out.data() : nullptr, outSize,
                                              returnedPresent ? &count : nullptr);
      return answer([&](FrameWriter& reply) {
        reply.U32(ok).Bytes(out.data(), outPresent ? outSize : 0).U32(count);
      });
    }
    case Op::CreateMutex: {
      if (!request.Text(&name) || !request.U32(&a) || !request.Done()) return false;
      const DWORD id = service.CreateMutex(name, a);
      return answer([&](FrameWriter& out) { out.U32(id); });
    }
    case Op::ReleaseMutex:
    case Op::CloseMutex: {
      if (!request.U32(&a) || !request.Done()) return false;
      const BOOL ok = op == Op::ReleaseMutex ? service.ReleaseMutex(a) : service.CloseMutex(a);
      return answer([&](FrameWriter& out) { out.U32(ok); });
    }
    case Op::GetLocalTime: {
      if (!request.Done()) return false;
      SYSTEMTIME time{};
      service.GetLocalTime(&time);
      return answer([&](FrameWriter& out) { out.Bytes(&time, sizeof time); });
    }
    case Op::SetLocalTime: {
      if (!request.Bytes(&data) || !request.Done() || data.size() != sizeof(SYSTEMTIME)) return false;
      SYSTEMTIME time;
      std::memcpy(&time, data.data(), sizeof time);
      const BOOL ok = service.SetLocalTime(time);
      return answer([&](FrameWriter& out) { out.U32(ok); });
    }
    case Op::CreateTopWindow: {
      if (!request.Text(&text) || !request.Done()) return false;
      const DWORD window = service.CreateTopWindow(text);
      return answer([&](FrameWriter& out) { out.U32(window); });
    }
    case Op::DestroyTopWindow:
    case Op::SetForegroundWindow: {
      if (!request.U32(&a) || !request.Done()) return false;
      const BOOL ok = op == Op::DestroyTopWindow ? service.DestroyTopWindow(a) : service.SetForegroundWindow(a);
      return answer([&](FrameWriter& out) { out.U32(ok); });
    }
    case Op::SetWindowTitle: {
      if (!request.U32(&a) || !request.Text(&text) || !request.Done()) return false;
      const BOOL ok = service.SetWindowTitle(a, text);
      return answer([&](FrameWriter& out) { out.U32(ok); });
    }
    case Op::GetWindowTitle: {
      if (!request.U32(&a) || !request.Done()) return false;
      const BOOL ok = service.GetWindowTitle(a, &text);
      return answer([&](FrameWriter& out) { out.U32(ok).Text(text); });
    }
    case Op::ListWindows: {
      if (!request.Done()) return false;
      const std::vector<DWORD> windows = service.ListWindows();
      return answer([&](FrameWriter& out) {
        out.U32(Size(windows));
        for (DWORD window : windows) out.U32(window);
      });
    }
    case Op::PlaceWindow: {
      if (!request.U32(&a) || !request.U32(&b) || !request.Done()) return false;
      const BOOL ok = service.PlaceWindow(a, b);
      return answer([&](FrameWriter& out) { out.U32(ok); });
    }
    case Op::SendWindowMessage: {
      if (!request.U32(&a) || !request.U32(&b) || !request.U64(&wide) || !request.U64(&wide2) || !request.Done()) {
        return false;
      }
      LRESULT result = 0;
      const BOOL ok = service.SendWindowMessage(a, b, static_cast<WPARAM>(wide), static_cast<LPARAM>(wide2), &result);
      return answer([&](FrameWriter& out) { out.U32(ok).U64(static_cast<uint64_t>(result)); });
    }
    case Op::Shutdown:
      if (!request.Done()) return false;
      *shutdown = true;
      return answer([](FrameWriter&) {});
    default:
      return false;  // a frame the device does not know ends the connection
  }
}

}  // namespace cehost
