// The driver's edge cases as a client program sees them on Wine: the
// program ravelink-conformance.exe makes the checks through COREDLL.dll
// (each line "ok NAME" or "FAIL NAME: what"), on a real port that is Wine's
// serial driver on a pseudo-terminal.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "PseudoLine.h"
#include "TempDir.h"
#include "WineSystem.h"

namespace winetest {
namespace {

// The conformance program's checks, with the program started from the host
// folder given ("" for drive C:).
void ExpectConformance(const std::string& folder) {
  std::string error;
  WineSystem* wine = WineSystem::Shared(&error);
  ASSERT_TRUE(wine) << error;
  PseudoLine line;
  ASSERT_TRUE(line.Open());
  ASSERT_TRUE(wine->FreshDevice("", &error)) << error;
  ASSERT_TRUE(wine->BindPort(5, line.Path(), &error)) << error;
  // 37 + 1300 bytes wait in the line, "a".."z" over and over.
  std::string fed;
  for (int i = 0; i < 1337; ++i) fed += static_cast<char>('a' + i % 26);
  ASSERT_TRUE(line.Send(fed));
  // The driver is installed as Wendra's installer leaves it; the program
  // writes the relay key and activates it.
  std::filesystem::copy_file(wine->ProgramDir() + "/Ravelink.Dll", wine->DriveC() + "/windows/Ravelink.Dll");

  std::string output;
  const int failures = wine->Run("ravelink-conformance.exe", {}, &output, 60000, {}, folder);
  EXPECT_EQ(0, failures) << output;
  std::istringstream lines(output);
  int checks = 0;
  for (std::string check; std::getline(lines, check);) {
    if (!check.empty() && check.back() == '\r') check.pop_back();
    if (check.rfind("ok ", 0) == 0) ++checks;
    EXPECT_NE(0u, check.rfind("FAIL", 0)) << check;
  }
  EXPECT_GE(checks, 53) << output;  // every check the program makes
  // The immediate character, and nothing else, reached the receiver.
  EXPECT_EQ("\x11", line.Written());
}

TEST(WineConformanceTest, TheDriversEdgeCasesHoldOnWine) { ExpectConformance(""); }

// From another drive than C: (here Z:, the host's root) the program's
// ActivateDevice must still find \Windows\Ravelink.Dll on the device's drive.
TEST(WineConformanceTest, TheyHoldForAProgramStartedOutsideDriveC) {
  cetest::TempDir elsewhere;
  ExpectConformance(elsewhere.Path());
}

}  // namespace
}  // namespace winetest
