#include "gui/mainwindow/library_names.h"

#include <QDir>
#include <QFile>

#include "gui/text.h"

namespace quillet::gui {

QString LibraryNameForChosenPath(const QString& chosen, const QString& currentDir) {
    QString name = QDir::fromNativeSeparators(chosen);
    QString dir = QDir::fromNativeSeparators(currentDir);
    while (dir.size() > 1 && dir.endsWith(QLatin1Char('/'))) dir.chop(1);
#ifdef _WIN32
    constexpr Qt::CaseSensitivity kCase = Qt::CaseInsensitive;
#else
    constexpr Qt::CaseSensitivity kCase = Qt::CaseSensitive;
#endif
    // Only a whole directory counts: "/home/a/work2/x.m" does not lie in "/home/a/work".
    const QString prefix = dir.endsWith(QLatin1Char('/')) ? dir : dir + QLatin1Char('/');
    if (!dir.isEmpty() && name.size() > prefix.size() && name.startsWith(prefix, kCase)) name = name.mid(prefix.size());

    const qsizetype slash = name.lastIndexOf(QLatin1Char('/'));
    const QString last = name.mid(slash + 1);
    if (!last.contains(QLatin1Char('.'))) name += QStringLiteral(".m");
    return name;
}

std::optional<std::string> LibraryNameToCp949(const QString& name) {
    std::string bytes = ToCp949(name);
    if (bytes.empty() || bytes.size() > kLibraryNameMax || FromCp949(bytes) != name) return std::nullopt;
    return bytes;
}

} // namespace quillet::gui
