#include "UiTrace.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "common/Utf.h"

namespace cehost {

namespace {

struct Trace {
  std::mutex mutex;
  int fd = -1;
  bool everyCall = false;
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
};

// Opened once, kept for the life of the process.
Trace& TheTrace() {
  static Trace* trace = [] {
    auto* t = new Trace;
    if (const char* path = std::getenv("CE_UI_TRACE"); path && *path) {
      t->fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    }
    const char* all = std::getenv("CE_UI_TRACE_ALL");
    t->everyCall = all && std::string(all) == "1";
    return t;
  }();
  return *trace;
}

void AppendEscaped(std::string* out, const std::string& text) {
  for (unsigned char c : text) {
    switch (c) {
      case '"': *out += "\\\""; break;
      case '\\': *out += "\\\\"; break;
      case '\n': *out += "\\n"; break;
      case '\r': *out += "\\r"; break;
      case '\t': *out += "\\t"; break;
      default:
        if (c < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
          *out += escaped;
        } else {
          *out += static_cast<char>(c);
        }
    }
  }
}

}  // namespace

bool TraceWanted() { return TheTrace().fd >= 0; }

TraceLine::TraceLine(const char* op) : wanted_(TraceWanted()) {
  if (!wanted_) return;
  line_ = "{\"ms\":0,\"op\":\"";
  line_ += op;
  line_ += '"';
}

TraceLine& TraceLine::Int(const char* name, long long value) {
  if (wanted_) line_ += ",\"" + std::string(name) + "\":" + std::to_string(value);
  return *this;
}

TraceLine& TraceLine::Bool(const char* name, bool value) {
  if (wanted_) line_ += ",\"" + std::string(name) + "\":" + (value ? "true" : "false");
  return *this;
}

TraceLine& TraceLine::Text(const char* name, const std::u16string& value) {
  if (!wanted_) return *this;
  line_ += ",\"" + std::string(name) + "\":\"";
  AppendEscaped(&line_, ToUtf8(value));
  line_ += '"';
  return *this;
}

TraceLine& TraceLine::Colour(const char* name, COLORREF value) {
  if (!wanted_) return *this;
  line_ += ",\"" + std::string(name) + "\":[" + std::to_string(GetRValue(value)) + "," +
           std::to_string(GetGValue(value)) + "," + std::to_string(GetBValue(value)) + "]";
  return *this;
}

void TraceLine::Write(bool changed) {
  if (changed || TheTrace().everyCall) Write();
}

void TraceLine::Write() {
  if (!wanted_) return;
  Trace& trace = TheTrace();
  std::lock_guard<std::mutex> lock(trace.mutex);
  // The time is taken under the lock, so the lines' times never go backwards.
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - trace.start);
  std::string line = "{\"ms\":" + std::to_string(ms.count()) + line_.substr(sizeof("{\"ms\":0") - 1) + "}\n";
  size_t done = 0;
  while (done < line.size()) {
    const ssize_t n = ::write(trace.fd, line.data() + done, line.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
}

}  // namespace cehost
