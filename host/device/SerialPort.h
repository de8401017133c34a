// A real serial port of the device, as its UART driver presents it: an input
// queue of 4096 bytes, read time-outs, event masks, line state and control
// lines, with a PortSource behind it. One open at a time may read or write;
// opens without access may still send control requests. The port never calls
// its source while holding its own lock: the source delivers under its own.
#pragma once

#include <windows.h>

#include <array>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <map>

#include "PortSource.h"
#include "StreamDevice.h"

namespace cehost {

class SerialPort : public StreamDevice, public PortReceiver {
 public:
  static constexpr size_t kQueueSize = 4096;

  explicit SerialPort(std::unique_ptr<PortSource> source);
  ~SerialPort() override;

  DWORD_PTR Open(DWORD access, DWORD share) override;
  BOOL Close(DWORD_PTR openContext) override;
  DWORD Read(DWORD_PTR openContext, void* buffer, DWORD count) override;
  DWORD Write(DWORD_PTR openContext, const void* buffer, DWORD count) override;
  DWORD Seek(DWORD_PTR openContext, LONG amount, DWORD method) override;
  BOOL IOControl(DWORD_PTR openContext, DWORD code, BYTE* in, DWORD inSize, BYTE* out, DWORD outSize,
                 DWORD* returned) override;
  BOOL Deinit() override;

  void Receive(const BYTE* data, size_t size) override;

  PortSource& Source() { return *source_; }
  // Bytes lost because the queue was full, since boot.
  unsigned long long LostBytes() const;

 private:
  struct OpenRecord {
    DWORD access;
    bool closed = false;
  };

  std::shared_ptr<OpenRecord> Find(DWORD_PTR openContext) const;  // under mutex_
  bool Ended(const OpenRecord& open) const { return open.closed || stopped_; }
  size_t TakeLocked(BYTE* out, size_t count);
  // A read under the general time-outs: total and interval limits, either
  // of them none; ends early when the open is closed or the reads are aborted.
  size_t TakeWithin(std::unique_lock<std::mutex>& lock, const OpenRecord& open, BYTE* out, size_t count,
                    const COMMTIMEOUTS& timeouts);
  BOOL WaitForEvent(std::unique_lock<std::mutex>& lock, OpenRecord& open, DWORD* mask);
  BOOL ApplyLines(std::unique_lock<std::mutex>& lock);
  BOOL Control(std::unique_lock<std::mutex>& lock, OpenRecord& open, DWORD code, BYTE* in, DWORD inSize,
               BYTE* out, DWORD outSize, DWORD* returned);

  std::unique_ptr<PortSource> source_;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::array<BYTE, kQueueSize> queue_{};
  size_t head_ = 0;
  size_t count_ = 0;
  DWORD errors_ = 0;
  unsigned long long lost_ = 0;

  DCB dcb_{};
  COMMTIMEOUTS timeouts_{};
  DWORD eventMask_ = 0;
  DWORD events_ = 0;
  unsigned maskGeneration_ = 0;   // a SetCommMask ends pending waits
  unsigned abortGeneration_ = 0;  // PURGE_RXABORT ends pending reads
  bool dtr_ = false;
  bool rts_ = false;
  bool breakOn_ = false;

  // An open context is a number; a call in progress keeps its record alive
  // when another thread closes it.
  std::map<DWORD_PTR, std::shared_ptr<OpenRecord>> opens_;
  DWORD_PTR nextContext_ = 1;
  const OpenRecord* dataOpen_ = nullptr;
  bool started_ = false;
  bool stopped_ = false;
};

}  // namespace cehost
