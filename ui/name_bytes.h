// SPDX-License-Identifier: GPL-3.0-or-later
// File and folder names are bytes; the controls hold text.
#ifndef FERRYBOX_UI_NAME_BYTES_H_
#define FERRYBOX_UI_NAME_BYTES_H_

#include <QString>
#include <string>

namespace ferrybox {

/// `bytes` as text a control can show and give back unchanged. Valid UTF-8
/// becomes its characters. Each byte that is not part of a valid UTF-8
/// sequence becomes the lone surrogate U+DC00 + byte (U+DC80 to U+DCFF),
/// which the controls draw as a replacement mark and keep through editing,
/// and which valid UTF-8 can never produce.
QString ShownName(const std::string& bytes);

/// The bytes `shown` stands for: the inverse of ShownName, and UTF-8 for
/// any text typed or chosen. A lone surrogate outside U+DC80 to U+DCFF,
/// which no name gives, becomes U+FFFD.
std::string NameBytes(const QString& shown);

}  // namespace ferrybox

#endif  // FERRYBOX_UI_NAME_BYTES_H_
