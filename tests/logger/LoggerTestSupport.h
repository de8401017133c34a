// Helpers shared by the logger's tests.
#pragma once

#include <LoggerState.h>
#include <NmeaInterpreter.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace loggertest {

// ASCII as it stands, other code units as \uXXXX: for messages.
std::string Printable(const std::u16string& text);

// "$" + body + "*" + checksum + CR LF, as a receiver sends it.
std::string Sentence(const std::string& body);

// The capture with proprietary sentences of a receiver mixed in, each
// named like one of ours: Garmin's $PGRMC before every RMC and $PGRME after
// every GGA, and a made-up $PXGGA and $PXGSA after every GSA. Read as any
// talker it must give what the capture gives.
std::string WithProprietarySentences(const std::string& capture);

// Hands text to the interpreter as the receive loop does: a zero-terminated,
// writable chunk.
void Interpret(NmeaInterpreter& interpreter, LoggerState& state, const std::string& text);

// The process-wide values as a new process has them.
void ResetProcessWide();

// For a call that a fault makes wait for ever: unless Done() comes within
// the limit, the test program ends, saying what did not end.
class Watchdog {
 public:
  Watchdog(const std::string& what, std::chrono::seconds limit);
  ~Watchdog();
  void Done();

 private:
  std::mutex mutex_;
  std::condition_variable done_;
  bool finished_ = false;
  std::thread watching_;
};

// The content of a file of the test data directory.
std::string ReadTestData(const std::string& name);

}  // namespace loggertest
