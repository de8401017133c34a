// How the requests and deliveries of common/Requests.h travel, made from
// their signatures: the asking side writes a frame with PutRequest and reads
// its answer with TakeAnswer; the asked side reads and answers it with Serve
// (the device for a request, the program for a delivery). Every frame, both
// ways, carries the sending thread's last error first, as Protocol.h says:
// the asked side starts the call with the asker's, and the asker ends with
// the one the call left.
//
// A parameter's type says how it travels: a text, a 32- or 64-bit number, a
// record, or a buffer with its size in the next parameter goes in the request;
// what a pointer points to comes back in the answer, after the result. Two
// requests carry buffers whose size and presence matter apart from their
// bytes, and have their fields written out below: ReadDevice and
// IoControlDevice.
#pragma once

#include <windows.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "DeviceService.h"
#include "Protocol.h"

namespace cehost {
namespace codec {

// --- parameters ---------------------------------------------------------------

// A number of type T from its 32- or 64-bit field.
template <typename T>
bool TakeU32(FrameReader& frame, T* value) {
  uint32_t raw;
  if (!frame.U32(&raw)) return false;
  *value = static_cast<T>(raw);
  return true;
}
template <typename T>
bool TakeU64(FrameReader& frame, T* value) {
  uint64_t raw;
  if (!frame.U64(&raw)) return false;
  *value = static_cast<T>(raw);
  return true;
}

template <typename T>
struct Param;  // a parameter of a type without a rule here does not compile

template <typename Store>
struct ValueParam {
  static constexpr bool kIn = true;
  static constexpr bool kBuffer = false;
  using Stored = Store;
  static Stored& Arg(Stored& stored) { return stored; }
};

template <>
struct Param<const std::u16string&> : ValueParam<std::u16string> {
  static void Put(FrameWriter& frame, const std::u16string& text) { frame.Text(text); }
  static bool Take(FrameReader& frame, std::u16string* text) { return frame.Text(text); }
};

// DWORD and UINT.
template <>
struct Param<uint32_t> : ValueParam<uint32_t> {
  static void Put(FrameWriter& frame, uint32_t value) { frame.U32(value); }
  static bool Take(FrameReader& frame, uint32_t* value) { return frame.U32(value); }
};

// LONG and BOOL.
template <>
struct Param<int32_t> : ValueParam<int32_t> {
  static void Put(FrameWriter& frame, int32_t value) { frame.U32(static_cast<uint32_t>(value)); }
  static bool Take(FrameReader& frame, int32_t* value) { return TakeU32(frame, value); }
};

// WPARAM and LPARAM: pointer-sized on the host.
template <>
struct Param<WPARAM> : ValueParam<WPARAM> {
  static void Put(FrameWriter& frame, WPARAM value) { frame.U64(value); }
  static bool Take(FrameReader& frame, WPARAM* value) { return TakeU64(frame, value); }
};

template <>
struct Param<LPARAM> : ValueParam<LPARAM> {
  static void Put(FrameWriter& frame, LPARAM value) { frame.U64(static_cast<uint64_t>(value)); }
  static bool Take(FrameReader& frame, LPARAM* value) { return TakeU64(frame, value); }
};

// A record travels as its bytes, and only at its exact size.
template <typename Record>
bool TakeRecord(FrameReader& frame, Record* record) {
  const BYTE* bytes;
  uint32_t size;
  if (!frame.Bytes(&bytes, &size) || size != sizeof(Record)) return false;
  std::memcpy(record, bytes, sizeof(Record));
  return true;
}

template <>
struct Param<const SYSTEMTIME&> : ValueParam<SYSTEMTIME> {
  static void Put(FrameWriter& frame, const SYSTEMTIME& time) { frame.Bytes(&time, sizeof time); }
  static bool Take(FrameReader& frame, SYSTEMTIME* time) { return TakeRecord(frame, time); }
};

// A buffer the caller gives, its size in the next parameter.
template <typename Pointer>
struct BufferParam {
  static constexpr bool kIn = true;
  static constexpr bool kBuffer = true;
  using Stored = std::vector<BYTE>;
  static void Put(FrameWriter& frame, Pointer data, DWORD size) { frame.Bytes(data, size); }
  static bool Take(FrameReader& frame, Stored* data) { return frame.Bytes(data); }
  static Pointer Arg(Stored& data) { return data.data(); }
};
template <>
struct Param<const BYTE*> : BufferParam<const BYTE*> {};
template <>
struct Param<const void*> : BufferParam<const void*> {};

// What the call fills in through a pointer: back in the answer.
template <typename Value>
struct OutParam {
  static constexpr bool kIn = false;
  static constexpr bool kBuffer = false;
  using Stored = Value;
  static Value* Arg(Value& stored) { return &stored; }
};

template <>
struct Param<DWORD*> : OutParam<DWORD> {
  static void Answer(FrameWriter& frame, DWORD value) { frame.U32(value); }
  static bool Read(FrameReader& frame, DWORD* value) { return frame.U32(value); }
};
template <>
struct Param<std::u16string*> : OutParam<std::u16string> {
  static void Answer(FrameWriter& frame, const std::u16string& text) { frame.Text(text); }
  static bool Read(FrameReader& frame, std::u16string* text) { return frame.Text(text); }
};
template <>
struct Param<std::vector<BYTE>*> : OutParam<std::vector<BYTE>> {
  static void Answer(FrameWriter& frame, const std::vector<BYTE>& data) {
    frame.Bytes(data.data(), static_cast<uint32_t>(data.size()));
  }
  static bool Read(FrameReader& frame, std::vector<BYTE>* data) { return frame.Bytes(data); }
};
template <>
struct Param<LRESULT*> : OutParam<LRESULT> {
  static void Answer(FrameWriter& frame, LRESULT value) { frame.U64(static_cast<uint64_t>(value)); }
  static bool Read(FrameReader& frame, LRESULT* value) { return TakeU64(frame, value); }
};
template <>
struct Param<SYSTEMTIME*> : OutParam<SYSTEMTIME> {
  static void Answer(FrameWriter& frame, const SYSTEMTIME& time) { frame.Bytes(&time, sizeof time); }
  static bool Read(FrameReader& frame, SYSTEMTIME* time) { return TakeRecord(frame, time); }
};

// --- results --------------------------------------------------------------------

template <typename R>
struct Result {  // LONG, BOOL and DWORD
  static void Put(FrameWriter& frame, R value) { frame.U32(static_cast<uint32_t>(value)); }
  static bool Take(FrameReader& frame, R* value) { return TakeU32(frame, value); }
};

template <>
struct Result<std::vector<DWORD>> {
  static void Put(FrameWriter& frame, const std::vector<DWORD>& values) {
    frame.U32(static_cast<uint32_t>(values.size()));
    for (DWORD value : values) frame.U32(value);
  }
  static bool Take(FrameReader& frame, std::vector<DWORD>* values) {
    uint32_t count;
    if (!frame.U32(&count)) return false;
    values->clear();
    for (uint32_t i = 0; i < count; ++i) {
      uint32_t value;
      if (!frame.U32(&value)) return false;
      values->push_back(value);
    }
    return true;
  }
};

// --- a request made from its signature --------------------------------------------

template <Op op>
struct Request;  // the DeviceService or ProgramService method behind each operation

#define CEHOST_REQUEST_METHOD(name, result, parameters, arguments, ...) \
  template <>                                                       \
  struct Request<Op::name> {                                        \
    static constexpr auto kMethod = &DeviceService::name;           \
  };
CEHOST_REQUESTS(CEHOST_REQUEST_METHOD)
#undef CEHOST_REQUEST_METHOD

#define CEHOST_DELIVERY_METHOD(name, result, parameters, arguments) \
  template <>                                                        \
  struct Request<Op::name> {                                         \
    static constexpr auto kMethod = &ProgramService::name;           \
  };
CEHOST_DELIVERIES(CEHOST_DELIVERY_METHOD)
#undef CEHOST_DELIVERY_METHOD

template <size_t I, typename... P>
constexpr bool FollowsBuffer() {
  if constexpr (I == 0) {
    return false;
  } else {
    return Param<std::tuple_element_t<I - 1, std::tuple<P...>>>::kBuffer;
  }
}

template <typename Method>
struct Signature;
template <typename Service, typename R, typename... P>
struct Signature<R (Service::*)(P...)> {
  using ResultType = R;
  using Stored = std::tuple<typename Param<P>::Stored...>;

  // The program's side: the inputs, in order. A buffer's size goes with it.
  template <typename Args, size_t... I>
  static void PutInputs([[maybe_unused]] FrameWriter& frame, [[maybe_unused]] const Args& args, std::index_sequence<I...>) {
    (PutInput<I>(frame, args), ...);
  }
  template <size_t I, typename Args>
  static void PutInput(FrameWriter& frame, const Args& args) {
    using Rule = Param<std::tuple_element_t<I, std::tuple<P...>>>;
    if constexpr (Rule::kBuffer) {
      Rule::Put(frame, std::get<I>(args), std::get<I + 1>(args));
    } else if constexpr (Rule::kIn && !FollowsBuffer<I, P...>()) {
      Rule::Put(frame, std::get<I>(args));
    }
  }
  // The outputs, in order, into the caller's pointers.
  template <typename Args, size_t... I>
  static bool ReadOutputs([[maybe_unused]] FrameReader& frame, [[maybe_unused]] const Args& args,
                          std::index_sequence<I...>) {
    return (ReadOutput<I>(frame, args) && ...);
  }
  template <size_t I, typename Args>
  static bool ReadOutput(FrameReader& frame, const Args& args) {
    using Rule = Param<std::tuple_element_t<I, std::tuple<P...>>>;
    if constexpr (Rule::kIn) {
      return true;
    } else {
      return Rule::Read(frame, std::get<I>(args));
    }
  }

  // The device's side: the inputs into their places; a buffer's size is its own.
  template <size_t... I>
  static bool TakeInputs([[maybe_unused]] FrameReader& frame, [[maybe_unused]] Stored* stored,
                         std::index_sequence<I...>) {
    return (TakeInput<I>(frame, stored) && ...);
  }
  template <size_t I>
  static bool TakeInput(FrameReader& frame, Stored* stored) {
    using Rule = Param<std::tuple_element_t<I, std::tuple<P...>>>;
    if constexpr (FollowsBuffer<I, P...>()) {
      std::get<I>(*stored) = static_cast<DWORD>(std::get<I - 1>(*stored).size());
      return true;
    } else if constexpr (Rule::kIn) {
      return Rule::Take(frame, &std::get<I>(*stored));
    } else {
      return true;
    }
  }
  template <size_t... I>
  static R Call(Service& service, R (Service::*method)(P...), [[maybe_unused]] Stored* stored,
                std::index_sequence<I...>) {
    return (service.*method)(Param<P>::Arg(std::get<I>(*stored))...);
  }
  template <size_t... I>
  static void AnswerOutputs([[maybe_unused]] FrameWriter& frame, [[maybe_unused]] Stored* stored,
                            std::index_sequence<I...>) {
    (AnswerOutput<I>(frame, stored), ...);
  }
  template <size_t I>
  static void AnswerOutput(FrameWriter& frame, Stored* stored) {
    using Rule = Param<std::tuple_element_t<I, std::tuple<P...>>>;
    if constexpr (!Rule::kIn) Rule::Answer(frame, std::get<I>(*stored));
  }
};

template <Op op>
using SignatureOf = Signature<std::remove_const_t<decltype(Request<op>::kMethod)>>;

// A request's frame after its last error.
template <Op op, typename Args>
void PutRequest(FrameWriter& frame, const Args& args) {
  using Sig = SignatureOf<op>;
  Sig::PutInputs(frame, args, std::make_index_sequence<std::tuple_size_v<Args>>());
}

// An answer's result and outputs after its last error; false when the answer
// is short.
template <Op op, typename R, typename Args>
bool TakeAnswer(FrameReader& frame, const Args& args, R* result) {
  using Sig = SignatureOf<op>;
  if constexpr (!std::is_void_v<R>) {
    if (!Result<R>::Take(frame, result)) return false;
  }
  return Sig::ReadOutputs(frame, args, std::make_index_sequence<std::tuple_size_v<Args>>());
}

// Reads the request after its last error, makes the call and writes the
// answer: the last error the call left, its result, its outputs. False for a
// request that is not well formed.
template <Op op, typename Service>
bool Serve(Service& service, FrameReader& request, FrameWriter* answer) {
  using Sig = SignatureOf<op>;
  using R = typename Sig::ResultType;
  constexpr auto indexes = std::make_index_sequence<std::tuple_size_v<typename Sig::Stored>>();
  typename Sig::Stored stored{};
  if (!Sig::TakeInputs(request, &stored, indexes) || !request.Done()) return false;
  answer->Reset(op);
  if constexpr (std::is_void_v<R>) {
    Sig::Call(service, Request<op>::kMethod, &stored, indexes);
    answer->U32(GetLastError());
  } else {
    const R result = Sig::Call(service, Request<op>::kMethod, &stored, indexes);
    answer->U32(GetLastError());  // taken before anything else can change it
    Result<R>::Put(*answer, result);
  }
  Sig::AnswerOutputs(*answer, &stored, indexes);
  return true;
}

// A copy of a buffer a request carries, or room for what a call fills in:
// on the stack when it is as small as a control record or a burst of
// sentences, so the requests of a poll allocate nothing. Room starts zeroed,
// so a driver that claims bytes it never wrote sends zeros, not the device's
// memory.
class CallBuffer {
 public:
  BYTE* Room(uint32_t size) {
    BYTE* room = small_.data();
    if (size > small_.size()) {
      large_.resize(size);
      room = large_.data();
    }
    std::memset(room, 0, size);
    return room;
  }
  BYTE* Copy(const BYTE* bytes, uint32_t size) {
    BYTE* room = Room(size);
    if (size) std::memcpy(room, bytes, size);
    return room;
  }

 private:
  std::array<BYTE, 1024> small_;
  std::vector<BYTE> large_;
};

// --- ReadDevice: the count goes out, only the bytes read come back ----------------

template <>
inline void PutRequest<Op::ReadDevice>(FrameWriter& frame, const std::tuple<DWORD&, void*&, DWORD&, DWORD*&>& args) {
  frame.U32(std::get<0>(args)).U32(std::get<2>(args));
}

template <>
inline bool TakeAnswer<Op::ReadDevice>(FrameReader& frame, const std::tuple<DWORD&, void*&, DWORD&, DWORD*&>& args,
                                       BOOL* ok) {
  const BYTE* data;
  uint32_t size;
  if (!Result<BOOL>::Take(frame, ok) || !frame.Bytes(&data, &size) || size > std::get<2>(args)) return false;
  if (size) std::memcpy(std::get<1>(args), data, size);
  *std::get<3>(args) = size;
  return true;
}

template <>
inline bool Serve<Op::ReadDevice, DeviceService>(DeviceService& service, FrameReader& request,
                                                 FrameWriter* answer) {
  uint32_t file, count;
  if (!request.U32(&file) || !request.U32(&count) || !request.Done() || count > kMaxTransfer) return false;
  CallBuffer buffer;
  BYTE* data = buffer.Room(count);
  DWORD done = 0;
  const BOOL ok = service.ReadDevice(file, data, count, &done);
  answer->Reset(Op::ReadDevice);
  answer->U32(GetLastError());
  // A driver that claims more than it was given room for sends no more than that.
  answer->U32(static_cast<uint32_t>(ok)).Bytes(data, ok ? std::min(done, count) : 0);
  return true;
}

// --- IoControlDevice: each buffer's presence and declared size travel apart from
// its bytes, so the driver sees exactly what the caller gave; the output buffer
// carries the caller's bytes in and the driver's back ------------------------------

using IoControlArgs = std::tuple<DWORD&, DWORD&, void*&, DWORD&, void*&, DWORD&, DWORD*&>;

template <>
inline void PutRequest<Op::IoControlDevice>(FrameWriter& frame, const IoControlArgs& args) {
  const auto& [file, code, in, inSize, out, outSize, returned] = args;
  frame.U32(file).U32(code).Optional(in, inSize).Optional(out, outSize).Optional(returned, sizeof(DWORD));
}

template <>
inline bool TakeAnswer<Op::IoControlDevice>(FrameReader& frame, const IoControlArgs& args, BOOL* ok) {
  const auto& [file, code, in, inSize, out, outSize, returned] = args;
  const BYTE* data;
  uint32_t size, count;
  if (!Result<BOOL>::Take(frame, ok) || !frame.Bytes(&data, &size) || !frame.U32(&count) ||
      size != (out ? outSize : 0)) {
    return false;
  }
  if (size) std::memcpy(out, data, size);
  if (returned) *returned = count;
  return true;
}

template <>
inline bool Serve<Op::IoControlDevice, DeviceService>(DeviceService& service, FrameReader& request,
                                                     FrameWriter* answer) {
  uint32_t file, code;
  bool inPresent, outPresent, returnedPresent;
  uint32_t inSize, outSize, returnedSize;
  const BYTE *in, *out, *returned;
  if (!request.U32(&file) || !request.U32(&code) || !request.Optional(&inPresent, &inSize, &in) ||
      !request.Optional(&outPresent, &outSize, &out) ||
      !request.Optional(&returnedPresent, &returnedSize, &returned) || !request.Done() ||
      (returnedPresent && returnedSize != sizeof(DWORD))) {
    return false;
  }
  // The driver may write to either buffer; it gets copies.
  CallBuffer inCopy, outCopy;
  BYTE* inBuffer = inPresent ? inCopy.Copy(in, inSize) : nullptr;
  BYTE* outBuffer = outPresent ? outCopy.Copy(out, outSize) : nullptr;
  DWORD count = 0;
  if (returnedPresent) std::memcpy(&count, returned, sizeof count);
  const BOOL ok = service.IoControlDevice(file, code, inBuffer, inSize, outBuffer, outSize,
                                          returnedPresent ? &count : nullptr);
  answer->Reset(Op::IoControlDevice);
  answer->U32(GetLastError());
  answer->U32(static_cast<uint32_t>(ok)).Bytes(outBuffer, outPresent ? outSize : 0).U32(count);
  return true;
}

// --- deliveries, as a program serves them ------------------------------------------

// Starts the call with the device's last error, makes it on the program's
// service and writes the answer; false for a frame that is not a
// well-formed delivery, which ends the program's link.
inline bool ServeDelivery(ProgramService& service, FrameReader& delivery, FrameWriter* answer) {
  uint32_t lastError;
  if (!delivery.U32(&lastError)) return false;
  SetLastError(lastError);
  switch (delivery.Operation()) {
#define CEHOST_SERVE_DELIVERY(name, result, parameters, arguments) \
  case Op::name:                                                    \
    return Serve<Op::name>(service, delivery, answer);
    CEHOST_DELIVERIES(CEHOST_SERVE_DELIVERY)
#undef CEHOST_SERVE_DELIVERY
    default:
      return false;
  }
}

}  // namespace codec
}  // namespace cehost
