#include "CommandLine.h"

#include <signal.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "coredll/DeviceLink.h"
#include "common/DeviceRoot.h"

namespace cedevice {

bool CommandLine::Parse(int argc, char** argv, int first, const std::vector<std::string>& valued,
                        std::string* error) {
  for (int i = first; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind("--", 0) != 0 || arg == "--") {
      positional.push_back(arg);
      continue;
    }
    std::string name = arg.substr(2);
    std::string value;
    const size_t eq = name.find('=');
    const bool inline_value = eq != std::string::npos;
    if (inline_value) {
      value = name.substr(eq + 1);
      name.resize(eq);
    }
    bool takesValue = false;
    for (const auto& option : valued) takesValue = takesValue || option == name;
    if (!takesValue) {
      if (inline_value) {
        *error = "--" + name + " takes no value";
        return false;
      }
      flags.push_back(name);
      continue;
    }
    if (!inline_value) {
      if (i + 1 >= argc) {
        *error = "--" + name + " needs a value";
        return false;
      }
      value = argv[++i];
    }
    options[name].push_back(value);
  }
  return true;
}

std::string CommandLine::Value(const std::string& name, const std::string& fallback) const {
  auto it = options.find(name);
  return it == options.end() || it->second.empty() ? fallback : it->second.back();
}

bool CommandLine::Flag(const std::string& name) const {
  for (const auto& flag : flags) {
    if (flag == name) return true;
  }
  return false;
}

bool RootOption(const CommandLine& line, std::string* root, std::string* error) {
  *root = line.Value("root");
  if (root->empty()) {
    *error = "give the device root with --root DIR";
    return false;
  }
  char resolved[PATH_MAX];
  if (::realpath(root->c_str(), resolved)) *root = resolved;
  return true;
}

std::shared_ptr<cehost::RemoteDevice> ConnectTo(const std::string& root) {
  cehost::SetDeviceRoot(root);
  auto device = std::dynamic_pointer_cast<cehost::RemoteDevice>(cehost::ProcessDevice());
  if (!device) std::fprintf(stderr, "cedevice: no device running at %s\n", root.c_str());
  return device;
}

namespace {

sigset_t StopSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  return signals;
}

}  // namespace

void BlockStopSignals() {
  const sigset_t signals = StopSignals();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  ::signal(SIGPIPE, SIG_IGN);
}

void StopOnSignals(std::function<void()> stop) {
  std::thread([stop] {
    const sigset_t signals = StopSignals();
    int signal = 0;
    sigwait(&signals, &signal);
    stop();
  }).detach();
}

}  // namespace cedevice
