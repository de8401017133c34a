// Wendra's window trace as cedevice run reads it for its console line and
// its report of a run that cannot start: any bytes, arriving in two parts
// cut anywhere (a pipe delivers what was written so far), read as the whole
// at once, and the console line stays within its room.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string>

#include "tools/cedevice/WendraStatus.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

// A trace in memory, named by a path as a pipe is.
struct Trace {
  Trace() : fd(::memfd_create("trace", MFD_CLOEXEC)) { Require(fd >= 0); }
  ~Trace() { ::close(fd); }
  void Append(const uint8_t* data, size_t size) {
    for (size_t done = 0; done < size;) {
      const ssize_t n = ::write(fd, data + done, size - done);
      Require(n > 0);
      done += static_cast<size_t>(n);
    }
  }
  std::string Path() const { return "/proc/self/fd/" + std::to_string(fd); }
  const int fd;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const size_t cut = size == 0 ? 0 : data[0] % (size + 1);
  Trace whole, parts;
  whole.Append(data, size);
  cedevice::WendraStatus atOnce(whole.Path(), {}, std::time(nullptr));
  atOnce.Update();

  parts.Append(data, cut);
  cedevice::WendraStatus inParts(parts.Path(), {}, std::time(nullptr));
  inParts.Update();
  parts.Append(data + cut, size - cut);
  inParts.Update();

  Require(atOnce.Line() == inParts.Line());
  Require(atOnce.Messages() == inParts.Messages());
  Require(atOnce.Line().size() < 512);
  return 0;
}
