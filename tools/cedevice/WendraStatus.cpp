#include "WendraStatus.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

#include "logger/ControlIds.h"

namespace cedevice {

namespace fs = std::filesystem;

namespace {

bool IsTrackName(const std::string& name) {
  if (name.size() != 18 || name.compare(14, 4, ".txt") != 0) return false;
  for (size_t i = 0; i < 14; ++i) {
    if (name[i] < '0' || name[i] > '9') return false;
  }
  return true;
}

// A control's id: a whole number within int's range. Anything else in the
// field (a fraction, a number too large for a control) names no control, 0.
int ControlId(const nlohmann::json& step) {
  const auto id = step.find("id");
  if (id == step.end() || !id->is_number_integer()) return 0;
  if (id->is_number_unsigned()) {
    const auto value = id->get<unsigned long long>();
    return value <= static_cast<unsigned long long>(INT_MAX) ? static_cast<int>(value) : 0;
  }
  const auto value = id->get<long long>();
  return value >= INT_MIN && value <= INT_MAX ? static_cast<int>(value) : 0;
}

}  // namespace

WendraStatus::WendraStatus(std::string trace, std::vector<std::string> trackDirs, std::time_t since)
    : trace_(std::move(trace)), trackDirs_(std::move(trackDirs)), since_(since) {}

WendraStatus::~WendraStatus() {
  if (fd_ >= 0) ::close(fd_);
}

void WendraStatus::Update() {
  // Opened once Wendra has made it, then read on from where the last call
  // ended: a file that grows, or a pipe.
  if (fd_ < 0) fd_ = ::open(trace_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) return;
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(fd_, buffer, sizeof buffer)) > 0) partial_.append(buffer, static_cast<size_t>(n));
  size_t end;
  while ((end = partial_.find('\n')) != std::string::npos) {
    Apply(partial_.substr(0, end));
    partial_.erase(0, end + 1);
  }
}

void WendraStatus::Apply(const std::string& line) {
  const auto step = nlohmann::json::parse(line, nullptr, false);
  if (!step.is_object()) return;  // not a line of the trace: nothing to show
  try {
    const std::string op = step.value("op", "");
    const int id = ControlId(step);
    if (op == "text") texts_[id] = step.value("text", "");
    if (op == "show" && id == IDC_RECEIVE_LAMP_DATA) receiving_ = step.value("shown", false);
    if (op == "msgbox") messages_.push_back(step.value("text", ""));
  } catch (const nlohmann::json::type_error&) {
    // A step whose fields have other types than Wendra writes shows nothing.
  }
}

std::string WendraStatus::Messages() const {
  if (messages_.empty()) return "no message";
  std::string all;
  for (const std::string& message : messages_) {
    std::string line = message;
    while (!line.empty() && line.back() == '\n') line.pop_back();
    for (char& c : line) {
      if (c == '\n' || c == '\r') c = ' ';
    }
    all += (all.empty() ? "\"" : ", \"") + line + "\"";
  }
  return all;
}

std::string WendraStatus::TrackFile() const {
  std::string newest;
  std::time_t newestTime = since_ - 1;
  for (const auto& dir : trackDirs_) {
    std::error_code ignored;  // a log directory that does not exist holds no track
    for (const auto& entry : fs::directory_iterator(dir, ignored)) {
      const std::string name = entry.path().filename().string();
      struct stat st;
      if (!IsTrackName(name) || ::stat(entry.path().c_str(), &st) != 0) continue;
      if (st.st_mtime >= newestTime) {
        newestTime = st.st_mtime;
        newest = entry.path().string();
      }
    }
  }
  return newest;
}

long WendraStatus::Records() const {
  const std::string file = TrackFile();
  if (file.empty()) return 0;
  std::ifstream in(file, std::ios::binary);
  long lines = 0;
  for (std::string line; std::getline(in, line);) ++lines;
  return lines;
}

std::string WendraStatus::RecordCount(long records) {
  return std::to_string(records) + (records == 1 ? " record" : " records");
}

std::string WendraStatus::Line() const {
  auto text = [&](int id, const char* none) {
    auto it = texts_.find(id);
    return it == texts_.end() || it->second.empty() ? std::string(none) : it->second;
  };
  const std::string track = TrackFile();
  char line[512];
  std::snprintf(line, sizeof line, "%s  %s %s  %s %s  top %s km/h  %s  %s", receiving_ ? "RCV*" : "RCV ",
                text(IDC_FIX_TYPE, "--").c_str(), text(IDC_FIX_QUALITY, "--").c_str(), text(IDC_LATITUDE, "-").c_str(),
                text(IDC_LONGITUDE, "-").c_str(), text(IDC_TOP_SPEED, "0.0").c_str(), RecordCount(Records()).c_str(),
                track.empty() ? "(no track yet)" : track.c_str());
  return line;
}

}  // namespace cedevice
