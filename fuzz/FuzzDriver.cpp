// Runs a fuzz target without libFuzzer: its seeds, then a fixed series of
// mutations of them, so every run tries the same inputs.
//   target CORPUS_DIR COUNT
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

// splitmix64: small, and the same on every machine.
uint64_t Next(uint64_t& state) {
  uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

std::string Mutate(const std::vector<std::string>& seeds, uint64_t& state) {
  std::string input = seeds[Next(state) % seeds.size()];
  static const char* const kTokens[] = {",", "*", "\r\n", "\n", "$GPRMC,", "$GPGGA,", "$GPGSA,", "=", "\"",
                                        "[", "]", "\\", "hex(7):", "dword:", "99999999999999999999", "-", "."};
  const int steps = 1 + static_cast<int>(Next(state) % 4);
  for (int i = 0; i < steps; ++i) {
    const size_t at = input.empty() ? 0 : Next(state) % (input.size() + 1);
    switch (Next(state) % 6) {
      case 0:  // flip bits of a byte
        if (!input.empty()) input[at % input.size()] ^= static_cast<char>(1 << (Next(state) % 8));
        break;
      case 1:  // a random byte
        input.insert(at, 1, static_cast<char>(Next(state)));
        break;
      case 2:  // cut a stretch
        input.erase(at, Next(state) % 16);
        break;
      case 3:  // repeat a stretch
        input.insert(at, input.substr(at, Next(state) % 64));
        break;
      case 4:  // a token that means something to the parsers
        input.insert(at, kTokens[Next(state) % (sizeof kTokens / sizeof kTokens[0])]);
        break;
      case 5: {  // a piece of another seed
        const std::string& other = seeds[Next(state) % seeds.size()];
        const size_t from = other.empty() ? 0 : Next(state) % other.size();
        input.insert(at, other.substr(from, Next(state) % 128));
        break;
      }
    }
  }
  return input;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR COUNT\n", argv[0]);
    return 2;
  }
  std::vector<std::string> seeds;
  for (const auto& entry : std::filesystem::directory_iterator(argv[1])) {
    std::ifstream in(entry.path(), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    seeds.push_back(bytes.str());
  }
  if (seeds.empty()) seeds.push_back("");
  for (const auto& seed : seeds) LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(seed.data()), seed.size());
  uint64_t state = 20081207;
  const long count = std::atol(argv[2]);
  for (long i = 0; i < count; ++i) {
    const std::string input = Mutate(seeds, state);
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.data()), input.size());
  }
  std::printf("%zu seeds and %ld mutations passed\n", seeds.size(), count);
  return 0;
}
