#include <NmeaInterpreter.h>
#include <ReceiveLoop.h>
#include <TempDir.h>
#include <cehost/Device.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>

#include "LoggerTestSupport.h"
#include "RecordingView.h"

namespace loggertest {
namespace {

using Operation = cehost::TestPort::Operation;

const std::string kRmc = "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r\n";

constexpr std::chrono::seconds kPatience{20};

class ReceiveLoopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetProcessWide();
    cehost::BootOptions options;
    options.root = root.Path();
    options.ports = {"COM7:=test"};
    std::string error;
    device = cehost::InProcessDevice::Boot(options, &error);
    ASSERT_TRUE(device) << error;
    port = device->Port("COM7:");
    ASSERT_NE(port, nullptr);
  }
  void TearDown() override { CloseTapPort(state); }

  // The port opened as Open tap port opens it, without the thread.
  void OpenPortOnly() {
    state.portHandle = CreateFileW(TEXT("COM7:"), GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(state.portHandle, INVALID_HANDLE_VALUE);
  }

  const std::vector<ViewOp> kDataLamp = {Show(IDC_RECEIVE_LAMP_DATA, true), Show(IDC_RECEIVE_LAMP_IDLE, false)};
  const std::vector<ViewOp> kIdleLamp = {Show(IDC_RECEIVE_LAMP_DATA, false), Show(IDC_RECEIVE_LAMP_IDLE, true)};

  cetest::TempDir root;
  std::unique_ptr<cehost::InProcessDevice> device;
  cehost::TestPort* port = nullptr;
  RecordingView view;
  LoggerState state{view};
  NmeaInterpreter interpreter;
};

TEST_F(ReceiveLoopTest, FailedOpenIsReportedAndStartsNothing) {
  EXPECT_FALSE(OpenTapPort(state, TEXT("COM9:")));
  EXPECT_EQ(view.Ops(), std::vector<ViewOp>{ErrorBox(u"シリアルポートのオープンに失敗しました。\n")})
      << Describe(view.Ops());
  EXPECT_EQ(state.portHandle, INVALID_HANDLE_VALUE);
  EXPECT_EQ(state.readerThread, nullptr);
  EXPECT_FALSE(state.readerRunning);
  CloseTapPort(state);
  EXPECT_EQ(view.Ops().size(), 1u);
  EXPECT_EQ(state.portHandle, INVALID_HANDLE_VALUE);
}

TEST_F(ReceiveLoopTest, WaitingBytesAreTakenAtMost1199APass) {
  OpenPortOnly();
  std::string data;
  std::vector<size_t> ends;  // where each $GPGGA ends
  for (int i = 1; data.size() < 1400; ++i) {
    data += Sentence("GPGGA,0000" + std::to_string(10 + i) + ",3539.4874,N,13944.4874,E,1,08,1.0," +
                     std::to_string(i) + ".0,M,39.4,M,,");
    ends.push_back(data.size());
  }
  const std::string filler = "$GPTXT,01,01,02,";
  data += filler + std::string(1500 - data.size() - filler.size() - 2, 'f') + "\r\n";
  ASSERT_EQ(data.size(), 1500u);
  size_t firstPass = 0;
  while (firstPass < ends.size() && ends[firstPass] <= 1199) ++firstPass;
  ASSERT_LT(ends[firstPass - 1], 1199u);  // the chunk ends inside a sentence
  ASSERT_GT(ends[firstPass], 1199u);

  port->Feed(data);
  EXPECT_EQ(ReceivePass(state, interpreter), 1199u);
  EXPECT_EQ(view.Count("text", IDC_FIX_QUALITY), static_cast<int>(firstPass));
  EXPECT_DOUBLE_EQ(state.fix.altitude, static_cast<double>(firstPass));
  const std::vector<ViewOp> ops = view.Ops();
  EXPECT_EQ(std::vector<ViewOp>(ops.begin(), ops.begin() + 2), kDataLamp);

  view.Clear();
  EXPECT_EQ(ReceivePass(state, interpreter), 301u);
  EXPECT_EQ(view.Count("text", IDC_FIX_QUALITY), static_cast<int>(ends.size() - firstPass));
  EXPECT_DOUBLE_EQ(state.fix.altitude, static_cast<double>(ends.size()));
  EXPECT_EQ(view.Count("show"), 0) << "the data lamp shows already";

  view.Clear();
  EXPECT_EQ(ReceivePass(state, interpreter), 0u);
  EXPECT_EQ(view.Ops(), kIdleLamp);
}

// A lamp set again as it is would still wake the window's thread at every pass.
TEST_F(ReceiveLoopTest, EmptyPortKeepsTheIdleLampAndPassesNothingOn) {
  OpenPortOnly();
  Interpret(interpreter, state, "$GPGSA,A,3");  // a line begun earlier
  for (int i = 0; i < 3; ++i) EXPECT_EQ(ReceivePass(state, interpreter), 0u);
  EXPECT_EQ(view.Ops(), kIdleLamp) << Describe(view.Ops());

  port->Feed("\r\n");  // the line is whole: nothing was added to it meanwhile
  EXPECT_EQ(ReceivePass(state, interpreter), 2u);
  EXPECT_EQ(view.LastText(IDC_FIX_TYPE), u"3D");
}

TEST_F(ReceiveLoopTest, FailedStatusOrReadCountsAsAnEmptyPoll) {
  OpenPortOnly();
  port->Feed(kRmc);
  port->Fail(Operation::Read, ERROR_GEN_FAILURE);
  EXPECT_EQ(ReceivePass(state, interpreter), 0u);
  port->Fail(Operation::Read, ERROR_SUCCESS);
  port->Fail(Operation::Control, ERROR_GEN_FAILURE);
  EXPECT_EQ(ReceivePass(state, interpreter), 0u);
  EXPECT_EQ(view.Ops().size(), 2u);
  EXPECT_EQ(view.Count("text"), 0);
  EXPECT_TRUE(!view.Shown(IDC_RECEIVE_LAMP_DATA) && view.Shown(IDC_RECEIVE_LAMP_IDLE));

  port->Fail(Operation::Control, ERROR_SUCCESS);
  EXPECT_EQ(ReceivePass(state, interpreter), kRmc.size());
  EXPECT_EQ(view.LastText(IDC_LATITUDE), u"N 48.1173000");
}

TEST_F(ReceiveLoopTest, ThreadPollsThePortUntilClosed) {
  ASSERT_TRUE(OpenTapPort(state, TEXT("COM7:")));
  EXPECT_NE(state.readerThread, nullptr);
  ASSERT_TRUE(view.WaitFor([&] { return view.Shown(IDC_RECEIVE_LAMP_IDLE); }, kPatience));

  port->Feed(kRmc.substr(0, 40));
  ASSERT_TRUE(view.WaitFor([&] { return view.Count(Show(IDC_RECEIVE_LAMP_DATA, true)) > 0; }, kPatience));
  port->Feed(kRmc.substr(40));
  ASSERT_TRUE(view.WaitFor([&] { return view.LastText(IDC_LATITUDE) == u"N 48.1173000"; }, kPatience));
  ASSERT_TRUE(view.WaitFor([&] { return view.Shown(IDC_RECEIVE_LAMP_IDLE); }, kPatience));

  // Opening again stops the running thread first; the exclusive port opens anew.
  ASSERT_TRUE(OpenTapPort(state, TEXT("COM7:")));
  port->Feed(Sentence("GPGSA,A,2"));
  ASSERT_TRUE(view.WaitFor([&] { return view.LastText(IDC_FIX_TYPE) == u"2D"; }, kPatience));

  CloseTapPort(state);
  EXPECT_EQ(state.readerThread, nullptr);
  EXPECT_EQ(state.portHandle, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(state.readerRunning);
  const size_t ops = view.Ops().size();
  HANDLE again = CreateFileW(TEXT("COM7:"), GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
  EXPECT_NE(again, INVALID_HANDLE_VALUE);  // the logger's handle is gone
  port->Feed(kRmc);
  CloseHandle(again);
  EXPECT_EQ(view.Ops().size(), ops);  // the thread has ended: nothing more reaches the window
}

// Each pass asks the port for its status: the count of those requests tells
// how many passes the thread has made.
TEST_F(ReceiveLoopTest, APollThatChangesNothingCallsNoLamp) {
  ASSERT_TRUE(OpenTapPort(state, TEXT("COM7:")));
  ASSERT_TRUE(view.WaitFor([&] { return view.Shown(IDC_RECEIVE_LAMP_IDLE); }, kPatience));
  ASSERT_TRUE(port->WaitRequests(Operation::Control, 6, 20000));
  EXPECT_EQ(view.Ops(), kIdleLamp) << "five passes more at rest: " << Describe(view.Ops());

  view.Clear();
  port->Feed(kRmc);
  unsigned long long passes = 6;
  while (view.Count(Show(IDC_RECEIVE_LAMP_IDLE, true)) == 0 && passes < 1000) {
    ASSERT_TRUE(port->WaitRequests(Operation::Control, ++passes, 20000));
  }
  ASSERT_TRUE(port->WaitRequests(Operation::Control, passes + 5, 20000));
  std::vector<ViewOp> lamps;
  for (const ViewOp& op : view.Ops()) {
    if (op.kind == "show") lamps.push_back(op);
  }
  std::vector<ViewOp> steps = kDataLamp;
  steps.insert(steps.end(), kIdleLamp.begin(), kIdleLamp.end());
  EXPECT_EQ(lamps, steps) << Describe(view.Ops());

  // A thread started anew shows the lamp at its first pass, whatever it showed before.
  view.Clear();
  ASSERT_TRUE(OpenTapPort(state, TEXT("COM7:")));
  ASSERT_TRUE(view.WaitFor([&] { return view.Ops().size() >= 2; }, kPatience));
  EXPECT_EQ(view.Ops(), kIdleLamp) << Describe(view.Ops());
}

std::atomic<DWORD> takenOn{0};

INT_PTR CALLBACK TakingProcedure(HWND, UINT message, WPARAM, LPARAM) {
  if (message != WM_USER) return FALSE;
  takenOn = GetCurrentThreadId();
  return TRUE;
}

// The receive thread waits in a control update for the window thread when
// that thread closes the tap port: the close takes the update while it waits
// for the thread, and both go on.
TEST_F(ReceiveLoopTest, CloseTapPortTakesTheReceiveThreadsControlUpdatesWhileItWaits) {
  // This thread is the window thread.
  const HWND window = CreateEmptyDialog(TakingProcedure);
  ASSERT_NE(window, HWND(NULL));
  SendingView sendingView(window);
  LoggerState sendingState(sendingView);
  ASSERT_TRUE(OpenTapPort(sendingState, TEXT("COM7:")));
  // The first poll's lamp waits for this thread, which takes no message in a plain wait.
  ASSERT_EQ(WaitForSingleObject(sendingView.sending, 20000), WAIT_OBJECT_0);

  {
    Watchdog watchdog("Close tap port, which must take the receive thread's updates,", std::chrono::seconds(20));
    CloseTapPort(sendingState);
  }
  EXPECT_EQ(sendingState.readerThread, nullptr);
  EXPECT_EQ(takenOn, GetCurrentThreadId());
  EXPECT_GE(sendingView.Count("show"), 1) << "the update went on after it was taken";
  DestroyWindow(window);
}

}  // namespace
}  // namespace loggertest
