#include "gui/translations.h"

#include <cstdio>

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>

namespace quillet::gui {

std::unique_ptr<QTranslator> InstallQtKoreanTranslation(const QString& directory) {
    const QString folder = directory.isEmpty() ? QLibraryInfo::path(QLibraryInfo::TranslationsPath) : directory;
    const QString file = QStringLiteral("qtbase_ko");
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(file, folder) || !QCoreApplication::installTranslator(translator.get())) {
        const QString path = QDir(folder).filePath(file + QStringLiteral(".qm"));
#ifdef _WIN32
        const char* hint = "";
#else
        const char* hint = " (Debian package qt6-translations-l10n)";
#endif
        std::fprintf(stderr,
                     "quillet: warning: Qt's Korean texts are missing: %s%s; Qt's buttons and dialogs stay in "
                     "English\n",
                     QDir::toNativeSeparators(path).toLocal8Bit().constData(), hint);
        return nullptr;
    }
    return translator;
}

} // namespace quillet::gui
