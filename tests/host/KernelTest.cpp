// Kernel services: local memory, handles, events, threads and named mutexes.
#include "HostTest.h"

namespace cetest {
namespace {

TEST(KernelTest, LocalFreeAnswersNullAndRefusesABlockFreedTwice) {
  BYTE* block = static_cast<BYTE*>(LocalAlloc(LPTR, 64));
  ASSERT_NE(nullptr, block);
  EXPECT_EQ(64, std::count(block, block + 64, 0));  // LPTR fills with zeros
  SetLastError(kSentinel);
  EXPECT_EQ(nullptr, LocalFree(block));
  EXPECT_EQ(kSentinel, GetLastError());
  EXPECT_EQ(block, LocalFree(block));
  EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());
  EXPECT_EQ(nullptr, LocalFree(nullptr));
}

TEST(KernelTest, CloseHandleRefusesUnknownHandles) {
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  ASSERT_NE(nullptr, event);
  EXPECT_TRUE(CloseHandle(event));
  for (HANDLE handle : {event, INVALID_HANDLE_VALUE, static_cast<HANDLE>(nullptr)}) {
    SetLastError(kSentinel);
    EXPECT_FALSE(CloseHandle(handle));
    EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());
  }
  SetLastError(kSentinel);
  EXPECT_EQ(WAIT_FAILED, WaitForSingleObject(event, 0));
  EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());
}

TEST(KernelTest, AutoResetEventsServeOneWaitAndManualResetEventsStaySet) {
  HANDLE automatic = CreateEventW(nullptr, FALSE, TRUE, nullptr);
  HANDLE manual = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(automatic, 0));
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(automatic, 0));
  EXPECT_TRUE(SetEvent(automatic));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(automatic, 10));
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(automatic, 10));

  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(manual, 10));
  EXPECT_TRUE(SetEvent(manual));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(manual, 0));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(manual, 0));
  EXPECT_TRUE(ResetEvent(manual));
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(manual, 0));
  CloseHandle(automatic);
  CloseHandle(manual);
}

struct Started {
  HANDLE go;
  DWORD id = 0;
  static DWORD WINAPI Run(LPVOID self) {
    auto* started = static_cast<Started*>(self);
    started->id = GetCurrentThreadId();
    return WaitForSingleObject(started->go, INFINITE) == WAIT_OBJECT_0 ? 42 : 1;
  }
};

TEST(KernelTest, AThreadThatHasEndedIsSignalledWithItsExitCode) {
  HANDLE go = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  Started started{go};
  DWORD id = kSentinel;
  HANDLE thread = CreateThread(nullptr, 0, Started::Run, &started, 0, &id);
  ASSERT_NE(nullptr, thread);
  EXPECT_NE(GetCurrentThreadId(), id);
  DWORD code = kSentinel;
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(thread, 0));
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(259u, code);  // STILL_ACTIVE
  SetEvent(go);
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 10000));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 0));  // and stays so
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(42u, code);
  EXPECT_EQ(started.id, id);
  EXPECT_TRUE(CloseHandle(thread));
  CloseHandle(go);
}

using NamedMutexTest = LinkedDeviceTest;

TEST_P(NamedMutexTest, AMutexLivesWhileAnyHandleToItIsOpen) {
  Boot();
  SetLastError(kSentinel);
  HANDLE first = CreateMutexW(nullptr, TRUE, u"Wendra");
  ASSERT_NE(nullptr, first);
  EXPECT_EQ(0u, GetLastError());
  SetLastError(kSentinel);
  HANDLE second = CreateMutexW(nullptr, FALSE, u"Wendra");
  ASSERT_NE(nullptr, second);
  EXPECT_NE(first, second);
  EXPECT_EQ(ERROR_ALREADY_EXISTS, GetLastError());
  SetLastError(kSentinel);
  HANDLE other = CreateMutexW(nullptr, FALSE, u"WENDRA");  // names are case-sensitive
  EXPECT_EQ(0u, GetLastError());

  EXPECT_TRUE(QUIETLY(ReleaseMutex(first)));
  EXPECT_TRUE(QUIETLY(CloseHandle(first)));
  SetLastError(kSentinel);
  HANDLE third = CreateMutexW(nullptr, FALSE, u"Wendra");
  EXPECT_EQ(ERROR_ALREADY_EXISTS, GetLastError());  // the second handle keeps it
  EXPECT_TRUE(QUIETLY(CloseHandle(second)));
  EXPECT_TRUE(QUIETLY(CloseHandle(third)));
  SetLastError(kSentinel);
  HANDLE fresh = CreateMutexW(nullptr, FALSE, u"Wendra");
  EXPECT_EQ(0u, GetLastError());
  CloseHandle(fresh);
  CloseHandle(other);
  SetLastError(kSentinel);
  EXPECT_FALSE(CloseHandle(fresh));
  EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());
}

CETEST_ON_BOTH_LINKS(NamedMutexTest);

}  // namespace
}  // namespace cetest
