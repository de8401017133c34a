// What Wendra shows, read from its window trace, and what it has logged,
// read from its track files: the console line of cedevice run.
#pragma once

#include <ctime>
#include <map>
#include <string>
#include <vector>

namespace cedevice {

class WendraStatus {
 public:
  // trace: the file or pipe Wendra writes its window steps to (CE_UI_TRACE);
  // trackDirs: the host directories its track files go to; files older than
  // since belong to earlier runs.
  WendraStatus(std::string trace, std::vector<std::string> trackDirs, std::time_t since);
  ~WendraStatus();
  WendraStatus(const WendraStatus&) = delete;
  WendraStatus& operator=(const WendraStatus&) = delete;

  // Reads what the trace has gained since the last call.
  void Update();
  // One line: receive lamp, fix type and quality, position, top speed,
  // records written, the track file.
  std::string Line() const;
  // The texts of the message boxes Wendra showed, each in quotes, one after
  // the other; "no message" when there were none.
  std::string Messages() const;
  // The newest track file of this run and its records; empty when none.
  std::string TrackFile() const;
  long Records() const;
  // "1 record", "12 records".
  static std::string RecordCount(long records);

 private:
  void Apply(const std::string& line);

  std::string trace_;
  std::vector<std::string> trackDirs_;
  std::time_t since_;
  int fd_ = -1;
  std::string partial_;
  std::map<int, std::string> texts_;
  std::vector<std::string> messages_;
  bool receiving_ = false;
};

}  // namespace cedevice
