#include "editing/settings_dialog.h"

#include <algorithm>
#include <limits>

#include "editing/item_dialogs.h"
#include "model/item_text.h"
#include "model/key_table.h"
#include "model/option_bits.h"

namespace quillet {

namespace {

constexpr std::size_t kTitleBytesMax = 259;

void SetKey(int32_t& setting, int row) {
    if (row >= 0 && KeyCodeAt(row) >= 0) setting = KeyCodeAt(row);
}

} // namespace

SettingsDialogModel::SettingsDialogModel(CAppIni& settings) : settings_(settings) {
    title = settings_.title;
    hangulKeyboard = settings_.hangulKeyboard >= 0 && settings_.hangulKeyboard <= 2 ? settings_.hangulKeyboard : -1;
    runKey = KeyIndexOf(settings_.keyMacroRun);
    recordKey = KeyIndexOf(settings_.keyMacroRecord);
    captureKey = KeyIndexOf(settings_.keyMousePosCapture);
    colorStartKey = KeyIndexOf(settings_.keyMacroColorStart);
    colorStopKey = KeyIndexOf(settings_.keyMacroColorStop);
    const int32_t o = settings_.macroOptions;
    alwaysOnTop = (o & OptionAlwaysOnTop) != 0;
    startMinimised = (o & OptionStartMinimised) != 0;
    startSelected = (o & OptionStartSelected) != 0;
    trayBlink = (o & OptionTrayBlink) != 0;
    followIme = (o & OptionFollowImeState) != 0;
    markColors = (o & OptionMarkColors) != 0;
    releaseOnStop = (o & OptionReleaseHeldOnStop) != 0;
    imageResult = (o & OptionImageResultWindow) != 0;
    language = LanguageFromSetting(settings_.language);
    // Shown as an unsigned number, as the digits-only field can hold it.
    sequenceStart = std::to_string(static_cast<uint32_t>(settings_.sequenceStart));
    // Periods a hand-edited file got wrong are corrected in the settings at once, also if the dialog is cancelled.
    if (settings_.eventDelay <= 0) settings_.eventDelay = 1;
    if (settings_.colorDelay <= 32) settings_.colorDelay = 33;
    eventDelay = std::to_string(settings_.eventDelay);
    colorDelay = std::to_string(settings_.colorDelay);
}

void SettingsDialogModel::Accept() {
    std::string t = title;
    t.resize(Cp949HeadLength(t, kTitleBytesMax));
    settings_.title = t;
    settings_.hangulKeyboard = hangulKeyboard;
    int32_t o = settings_.macroOptions & ~kShownOptions;
    if (alwaysOnTop) o |= OptionAlwaysOnTop;
    if (startMinimised) o |= OptionStartMinimised;
    if (startSelected) o |= OptionStartSelected;
    if (trayBlink) o |= OptionTrayBlink;
    if (followIme) o |= OptionFollowImeState;
    if (markColors) o |= OptionMarkColors;
    if (releaseOnStop) o |= OptionReleaseHeldOnStop;
    if (imageResult) o |= OptionImageResultWindow;
    settings_.macroOptions = o;
    const int32_t most = std::numeric_limits<int32_t>::max();
    // Kept as the 32-bit pattern of the unsigned number: 3000000000 and a stored -1 (4294967295) come back as shown.
    settings_.sequenceStart = static_cast<int32_t>(ReadUnsigned32Field(sequenceStart));
    settings_.eventDelay = std::max(ReadUnsignedField(eventDelay, most), 1);
    const int32_t color = ReadUnsignedField(colorDelay, most);
    settings_.colorDelay = color <= 32 ? 33 : color;
    SetKey(settings_.keyMacroRun, runKey);
    SetKey(settings_.keyMacroRecord, recordKey);
    SetKey(settings_.keyMousePosCapture, captureKey);
    SetKey(settings_.keyMacroColorStart, colorStartKey);
    SetKey(settings_.keyMacroColorStop, colorStopKey);
    languageChanged_ = language != LanguageFromSetting(settings_.language);
    if (languageChanged_) settings_.language = std::string(LanguageSetting(language));
}

} // namespace quillet
