// Conversions between the device's UTF-16 text and the host's UTF-8.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace cehost {

// Invalid input (a lone surrogate, a malformed byte) becomes U+FFFD.
std::string ToUtf8(std::u16string_view text);
std::u16string ToUtf16(std::string_view text);

// Decodes one UTF-8 sequence at the start of bytes; answers the code point
// (U+FFFD for an invalid sequence) and the bytes it used (at least 1).
char32_t DecodeUtf8(std::string_view bytes, size_t* used);

// Case-insensitive comparison as the device's file system and registry do it.
char16_t FoldCase(char16_t c);
char16_t UpperCase(char16_t c);
bool EqualsNoCase(std::u16string_view a, std::u16string_view b);
std::u16string Lowered(std::u16string_view text);

inline std::u16string_view View(LPCWSTR text) {
  return text ? std::u16string_view(text) : std::u16string_view();
}

}  // namespace cehost
