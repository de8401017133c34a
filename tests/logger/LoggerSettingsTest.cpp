#include <LoggerSettings.h>
#include <TempDir.h>
#include <cehost/Device.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "LoggerTestSupport.h"
#include "RecordingView.h"

namespace loggertest {
namespace {

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cehost::BootOptions options;
    options.root = root.Path();
    std::string error;
    device = cehost::InProcessDevice::Boot(options, &error);
    ASSERT_TRUE(device) << error;
  }

  // Loads a settings file with this content (none when nullptr) into a fresh state.
  std::unique_ptr<LoggerState> Load(const char* content) {
    if (content) root.Write("Program Files/Wendra/Wendra.cfg", content);
    view.Clear();
    auto state = std::make_unique<LoggerState>(view);
    wcscpy(state->appDir, TEXT("\\Program Files\\Wendra\\"));
    LoadSettings(*state, TEXT("Wendra"));
    return state;
  }

  cetest::TempDir root;
  std::unique_ptr<cehost::InProcessDevice> device;
  RecordingView view;
};

void ExpectDefaults(const LoggerSettings& s) {
  EXPECT_EQ(s.interval, 5);
  EXPECT_EQ(s.minposx, 0);
  EXPECT_EQ(s.minposy, 100);
  EXPECT_EQ(s.minsizew, 58);
  EXPECT_EQ(s.minsizeh, 50);
  EXPECT_TRUE(s.autominimize);
  EXPECT_TRUE(s.topmost);
  EXPECT_FALSE(s.rstcurrun);
  EXPECT_FALSE(s.autostart);
  for (const WCHAR* text : {s.btn1appname, s.btn1apppath, s.btn1appargv, s.btn2appname, s.btn2apppath,
                            s.btn2appargv, s.logdir}) {
    EXPECT_EQ(std::u16string(text), u"");
  }
  EXPECT_EQ(s.chgfromport, 5);
  EXPECT_EQ(s.chgtoport, 6);
  EXPECT_EQ(s.monport, 7);
  EXPECT_EQ(s.writecache, 1);
  EXPECT_FALSE(s.onlyactivatedriver);
  EXPECT_FALSE(s.anytalker);
  EXPECT_FALSE(s.signedpos);
}

TEST_F(SettingsTest, MissingFileIsReportedAndLeavesDefaults) {
  auto state = Load(nullptr);
  EXPECT_EQ(std::u16string(state->configPath), u"\\Program Files\\Wendra\\Wendra.cfg");
  EXPECT_EQ(view.Ops(), std::vector<ViewOp>{ErrorBox(
                            u"設定ファイルを開けません。\n\\Program Files\\Wendra\\Wendra.cfg\nデフォルト値を読み込みます。")})
      << Describe(view.Ops());
  ExpectDefaults(state->settings);
}

TEST_F(SettingsTest, EmptyFileLeavesDefaultsWithoutMessage) {
  auto state = Load("");
  EXPECT_TRUE(view.Ops().empty());
  ExpectDefaults(state->settings);
}

TEST_F(SettingsTest, EveryKeyIsRead) {
  auto state = Load(
      "interval=1\nminposx=-20\nminposy=300\nminsizew=40\nminsizeh=30\nautominimize=0\ntopmost=0\n"
      "rstcurrun=1\nautostart=1\nbtn1appname=Nav\nbtn1apppath=\\Windows\\nav.exe\nbtn1appargv=-x 1\n"
      "btn2appname=地図\nbtn2apppath=\\Storage Card\\map.exe\nbtn2appargv=/fast\nchgfromport=1\n"
      "chgtoport=8\nmonport=9\nlogdir=\\Storage Card\\GPS\nwritecache=0\nonlyactivatedriver=1\n"
      "AnyTalker = 1\nsignedpos=1\n");
  const LoggerSettings& s = state->settings;
  EXPECT_TRUE(view.Ops().empty());
  EXPECT_EQ(s.interval, 1);
  EXPECT_EQ(s.minposx, -20);
  EXPECT_EQ(s.minposy, 300);
  EXPECT_EQ(s.minsizew, 40);
  EXPECT_EQ(s.minsizeh, 30);
  EXPECT_FALSE(s.autominimize);
  EXPECT_FALSE(s.topmost);
  EXPECT_TRUE(s.rstcurrun);
  EXPECT_TRUE(s.autostart);
  EXPECT_EQ(std::u16string(s.btn1appname), u"Nav");
  EXPECT_EQ(std::u16string(s.btn1apppath), u"\\Windows\\nav.exe");
  EXPECT_EQ(std::u16string(s.btn1appargv), u"-x 1");
  EXPECT_EQ(std::u16string(s.btn2appname), u"地図");
  EXPECT_EQ(std::u16string(s.btn2apppath), u"\\Storage Card\\map.exe");
  EXPECT_EQ(std::u16string(s.btn2appargv), u"/fast");
  EXPECT_EQ(s.chgfromport, 1);
  EXPECT_EQ(s.chgtoport, 8);
  EXPECT_EQ(s.monport, 9);
  EXPECT_EQ(std::u16string(s.logdir), u"\\Storage Card\\GPS");
  EXPECT_EQ(s.writecache, 0);
  EXPECT_TRUE(s.onlyactivatedriver);
  EXPECT_TRUE(s.anytalker);
  EXPECT_TRUE(s.signedpos);
}

TEST_F(SettingsTest, ConversionsAndClamps) {
  struct Case {
    const char* line;
    std::function<bool(const LoggerSettings&)> holds;
  };
  const Case cases[] = {
      {"MinSizeW = 70 # wide", [](const LoggerSettings& s) { return s.minsizew == 65; }},
      {"minsizew=0", [](const LoggerSettings& s) { return s.minsizew == 1; }},
      {"minsizew=-3", [](const LoggerSettings& s) { return s.minsizew == 65; }},
      {"minsizew=65", [](const LoggerSettings& s) { return s.minsizew == 65; }},
      {"minsizew=1", [](const LoggerSettings& s) { return s.minsizew == 1; }},
      {"minsizeh=53", [](const LoggerSettings& s) { return s.minsizeh == 53; }},
      {"minsizeh=54", [](const LoggerSettings& s) { return s.minsizeh == 53; }},
      {"minsizeh=0", [](const LoggerSettings& s) { return s.minsizeh == 1; }},
      {"minsizeh=-1", [](const LoggerSettings& s) { return s.minsizeh == 53; }},
      {"writecache=2", [](const LoggerSettings& s) { return s.writecache == 2; }},
      {"writecache=0", [](const LoggerSettings& s) { return s.writecache == 0; }},
      {"writecache=3", [](const LoggerSettings& s) { return s.writecache == 1; }},
      {"writecache=-1", [](const LoggerSettings& s) { return s.writecache == 1; }},
      {"topmost=abc", [](const LoggerSettings& s) { return !s.topmost; }},
      {"topmost=7", [](const LoggerSettings& s) { return s.topmost == TRUE; }},
      {"autostart=-1", [](const LoggerSettings& s) { return s.autostart == TRUE; }},
      {"autominimize=", [](const LoggerSettings& s) { return !s.autominimize; }},
      {"interval=-4", [](const LoggerSettings& s) { return s.interval == -4; }},
      {"interval=  +12 records", [](const LoggerSettings& s) { return s.interval == 12; }},
      {"interval=x12", [](const LoggerSettings& s) { return s.interval == 0; }},
      {"interval=99999999999", [](const LoggerSettings& s) { return s.interval == 2147483647; }},
      {"anytalker=1\nanytalker=0", [](const LoggerSettings& s) { return !s.anytalker; }},
      {"signedpos=-2", [](const LoggerSettings& s) { return s.signedpos == TRUE; }},
      {"signedpos=yes", [](const LoggerSettings& s) { return !s.signedpos; }},
      {"monport=0x10", [](const LoggerSettings& s) { return s.monport == 0; }},
  };
  for (const Case& c : cases) {
    auto state = Load(c.line);
    EXPECT_TRUE(c.holds(state->settings)) << c.line;
  }
}

TEST_F(SettingsTest, CommentsTrimmingAndEqualsSigns) {
  auto state = Load(
      "# logdir=\\Wrong\n"
      "#interval=1\n"
      "  \tLogDir \t=  \\Storage Card\\GPS \t\n"
      "btn1apppath=\\Windows\\a=b.exe\n"
      "btn1appargv=-p #1\n"
      "btn2appname = two  words \n"
      "no equals sign here\n"
      "=7\n"
      "unknownkey=3\n"
      "inter val=2\n"
      "minposx=1=2\n");
  const LoggerSettings& s = state->settings;
  EXPECT_EQ(std::u16string(s.logdir), u"\\Storage Card\\GPS");
  EXPECT_EQ(std::u16string(s.btn1apppath), u"\\Windows\\a=b.exe");
  EXPECT_EQ(std::u16string(s.btn1appargv), u"-p");
  EXPECT_EQ(std::u16string(s.btn2appname), u"two  words");
  EXPECT_EQ(s.interval, 5);
  EXPECT_EQ(s.minposx, 1);
  EXPECT_TRUE(view.Ops().empty());
}

TEST_F(SettingsTest, LastOfRepeatedKeysWins) {
  auto state = Load("interval=3\nlogdir=\\A\nINTERVAL=9\nlogdir=\\B\n");
  EXPECT_EQ(state->settings.interval, 9);
  EXPECT_EQ(std::u16string(state->settings.logdir), u"\\B");
}

TEST_F(SettingsTest, ReadsUtf8WithMarkAndCrLfAndSurvivesInvalidBytes) {
  auto state = Load("\xEF\xBB\xBFinterval=2\r\nbtn1appname=ナビ\r\nbtn2appname=a\xFF\xFE" "b\r\nmonport=4\r\n");
  EXPECT_EQ(state->settings.interval, 2);  // the mark does not become part of the first key
  EXPECT_EQ(std::u16string(state->settings.btn1appname), u"ナビ");
  EXPECT_EQ(std::u16string(state->settings.btn2appname), u"a\uFFFD\uFFFDb");
  EXPECT_EQ(state->settings.monport, 4);
}

// The same settings saved on the device (Shift_JIS, its ANSI code page 932)
// and on a host (UTF-8, with or without the mark).
TEST_F(SettingsTest, ReadsJapaneseTextInShiftJisAsInUtf8) {
  const std::string utf8 =
      "btn1appname=ナビ\r\nbtn1apppath=\\Storage Card\\地図\\ナビ.exe\r\n"
      "btn2appname=表示\r\nlogdir=\\Storage Card\\ログ\\ソフト\r\ninterval=2\r\n";
  const std::string shiftJis =
      "btn1appname=\x83\x69\x83\x72\r\nbtn1apppath=\\Storage Card\\\x92\x6E\x90\x7D\\\x83\x69\x83\x72.exe\r\n"
      "btn2appname=\x95\x5C\x8E\xA6\r\nlogdir=\\Storage Card\\\x83\x8D\x83\x4F\\\x83\x5C\x83\x74\x83\x67\r\n"
      "interval=2\r\n";
  for (const std::string& file : {utf8, "\xEF\xBB\xBF" + utf8, shiftJis}) {
    SCOPED_TRACE(file.substr(0, 20));
    auto state = Load(file.c_str());
    EXPECT_EQ(std::u16string(state->settings.btn1appname), u"ナビ");
    EXPECT_EQ(std::u16string(state->settings.btn1apppath), u"\\Storage Card\\地図\\ナビ.exe");
    EXPECT_EQ(std::u16string(state->settings.btn2appname), u"表示");
    EXPECT_EQ(std::u16string(state->settings.logdir), u"\\Storage Card\\ログ\\ソフト");
    EXPECT_EQ(state->settings.interval, 2);
    EXPECT_TRUE(view.Ops().empty());
  }
  // Neither: bytes that stand for nothing in either become U+FFFD, the keys still work.
  auto state = Load("interval=3\nbtn1appname=a\x80\xFF" "b\nmonport=9\n");
  EXPECT_EQ(std::u16string(state->settings.btn1appname), u"a\uFFFD\uFFFDb");
  EXPECT_EQ(state->settings.interval, 3);
  EXPECT_EQ(state->settings.monport, 9);
}

TEST_F(SettingsTest, OverlongLineArrivesInPiecesOfItsOwn) {
  // 999 characters fill the line buffer; the rest of the physical line is a line of its own.
  const std::string first = "logdir=" + std::string(999 - 7, 'd');
  auto state = Load((first + "interval=7\nbtn1appname=" + std::string(3000, 'n') + "\n").c_str());
  EXPECT_EQ(std::u16string(state->settings.logdir), std::u16string(999 - 7, u'd'));
  EXPECT_EQ(state->settings.interval, 7);
  EXPECT_EQ(std::u16string(state->settings.btn1appname), std::u16string(999 - 12, u'n'));
}

}  // namespace
}  // namespace loggertest
