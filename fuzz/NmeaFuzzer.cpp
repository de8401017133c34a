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

namespace {

class NullView : public LoggerView {
 public:
  void SetControlText(int, LPCWSTR text) override { shown += wcslen(text); }
  void EnableControl(int, BOOL) override {}
  void ShowControl(int, BOOL) override {}
  void RedrawStatusBox() override {}
  void StartTimer(UINT, UINT) override {}
  void StopTimer(UINT) override {}
  void DefaultBeep() override {}
  void ExclamationBeep() override {}
  void EnterCompactTile() override {}
  void ShowErrorBox(LPCWSTR) override {}
  size_t shown = 0;  // every text is read to its end
};

}  // namespace

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
