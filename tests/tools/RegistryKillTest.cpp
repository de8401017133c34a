// The registry file survives a device killed at any moment: after each
// SIGKILL the device boots again from the same root, and the file holds one
// of the states the device had saved while a program changed it, never a
// torn file or a mix of two. CE_REGISTRY_KILLS sets how many kills (25);
// bench/registry-kills.sh runs it with as many as asked.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <set>
#include <string>

#include "ServedDevice.h"
#include "TempDir.h"
#include "device/RegistryStore.h"

namespace cetest {
namespace {

std::u16string Key(DWORD k) {
  const std::string digits = std::to_string(k);
  return u"Churn\\K" + std::u16string(digits.begin(), digits.end());
}

// The state the file holds, as the churning program saves them (see
// reg-churn in TestProgram.cpp): Step s with K<s> named v<s>, plus either
// K<s-1> (the step's delete not yet saved) or K<s+1>, named or not yet (the
// next step begun). Answers s, or -1 with the reason.
long SavedStep(cehost::RegistryStore& store, std::string* reason) {
  DWORD type = 0;
  std::vector<BYTE> data;
  DWORD step = 0;
  if (store.QueryValue(u"Churn", u"Step", &type, &data) == ERROR_SUCCESS) {
    if (type != REG_DWORD || data.size() != 4) return *reason = "Step is not a number", -1;
    std::memcpy(&step, data.data(), 4);
  }
  std::set<DWORD> present;
  std::u16string name;
  for (DWORD i = 0; store.EnumKey(u"Churn", i, &name) == ERROR_SUCCESS; ++i) {
    present.insert(static_cast<DWORD>(std::stoul(std::string(name.begin() + 1, name.end()))));
  }
  const bool before = present.count(step - 1) && step > 1, after = present.count(step + 1);
  if ((step > 0 && !present.count(step)) || (before && after) ||
      present.size() != (step > 0 ? 1u : 0u) + before + after) {
    return *reason = "the keys do not belong to step " + std::to_string(step), -1;
  }
  for (DWORD k : present) {
    const std::string v = "v" + std::to_string(k);
    const std::u16string expected(v.begin(), v.end());
    const LONG found = store.QueryValue(Key(k), u"Name", &type, &data);
    if (found == ERROR_FILE_NOT_FOUND && k == step + 1) continue;  // made, not yet named
    if (found != ERROR_SUCCESS || data.size() != (expected.size() + 1) * 2 ||
        std::memcmp(data.data(), expected.c_str(), data.size()) != 0) {
      return *reason = "K" + std::to_string(k) + " has another name", -1;
    }
  }
  return static_cast<long>(step);
}

TEST(RegistryKillTest, EveryKillLeavesOneSavedState) {
  const char* asked = std::getenv("CE_REGISTRY_KILLS");
  const int kills = asked && *asked ? std::atoi(asked) : 25;
  const unsigned seed = std::random_device{}();
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> moment(0, 15000);  // microseconds after the program's first call
  TempDir dir;
  const std::string root = dir.Path() + "/device";
  long last = 0;
  // Boots the device, starts the program on it and answers both; the program
  // has read the step the device loaded.
  auto churn = [&](pid_t* device, pid_t* writer) {
    std::string out;
    ASSERT_EQ(0, RunCommand({CEDEVICE_EXE, "start", "--root", root}, &out)) << out;
    *device = static_cast<pid_t>(std::atoi(out.substr(out.find("(process ") + 9).c_str()));
    ASSERT_GT(*device, 0) << out;
    const std::string ready = dir.Path() + "/ready";
    ::unlink(ready.c_str());
    *writer = Spawn({TEST_PROGRAM, "reg-churn", "Churn", ready}, {"CEDEVICE_ROOT=" + root});
    ASSERT_TRUE(WaitForChange(dir.Path(), [&] { return dir.Exists("ready"); }));
    EXPECT_EQ(std::to_string(last), dir.Read("ready")) << "the device loaded the last saved step";
  };
  for (int kill = 0; kill < kills; ++kill) {
    SCOPED_TRACE("kill " + std::to_string(kill) + ", seed " + std::to_string(seed));
    pid_t device = 0, writer = 0;
    ASSERT_NO_FATAL_FAILURE(churn(&device, &writer));
    ::usleep(static_cast<useconds_t>(moment(random)));
    ::kill(device, SIGKILL);
    // Gone before the next start, which would otherwise find it still running.
    ASSERT_TRUE(WaitGone(device, 10000));
    EXPECT_EQ(0, WaitExit(writer, 10000)) << "the program ends when its device is gone";

    cehost::RegistryStore store(root + "/registry.reg");
    std::string error;
    ASSERT_TRUE(store.Load(&error)) << error;
    const long step = SavedStep(store, &error);
    ASSERT_GE(step, 0) << error << "\n" << dir.Read("device/registry.reg");
    EXPECT_GE(step, last) << "a saved step was lost";
    last = step;
  }
  // Whatever the kills left behind, a temporary file among it, saves go on.
  pid_t device = 0, writer = 0;
  ASSERT_NO_FATAL_FAILURE(churn(&device, &writer));
  const long killed = last;
  EXPECT_TRUE(WaitForChange(root, [&] {
    cehost::RegistryStore store(root + "/registry.reg");
    std::string error;
    return store.Load(&error) && SavedStep(store, &error) > killed;
  })) << "no step saved after step " << killed;
  ::kill(device, SIGKILL);
  EXPECT_EQ(0, WaitExit(writer, 10000));
}

}  // namespace
}  // namespace cetest
