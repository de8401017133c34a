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
// what a pointer points to comes back in the answer, after the result
// (CodecParam.h has the rules). Two requests carry buffers whose size and
// presence matter apart from their bytes, and have their fields written out
// below: ReadDevice and IoControlDevice.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <tuple>
#include <type_traits>
#include <utility>

#include "CallBuffer.h"
#include "CodecParam.h"
#include "DeviceService.h"
#include "Protocol.h"

namespace cehost {
namespace codec {

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
