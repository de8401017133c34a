// Answers as the asking side reads them: the device's answers to a
// program's requests, as the program's stub takes them, and a program's
// answers to the device's deliveries. Whatever an answer says, it is
// written only into what the caller gave (the bytes a read or a control
// call has room for, the pointers it passed), and never read past. The
// first bytes pick the request and the caller's buffer sizes; the rest is
// the answer after its operation.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "common/RequestCodec.h"

namespace {

using cehost::DeviceService;
using cehost::FrameReader;
using cehost::Op;

// A parameter as a caller holds it: an input's value, or the place an
// output pointer points to, on the heap so a write past it is found.
template <typename P>
struct Held {
  std::decay_t<P> value{};
  std::decay_t<P>& Arg() { return value; }
};
template <typename T>
struct Held<T*> {
  std::unique_ptr<T> target = std::make_unique<T>();
  T* pointer = target.get();
  T*& Arg() { return pointer; }
};
template <>
struct Held<const void*> : Held<std::nullptr_t> {};
template <>
struct Held<const BYTE*> : Held<std::nullptr_t> {};

template <Op op, typename Service, typename R, typename... P>
void ReadAnswer(R (Service::*)(P...), FrameReader& answer, const uint8_t*) {
  std::tuple<Held<P>...> held;
  std::apply(
      [&](auto&... h) {
        const auto args = std::forward_as_tuple(h.Arg()...);
        if constexpr (std::is_void_v<R>) {
          cehost::codec::TakeAnswer<op>(answer, args, static_cast<R*>(nullptr));
        } else {
          R result{};
          cehost::codec::TakeAnswer<op>(answer, args, &result);
        }
      },
      held);
}

// A read with room for exactly as many bytes as the caller asked for.
template <>
void ReadAnswer<Op::ReadDevice>(BOOL (DeviceService::*)(DWORD, void*, DWORD, DWORD*), FrameReader& answer,
                                const uint8_t* sizes) {
  DWORD file = 1, count = sizes[0];
  std::vector<BYTE> room(count);
  void* buffer = room.data();
  auto done = std::make_unique<DWORD>();
  DWORD* donePointer = done.get();
  BOOL ok;
  cehost::codec::TakeAnswer<Op::ReadDevice>(answer, std::forward_as_tuple(file, buffer, count, donePointer), &ok);
}

// A control call with or without an output buffer and a count.
template <>
void ReadAnswer<Op::IoControlDevice>(BOOL (DeviceService::*)(DWORD, DWORD, void*, DWORD, void*, DWORD, DWORD*),
                                     FrameReader& answer, const uint8_t* sizes) {
  DWORD file = 1, code = 2, inSize = 0, outSize = sizes[0] >> 1;
  void* in = nullptr;
  std::vector<BYTE> room(outSize);
  void* out = sizes[0] & 1 ? room.data() : nullptr;
  if (!out) outSize = 0;
  auto returned = std::make_unique<DWORD>();
  DWORD* returnedPointer = sizes[1] & 1 ? returned.get() : nullptr;
  BOOL ok;
  cehost::codec::TakeAnswer<Op::IoControlDevice>(
      answer, std::forward_as_tuple(file, code, in, inSize, out, outSize, returnedPointer), &ok);
}

using Taker = void (*)(FrameReader&, const uint8_t*);

// Each request's, then each delivery's.
constexpr std::pair<Op, Taker> kTakers[] = {
#define CEHOST_ANSWER_TAKER(name, result, parameters, arguments, ...)                                          \
  {Op::name, [](FrameReader& answer, const uint8_t* sizes) {                                                   \
     ReadAnswer<Op::name>(&DeviceService::name, answer, sizes);                                                \
   }},
    CEHOST_REQUESTS(CEHOST_ANSWER_TAKER)
#undef CEHOST_ANSWER_TAKER
#define CEHOST_DELIVERY_TAKER(name, result, parameters, arguments)                                             \
  {Op::name, [](FrameReader& answer, const uint8_t* sizes) {                                                   \
     ReadAnswer<Op::name>(&cehost::ProgramService::name, answer, sizes);                                       \
   }},
    CEHOST_DELIVERIES(CEHOST_DELIVERY_TAKER)
#undef CEHOST_DELIVERY_TAKER
};
constexpr size_t kKinds = sizeof kTakers / sizeof kTakers[0];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const auto& [kind, take] = kTakers[data[0] % kKinds];
  const uint32_t op = static_cast<uint32_t>(kind);
  std::string body(reinterpret_cast<const char*>(&op), sizeof op);
  body.append(reinterpret_cast<const char*>(data + 3), size - 3);
  // As the asker takes it: the operation, the last error, then the rest.
  FrameReader answer(body);
  uint32_t error;
  if (answer.Operation() != kind || !answer.U32(&error)) return 0;
  take(answer, data + 1);
  return 0;
}
