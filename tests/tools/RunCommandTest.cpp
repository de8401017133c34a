// cedevice run: the whole device in one command, ended by itself or by
// Ctrl-C, and refusing bad arguments before it starts anything.
#include <gtest/gtest.h>
#include <dirent.h>
#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <regex>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "ServedDevice.h"
#include "TempDir.h"
#include "device/SimReceiver.h"

namespace cetest {
namespace {

// Processes whose command line names the path: what a run leaves behind.
int ProcessesUsing(const std::string& path) {
  int count = 0;
  DIR* proc = opendir("/proc");
  while (dirent* entry = readdir(proc)) {
    const std::string pid = entry->d_name;
    if (pid.find_first_not_of("0123456789") != std::string::npos || std::atoi(pid.c_str()) == getpid()) continue;
    std::ifstream in("/proc/" + pid + "/cmdline", std::ios::binary);
    std::string line((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (line.find(path) != std::string::npos) ++count;
  }
  closedir(proc);
  return count;
}

struct Record {
  std::string time;  // YYYY-MM-DDThh:mm:ssZ
  double latitude;
  double longitude;
  double altitude;
  double speed;
};

std::vector<Record> Records(const std::string& file) {
  std::vector<Record> records;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) {
    Record r{};
    char date[16], time[16];
    if (std::sscanf(line.c_str(), "%10[^,],%8[^,],%lf,%lf,%lf,%lf", date, time, &r.latitude, &r.longitude,
                    &r.altitude, &r.speed) == 6) {
      r.time = std::string(date) + "T" + time + "Z";
      records.push_back(r);
    }
  }
  return records;
}

// The track points of a GPX file as GPSBabel writes them (GPX 1.0, speed in m/s).
std::vector<Record> TrackPoints(const std::string& gpx) {
  static const std::regex point(
      "<trkpt lat=\"([-0-9.]+)\" lon=\"([-0-9.]+)\">\\s*<ele>([-0-9.]+)</ele>\\s*<time>([^<]+)</time>\\s*"
      "<speed>([0-9.]+)</speed>");
  std::vector<Record> points;
  for (std::sregex_iterator it(gpx.begin(), gpx.end(), point), end; it != end; ++it) {
    const std::smatch& m = *it;
    points.push_back({m[4], std::stod(m[1]), std::stod(m[2]), std::stod(m[3]), std::stod(m[5]) * 3.6});
  }
  return points;
}

class RunCommandTest : public ::testing::Test {
 protected:
  // A root whose settings log every cycle; run installs the programs beside them.
  void PrepareRoot() {
    dir_.Write("device/Program Files/Wendra/Wendra.cfg", "autostart=1\ninterval=1\n");
  }
  std::string Root() const { return dir_.Path() + "/device"; }
  std::string TrackFile(const std::string& output) {
    const size_t at = output.find("track file: ");
    if (at == std::string::npos) return "";
    return output.substr(at + 12, output.find(" (", at) - at - 12);
  }
  TempDir dir_;
};

TEST_F(RunCommandTest, RunEndsByItselfWithTheSimulatedRoute) {
  PrepareRoot();
  std::string output;
  ASSERT_EQ(0, RunCommand({CEDEVICE_EXE, "run", "--root", Root(), "--gps", "sim:nofix=1", "--seconds", "10", "--ui",
                           "headless"},
                          &output, 60000))
      << output;
  const std::vector<Record> records = Records(TrackFile(output));
  ASSERT_GE(records.size(), 4u) << output;

  // Every record is a position of the route, one second further each time.
  cehost::SimReceiver::Options route;
  int previous = -1;
  for (const Record& record : records) {
    int second = -1;
    for (int s = 0; s < 120 && second < 0; ++s) {
      double latitude, longitude, course;
      cehost::SimReceiver::Position(route, s, &latitude, &longitude, &course);
      if (std::fabs(latitude - record.latitude) < 3e-6 && std::fabs(longitude - record.longitude) < 3e-6) second = s;
    }
    ASSERT_GE(second, 0) << "off the route: " << record.latitude << " " << record.longitude;
    if (previous >= 0) {
      EXPECT_EQ(previous + 1, second);
    }
    previous = second;
    if (second > 0) {
      // Knots to one decimal from the receiver, km/h to one decimal in the record.
      EXPECT_NEAR(route.speedKmh, record.speed, 0.15);
    }
  }
  EXPECT_EQ(0, ProcessesUsing(Root()));

  // Besides the programs and the track, a run leaves only small files: none
  // grows with the length of the run.
  const std::string track = TrackFile(output);
  for (const auto& entry : std::filesystem::recursive_directory_iterator(Root())) {
    const std::string name = entry.path().filename().string();
    if (!entry.is_regular_file() || entry.path() == track || name == "Wendra" || name == "Ravelink.Dll") continue;
    EXPECT_LT(entry.file_size(), 4096u) << entry.path();
  }
}

// A fresh device as a user gets it, with a receiver of GPS and GLONASS south
// and west of Greenwich: records carry the signs, and GPSBabel's GPX of the
// track puts every point where the record says.
TEST_F(RunCommandTest, AFreshDeviceLogsACombinedTalkerReceiverWithSignsThatGpsbabelKeeps) {
  std::string output;
  ASSERT_EQ(0, RunCommand({CEDEVICE_EXE, "run", "--root", Root(), "--gps", "sim:talker=gn,lat=-33.45,lon=-70.66,nofix=1",
                           "--seconds", "20", "--ui", "headless"},
                          &output, 90000))
      << output;
  const std::string track = TrackFile(output);
  const std::vector<Record> records = Records(track);
  ASSERT_GE(records.size(), 2u) << output;  // a record every five cycles, as the settings installed say
  for (const Record& record : records) {
    EXPECT_NEAR(-33.45, record.latitude, 0.01) << record.time;
    EXPECT_NEAR(-70.66, record.longitude, 0.01) << record.time;
  }

  ASSERT_TRUE(std::filesystem::exists(GPSBABEL_EXE)) << "gpsbabel is not installed (" << GPSBABEL_EXE
                                                    << "); tools/install-dependencies.sh installs it";
  const std::string gpx = dir_.Path() + "/track.gpx";
  ASSERT_EQ(0, RunCommand({GPSBABEL_EXE, "-t", "-i", std::string("xcsv,style=") + WENDRA_STYLE, "-f", track, "-o",
                           "gpx", "-F", gpx},
                          &output))
      << output;
  EXPECT_EQ("", output);  // no record it could not read
  std::ifstream in(gpx);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t segment = text.find("<trkseg>");
  EXPECT_NE(std::string::npos, segment) << text;
  EXPECT_EQ(std::string::npos, text.find("<trkseg>", segment + 1)) << "one segment: " << text;
  const std::vector<Record> points = TrackPoints(text);
  ASSERT_EQ(records.size(), points.size()) << text;
  for (size_t i = 0; i < points.size(); ++i) {
    EXPECT_EQ(records[i].time, points[i].time);
    EXPECT_NEAR(records[i].latitude, points[i].latitude, 1e-9) << records[i].time;
    EXPECT_NEAR(records[i].longitude, points[i].longitude, 1e-9) << records[i].time;
    EXPECT_NEAR(records[i].altitude, points[i].altitude, 1e-9) << records[i].time;
    EXPECT_NEAR(records[i].speed, points[i].speed, 1e-4) << records[i].time;
  }
}

TEST_F(RunCommandTest, CtrlCEndsWendraThroughItsExitAndLeavesNothingRunning) {
  PrepareRoot();
  const std::string out = dir_.Path() + "/run.out";
  // A trace asked for goes where asked; a run makes none of its own.
  const pid_t run = Spawn({CEDEVICE_EXE, "run", "--root", Root(), "--gps", "sim:nofix=0", "--ui", "headless"},
                          {"CE_UI_TRACE=" + Root() + "/wendra-trace.jsonl"}, out, out);
  std::string trace;
  // Logging has begun once the trace shows the LOG lamp blinking.
  EXPECT_TRUE(WaitForChange(
      Root(),
      [&] {
        std::ifstream in(Root() + "/wendra-trace.jsonl");
        trace.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        return trace.find("\"op\":\"show\",\"id\":1008,\"shown\":true") != std::string::npos;
      },
      30000));
  ::kill(run, SIGINT);
  EXPECT_EQ(0, WaitExit(run, 30000));
  std::ifstream in(out);
  const std::string output((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_FALSE(Records(TrackFile(output)).empty()) << output;
  std::ifstream again(Root() + "/wendra-trace.jsonl");
  trace.assign(std::istreambuf_iterator<char>(again), std::istreambuf_iterator<char>());
  EXPECT_NE(std::string::npos, trace.find("\"op\":\"destroy\"")) << "Wendra did not end through its Exit command";
  EXPECT_EQ(0, ProcessesUsing(Root()));
}

// Settings saved on the device in code page 932, naming a folder of their
// own for the tracks: the run reads them as Wendra does and finds the track
// where Wendra wrote it.
TEST_F(RunCommandTest, ATrackFolderNamedInShiftJisIsWhereTheRunFindsTheTrack) {
  // logdir=\ログ\旅 in code page 932.
  dir_.Write("device/Program Files/Wendra/Wendra.cfg",
             "autostart=1\ninterval=1\nlogdir=\\" "\x83\x8d" "\x83" "O\\" "\x97\xb7" "\n");
  const std::string folder = Root() + "/ログ/旅";
  std::filesystem::create_directories(folder);
  std::string output;
  ASSERT_EQ(0, RunCommand({CEDEVICE_EXE, "run", "--root", Root(), "--gps", "sim:nofix=1", "--seconds", "6", "--ui",
                           "headless"},
                          &output, 60000))
      << output;
  const std::string track = TrackFile(output);
  EXPECT_EQ(folder, std::filesystem::path(track).parent_path().string()) << output;
  EXPECT_FALSE(Records(track).empty()) << output;
}

// A person's tracks are theirs alone: a device made under XDG_DATA_HOME is
// owner-only down from the first folder made, and so is everything the
// device and Wendra put in it, even under a umask that takes nothing away.
// A root that others can enter is used as it is, with one line saying so.
TEST_F(RunCommandTest, AMadeDeviceAndEverythingInItAreTheOwnersAlone) {
  const std::string data = dir_.Path() + "/xdg";
  const std::string out = dir_.Path() + "/run.out";
  const mode_t umask = ::umask(0);
  const pid_t run = Spawn({CEDEVICE_EXE, "run", "--gps", "sim:nofix=0", "--seconds", "4", "--ui", "headless"},
                          {"XDG_DATA_HOME=" + data}, out, out);
  ::umask(umask);
  ASSERT_EQ(0, WaitExit(run, 60000));
  std::ifstream in(out);
  const std::string output((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::string root = data + "/wendra/device";
  ASSERT_NE(std::string::npos, output.find("device root: " + root)) << output;
  EXPECT_EQ(std::string::npos, output.find("chmod")) << output;

  auto mode = [](const std::string& path) {
    struct stat st {};
    ::lstat(path.c_str(), &st);
    return st.st_mode & 07777;
  };
  for (const std::string& folder : {data, data + "/wendra", root}) EXPECT_EQ(0700u, mode(folder)) << folder;
  int files = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    const std::string path = entry.path().string();
    if (entry.is_directory()) {
      EXPECT_EQ(0700u, mode(path)) << path;
    } else {
      EXPECT_EQ(0u, mode(path) & 077) << path << " is open to others: " << std::oct << mode(path);
      ++files;
    }
  }
  EXPECT_GE(files, 5) << "the programs, the settings, the registry, the log";

  // A root made by the user with other modes is used as it is, with a warning.
  const std::string open = dir_.Path() + "/open";
  ASSERT_EQ(0, ::mkdir(open.c_str(), 0755));
  ::chmod(open.c_str(), 0755);
  std::string said;
  ASSERT_EQ(0, RunCommand({CEDEVICE_EXE, "install", "--root", open}, &said)) << said;
  EXPECT_NE(std::string::npos, said.find("chmod 700 " + open)) << said;
  EXPECT_EQ(1, std::count(said.begin(), said.end(), '\n') - 1) << "one line besides the report: " << said;
  EXPECT_EQ(0755u, mode(open));
}

// A card that fills while Wendra copies its driver: the run still ends when
// its time is up, and says why no relay port came, with what Wendra showed.
// With room again, the next run installs the driver whole and logs.
TEST_F(RunCommandTest, ARunWhoseDriverTheCardCouldNotTakeEndsOnTimeAndSaysWhy) {
  PrepareRoot();
  std::string output;
  ASSERT_EQ(0, RunCommand({CEDEVICE_EXE, "install", "--root", Root()}, &output)) << output;
  const std::string source = Root() + "/Program Files/Wendra/Ravelink.Dll";
  const auto room = std::filesystem::file_size(source) / 2;
  // Writes past the room fail (EFBIG) instead of ending the writer; ulimit counts blocks of 512.
  const int status = RunCommand({"/bin/sh", "-c",
                                 "trap '' XFSZ; ulimit -f " + std::to_string(room / 512) + "; exec \"$0\" \"$@\"",
                                 CEDEVICE_EXE, "run", "--root", Root(), "--gps", "sim:nofix=1", "--seconds", "8",
                                 "--ui", "headless"},
                                &output, 40000);
  EXPECT_EQ(1, status) << "-1: the run did not end by itself\n" << output;
  EXPECT_NE(std::string::npos,
            output.find("cedevice run: no relay port COM6: appeared in 5 s; Wendra showed: "
                        "\"シリアルポートのオープンに失敗しました。\"; its log is " + Root() + "/run.log\n"))
      << output;
  EXPECT_NE(std::string::npos, output.find("no track file was written")) << output;
  EXPECT_FALSE(std::filesystem::exists(Root() + "/Windows/Ravelink.Dll"));
  EXPECT_EQ(0, ProcessesUsing(Root()));

  ASSERT_EQ(0, RunCommand({CEDEVICE_EXE, "run", "--root", Root(), "--gps", "sim:nofix=1", "--seconds", "8", "--ui",
                           "headless"},
                          &output, 60000))
      << output;
  EXPECT_EQ(dir_.Read("device/Program Files/Wendra/Ravelink.Dll"), dir_.Read("device/Windows/Ravelink.Dll"));
  EXPECT_FALSE(Records(TrackFile(output)).empty()) << output;
}

// One burst of a receiver that moves north a little each second.
std::string Burst(int second) {
  auto sentence = [](const std::string& body) {
    unsigned checksum = 0;
    for (unsigned char c : body) checksum ^= c;
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X\r\n", checksum);
    return "$" + body + tail;
  };
  char time[32], latitude[32];
  std::snprintf(time, sizeof time, "12%02d%02d.00", second / 60 % 60, second % 60);
  std::snprintf(latitude, sizeof latitude, "3539.%04d", 1000 + second);
  const std::string t = time, lat = latitude;
  return sentence("GPGGA," + t + "," + lat + ",N,13944.4874,E,1,08,1.0,45.3,M,39.4,M,,") +
         sentence("GPGSA,A,3,02,04,09,12,,,,,,,,,2.0,1.0,1.7") +
         sentence("GPRMC," + t + ",A," + lat + ",N,13944.4874,E,5.0,0.0,081226,,,A");
}

// A receiver on a pseudo-terminal, unplugged and plugged back at the same
// path, as a user does with a USB receiver: the run says so once, and the
// same track goes on with the records of the bursts after it.
TEST_F(RunCommandTest, AReceiverPluggedBackGoesOnIntoTheSameTrack) {
  PrepareRoot();
  const std::string link = dir_.Path() + "/gps0";
  int master = -1;
  auto plugIn = [&] {
    termios raw{};
    cfmakeraw(&raw);
    cfsetspeed(&raw, B4800);
    int slave = -1;
    char name[128];
    ASSERT_EQ(0, openpty(&master, &slave, name, &raw, nullptr));
    ::fcntl(master, F_SETFD, FD_CLOEXEC);  // the receiver's end is the test's alone
    ::close(slave);
    ::unlink(link.c_str());
    ASSERT_EQ(0, ::symlink(name, link.c_str()));
  };
  ASSERT_NO_FATAL_FAILURE(plugIn());
  const std::string out = dir_.Path() + "/run.out";
  const pid_t run = Spawn({CEDEVICE_EXE, "run", "--root", Root(), "--gps", "tty:" + link + "@4800", "--ui",
                           "headless"},
                          {}, out, out);
  const std::string folder = Root() + "/Program Files/Wendra";
  auto records = [&] {
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      if (entry.path().extension() == ".txt") return Records(entry.path().string());
    }
    return std::vector<Record>();
  };
  // A receiver sends a burst a second; five a second keep the test short.
  int second = 0;
  auto sendUntil = [&](size_t count) {
    for (int sent = 0; sent < 150 && records().size() < count; ++sent) {
      const std::string burst = Burst(second++);
      if (::write(master, burst.data(), burst.size()) != static_cast<ssize_t>(burst.size())) return false;
      ::usleep(200000);
    }
    return records().size() >= count;
  };
  EXPECT_TRUE(sendUntil(3));
  const size_t before = records().size();
  ::close(master);
  ::unlink(link.c_str());
  EXPECT_TRUE(WaitForChange(dir_.Path(), [&] {
    std::ifstream in(out);
    const std::string said((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return said.find("hung up") != std::string::npos;
  }));
  ASSERT_NO_FATAL_FAILURE(plugIn());
  const int replugged = second;
  EXPECT_TRUE(sendUntil(before + 3));
  ::kill(run, SIGINT);
  EXPECT_EQ(0, WaitExit(run, 30000));
  ::close(master);

  std::ifstream in(out);
  const std::string output((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::vector<Record> track = Records(TrackFile(output));
  ASSERT_GE(track.size(), before + 3) << output;
  char first[32];
  std::snprintf(first, sizeof first, "12:%02d:%02d", replugged / 60 % 60, replugged % 60);
  EXPECT_GE(track.back().time.substr(11, 8), std::string(first)) << "the last record is of a burst after the replug";
  const std::string hungUp = "the receiver on " + link + " hung up; waiting for it to come back\n";
  EXPECT_NE(std::string::npos, output.find(hungUp)) << output;
  EXPECT_EQ(output.find(hungUp), output.rfind(hungUp)) << "said once: " << output;
  EXPECT_EQ(0, ProcessesUsing(Root()));
}

TEST_F(RunCommandTest, BadArgumentsLeaveNoProcessAndNoDevice) {
  dir_.Write("file", "not a directory");
  const std::vector<std::vector<std::string>> bad = {
      {"--gps", "replay:" + dir_.Path() + "/missing.nmea"},
      {"--gps", "tty:/dev/nonexistent-tty"},
      {"--gps", "bogus"},
      {"--seconds", "soon"},
      {"--ui", "fancy"},
      {"--root", dir_.Path() + "/file"},
  };
  for (const auto& arguments : bad) {
    std::vector<std::string> command = {CEDEVICE_EXE, "run", "--root", Root()};
    command.insert(command.end(), arguments.begin(), arguments.end());
    std::string output;
    const int status = RunCommand(command, &output);
    EXPECT_NE(0, status) << arguments[1];
    EXPECT_EQ(0u, output.find("cedevice run: ")) << output;
    EXPECT_EQ(1, std::count(output.begin(), output.end(), '\n')) << "one clear line: " << output;
  }
  std::string output;
  EXPECT_EQ(1, RunCommand({CEDEVICE_EXE, "stop", "--root", Root()}, &output));
  EXPECT_NE(std::string::npos, output.find("no device running")) << output;
  EXPECT_EQ(0, ProcessesUsing(Root()));
}

}  // namespace
}  // namespace cetest
