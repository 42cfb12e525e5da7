// Qt's own texts in the program's language. When the program runs in Korean, the texts that come from Qt itself
// (the standard buttons of message boxes: Yes, No, OK, Cancel; the file and colour dialogs) follow it, from Qt's
// translation catalogue qtbase_ko; in English they are Qt's own and nothing is installed.
#pragma once

#include <memory>

#include <QString>
#include <QTranslator>

#include "model/texts.h"

namespace quillet::gui {

// A text in the given language, whatever the current one is (Text() of gui/text.h follows the current one). For
// the few places that show a text in a language other than the program's: a window that keeps the language it
// was built in when the setting changes, and the settings dialog's note in the language just chosen.
QString TextIn(Language language, const char* koreanUtf8);

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
