// The macro recorder's rules: live input becomes the key, mouse and delay items of a new macro. The recorder
// dialog holds one MacroRecorder and only shows its state; the input router feeds it while the dialog is open.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "model/macro.h"
#include "model/settings.h"
#include "platform/platform.h"
#include "recorder/recorder_input.h"

namespace quillet {

class MacroRecorder final : public RecorderInputConsumer {
public:
    // macro is owned by the caller and filled in place. A macro without a name becomes a new one: the first free
    // "Macro Rec. n" of library, F2/F3 hotkeys, one pass and the start item. lastRecordedPos is the position of
    // the last recorded mouse item; it lives as long as the program, across recordings.
    MacroRecorder(Macro& macro, const MacroLibrary& library, CAppIni& settings, platform::InputOutput& io,
                  platform::Clock& clock, Point& lastRecordedPos);

    // --- Input (RecorderInputConsumer) ---
    bool IsRecording() const override { return recording_; }
    // Stores the two number fields into the settings first; stopping also stores the option bits.
    void ToggleRecording(bool on) override;
    void RecordKeyEvent(int code, int scan, int32_t action) override;
    void RecordMouseEvent(int code, bool isPress, bool moved, int16_t wheelDelta,
                          platform::ScreenPoint cursor) override;

    // --- The dialog's fields ---
    // The number edits as the dialog holds them (already read as numbers): minimum movement (pixels), minimum
    // pause (ms), repeat count. Loaded from the settings and the macro; stored back at each toggle, OK and Cancel.
    int32_t mouseDistanceField = 0;
    int32_t eventTimeIntervalField = 0;
    int64_t repeatCountField = 0;

    // The option check boxes are the setting recOptions; a click stores them at once. Clearing "absolute" clears
    // "resolution-independent" too.
    int32_t options() const { return settings_.recOptions; }
    void SetOption(int32_t bit, bool on);
    // The option controls and number fields can be changed only while not recording.
    bool OptionsEnabled() const { return !recording_; }
    // The "resolution-independent" box is usable only with absolute positions.
    bool NormalizedEnabled() const { return !recording_ && (settings_.recOptions & RecAbsolute) != 0; }

    // --- Texts (CP949) ---
    std::string HelpText() const;            // "<record key>로 매크로 기록을 시작하거나 중지합니다."
    std::string RecordButtonCaption() const; // "기록 대기 중" / "매크로 기록 중"
    std::string SummaryText() const;         // "<n>개 항목이 기록됨 (<seconds> 초)"

    // The item list: lines [0, keepLines) stay, newLines follow (ItemText of the items after them). Nothing when
    // the list is up to date. A merge drops the last line so that it is written again.
    struct ListUpdate {
        int keepLines = 0;
        std::vector<std::string> newLines;
    };
    std::optional<ListUpdate> TakeListUpdate();

    // OK: fields into the settings, recording stopped, repeat count := the field clamped to 0..65535.
    // Cancel: the same without the repeat count. The caller appends the macro on OK and discards it on Cancel.
    void Ok();
    void Cancel();

    // Called after every ToggleRecording (the dialog updates its button and controls).
    std::function<void()> onRecordingChanged;

    Macro& macro() { return macro_; }
    const Macro& macro() const { return macro_; }
    uint32_t lastEventTime() const { return lastEventTime_; }

private:
    void StoreFields();
    void StoreOptions();
    void AddPauseItem();
    void AddMouseItem(int32_t x, int32_t y, int32_t flags);
    // The cursor stored for an absolute item: pixels, or absolute units when normalised.
    Point AbsolutePosition(platform::ScreenPoint cursor);

    Macro& macro_;
    const MacroLibrary& library_;
    CAppIni& settings_;
    platform::InputOutput& io_;
    platform::Clock& clock_;
    Point& lastRecordedPos_;
    bool recording_ = false;
    uint32_t lastEventTime_ = 0;
    int listLines_ = 0; // lines the dialog's list holds
};

} // namespace quillet
