// Frames on the device's socket as the side they reach decodes and answers
// them: a program's requests as the device dispatches them, and the
// device's deliveries as a program serves them. A frame is refused or
// served, never read past, and every call is given buffers exactly as large
// as the sizes it is told.
#include <cstdint>
#include <cstring>
#include <tuple>
#include <type_traits>

#include "common/Protocol.h"
#include "common/RequestCodec.h"
#include "device/RequestDispatch.h"

namespace {

// Reads every byte of a buffer it is given, and writes every byte of one it
// may write; each buffer's size is the parameter after it.
template <size_t I, typename Args>
void Touch(const Args& args) {
  using T = std::tuple_element_t<I, Args>;
  if constexpr (std::is_same_v<T, void*>) {
    if (std::get<I>(args)) std::memset(std::get<I>(args), 0xA5, std::get<I + 1>(args));
  } else if constexpr (std::is_same_v<T, const void*> || std::is_same_v<T, const BYTE*>) {
    const auto* bytes = static_cast<const volatile BYTE*>(std::get<I>(args));
    for (DWORD i = 0; bytes && i < std::get<I + 1>(args); ++i) static_cast<void>(bytes[i]);
  } else if constexpr (std::is_same_v<T, std::u16string*>) {
    *std::get<I>(args) = u"Touched";
  } else if constexpr (std::is_same_v<T, std::vector<BYTE>*>) {
    std::get<I>(args)->assign(5, 0x5A);
  } else if constexpr (std::is_pointer_v<T> && !std::is_const_v<std::remove_pointer_t<T>>) {
    // DWORD, LRESULT or SYSTEMTIME: a count larger than any buffer, so the
    // answer's bounds are tried too.
    if (std::get<I>(args)) std::memset(std::get<I>(args), 0x7F, sizeof *std::get<I>(args));
  }
}

template <typename R, typename Args, size_t... I>
R TouchAll(const Args& args, std::index_sequence<I...>) {
  (Touch<I>(args), ...);
  if constexpr (std::is_same_v<R, std::vector<DWORD>>) {
    return {0x10, 0x14};
  } else if constexpr (!std::is_void_v<R>) {
    return R(1);
  }
}

template <typename R, typename... A>
R Answer(A... args) {
  return TouchAll<R>(std::make_tuple(args...), std::index_sequence_for<A...>());
}

class TouchingDevice : public cehost::DeviceService {
 public:
#define TOUCH_REQUEST(name, result, parameters, arguments, ...) \
  result name parameters override { return Answer<result> arguments; }
  CEHOST_REQUESTS(TOUCH_REQUEST)
#undef TOUCH_REQUEST
};

class TouchingProgram : public cehost::ProgramService {
 public:
#define TOUCH_DELIVERY(name, result, parameters, arguments) \
  result name parameters override { return Answer<result> arguments; }
  CEHOST_DELIVERIES(TOUCH_DELIVERY)
#undef TOUCH_DELIVERY
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static TouchingDevice device;
  static TouchingProgram program;
  // Read in place, so a read past the frame is a read past the input.
  cehost::FrameReader frame(reinterpret_cast<const char*>(data), size);
  cehost::FrameWriter reply(cehost::Op::HelloThread);
  if (frame.Operation() > cehost::Op::Shutdown) {
    cehost::codec::ServeDelivery(program, frame, &reply);
  } else {
    bool shutdown = false;
    cehost::DispatchRequest(device, frame, &reply, &shutdown);
  }
  return 0;
}
