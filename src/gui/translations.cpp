#include "gui/translations.h"

#include <cstdio>
#include <string_view>
#include <unordered_map>

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>

namespace quillet::gui {

QString TextIn(Language language, const char* koreanUtf8) {
    if (language == Language::Korean) return QString::fromUtf8(koreanUtf8);
    // Built once on the UI thread, like everything that shows a text.
    static const std::unordered_map<std::string_view, const char*> english = [] {
        std::unordered_map<std::string_view, const char*> map;
        const CatalogueView catalogue = Catalogue();
        for (std::size_t i = 0; i < catalogue.size; ++i)
            map.emplace(catalogue.entries[i].korean, catalogue.entries[i].english);
        return map;
    }();
    const auto it = english.find(koreanUtf8);
    return QString::fromUtf8(it == english.end() ? koreanUtf8 : it->second);
}

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
