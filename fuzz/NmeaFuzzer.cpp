// Receiver bytes, in chunks of any size the tap may deliver, through the
// sentence interpreter, read as the GPS talker alone and as any talker:
// nothing is read or written outside its buffers, and every chunk is
// consumed. Two readings must agree besides, in records due, texts and the
// cycle counter:
// - the GPS talker alone reads the input as it reads only its lines that
//   begin "$GP";
// - of those lines, with every GSA after the first since a GGA left out,
//   any talker reads what the GPS talker alone reads.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "logger/LoggerState.h"
#include "logger/NmeaInterpreter.h"
#include "logger/NullView.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

// Every step the interpreter takes in the window, as text.
class StepView : public NullView {
 public:
  void SetControlText(int id, LPCWSTR text) override {
    NullView::SetControlText(id, text);
    steps += "t" + std::to_string(id) + ":";
    for (const WCHAR* c = text; *c; ++c) steps += static_cast<char>(*c);
    steps += "\n";
  }
  void ShowControl(int id, BOOL show) override { steps += "s" + std::to_string(id) + (show ? "+\n" : "-\n"); }
  void EnableControl(int id, BOOL enable) override { steps += "e" + std::to_string(id) + (enable ? "+\n" : "-\n"); }
  void RedrawStatusBox() override { steps += "r\n"; }
  std::string steps;
};

struct Outcome {
  std::string steps;
  std::string fixDate, fixTime;
  double numbers[4];
  char hemispheres[2];
  LONG fixQuality, fixMode, cycleCounter;
  double maxSpeed;
  bool operator==(const Outcome& o) const {
    // Bit for bit, so a NaN read from a field equals itself.
    return steps == o.steps && fixDate == o.fixDate && fixTime == o.fixTime &&
           std::memcmp(numbers, o.numbers, sizeof numbers) == 0 &&
           std::memcmp(hemispheres, o.hemispheres, sizeof hemispheres) == 0 && fixQuality == o.fixQuality &&
           fixMode == o.fixMode && cycleCounter == o.cycleCounter &&
           std::memcmp(&maxSpeed, &o.maxSpeed, sizeof maxSpeed) == 0;
  }
};

// Reads the chunks as the receive loop hands them over, logging, with due
// records that blink the lamp and write nothing. Answers what the
// interpreter made of them.
Outcome Read(const std::vector<std::string>& chunks, BOOL anytalker) {
  maxSpeed = 0.0;
  fixShown = TRUE;
  blinkPhase = FALSE;
  recordTick = 0;
  StepView view;
  LoggerState state(view);
  state.settings.anytalker = anytalker;
  state.settings.interval = -1;
  state.logging = TRUE;
  NmeaInterpreter interpreter;
  char chunk[1200];
  for (const std::string& text : chunks) {
    std::memcpy(chunk, text.data(), text.size());
    chunk[text.size()] = '\0';
    interpreter.Interpret(state, chunk);
    Require(chunk[0] == '\0');
  }
  const FixData& f = state.fix;
  return {view.steps,
          f.fixDate,
          f.fixTime,
          {f.latitude, f.longitude, f.speedKmh, f.altitude},
          {f.latitudeHemisphere, f.longitudeHemisphere},
          f.fixQuality,
          f.fixMode,
          state.cycleCounter,
          maxSpeed};
}

// The text in chunks of at most 1199 characters.
std::vector<std::string> Chunks(const std::string& text) {
  std::vector<std::string> chunks;
  for (size_t at = 0; at < text.size(); at += 1199) chunks.push_back(text.substr(at, 1199));
  return chunks;
}

// The lines the interpreter completes, each with its line feed.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
    lines.push_back(text.substr(at, end + 1 - at));
  }
  return lines;
}

// Is the line a sentence of this header with at least this many commas,
// that the interpreter handles (not longer than its pending line holds)?
bool Handled(const std::string& line, const char* header, size_t commas) {
  const size_t length = line.size() - 1;  // without the line feed
  return length < NmeaInterpreter::LINE_SIZE && line.compare(0, line.find(','), header) == 0 &&
         line.find(',') != std::string::npos &&
         static_cast<size_t>(std::count(line.begin(), line.end(), ',')) >= commas;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The first byte of each chunk picks its length, as the tap's polls cut the
  // stream anywhere; a chunk ends at its first zero byte, as the loop's does.
  std::vector<std::string> chunks;
  std::string stream;
  for (size_t at = 0; at < size;) {
    const size_t length = std::min<size_t>(size - at, 1 + data[at] % 1199);
    std::string chunk(reinterpret_cast<const char*>(data + at), length);
    chunk.resize(std::strlen(chunk.c_str()));
    chunks.push_back(chunk);
    stream += chunk;
    at += length;
  }
  const Outcome gps = Read(chunks, FALSE);
  Read(chunks, TRUE);

  std::string gpsLines, oneGsaPerCycle;
  bool gsaSinceGga = false;
  for (const std::string& line : Lines(stream)) {
    if (line.compare(0, 3, "$GP") != 0) continue;
    gpsLines += line;
    if (Handled(line, "$GPGGA", 9)) gsaSinceGga = false;
    if (Handled(line, "$GPGSA", 2)) {
      if (gsaSinceGga) continue;
      gsaSinceGga = true;
    }
    oneGsaPerCycle += line;
  }
  Require(Read(Chunks(gpsLines), FALSE) == gps);
  Require(Read(Chunks(oneGsaPerCycle), TRUE) == Read(Chunks(oneGsaPerCycle), FALSE));
  return 0;
}
