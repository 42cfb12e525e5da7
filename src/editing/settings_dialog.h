// The rules of the settings dialog, without widgets: what its controls show when it opens (after correcting the
// two timer periods in the settings at once), and what OK writes back. Cancel writes nothing more.
#pragma once

#include <cstdint>
#include <string>

#include "model/option_bits.h"
#include "model/settings.h"
#include "model/texts.h"

namespace quillet {

class SettingsDialogModel {
public:
    // The corrections of opening are stored at once: eventDelay at least 1, colorDelay at least 33.
    explicit SettingsDialogModel(CAppIni& settings);

    std::string title;       // CP949, at most 259 bytes on OK
    int hangulKeyboard = -1; // the layout list's row, -1 none
    // Key lists: the key table's row, -1 none (a list without a selection keeps its setting).
    int runKey = -1, recordKey = -1, captureKey = -1, colorStartKey = -1, colorStopKey = -1;
    bool alwaysOnTop = false;    // macroOptions 0x4
    bool startMinimised = false; // 0x10
    bool startSelected = false;  // 0x200
    bool trayBlink = false;      // 0x80
    bool followIme = false;      // 0x1
    bool markColors = false;     // 0x100
    bool releaseOnStop = false;  // 0x800
    bool imageResult = false;    // 0x1000
    // The program's language, from the setting "language" (anything but "en" is Korean). OK writes it only when it
    // was changed, so a setting the file lacks stays absent.
    Language language = Language::Korean;
    // Digits-only fields.
    std::string sequenceStart, eventDelay, colorDelay;

    // The macroOptions bits the dialog shows; the others are never touched.
    static constexpr int32_t kShownOptions = OptionAlwaysOnTop | OptionStartMinimised | OptionStartSelected |
                                             OptionTrayBlink | OptionFollowImeState | OptionMarkColors |
                                             OptionReleaseHeldOnStop | OptionImageResultWindow;

    void Accept();
    // True after an Accept that changed the language.
    bool languageChanged() const { return languageChanged_; }

private:
    CAppIni& settings_;
    bool languageChanged_ = false;
};

} // namespace quillet
