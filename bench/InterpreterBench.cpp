// Interpreter throughput: a capture handed over in chunks of at most 1199
// bytes, as the receive loop hands them, read as the GPS talker alone
// (anytalker:0) and as any talker (anytalker:1). capture:0 is a GPS
// receiver's, capture:1 one of GPS and GLONASS; WENDRA_BENCH_CAPTURE names
// another capture file to measure instead of both.
#include <LoggerState.h>
#include <NmeaInterpreter.h>
#include <NullView.h>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string Capture(int64_t which) {
  const char* chosen = std::getenv("WENDRA_BENCH_CAPTURE");
  const char* name = which == 0 ? "/drive-tokyo.nmea" : "/gnss-santiago.nmea";
  std::ifstream in(chosen && *chosen ? std::string(chosen) : std::string(CE_TEST_DATA) + name, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void InterpretCapture(benchmark::State& bench) {
  const std::string capture = Capture(bench.range(0));
  if (capture.empty()) {
    bench.SkipWithError("no capture");
    return;
  }
  const long sentences = std::count(capture.begin(), capture.end(), '\n');
  NullView view;
  LoggerState state(view);
  state.settings.anytalker = bench.range(1) != 0;
  NmeaInterpreter interpreter;
  std::vector<char> chunk(1200);
  for (auto _ : bench) {
    for (size_t at = 0; at < capture.size(); at += 1199) {
      const size_t n = std::min<size_t>(1199, capture.size() - at);
      std::copy(capture.begin() + at, capture.begin() + at + n, chunk.begin());
      chunk[n] = '\0';
      interpreter.Interpret(state, chunk.data());
    }
    benchmark::DoNotOptimize(state.fix.latitude);
  }
  bench.SetBytesProcessed(static_cast<int64_t>(bench.iterations()) * static_cast<int64_t>(capture.size()));
  bench.counters["sentences"] = benchmark::Counter(static_cast<double>(sentences));
  bench.counters["per_byte"] = benchmark::Counter(static_cast<double>(capture.size()),
                                                  benchmark::Counter::kIsIterationInvariantRate |
                                                      benchmark::Counter::kInvert);
  bench.counters["per_sentence"] = benchmark::Counter(static_cast<double>(sentences),
                                                      benchmark::Counter::kIsIterationInvariantRate |
                                                          benchmark::Counter::kInvert);
}
BENCHMARK(InterpretCapture)->ArgNames({"capture", "anytalker"})->ArgsProduct({{0, 1}, {0, 1}});

}  // namespace
