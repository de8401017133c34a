#include "Protocol.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace cehost {

namespace {

// Room a new frame starts with.
constexpr size_t kUsualFrame = 256;
// What a connection keeps for its next frames: every request but a large
// transfer fits.
constexpr size_t kKeptRoom = 4096;

// The length a frame's first four bytes give.
uint32_t FrameLength(const char* header) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(header);
  return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

}  // namespace

void FrameWriter::Reset(Op op) {
  op_ = op;
  if (frame_.capacity() > kKeptRoom) std::string().swap(frame_);  // after a large transfer
  if (frame_.capacity() < kUsualFrame) frame_.reserve(kUsualFrame);  // one allocation for most frames
  frame_.assign(4, '\0');
  U32(static_cast<uint32_t>(op));
}

FrameWriter& FrameWriter::U32(uint32_t value) {
  const char bytes[4] = {static_cast<char>(value & 0xFF), static_cast<char>((value >> 8) & 0xFF),
                         static_cast<char>((value >> 16) & 0xFF), static_cast<char>(value >> 24)};
  frame_.append(bytes, 4);
  return *this;
}

FrameWriter& FrameWriter::U64(uint64_t value) {
  U32(static_cast<uint32_t>(value));
  return U32(static_cast<uint32_t>(value >> 32));
}

FrameWriter& FrameWriter::Text(const std::u16string& text) {
  U32(static_cast<uint32_t>(text.size()));
  for (char16_t c : text) {
    frame_ += static_cast<char>(c & 0xFF);
    frame_ += static_cast<char>(c >> 8);
  }
  return *this;
}

FrameWriter& FrameWriter::Bytes(const void* data, uint32_t size) {
  U32(size);
  if (size) frame_.append(static_cast<const char*>(data), size);
  return *this;
}

FrameWriter& FrameWriter::Optional(const void* data, uint32_t size) {
  U32(data ? 1 : 0);
  U32(size);
  if (data && size) frame_.append(static_cast<const char*>(data), size);
  return *this;
}

const std::string& FrameWriter::Frame() {
  const uint32_t size = static_cast<uint32_t>(frame_.size() - 4);
  for (int i = 0; i < 4; ++i) frame_[i] = static_cast<char>((size >> (8 * i)) & 0xFF);
  return frame_;
}

FrameReader::FrameReader(const char* body, size_t size) : body_(body), size_(size) {
  uint32_t op = 0;
  if (U32(&op)) op_ = static_cast<Op>(op);
}

bool FrameReader::U64(uint64_t* value) {
  uint32_t low, high;
  if (!U32(&low) || !U32(&high)) return false;
  *value = low | static_cast<uint64_t>(high) << 32;
  return true;
}

bool FrameReader::Text(std::u16string* text) {
  uint32_t length;
  if (!U32(&length) || length > (size_ - pos_) / 2) return ok_ = false;
  text->resize(length);
  for (uint32_t i = 0; i < length; ++i) {
    const auto lo = static_cast<unsigned char>(body_[pos_++]);
    const auto hi = static_cast<unsigned char>(body_[pos_++]);
    (*text)[i] = static_cast<char16_t>(lo | hi << 8);
  }
  return true;
}

bool FrameReader::Bytes(const BYTE** data, uint32_t* size) {
  if (!U32(size) || *size > size_ - pos_) return ok_ = false;
  *data = reinterpret_cast<const BYTE*>(body_ + pos_);
  pos_ += *size;
  return true;
}

bool FrameReader::Bytes(std::vector<BYTE>* data) {
  const BYTE* bytes;
  uint32_t size;
  if (!Bytes(&bytes, &size)) return false;
  data->assign(bytes, bytes + size);
  return true;
}

bool FrameReader::Optional(bool* present, uint32_t* size, const BYTE** data) {
  uint32_t flag;
  if (!U32(&flag) || flag > 1 || !U32(size) || *size > kMaxTransfer) return ok_ = false;
  *present = flag == 1;
  *data = nullptr;
  if (*present && *size) {
    if (*size > size_ - pos_) return ok_ = false;
    *data = reinterpret_cast<const BYTE*>(body_ + pos_);
    pos_ += *size;
  }
  return true;
}

namespace {

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

bool SendFrame(int fd, const std::string& frame) { return WriteAll(fd, frame.data(), frame.size()); }

bool FrameReceiver::Receive(std::string* body, bool handOff) {
  for (;;) {
    if (held_ >= 4) {
      const uint32_t size = FrameLength(in_.data());
      if (size < 4 || size > kMaxFrame) return false;
      if (held_ - 4 >= size) {
        if (size <= kKeptRoom && body->capacity() > kKeptRoom) std::string().swap(*body);  // after a large transfer
        body->assign(in_.data() + 4, size);
        held_ -= 4 + size;
        if (held_ > 0) {
          std::memmove(in_.data(), in_.data() + 4 + size, held_);
        } else if (in_.size() > kKeptRoom) {
          std::vector<char>().swap(in_);  // after a large transfer
        }
        return true;
      }
    }
    if (!Fill(handOff)) return false;
    handOff = false;
  }
}

// Whatever has come, in one call where it can: the header and the body
// together, or several frames.
bool FrameReceiver::Fill(bool handOff) {
  if (handOff) {
    ::sched_yield();
  } else {
    // Waits with poll rather than in recv: a thread blocked in recv on a
    // Unix socket is woken also whenever the peer takes what this end sent,
    // a wakeup that brings nothing.
    pollfd readable{fd_, POLLIN, 0};
    while (::poll(&readable, 1, -1) < 0) {
      if (errno != EINTR) return false;
    }
  }
  // Room for the whole of a frame whose head has come; Receive has checked its length.
  const size_t wanted = held_ >= 4 ? std::max<size_t>(kKeptRoom, 4 + size_t{FrameLength(in_.data())}) : kKeptRoom;
  if (in_.size() < wanted) in_.resize(wanted);
  ssize_t n;
  do {
    n = ::recv(fd_, in_.data() + held_, in_.size() - held_, MSG_DONTWAIT);
  } while (n < 0 && errno == EINTR);
  if (n > 0) held_ += static_cast<size_t>(n);
  // Nothing yet after a hand-off: the peer runs elsewhere; wait for it.
  if (n < 0 && handOff && (errno == EAGAIN || errno == EWOULDBLOCK)) return Fill(false);
  return n > 0;
}

std::string SocketPath(const std::string& root) { return root + "/cedevice.sock"; }

int ConnectSocket(const std::string& root) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::string path = SocketPath(root);
  int dir = -1;
  if (path.size() >= sizeof address.sun_path) {
    dir = ::open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) {
      ::close(fd);
      return -1;
    }
    path = "/proc/self/fd/" + std::to_string(dir) + "/cedevice.sock";
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int result = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  const int err = errno;
  if (dir >= 0) ::close(dir);
  if (result != 0) {
    ::close(fd);
    errno = err;
    return -1;
  }
  return fd;
}

}  // namespace cehost
