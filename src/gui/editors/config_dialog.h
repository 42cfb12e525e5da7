// The settings dialog (136, "Quillet 설정"): shows the settings model's fields and forwards the person's changes; OK
// writes them into the settings.
#pragma once

#include <memory>

#include "editing/settings_dialog.h"
#include "gui/widgets/dialog_common.h"
#include "model/settings.h"

class QCheckBox;
class QComboBox;
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
    };

    // Opening corrects the two timer periods in settings at once.
    explicit CDialogConfig(CAppIni& settings, QWidget* parent = nullptr);
    ~CDialogConfig() override;

    void accept() override;

private:
    void Build();
    SettingsDialogModel model_;
};

} // namespace quillet::gui
