// SPDX-License-Identifier: GPL-3.0-or-later
// Reading UTF-8, the one way every part of the program does.
#ifndef FERRYBOX_PLATFORM_UTF8_H_
#define FERRYBOX_PLATFORM_UTF8_H_

#include <cstddef>
#include <string_view>

namespace ferrybox {

/// The length (1 to 4) of the UTF-8 character at the start of `text`, its
/// code point going to `*code` when given; 0 where the bytes there are not
/// one: nothing, a stray continuation byte, a cut or overlong sequence, a
/// surrogate, or a code point beyond U+10FFFF.
inline size_t Utf8Length(std::string_view text, char32_t* code = nullptr) {
  if (text.empty()) return 0;
  const auto byte = [&](size_t i) {
    return static_cast<unsigned char>(text[i]);
  };
  const unsigned char lead = byte(0);
  const size_t size = lead < 0x80    ? 1
                      : lead >= 0xf8 ? 0
                      : lead >= 0xf0 ? 4
                      : lead >= 0xe0 ? 3
                      : lead >= 0xc0 ? 2
                                     : 0;
  if (size == 0 || text.size() < size) return 0;
  char32_t value = size == 1 ? lead : lead & (0x7f >> size);
  for (size_t i = 1; i < size; ++i) {
    if ((byte(i) & 0xc0) != 0x80) return 0;
    value = (value << 6) | (byte(i) & 0x3f);
  }
  static constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  if (value < kLeast[size] || value > 0x10ffff ||
      (value >= 0xd800 && value <= 0xdfff))
    return 0;
  if (code != nullptr) *code = value;
  return size;
}

}  // namespace ferrybox

#endif  // FERRYBOX_PLATFORM_UTF8_H_
