// The frames between a program and the device process, over the device's
// Unix socket. A frame is a 32-bit length, then that many bytes: a 32-bit
// operation and its fields, little-endian. Every read is bounded, so a short
// or garbled frame is refused, never read past.
//
// The first field of every frame after the hellos, both ways, is the last
// error of the thread that sends it: a request carries the program's, which
// the device's call starts with; an answer carries the one the call left,
// which the caller's thread then has. Deliveries from the device and their
// answers carry theirs the same way.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "Requests.h"

namespace cehost {

enum class Op : uint32_t {
  // The first frame of a connection, with the caller's last error: the
  // program's process connection, or a connection of one of its threads,
  // which also gives the thread's id.
  HelloProcess = 1,
  HelloThread,
  // The requests of common/Requests.h, in its order.
#define CEHOST_REQUEST_OP(name, result, parameters, arguments, ...) name,
  CEHOST_REQUESTS(CEHOST_REQUEST_OP)
#undef CEHOST_REQUEST_OP
  // Ends the device process.
  Shutdown,
  // The deliveries of common/Requests.h, in its order, from the device to a
  // program on its process connection; the program answers each with a
  // frame of the same operation.
#define CEHOST_DELIVERY_OP(name, result, parameters, arguments) name,
  CEHOST_DELIVERIES(CEHOST_DELIVERY_OP)
#undef CEHOST_DELIVERY_OP
};

// The largest frame either side accepts.
constexpr uint32_t kMaxFrame = 16u << 20;
// The largest buffer a single read, write or control request may carry.
constexpr uint32_t kMaxTransfer = kMaxFrame - 4096;

// A frame being written. Reset starts another in the same storage, so a
// connection that answers frame after frame allocates nothing once its
// largest frame has been written.
class FrameWriter {
 public:
  explicit FrameWriter(Op op) { Reset(op); }
  void Reset(Op op);
  Op Operation() const { return op_; }
  FrameWriter& U32(uint32_t value);
  FrameWriter& U64(uint64_t value);
  FrameWriter& Text(const std::u16string& text);
  FrameWriter& Bytes(const void* data, uint32_t size);
  // A buffer that may be absent: presence, declared size, and the bytes when present.
  FrameWriter& Optional(const void* data, uint32_t size);
  const std::string& Frame();  // with its length in front

 private:
  Op op_ = Op::HelloProcess;
  std::string frame_;
};

// Reads a frame's body in place: the body must outlive the reader, and a
// temporary is refused at compile time.
class FrameReader {
 public:
  FrameReader() = default;  // an empty body, to be assigned
  explicit FrameReader(const std::string& body) : FrameReader(body.data(), body.size()) {}
  explicit FrameReader(std::string&& body) = delete;
  explicit FrameReader(const std::string&& body) = delete;
  FrameReader(const char* body, size_t size);
  Op Operation() const { return op_; }
  // Inline: a request is mostly these fields.
  bool U32(uint32_t* value) {
    if (!ok_ || size_ - pos_ < 4) return ok_ = false;
    const auto* bytes = reinterpret_cast<const unsigned char*>(body_ + pos_);
    *value = bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
    pos_ += 4;
    return true;
  }
  bool U64(uint64_t* value);
  bool Text(std::u16string* text);
  bool Bytes(std::vector<BYTE>* data);
  // The bytes in place: valid while the body is.
  bool Bytes(const BYTE** data, uint32_t* size);
  // present, declared size, and bytes in place (when present).
  bool Optional(bool* present, uint32_t* size, const BYTE** data);
  // True when every byte was used: a frame with bytes left over is refused.
  bool Done() const { return ok_ && pos_ == size_; }
  bool Ok() const { return ok_; }

 private:
  const char* body_ = "";
  size_t size_ = 0;
  size_t pos_ = 0;
  bool ok_ = true;
  Op op_ = Op::HelloProcess;
};

// Sends a whole frame; false when the peer is gone.
bool SendFrame(int fd, const std::string& frame);

// Takes the frames that come in on a connection, one by one; false when the
// peer is gone or sent a frame that is too large or too short.
class FrameReceiver {
 public:
  explicit FrameReceiver(int fd) : fd_(fd) {}
  // handOff: a frame was just sent, which woke the peer's thread; when that
  // thread shares this CPU, yielding lets it answer before this thread would
  // block for the answer.
  bool Receive(std::string* body, bool handOff = false);

 private:
  bool Fill(bool handOff);

  int fd_;
  std::vector<char> in_;  // the first held_ bytes: received, not yet taken
  size_t held_ = 0;
};

// The device's socket in a root, and a connection to it. Long roots are
// reached through /proc/self/fd, so no root is too long for a socket name.
std::string SocketPath(const std::string& root);
int ConnectSocket(const std::string& root);  // -1 with errno set

}  // namespace cehost
