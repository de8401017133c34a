// How each parameter type and each result type of a request travels in its
// frame: what goes out in the request, what comes back in the answer, and
// where the asked side keeps it for the call.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "Protocol.h"

namespace cehost {
namespace codec {

// --- parameters ---------------------------------------------------------------

// A number of type T from its 32- or 64-bit field.
template <typename T>
bool TakeU32(FrameReader& frame, T* value) {
  uint32_t raw;
  if (!frame.U32(&raw)) return false;
  *value = static_cast<T>(raw);
  return true;
}
template <typename T>
bool TakeU64(FrameReader& frame, T* value) {
  uint64_t raw;
  if (!frame.U64(&raw)) return false;
  *value = static_cast<T>(raw);
  return true;
}

template <typename T>
struct Param;  // a parameter of a type without a rule here does not compile

template <typename Store>
struct ValueParam {
  static constexpr bool kIn = true;
  static constexpr bool kBuffer = false;
  using Stored = Store;
  static Stored& Arg(Stored& stored) { return stored; }
};

template <>
struct Param<const std::u16string&> : ValueParam<std::u16string> {
  static void Put(FrameWriter& frame, const std::u16string& text) { frame.Text(text); }
  static bool Take(FrameReader& frame, std::u16string* text) { return frame.Text(text); }
};

// DWORD and UINT.
template <>
struct Param<uint32_t> : ValueParam<uint32_t> {
  static void Put(FrameWriter& frame, uint32_t value) { frame.U32(value); }
  static bool Take(FrameReader& frame, uint32_t* value) { return frame.U32(value); }
};

// LONG and BOOL.
template <>
struct Param<int32_t> : ValueParam<int32_t> {
  static void Put(FrameWriter& frame, int32_t value) { frame.U32(static_cast<uint32_t>(value)); }
  static bool Take(FrameReader& frame, int32_t* value) { return TakeU32(frame, value); }
};

// WPARAM and LPARAM: pointer-sized on the host.
template <>
struct Param<WPARAM> : ValueParam<WPARAM> {
  static void Put(FrameWriter& frame, WPARAM value) { frame.U64(value); }
  static bool Take(FrameReader& frame, WPARAM* value) { return TakeU64(frame, value); }
};

template <>
struct Param<LPARAM> : ValueParam<LPARAM> {
  static void Put(FrameWriter& frame, LPARAM value) { frame.U64(static_cast<uint64_t>(value)); }
  static bool Take(FrameReader& frame, LPARAM* value) { return TakeU64(frame, value); }
};

// A record travels as its bytes, and only at its exact size.
template <typename Record>
bool TakeRecord(FrameReader& frame, Record* record) {
  const BYTE* bytes;
  uint32_t size;
  if (!frame.Bytes(&bytes, &size) || size != sizeof(Record)) return false;
  std::memcpy(record, bytes, sizeof(Record));
  return true;
}

template <>
struct Param<const SYSTEMTIME&> : ValueParam<SYSTEMTIME> {
  static void Put(FrameWriter& frame, const SYSTEMTIME& time) { frame.Bytes(&time, sizeof time); }
  static bool Take(FrameReader& frame, SYSTEMTIME* time) { return TakeRecord(frame, time); }
};

// A buffer the caller gives, its size in the next parameter.
template <typename Pointer>
struct BufferParam {
  static constexpr bool kIn = true;
  static constexpr bool kBuffer = true;
  using Stored = std::vector<BYTE>;
  static void Put(FrameWriter& frame, Pointer data, DWORD size) { frame.Bytes(data, size); }
  static bool Take(FrameReader& frame, Stored* data) { return frame.Bytes(data); }
  static Pointer Arg(Stored& data) { return data.data(); }
};
template <>
struct Param<const BYTE*> : BufferParam<const BYTE*> {};
template <>
struct Param<const void*> : BufferParam<const void*> {};

// What the call fills in through a pointer: back in the answer.
template <typename Value>
struct OutParam {
  static constexpr bool kIn = false;
  static constexpr bool kBuffer = false;
  using Stored = Value;
  static Value* Arg(Value& stored) { return &stored; }
};

template <>
struct Param<DWORD*> : OutParam<DWORD> {
  static void Answer(FrameWriter& frame, DWORD value) { frame.U32(value); }
  static bool Read(FrameReader& frame, DWORD* value) { return frame.U32(value); }
};
template <>
struct Param<std::u16string*> : OutParam<std::u16string> {
  static void Answer(FrameWriter& frame, const std::u16string& text) { frame.Text(text); }
  static bool Read(FrameReader& frame, std::u16string* text) { return frame.Text(text); }
};
template <>
struct Param<std::vector<BYTE>*> : OutParam<std::vector<BYTE>> {
  static void Answer(FrameWriter& frame, const std::vector<BYTE>& data) {
    frame.Bytes(data.data(), static_cast<uint32_t>(data.size()));
  }
  static bool Read(FrameReader& frame, std::vector<BYTE>* data) { return frame.Bytes(data); }
};
template <>
struct Param<LRESULT*> : OutParam<LRESULT> {
  static void Answer(FrameWriter& frame, LRESULT value) { frame.U64(static_cast<uint64_t>(value)); }
  static bool Read(FrameReader& frame, LRESULT* value) { return TakeU64(frame, value); }
};
template <>
struct Param<SYSTEMTIME*> : OutParam<SYSTEMTIME> {
  static void Answer(FrameWriter& frame, const SYSTEMTIME& time) { frame.Bytes(&time, sizeof time); }
  static bool Read(FrameReader& frame, SYSTEMTIME* time) { return TakeRecord(frame, time); }
};

// --- results --------------------------------------------------------------------

template <typename R>
struct Result {  // LONG, BOOL and DWORD
  static void Put(FrameWriter& frame, R value) { frame.U32(static_cast<uint32_t>(value)); }
  static bool Take(FrameReader& frame, R* value) { return TakeU32(frame, value); }
};

template <>
struct Result<std::vector<DWORD>> {
  static void Put(FrameWriter& frame, const std::vector<DWORD>& values) {
    frame.U32(static_cast<uint32_t>(values.size()));
    for (DWORD value : values) frame.U32(value);
  }
  static bool Take(FrameReader& frame, std::vector<DWORD>* values) {
    uint32_t count;
    if (!frame.U32(&count)) return false;
    values->clear();
    for (uint32_t i = 0; i < count; ++i) {
      uint32_t value;
      if (!frame.U32(&value)) return false;
      values->push_back(value);
    }
    return true;
  }
};

}  // namespace codec
}  // namespace cehost
