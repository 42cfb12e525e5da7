#include "editing/recorder_dialog.h"

#include "editing/item_dialogs.h"

namespace quillet {

RecorderDialogModel::RecorderDialogModel(Macro& macro, const MacroLibrary& library, CAppIni& settings,
                                         platform::InputOutput& io, platform::Clock& clock, Point& lastRecordedPos)
    : recorder_(macro, library, settings, io, clock, lastRecordedPos) {}

bool RecorderDialogModel::OptionEnabled(int32_t bit) const {
    return bit == RecNormalized ? recorder_.NormalizedEnabled() : recorder_.OptionsEnabled();
}

void RecorderDialogModel::ClickOption(int32_t bit, bool checked) {
    if (!OptionEnabled(bit)) return;
    recorder_.SetOption(bit, checked);
}

void RecorderDialogModel::SetDistanceText(std::string_view text) {
    if (FieldsEnabled()) recorder_.mouseDistanceField = ReadSignedField(text);
}

void RecorderDialogModel::SetPauseText(std::string_view text) {
    if (FieldsEnabled()) recorder_.eventTimeIntervalField = ReadSignedField(text);
}

void RecorderDialogModel::SetRepeatText(std::string_view text) {
    if (FieldsEnabled()) recorder_.repeatCountField = ReadSignedField(text);
}

std::optional<RecorderDialogModel::DisplayUpdate> RecorderDialogModel::TakeDisplayUpdate() {
    std::optional<MacroRecorder::ListUpdate> lines = recorder_.TakeListUpdate();
    if (!lines) return std::nullopt;
    DisplayUpdate u;
    u.keepLines = lines->keepLines;
    u.newLines = std::move(lines->newLines);
    u.selectLine = filled_ ? u.keepLines + static_cast<int>(u.newLines.size()) - 1 : 0;
    u.summary = recorder_.SummaryText();
    filled_ = true;
    return u;
}

// --- Live input ---

void RecorderCapture::OnInput(const InputEvent& e) {
    if (!e.fromKeyboard) {
        recorder_.RecordMouseEvent(e.code, e.isPress, e.moved, e.wheelDelta, e.cursor);
        return;
    }
    if (e.code == settings_.keyMacroRecord && e.isPress) {
        recorder_.ToggleRecording(!recorder_.IsRecording());
        // The toggle may have made the dialog close itself.
        if (!router_.Contains(*this)) return;
    }
    // Checked after the toggle, so the press that starts a recording is its first item.
    if (recorder_.IsRecording() && e.code != 0 && (settings_.recOptions & RecKeys))
        recorder_.RecordKeyEvent(e.code, e.scan, RecordedKeyAction(e.isPress, ime_));
}

} // namespace quillet
