// Conversion of the model's CP949 text at the Qt boundary, and of 0x00BBGGRR colour words.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <QColor>
#include <QString>

#include "model/texts.h"

namespace quillet::gui {

// A text the program shows, written in Korean (UTF-8), in the chosen language (model/texts.h).
inline QString Text(const char* koreanUtf8) {
    return QString::fromUtf8(quillet::Tr(koreanUtf8));
}

// CP949 bytes to a QString; bytes that do not decode become U+FFFD.
QString FromCp949(std::string_view cp949);
// A QString to CP949 bytes; characters CP949 cannot hold become '?'.
std::string ToCp949(const QString& text);
// As ToCp949, cut to at most maxBytes without splitting a two-byte character (names: 255, paths: 259).
std::string ToCp949(const QString& text, std::size_t maxBytes);

// Colour word 0x00BBGGRR (the model's and the settings' form) to a QColor and back.
inline QColor ColorFromColorRef(uint32_t bbggrr) {
    return QColor(static_cast<int>(bbggrr & 0xFF), static_cast<int>((bbggrr >> 8) & 0xFF),
                  static_cast<int>((bbggrr >> 16) & 0xFF));
}
inline uint32_t ColorRefFromColor(const QColor& color) {
    return static_cast<uint32_t>(color.red()) | static_cast<uint32_t>(color.green()) << 8 |
           static_cast<uint32_t>(color.blue()) << 16;
}

} // namespace quillet::gui
