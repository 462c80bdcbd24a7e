// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/name_bytes.h"

#include "platform/utf8.h"

namespace ferrybox {
namespace {

constexpr char16_t kEscapeBase = 0xDC00;
constexpr char32_t kReplacement = 0xFFFD;

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
    const size_t length = Utf8Length(std::string_view(bytes).substr(at), &code);
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
