#include "LoggerTestSupport.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace loggertest {

std::string Printable(const std::u16string& text) {
  std::string out;
  for (char16_t c : text) {
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(c));
    out += c >= 0x20 && c < 0x7F ? std::string(1, static_cast<char>(c)) : std::string(escaped);
  }
  return out;
}

std::string Sentence(const std::string& body) {
  unsigned checksum = 0;
  for (unsigned char c : body) checksum ^= c;
  char tail[8];
  std::snprintf(tail, sizeof tail, "*%02X\r\n", checksum);
  return "$" + body + tail;
}

std::string WithProprietarySentences(const std::string& capture) {
  const std::string pgrmc = Sentence("PGRMC,A,218.8,100,6378137.000,298.257223563,0.0,0.0,0.0,A,3,1,1,4,30");
  const std::string pgrme = Sentence("PGRME,15.0,M,45.0,M,25.0,M");
  const std::string pxgga = Sentence("PXGGA,235959.00,0100.0000,N,00100.0000,E,2,04,9.9,999.9,M,0.0,M,,");
  const std::string pxgsa = Sentence("PXGSA,A,1,,,,,,,,,,,,,99.9,99.9,99.9");
  std::string mixed;
  size_t at = 0;
  while (at < capture.size()) {
    const size_t end = capture.find('\n', at);
    const std::string line = capture.substr(at, end == std::string::npos ? std::string::npos : end + 1 - at);
    at += line.size();
    const std::string type = line.size() > 6 ? line.substr(3, 3) : "";
    if (type == "RMC") mixed += pgrmc;
    mixed += line;
    if (type == "GGA") mixed += pgrme;
    if (type == "GSA") mixed += pxgga + pxgsa;
  }
  return mixed;
}

void Interpret(NmeaInterpreter& interpreter, LoggerState& state, const std::string& text) {
  std::vector<char> chunk(text.begin(), text.end());
  chunk.push_back('\0');
  interpreter.Interpret(state, chunk.data());
  if (chunk[0] != '\0') throw std::logic_error("the interpreter left the chunk unconsumed");
}

void ResetProcessWide() {
  maxSpeed = 0.0;
  fixShown = TRUE;
  blinkPhase = FALSE;
  recordTick = 0;
}

std::string ReadTestData(const std::string& name) {
  std::ifstream in(std::string(CE_TEST_DATA) + "/" + name, std::ios::binary);
  if (!in) throw std::runtime_error("missing test data " + name);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

Watchdog::Watchdog(const std::string& what, std::chrono::seconds limit)
    : watching_([this, what, limit] {
        std::unique_lock<std::mutex> lock(mutex_);
        if (done_.wait_for(lock, limit, [this] { return finished_; })) return;
        std::fprintf(stderr, "%s did not end within %lld s\n", what.c_str(), static_cast<long long>(limit.count()));
        std::_Exit(1);
      }) {}

Watchdog::~Watchdog() {
  Done();
  watching_.join();
}

void Watchdog::Done() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    finished_ = true;
  }
  done_.notify_all();
}

}  // namespace loggertest
