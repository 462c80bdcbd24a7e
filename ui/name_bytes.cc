// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/name_bytes.h"

namespace ferrybox {
namespace {

constexpr char16_t kEscapeBase = 0xDC00;
constexpr char32_t kReplacement = 0xFFFD;

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// The length of the valid UTF-8 sequence that starts at `at`, 0 when none
// does; `*code` receives its code point. Overlong forms, surrogates and
// code points above U+10FFFF are not valid.
int ValidSequence(const std::string& bytes, size_t at, char32_t* code) {
  const auto byte = [&](size_t i) {
    return static_cast<unsigned char>(bytes[at + i]);
  };
  const unsigned char lead = byte(0);
  if (lead < 0x80) {
    *code = lead;
    return 1;
  }
  int length = 0;
  // The range the second byte must fall in, which rules out overlong
  // forms, surrogates and too-large code points.
  unsigned char low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (bytes.size() - at < static_cast<size_t>(length)) return 0;
  if (byte(1) < low || byte(1) > high) return 0;
  char32_t value = lead & (0x7F >> length);
  for (int i = 1; i < length; ++i) {
    if (!IsContinuation(byte(i))) return 0;
    value = (value << 6) | (byte(i) & 0x3F);
  }
  *code = value;
  return length;
}

void AppendUtf8(char32_t code, std::string* out) {
  if (code < 0x80) {
    out->push_back(static_cast<char>(code));
    return;
  }
  const int length = code < 0x800 ? 2 : code < 0x10000 ? 3 : 4;
  const unsigned char lead_marks[] = {0, 0, 0xC0, 0xE0, 0xF0};
  char encoded[4];
  for (int i = length - 1; i > 0; --i) {
    encoded[i] = static_cast<char>(0x80 | (code & 0x3F));
    code >>= 6;
  }
  encoded[0] = static_cast<char>(lead_marks[length] | code);
  out->append(encoded, length);
}

}  // namespace

QString ShownName(const std::string& bytes) {
  QString shown;
  shown.reserve(static_cast<qsizetype>(bytes.size()));
  for (size_t at = 0; at < bytes.size();) {
    char32_t code = 0;
    const int length = ValidSequence(bytes, at, &code);
    if (length == 0) {
      shown.append(QChar(static_cast<char16_t>(
          kEscapeBase + static_cast<unsigned char>(bytes[at]))));
      ++at;
      continue;
    }
    if (QChar::requiresSurrogates(code)) {
      shown.append(QChar(QChar::highSurrogate(code)));
      shown.append(QChar(QChar::lowSurrogate(code)));
    } else {
      shown.append(QChar(static_cast<char16_t>(code)));
    }
    at += static_cast<size_t>(length);
  }
  return shown;
}

std::string NameBytes(const QString& shown) {
  std::string bytes;
  bytes.reserve(static_cast<size_t>(shown.size()));
  for (qsizetype i = 0; i < shown.size(); ++i) {
    const char16_t unit = shown[i].unicode();
    if (QChar::isHighSurrogate(unit) && i + 1 < shown.size() &&
        shown[i + 1].isLowSurrogate()) {
      AppendUtf8(QChar::surrogateToUcs4(unit, shown[i + 1].unicode()), &bytes);
      ++i;
    } else if (unit >= kEscapeBase + 0x80 && unit <= kEscapeBase + 0xFF) {
      bytes.push_back(static_cast<char>(unit - kEscapeBase));
    } else if (QChar::isSurrogate(unit)) {
      AppendUtf8(kReplacement, &bytes);
    } else {
      AppendUtf8(unit, &bytes);
    }
  }
  return bytes;
}

}  // namespace ferrybox
