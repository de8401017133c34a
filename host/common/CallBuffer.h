#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

namespace cehost {
namespace codec {

// A copy of a buffer a request carries, or room for what a call fills in:
// on the stack when it is as small as a control record or a burst of
// sentences, so the requests of a poll allocate nothing. Room starts zeroed,
// so a driver that claims bytes it never wrote sends zeros, not the device's
// memory.
class CallBuffer {
 public:
  BYTE* Room(uint32_t size) {
    BYTE* room = small_.data();
    if (size > small_.size()) {
      large_.resize(size);
      room = large_.data();
    }
    std::memset(room, 0, size);
    return room;
  }
  BYTE* Copy(const BYTE* bytes, uint32_t size) {
    BYTE* room = Room(size);
    if (size) std::memcpy(room, bytes, size);
    return room;
  }

 private:
  std::array<BYTE, 1024> small_;
  std::vector<BYTE> large_;
};

}  // namespace codec
}  // namespace cehost
