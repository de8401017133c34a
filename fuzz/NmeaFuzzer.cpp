// Receiver bytes, in chunks of any size the tap may deliver, through the
// sentence interpreter, read as the GPS talker alone and as any talker:
// nothing is read or written outside its buffers, and every chunk is
// consumed.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "logger/LoggerState.h"
#include "logger/NmeaInterpreter.h"
#include "logger/NullView.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static NullView view;
  for (BOOL anytalker : {FALSE, TRUE}) {
    LoggerState state(view);
    state.settings.anytalker = anytalker;
    NmeaInterpreter interpreter;
    char chunk[1200];
    size_t at = 0;
    while (at < size) {
      // The first byte picks the chunk's length, as the tap's polls cut the stream anywhere.
      const size_t length = std::min<size_t>(size - at, 1 + data[at] % 1199);
      std::memcpy(chunk, data + at, length);
      chunk[length] = '\0';
      interpreter.Interpret(state, chunk);
      if (chunk[0] != '\0') std::abort();
      at += length;
    }
  }
  return 0;
}
