// The settings dialog (136, "Quillet 설정"): shows the settings model's fields and forwards the person's changes; OK
// writes them into the settings. A changed language is also made the program's at once: windows opened afterwards
// show it, and a note in the dialog says that the main window and the tool windows follow after a restart.
#pragma once

#include <memory>

#include "editing/settings_dialog.h"
#include "gui/widgets/dialog_common.h"
#include "model/settings.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;

namespace quillet::gui {

class CDialogConfig final : public CDialogCommon {
    Q_OBJECT
public:
    enum ControlId {
        IdTitle = 1123,
        IdAlwaysOnTop = 1038,
        IdStartMinimised = 1039,
        IdHangulKeyboard = 1025,
        IdRunKey = 1019,
        IdStartSelected = 1041,
        IdTrayBlink = 1044,
        IdSequenceStart = 1022,
        IdEventDelay = 1017,
        IdColorDelay = 1018,
        IdFollowIme = 1072,
        IdRecordKey = 1020,
        IdCaptureKey = 1021,
        IdColorStartKey = 1023,
        IdColorStopKey = 1024,
        IdMarkColors = 1045,
        IdReleaseOnStop = 1046,
        IdImageResult = 1047,
        IdLanguage = 1048, // "언어 / Language:": "한국어", "English"
    };

    // Opening corrects the two timer periods in settings at once.
    explicit CDialogConfig(CAppIni& settings, QWidget* parent = nullptr);
    ~CDialogConfig() override;

    void accept() override;

private:
    void Build();
    void ShowLanguageNote(int row);
    SettingsDialogModel model_;
    QLabel* languageNote_ = nullptr;
};

} // namespace quillet::gui
