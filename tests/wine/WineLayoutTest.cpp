// Dialog 102 laid out by Wine and by the host: each control's rectangle, as
// each platform reports it, is the template's dialog units mapped by one
// pair of base units. The fonts may differ, and with them the pair; the
// layout may not.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "WendraProcess.h"
#include "WineSystem.h"
#include "resource.h"

namespace winetest {
namespace {

using loggertest::TraceEntry;

struct Placed {
  int id;
  int x, y, cx, cy;                // the template's, in dialog units
  int left, top, right, bottom;    // the platform's, in pixels of the client area
  bool image;                      // a bitmap static takes its image's size
};

// The smallest pair of base units that maps every control's template
// rectangle to its pixels within the pixel each platform may round to; an
// image's origin only. {0, 0} when there is none.
std::pair<int, int> BaseUnits(const std::vector<Placed>& controls) {
  auto within = [](int pixels, int units, int base, int per) { return std::abs(pixels * per - units * base) <= per; };
  for (int bx = 2; bx <= 40; ++bx) {
    for (int by = 4; by <= 80; ++by) {
      bool all = !controls.empty();
      for (const Placed& c : controls) {
        all = all && within(c.left, c.x, bx, 4) && within(c.top, c.y, by, 8) &&
              (c.image || (within(c.right, c.x + c.cx, bx, 4) && within(c.bottom, c.y + c.cy, by, 8)));
      }
      if (all) return {bx, by};
    }
  }
  return {0, 0};
}

std::string Describe(const std::vector<Placed>& controls) {
  std::ostringstream out;
  for (const Placed& c : controls) {
    out << c.id << ": (" << c.x << "," << c.y << "," << c.cx << "," << c.cy << ") -> [" << c.left << "," << c.top
        << "," << c.right << "," << c.bottom << "]\n";
  }
  return out.str();
}

TEST(WineLayoutTest, EveryControlIsTheTemplateMappedByOneBaseUnitPairOnBothPlatforms) {
  std::string error;
  WineSystem* wine = WineSystem::Shared(&error);
  ASSERT_TRUE(wine) << error;
  ASSERT_TRUE(wine->FreshDevice("", &error)) << error;
  cetest::TempDir dir;
  const std::string trace = dir.Path() + "/wine-trace.jsonl";
  const pid_t wendra = wine->Start("Wendra.exe", {}, {"CE_UI=headless", "CE_UI_TRACE=" + WineSystem::WindowsPath(trace)},
                                   dir.Path() + "/wendra.out");
  ASSERT_GE(loggertest::WaitForEntry(trace, [](const TraceEntry& e) { return e.op == "place" && e.Int("w") == 58; }), 0)
      << "the tile came up: " << dir.Read("wendra.out");
  std::string said;
  ASSERT_EQ(0, wine->Run("ce-send.exe", {WendraTitle(), "layout", "Wendra.exe", std::to_string(IDD_LOGGER)}, &said))
      << said;
  std::string ended;
  EXPECT_EQ(0, wine->Run("ce-send.exe", {WendraTitle(), "WM_COMMAND", std::to_string(IDC_EXIT), "0"}, &ended)) << ended;
  EXPECT_EQ(0, cetest::WaitExit(wendra, 30000));

  std::vector<Placed> onWine;
  std::istringstream lines(said);
  for (std::string line; std::getline(lines, line);) {
    Placed c{};
    unsigned long style = 0;
    std::istringstream fields(line);
    if (fields >> c.id >> c.x >> c.y >> c.cx >> c.cy >> c.left >> c.top >> c.right >> c.bottom >> style) {
      c.image = (style & 0x1F) == 0x0E;  // SS_BITMAP: no button or edit of the template has these bits
      onWine.push_back(c);
    }
  }
  ASSERT_EQ(23u, onWine.size()) << said;

  // The host's window of the same program, each control as its trace made it.
  loggertest::WendraDevice device;
  const pid_t onDevice = device.Start();
  ASSERT_TRUE(loggertest::WaitForStartUp(device.Trace()));
  const auto created = loggertest::ReadTrace(device.Trace());
  SendMessageW(loggertest::FindTitle(loggertest::WindowTitle(u"Wendra")), WM_COMMAND, MAKEWPARAM(IDC_EXIT, BN_CLICKED),
               0);
  EXPECT_EQ(0, cetest::WaitExit(onDevice, 10000));
  ASSERT_GE(created.size(), 24u);
  std::vector<Placed> onHost;
  for (size_t i = 0; i < onWine.size(); ++i) {
    const TraceEntry& e = created[i + 1];  // after the dialog's own
    ASSERT_EQ("create", e.op);
    EXPECT_EQ(onWine[i].id, e.Int("id")) << "control " << i + 1 << " in the template's order";
    Placed c = onWine[i];
    c.left = static_cast<int>(e.Int("x"));
    c.top = static_cast<int>(e.Int("y"));
    c.right = c.left + static_cast<int>(e.Int("w"));
    c.bottom = c.top + static_cast<int>(e.Int("h"));
    c.image = e.Get("kind") == "image";
    EXPECT_EQ(onWine[i].image, c.image) << "control " << c.id;
    onHost.push_back(c);
  }

  const auto wineUnits = BaseUnits(onWine);
  const auto hostUnits = BaseUnits(onHost);
  EXPECT_NE(0, wineUnits.first) << "Wine's layout is not the template's:\n" << Describe(onWine);
  EXPECT_NE(0, hostUnits.first) << "the host's layout is not the template's:\n" << Describe(onHost);
  RecordProperty("wine_base_units", std::to_string(wineUnits.first) + "x" + std::to_string(wineUnits.second));
  RecordProperty("host_base_units", std::to_string(hostUnits.first) + "x" + std::to_string(hostUnits.second));
}

}  // namespace
}  // namespace winetest
