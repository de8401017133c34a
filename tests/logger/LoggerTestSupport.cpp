#include "LoggerTestSupport.h"

#include <cstdio>
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

}  // namespace loggertest
