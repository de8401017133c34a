// cedevice's command lines as a user may type them, lines of the input
// being arguments: what Parse takes is exactly the arguments given, each
// where it belongs. An option that takes a value has its value, a flag is a
// name that takes none, and the rest are positional, in order.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/cedevice/CommandLine.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> args = {"cedevice", "run"};
  std::string arg;
  for (size_t i = 0; i < size; ++i) {
    const char c = static_cast<char>(data[i]);
    if (c == '\n') {
      args.push_back(arg);
      arg.clear();
    } else if (c != '\0') {  // an argument cannot hold a zero byte
      arg += c;
    }
  }
  if (!arg.empty()) args.push_back(arg);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  const std::vector<std::string> valued = {"root", "gps", "seconds"};
  cedevice::CommandLine line;
  std::string error;
  const bool parsed = line.Parse(static_cast<int>(args.size()), argv.data(), 2, valued, &error);
  Require(parsed == error.empty());
  if (!parsed) return 0;

  size_t taken = line.positional.size() + line.flags.size();
  for (const auto& [name, values] : line.options) {
    bool known = false;
    for (const auto& option : valued) known = known || option == name;
    Require(known && !values.empty());
    taken += values.size();
  }
  for (const auto& flag : line.flags) {
    for (const auto& option : valued) Require(flag != option);
  }
  // Every argument counted once: a value given apart is its option's second argument.
  size_t apart = 0;
  for (size_t i = 2; i < args.size(); ++i) {
    if (args[i].rfind("--", 0) == 0 && args[i] != "--" && args[i].find('=') == std::string::npos) {
      for (const auto& option : valued) {
        if (args[i] == "--" + option) {
          ++apart;
          ++i;
          break;
        }
      }
    }
  }
  Require(taken + apart == args.size() - 2);
  for (const auto& positional : line.positional) Require(positional.rfind("--", 0) != 0 || positional == "--");
  return 0;
}
