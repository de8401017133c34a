#include "WindowTrace.h"

#include <mutex>

namespace coredll {

namespace {

HANDLE traceFile = INVALID_HANDLE_VALUE;
std::mutex traceMutex;
DWORD startTick = 0;

std::string Utf8(LPCWSTR text) {
  if (!text || !*text) return "";
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, NULL, 0, NULL, NULL);
  std::string bytes(size > 0 ? size - 1 : 0, '\0');
  if (size > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, &bytes[0], size, NULL, NULL);
  return bytes;
}

// JSON string escapes: quote, backslash and control characters.
std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

}  // namespace

void OpenTrace() {
  WCHAR path[MAX_PATH];
  startTick = GetTickCount();
  const DWORD length = GetEnvironmentVariableW(L"CE_UI_TRACE", path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  traceFile = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
}

bool Headless() {
  WCHAR ui[16];
  const DWORD length = GetEnvironmentVariableW(L"CE_UI", ui, 16);
  return length > 0 && length < 16 && lstrcmpiW(ui, L"headless") == 0;
}

TraceLine::TraceLine(const char* op) : wanted_(traceFile != INVALID_HANDLE_VALUE) {
  if (!wanted_) return;
  line_ = "{\"ms\":" + std::to_string(GetTickCount() - startTick) + ",\"op\":\"" + op + "\"";
}

TraceLine& TraceLine::Int(const char* name, long long value) {
  if (wanted_) line_ += std::string(",\"") + name + "\":" + std::to_string(value);
  return *this;
}

TraceLine& TraceLine::Bool(const char* name, bool value) {
  if (wanted_) line_ += std::string(",\"") + name + "\":" + (value ? "true" : "false");
  return *this;
}

TraceLine& TraceLine::Text(const char* name, LPCWSTR value) {
  if (wanted_) line_ += std::string(",\"") + name + "\":" + Quoted(Utf8(value));
  return *this;
}

TraceLine& TraceLine::Colour(const char* name, COLORREF value) {
  if (wanted_) {
    line_ += std::string(",\"") + name + "\":[" + std::to_string(GetRValue(value)) + "," +
             std::to_string(GetGValue(value)) + "," + std::to_string(GetBValue(value)) + "]";
  }
  return *this;
}

// Whole lines, one write each, so a reader never sees two steps mixed.
void TraceLine::Write() {
  if (!wanted_) return;
  line_ += "}\n";
  std::lock_guard<std::mutex> lock(traceMutex);
  DWORD written;
  WriteFile(traceFile, line_.data(), static_cast<DWORD>(line_.size()), &written, NULL);
}

}  // namespace coredll
