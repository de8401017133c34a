#include "SerialPort.h"

#include <pegdser.h>
#include <pkfuncs.h>

#include <algorithm>
#include <chrono>
#include <cstring>

namespace cehost {

namespace {

using Clock = std::chrono::steady_clock;

template <typename T>
void Store(BYTE* out, const T& value) {
  std::memcpy(out, &value, sizeof value);
}

// What GetCommProperties answers of a UART port with an input queue of the given size.
COMMPROP Properties(DWORD queueSize) {
  COMMPROP prop{};
  prop.wPacketLength = sizeof(COMMPROP);
  prop.wPacketVersion = 2;
  prop.dwServiceMask = SP_SERIALCOMM;
  prop.dwMaxRxQueue = queueSize;
  prop.dwMaxBaud = 0x10000000;  // BAUD_USER
  prop.dwProvSubType = PST_RS232;
  prop.dwProvCapabilities = 0x0001 | 0x0002 | 0x0010 | 0x0020;  // DTR/DSR, RTS/CTS, parity, XON/XOFF
  prop.dwSettableParams = 0x007F;
  prop.dwSettableBaud = 0x1000FFFF;
  prop.wSettableData = 0x000F;         // 5 to 8 data bits
  prop.wSettableStopParity = 0x1F07;  // 1, 1.5, 2 stop bits; every parity
  prop.dwCurrentRxQueue = queueSize;
  return prop;
}

// A line setting the port can take.
bool Settable(const DCB& dcb) {
  return dcb.BaudRate != 0 && dcb.ByteSize >= 5 && dcb.ByteSize <= 8 && dcb.Parity <= SPACEPARITY &&
         dcb.StopBits <= TWOSTOPBITS;
}

// A caller's buffer that is there and holds at least `need` bytes.
bool Holds(const BYTE* buffer, DWORD size, DWORD need) { return buffer != nullptr && size >= need; }

BOOL InvalidParameter() {
  SetLastError(ERROR_INVALID_PARAMETER);
  return FALSE;
}

// A query's success, with the size of its answer where the caller asked for it.
BOOL Answered(DWORD* returned, DWORD size) {
  if (returned) *returned = size;
  return TRUE;
}

}  // namespace

SerialPort::SerialPort(std::unique_ptr<PortSource> source) : source_(std::move(source)) {
  dcb_.DCBlength = sizeof(DCB);
  dcb_.BaudRate = CBR_4800;  // the NMEA 0183 line rate
  dcb_.fBinary = 1;
  dcb_.ByteSize = 8;
  dcb_.Parity = NOPARITY;
  dcb_.StopBits = ONESTOPBIT;
  dcb_.XonChar = 0x11;
  dcb_.XoffChar = 0x13;
}

SerialPort::~SerialPort() { Deinit(); }

BOOL SerialPort::Deinit() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopped_) return TRUE;
    stopped_ = true;
    changed_.notify_all();
  }
  source_->Stop();
  return TRUE;
}

unsigned long long SerialPort::LostBytes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lost_;
}

std::shared_ptr<SerialPort::OpenRecord> SerialPort::Find(DWORD_PTR openContext) const {
  auto it = opens_.find(openContext);
  return it == opens_.end() ? nullptr : it->second;
}

DWORD_PTR SerialPort::Open(DWORD access, DWORD share) {
  if (const DWORD error = source_->Failure(PortSource::Operation::Open)) {
    SetLastError(error);
    return 0;
  }
  const bool data = (access & (GENERIC_READ | GENERIC_WRITE)) != 0;
  bool start = false;
  DWORD_PTR context;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopped_) {
      SetLastError(ERROR_DEVICE_REMOVED);
      return 0;
    }
    if (data && dataOpen_) {
      // The UART driver lets one open read and write at a time.
      SetLastError(ERROR_INVALID_ACCESS);
      return 0;
    }
    auto open = std::make_shared<OpenRecord>();
    open->access = access;
    source_->Opened(access, share);
    context = nextContext_++;
    opens_[context] = open;
    if (data) {
      dataOpen_ = open.get();
      head_ = count_ = 0;  // a new owner starts with an empty input queue
      errors_ = 0;
      events_ = 0;
    }
    start = !started_;
    started_ = true;
  }
  if (start && !source_->Start(*this)) {
    // The receiver could not be reached; the port stays, without data.
  }
  if (data) {
    // Held once the source delivers to this owner: a feed the moment it is
    // told reaches the queue. A close in between has told its own.
    std::lock_guard<std::mutex> lock(mutex_);
    const auto open = Find(context);
    if (open && dataOpen_ == open.get()) source_->Held(true);
  }
  return context;
}

BOOL SerialPort::Close(DWORD_PTR openContext) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto open = Find(openContext);
  if (!open) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  open->closed = true;
  if (dataOpen_ == open.get()) {
    dataOpen_ = nullptr;
    source_->Held(false);
  }
  opens_.erase(openContext);
  changed_.notify_all();
  return TRUE;
}

void SerialPort::Receive(const BYTE* data, size_t size) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!dataOpen_ || size == 0) return;  // nobody has the port open: the UART is off
  const size_t room = kQueueSize - count_;
  const size_t take = std::min(room, size);
  for (size_t i = 0; i < take; ++i) queue_[(head_ + count_ + i) % kQueueSize] = data[i];
  count_ += take;
  if (take < size) {
    lost_ += size - take;
    errors_ |= CE_RXOVER;
    if (eventMask_ & EV_ERR) events_ |= EV_ERR;
  }
  if (take > 0 && (eventMask_ & EV_RXCHAR)) events_ |= EV_RXCHAR;
  if ((eventMask_ & EV_RXFLAG) && std::memchr(data, static_cast<unsigned char>(dcb_.EvtChar), take)) {
    events_ |= EV_RXFLAG;
  }
  changed_.notify_all();
}

size_t SerialPort::TakeLocked(BYTE* out, size_t count) {
  const size_t take = std::min(count, count_);
  for (size_t i = 0; i < take; ++i) out[i] = queue_[(head_ + i) % kQueueSize];
  head_ = (head_ + take) % kQueueSize;
  count_ -= take;
  return take;
}

DWORD SerialPort::Read(DWORD_PTR openContext, void* buffer, DWORD count) {
  // The source is asked before the port's lock is taken: it may be
  // delivering bytes into the port under its own lock.
  const DWORD failure = source_->Failure(PortSource::Operation::Read);
  std::unique_lock<std::mutex> lock(mutex_);
  auto open = Find(openContext);
  if (!open) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0xFFFFFFFFu;
  }
  if (!(open->access & GENERIC_READ)) {
    SetLastError(ERROR_INVALID_ACCESS);
    return 0xFFFFFFFFu;
  }
  if (failure) {
    SetLastError(failure);
    return 0xFFFFFFFFu;
  }
  auto* out = static_cast<BYTE*>(buffer);
  const COMMTIMEOUTS t = timeouts_;
  const unsigned abort = abortGeneration_;
  auto interrupted = [&] { return Ended(*open) || abortGeneration_ != abort; };

  // Interval MAXDWORD with both totals 0: what is waiting, at once.
  if (t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0 && t.ReadTotalTimeoutConstant == 0) {
    return static_cast<DWORD>(TakeLocked(out, count));
  }
  // Interval and multiplier MAXDWORD with a constant: at once when bytes wait,
  // else at the first byte or after the constant.
  if (t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == MAXDWORD &&
      t.ReadTotalTimeoutConstant != 0 && t.ReadTotalTimeoutConstant != MAXDWORD) {
    changed_.wait_for(lock, std::chrono::milliseconds(t.ReadTotalTimeoutConstant),
                      [&] { return count_ > 0 || interrupted(); });
    return static_cast<DWORD>(TakeLocked(out, count));
  }
  return static_cast<DWORD>(TakeWithin(lock, *open, out, count, t));
}

size_t SerialPort::TakeWithin(std::unique_lock<std::mutex>& lock, const OpenRecord& open, BYTE* out, size_t count,
                              const COMMTIMEOUTS& t) {
  const unsigned abort = abortGeneration_;
  auto interrupted = [&] { return Ended(open) || abortGeneration_ != abort; };
  // Multiplier × count + constant reaches 2^44 ms (MAXDWORD a byte for 4096
  // bytes), more than a time point holds in nanoseconds. A limit of more
  // than a few decades is never reached: it is no limit at all.
  constexpr unsigned long long kNever = 1ULL << 40;  // milliseconds, about 35 years
  const unsigned long long totalMs =
      static_cast<unsigned long long>(t.ReadTotalTimeoutMultiplier) * count + t.ReadTotalTimeoutConstant;
  const bool totalLimit =
      (t.ReadTotalTimeoutMultiplier != 0 || t.ReadTotalTimeoutConstant != 0) && totalMs < kNever;
  const bool intervalLimit = t.ReadIntervalTimeout != 0 && t.ReadIntervalTimeout != MAXDWORD;
  const auto start = Clock::now();
  const auto total = std::chrono::milliseconds(static_cast<long long>(totalLimit ? totalMs : 0));
  auto lastByte = start;
  size_t done = 0;
  while (done < count) {
    const size_t took = TakeLocked(out + done, count - done);
    if (took > 0) {
      done += took;
      lastByte = Clock::now();
      continue;
    }
    if (interrupted()) break;
    auto deadline = Clock::time_point::max();
    if (totalLimit) deadline = start + total;
    if (intervalLimit && done > 0) {
      deadline = std::min(deadline, lastByte + std::chrono::milliseconds(t.ReadIntervalTimeout));
    }
    if (deadline == Clock::time_point::max()) {
      changed_.wait(lock);
    } else if (changed_.wait_until(lock, deadline) == std::cv_status::timeout && count_ == 0) {
      break;
    }
  }
  return done;
}

DWORD SerialPort::Write(DWORD_PTR openContext, const void* buffer, DWORD count) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto open = Find(openContext);
    if (!open) {
      SetLastError(ERROR_INVALID_HANDLE);
      return 0xFFFFFFFFu;
    }
    if (!(open->access & GENERIC_WRITE)) {
      SetLastError(ERROR_INVALID_ACCESS);
      return 0xFFFFFFFFu;
    }
  }
  if (const DWORD error = source_->Failure(PortSource::Operation::Write)) {
    SetLastError(error);
    return 0xFFFFFFFFu;
  }
  if (!source_->Transmit(static_cast<const BYTE*>(buffer), count)) return 0xFFFFFFFFu;
  return count;
}

DWORD SerialPort::Seek(DWORD_PTR, LONG, DWORD) {
  SetLastError(ERROR_NOT_SUPPORTED);
  return 0xFFFFFFFFu;
}

BOOL SerialPort::WaitForEvent(std::unique_lock<std::mutex>& lock, OpenRecord& open, DWORD* mask) {
  if (eventMask_ == 0) return InvalidParameter();
  const unsigned generation = maskGeneration_;
  changed_.wait(lock, [&] { return (events_ & eventMask_) != 0 || maskGeneration_ != generation || Ended(open); });
  // A new mask, or the end of the open, ends the wait with no event.
  if (maskGeneration_ != generation || Ended(open)) {
    *mask = 0;
    return TRUE;
  }
  *mask = events_ & eventMask_;
  events_ &= ~*mask;
  return TRUE;
}

BOOL SerialPort::IOControl(DWORD_PTR openContext, DWORD code, BYTE* in, DWORD inSize, BYTE* out, DWORD outSize,
                           DWORD* returned) {
  const DWORD failure = source_->Failure(PortSource::Operation::Control);
  std::unique_lock<std::mutex> lock(mutex_);
  auto open = Find(openContext);
  if (!open) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (code == IOCTL_PSL_NOTIFY) return TRUE;  // the port holds nothing for a process
  if (failure) {
    SetLastError(failure);
    return FALSE;
  }
  return Control(lock, *open, code, in, inSize, out, outSize, returned);
}

// Control lines go to the source without the port's lock held.
BOOL SerialPort::ApplyLines(std::unique_lock<std::mutex>& lock) {
  const bool dtr = dtr_;
  const bool rts = rts_;
  lock.unlock();
  return source_->SetControlLines(dtr, rts);
}

BOOL SerialPort::Control(std::unique_lock<std::mutex>& lock, OpenRecord& open, DWORD code, BYTE* in,
                         DWORD inSize, BYTE* out, DWORD outSize, DWORD* returned) {
  switch (code) {
    case IOCTL_SERIAL_SET_BREAK_ON:
      breakOn_ = true;
      return TRUE;
    case IOCTL_SERIAL_SET_BREAK_OFF:
      breakOn_ = false;
      return TRUE;
    case IOCTL_SERIAL_SET_DTR:
      dtr_ = true;
      return ApplyLines(lock);
    case IOCTL_SERIAL_CLR_DTR:
      dtr_ = false;
      return ApplyLines(lock);
    case IOCTL_SERIAL_SET_RTS:
      rts_ = true;
      return ApplyLines(lock);
    case IOCTL_SERIAL_CLR_RTS:
      rts_ = false;
      return ApplyLines(lock);
    case IOCTL_SERIAL_SET_XOFF:
    case IOCTL_SERIAL_SET_XON:
    case IOCTL_SERIAL_ENABLE_IR:
    case IOCTL_SERIAL_DISABLE_IR:
      return TRUE;
    case IOCTL_SERIAL_GET_WAIT_MASK:
      if (!Holds(out, outSize, sizeof(DWORD))) return InvalidParameter();
      Store(out, eventMask_);
      return Answered(returned, sizeof(DWORD));
    case IOCTL_SERIAL_SET_WAIT_MASK: {
      if (!Holds(in, inSize, sizeof(DWORD))) return InvalidParameter();
      DWORD mask;
      std::memcpy(&mask, in, sizeof mask);
      eventMask_ = mask;
      events_ &= mask;
      ++maskGeneration_;
      changed_.notify_all();
      return TRUE;
    }
    case IOCTL_SERIAL_WAIT_ON_MASK: {
      if (!Holds(out, outSize, sizeof(DWORD))) return InvalidParameter();
      DWORD mask = 0;
      if (!WaitForEvent(lock, open, &mask)) return FALSE;
      Store(out, mask);
      return Answered(returned, sizeof(DWORD));
    }
    case IOCTL_SERIAL_GET_COMMSTATUS: {
      if (!Holds(out, outSize, sizeof(SERIAL_DEV_STATUS))) return InvalidParameter();
      SERIAL_DEV_STATUS status{};
      status.Errors = errors_;
      status.ComStat.cbInQue = static_cast<DWORD>(count_);
      errors_ = 0;
      Store(out, status);
      return Answered(returned, sizeof status);
    }
    case IOCTL_SERIAL_GET_MODEMSTATUS: {
      if (!Holds(out, outSize, sizeof(DWORD))) return InvalidParameter();
      lock.unlock();
      const DWORD status = source_->ModemStatus();
      Store(out, status);
      return Answered(returned, sizeof(DWORD));
    }
    case IOCTL_SERIAL_GET_PROPERTIES:
      if (!Holds(out, outSize, sizeof(COMMPROP))) return InvalidParameter();
      Store(out, Properties(kQueueSize));
      return Answered(returned, sizeof(COMMPROP));
    case IOCTL_SERIAL_SET_TIMEOUTS:
      if (!Holds(in, inSize, sizeof(COMMTIMEOUTS))) return InvalidParameter();
      std::memcpy(&timeouts_, in, sizeof timeouts_);
      return TRUE;
    case IOCTL_SERIAL_GET_TIMEOUTS:
      if (!Holds(out, outSize, sizeof(COMMTIMEOUTS))) return InvalidParameter();
      Store(out, timeouts_);
      return Answered(returned, sizeof(COMMTIMEOUTS));
    case IOCTL_SERIAL_PURGE: {
      if (!Holds(in, inSize, sizeof(DWORD))) return InvalidParameter();
      DWORD flags;
      std::memcpy(&flags, in, sizeof flags);
      if (flags & PURGE_RXCLEAR) head_ = count_ = 0;
      if (flags & PURGE_RXABORT) {
        ++abortGeneration_;
        changed_.notify_all();
      }
      return TRUE;
    }
    case IOCTL_SERIAL_SET_QUEUE_SIZE:
      // The input queue of the UART driver is fixed; the sizes are advice.
      if (!Holds(in, inSize, sizeof(SERIAL_QUEUE_SIZES))) return InvalidParameter();
      return TRUE;
    case IOCTL_SERIAL_IMMEDIATE_CHAR: {
      if (!Holds(in, inSize, 1)) return InvalidParameter();
      const BYTE byte = in[0];
      lock.unlock();
      return source_->Transmit(&byte, 1);
    }
    case IOCTL_SERIAL_GET_DCB:
      if (!Holds(out, outSize, sizeof(DCB))) return InvalidParameter();
      Store(out, dcb_);
      return Answered(returned, sizeof(DCB));
    case IOCTL_SERIAL_SET_DCB: {
      if (!Holds(in, inSize, sizeof(DCB))) return InvalidParameter();
      DCB dcb;
      std::memcpy(&dcb, in, sizeof dcb);
      if (!Settable(dcb)) return InvalidParameter();
      lock.unlock();
      if (!source_->ApplyState(dcb)) return FALSE;
      lock.lock();
      dcb_ = dcb;
      dcb_.DCBlength = sizeof(DCB);
      return TRUE;
    }
    default:
      return InvalidParameter();
  }
}

}  // namespace cehost
