// Qt's own texts in Korean. The program's texts are Korean whatever the system's language is; the texts that come
// from Qt itself (the standard buttons of message boxes: Yes, No, OK, Cancel; the file and colour dialogs) follow
// them, from Qt's translation catalogue qtbase_ko.
#pragma once

#include <memory>

#include <QString>
#include <QTranslator>

namespace quillet::gui {

// Loads qtbase_ko.qm from `directory` (empty: Qt's own translations folder, QLibraryInfo::TranslationsPath) and
// installs it in the running QCoreApplication, which must exist. Widgets made after this show Qt's texts in Korean.
//
// Returns the installed translator; keep it for as long as the texts are wanted (its destruction uninstalls it).
// When the catalogue is missing or unreadable (the package with Qt's translations is not installed) nothing is
// installed, Qt's texts stay English, one line saying which file is missing goes to standard error, and null is
// returned: the program goes on.
//
// Costs: one file read (about 150 KiB, memory-mapped) at the call.
std::unique_ptr<QTranslator> InstallQtKoreanTranslation(const QString& directory = QString());

} // namespace quillet::gui
