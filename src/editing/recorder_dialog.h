// The recorder dialog's rules around the recording itself, without widgets: which recOptions bit each option box
// stands for and when it can be changed, the three number fields as the person types them, and what the dialog's
// 33 ms display timer puts into the item list. The recording rules are MacroRecorder's; this model owns one and
// the dialog hands that one to the input router.
//
// Texts are CP949. Nothing here fails or reports: a field that does not hold a number counts as 0, an option the
// person cannot change at the moment stays as it is.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "input/input_router.h"
#include "model/macro.h"
#include "model/settings.h"
#include "platform/platform.h"
#include "recorder/recorder.h"

namespace quillet {

// The recorder: the record key toggles recording; while recording, keys (when recOptions asks for them) with the
// input method's state sampled per event; every mouse event, recording or not.
class RecorderCapture final : public InputConsumer {
public:
    RecorderCapture(RecorderInputConsumer& recorder, InputRouter& router, const CAppIni& settings,
                    platform::InputMethod& ime)
        : recorder_(recorder), router_(router), settings_(settings), ime_(ime) {}
    InputKinds kinds() const override { return InputKinds::Both; }
    void OnInput(const InputEvent& e) override;

private:
    RecorderInputConsumer& recorder_;
    InputRouter& router_;
    const CAppIni& settings_;
    platform::InputMethod& ime_;
};

class RecorderDialogModel {
public:
    // macro, library, settings, io, clock and lastRecordedPos as MacroRecorder takes them: the caller's, and they
    // must outlive the model. A macro without a name becomes a new one ("Macro Rec. n"). Opening stores the
    // option boxes into recOptions at once (resolution-independent positions only with absolute ones).
    RecorderDialogModel(Macro& macro, const MacroLibrary& library, CAppIni& settings, platform::InputOutput& io,
                        platform::Clock& clock, Point& lastRecordedPos);

    // What the input router feeds while the dialog is open.
    MacroRecorder& recorder() { return recorder_; }
    const Macro& macro() const { return recorder_.macro(); }

    // --- Option boxes ---
    // The recOptions bits of the nine boxes, in the dialog's order.
    static constexpr std::array<int32_t, 9> kOptionBits = {
        RecKeys, RecButtons, RecMovement, RecWheel, RecPauses, RecMerge, RecAbsolute, RecNormalized, RecButtonPosition};
    bool OptionChecked(int32_t bit) const { return (recorder_.options() & bit) != 0; }
    // Every box only while waiting; "resolution-independent" only with "absolute" checked as well.
    bool OptionEnabled(int32_t bit) const;
    // A click stores every box into recOptions at once; clearing "absolute" clears "resolution-independent".
    // Nothing while recording.
    void ClickOption(int32_t bit, bool checked);

    // --- Number fields: minimum movement (pixels), minimum pause (ms), repeat count ---
    // Signed decimal numbers; blanks around them are allowed, anything else reads as 0, values beyond 32 bits
    // saturate. The fields take at most kFieldChars characters ("-2147483648").
    static constexpr int kFieldChars = 11;
    // The texts shown at opening.
    std::string distanceText() const { return std::to_string(recorder_.mouseDistanceField); }
    std::string pauseText() const { return std::to_string(recorder_.eventTimeIntervalField); }
    std::string repeatText() const { return std::to_string(recorder_.repeatCountField); }
    // Every edit of a field; the values reach the settings at the next toggle, OK or Cancel.
    void SetDistanceText(std::string_view text);
    void SetPauseText(std::string_view text);
    void SetRepeatText(std::string_view text);
    // The fields, like the option boxes, can be changed only while waiting.
    bool FieldsEnabled() const { return !recorder_.IsRecording(); }

    // --- Recording ---
    bool recording() const { return recorder_.IsRecording(); }
    // The record button (checked while recording) and the record key.
    void ToggleRecording(bool on) { recorder_.ToggleRecording(on); }
    std::string HelpText() const { return recorder_.HelpText(); }
    std::string RecordButtonCaption() const { return recorder_.RecordButtonCaption(); }
    std::string SummaryText() const { return recorder_.SummaryText(); }

    // --- The item list ---
    // Lines [0, keepLines) stay, newLines follow; then selectLine is selected and the summary line rewritten.
    // The first update after opening fills the whole list and selects line 0; the later ones, taken by the
    // display timer, select the last line. Nothing when the list is up to date.
    struct DisplayUpdate {
        int keepLines = 0;
        std::vector<std::string> newLines;
        int selectLine = 0;
        std::string summary;
    };
    std::optional<DisplayUpdate> TakeDisplayUpdate();

    // OK: the fields into the settings, recording stopped, repeatCount := the field clamped to 0..65535 (an
    // empty field is 0, repeat until stopped). Cancel: the same without the repeat count. The settings keep what
    // was changed here either way; the caller appends the macro on OK and drops it on Cancel.
    void Ok() { recorder_.Ok(); }
    void Cancel() { recorder_.Cancel(); }

private:
    MacroRecorder recorder_;
    bool filled_ = false; // the list has had its first update
};

} // namespace quillet
