#include "gui/text.h"

#include "model/cp949.h"
#include "model/item_text.h"

namespace quillet::gui {

QString FromCp949(std::string_view cp949) {
    const std::string utf8 = Cp949ToUtf8(cp949);
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::string ToCp949(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    return Utf8ToCp949(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
}

std::string ToCp949(const QString& text, std::size_t maxBytes) {
    std::string bytes = ToCp949(text);
    bytes.resize(Cp949HeadLength(bytes, maxBytes));
    return bytes;
}

} // namespace quillet::gui
