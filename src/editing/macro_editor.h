// The rules of the macro editor, without widgets: the macro being edited (a working copy that the caller stores only
// on OK), its rows and their selection, the add / edit / delete / move operations and their selection rules, the
// item clipboard's keys, the summary line, the OK validation, undo and redo, the capture and Insert keys, the test
// run on the session's engine, and the mouse trail's geometry. The editor window shows this model and forwards the
// person's actions to it; it learns about changes through MacroEditorView.
//
// Texts are CP949, as the model keeps them. Everything runs on the session's thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "editing/item_dialogs.h"
#include "engine/engine.h"
#include "engine/mm_timer.h"
#include "input/input_router.h"
#include "model/macro.h"
#include "model/option_bits.h"
#include "model/settings.h"
#include "platform/platform.h"

namespace quillet {

// The item clipboard of the item lists: deep copies, shared by every editor for the life of the program.
// Live input of the macro editor, and its consumer on the router.
class EditorInputConsumer {
public:
    virtual ~EditorInputConsumer() = default;
    virtual void OnEditorInputEvent(int code, bool isPress) = 0;
};

class EditorCapture final : public InputConsumer {
public:
    explicit EditorCapture(EditorInputConsumer& editor) : editor_(editor) {}
    InputKinds kinds() const override { return InputKinds::Both; }
    void OnInput(const InputEvent& e) override { editor_.OnEditorInputEvent(e.code, e.isPress); }

private:
    EditorInputConsumer& editor_;
};

struct ItemClipboard {
    std::vector<MacroItem> items;
};

// The open mouse item dialog's share of the capture key: its live position fields and its position fields.
class MouseItemCaptureTarget {
public:
    virtual ~MouseItemCaptureTarget() = default;
    // The "record the absolute position" check box.
    virtual bool AbsoluteChecked() const = 0;
    // The live position fields, read as signed integers.
    virtual Point LivePosition() const = 0;
    // Writes the item's position fields.
    virtual void SetItemPosition(int32_t x, int32_t y) = 0;
};

// What an editor needs from the running program. The session makes one for each editor it opens.
// What the editors of one run of the program share, owned by the desktop program (its main window) and given to
// every editor and recorder it opens: nothing of it is the running program's business.
struct EditingContext {
    ItemClipboard clipboard;
    ItemDialogMemory itemMemory; // what the item dialogs remember from their last OK
    Point lastCapturePoint{0, 0}; // the relative capture's previous position, (0, 0) at program start
    Point lastRecordedPos{0, 0};  // where the last recorded mouse item left the cursor, for relative positions
};

struct EditorServices {
    const MacroLibrary& library;
    CAppIni& settings;
    Engine& engine;
    platform::InputOutput& io;
    platform::Clock& clock;
    TimerCounter& timerCounter;
    platform::Poster post;            // runs a closure on the session's thread (the test run's ticks)
    std::function<void()> drainInput; // a person's input that has arrived, handled before each test tick
    ItemClipboard& clipboard;
    Point& lastCapturePoint; // the relative capture's previous position, (0, 0) at program start
    ItemDialogMemory& itemMemory; // what the item dialogs remember from their last OK
};

// What changed, for the window.
enum EditorChange : uint32_t {
    ChangedRows = 0x1,      // rows (and with them the selection)
    ChangedSelection = 0x2, // only the selection
    ChangedSummary = 0x4,
    ChangedFields = 0x8,   // the name and repeat count fields (undo, redo)
    ChangedTesting = 0x10, // a test run started or ended: the editing controls and the stop button
};

class MacroEditorView {
public:
    virtual ~MacroEditorView() = default;
    virtual void EditorChanged(uint32_t changes) = 0;
    // The Insert key's export.
    virtual void CopyTextToClipboard(const std::string& cp949Text) = 0;
};

// The trail of the mouse items, in screen pixels.
struct MouseTrail {
    std::vector<platform::ScreenPoint> line;         // the polyline through every mouse item, in item order
    std::vector<platform::ScreenRect> pressBoxes;    // filled boxes where an item presses or clicks a button
    std::vector<platform::ScreenRect> selectedBoxes; // hollow blue boxes (two per selected mouse item)
    friend bool operator==(const MouseTrail&, const MouseTrail&) = default;
};

class MacroEditor final : public EditorInputConsumer {
public:
    // working: the macro to edit (a copy the caller owns); ownIndex: its index in the library, the library's size
    // for a new one. A macro without a name is new: it gets the defaults of a new macro and the first free
    // "Macro %d" name.
    MacroEditor(Macro& working, int ownIndex, EditorServices services);
    // An active test run is ended and what it holds released.
    ~MacroEditor() override;
    MacroEditor(const MacroEditor&) = delete;
    MacroEditor& operator=(const MacroEditor&) = delete;

    void SetView(MacroEditorView* view) { view_ = view; }
    // While a mouse item dialog is open, the capture key writes into it instead of adding an item.
    void SetMouseItemTarget(MouseItemCaptureTarget* target) { mouseTarget_ = target; }

    bool isNew() const { return isNew_; }
    const Macro& macro() const { return working_; }
    int ownIndex() const { return ownIndex_; }
    // "매크로 추가" or "매크로 편집".
    std::string Title() const;
    // The capture-key hint above the name.
    std::string HintText() const;

    // --- Rows and their selection (row k shows item k; row 0 is the start item) ---
    int rowCount() const { return working_.itemCount(); }
    std::string RowText(int row) const;
    bool IsSelected(int row) const;
    std::vector<int> SelectedRows() const;
    // The person's selection in the list.
    void SetSelection(const std::vector<int>& rows);
    int HighestSelected() const; // -1 when none
    int LowestSelected() const;  // -1 when none
    // Where an added item goes: after the highest selected row; at the end when nothing is selected.
    int InsertPosition() const;

    // --- The fields ---
    const std::string& nameText() const { return name_; }
    void SetNameText(std::string cp949);
    const std::string& repeatText() const { return repeat_; }
    void SetRepeatText(std::string text);
    bool testHotkeys() const { return testHotkeys_; }
    void SetTestHotkeys(bool on) { testHotkeys_ = on; }
    bool blueBoxes() const { return blueBoxes_; }
    void SetBlueBoxes(bool on) { blueBoxes_ = on; }
    // The "hide test" check box: macroOptions bit 3, written at once.
    bool hideTest() const;
    void SetHideTest(bool on);
    // The window's height with the test group hidden: the lower 18.5 % cut off.
    static int HiddenHeight(int fullHeight);

    // --- The buttons ---
    // An item from an item dialog's OK, inserted at the insert position and then the only selected row.
    void AddItem(const MacroItem& item);
    // The row Edit opens: the lowest selected row; -1 when none or when it is the start item.
    int EditTarget() const;
    // The item dialog's OK for row: the item replaced, the row the only selection.
    void ReplaceItem(int row, const MacroItem& item);
    // Removes the selected items, never the start item.
    void DeleteSelected();
    // The selected rows move one up (down) together and stay selected; nothing passes the start item. False when
    // nothing moved.
    bool MoveUp();
    bool MoveDown();

    // --- The list's keys: Ctrl+A, C, X, V and Delete ---
    void SelectAll();
    void Copy();
    void Cut();
    void Paste();

    // --- Summary: "%d개 항목이 기록됨 (%g 초)", or "(순환호출!)" for a call cycle ---
    const std::string& summary() const { return summary_; }
    // Recomputed after the buttons' adds, edits and deletes (the list's keys and the capture key do not).
    void RefreshSummary();

    // --- Closing ---
    enum class Verdict { Ok, NoName, NameTaken, Unbalanced };
    // OK: editOptions from the check boxes, then name and repeat count stored into the macro (also when a check
    // fails), then the checks. Ok ends the dialog.
    Verdict Accept();
    // The message for a failed check.
    static std::string VerdictMessage(Verdict verdict);
    // Cancel, Esc, the close box: editOptions from the check boxes; an active test run is ended and what it holds
    // released.
    void Cancel();
    // The repeat count field as stored: a decimal number (text that is not one counts as 0) clamped to 0..65535.
    static int32_t RepeatCountFromText(std::string_view text);

    // --- Undo and redo of the item list, the name and the repeat count ---
    bool canUndo() const { return !undo_.empty(); }
    bool canRedo() const { return !redo_.empty(); }
    bool Undo();
    bool Redo();

    // --- Test run ---
    bool testing() const { return testing_; }
    // From the highest selected row (item 1 when nothing but the start item is selected).
    void StartTestRun();
    // The stop button or the stop hotkey: a run still going is stopped, releasing as the setting says.
    void StopTestRun();
    // The window's 33 ms display timer while testing: the running item becomes the selection; a run that has
    // ended is stopped (the start item is then selected).
    void OnDisplayTimer();

    // --- Trail ---
    MouseTrail Trail(platform::ScreenSize screen) const;

    // --- Live input (the input router's editor consumer) ---
    // The test-run hotkeys (with the check box on), then the capture key, then the Insert key's export.
    void OnEditorInputEvent(int code, bool isPress) override;
    // MacroText of the working macro with its current items.
    std::string ExportText() const;

private:
    struct Snapshot {
        std::vector<MacroItem> items;
        std::vector<bool> selection;
        std::string name;
        std::string repeat;
    };
    enum class Field { None, Name, Repeat };

    void Notify(uint32_t changes);
    // Records the state before a change for undo; typing in one field is one step.
    void Remember(Field field = Field::None);
    Snapshot Take() const;
    void Restore(Snapshot s);
    void SelectOnly(int row);
    void InsertAt(int row, const MacroItem& item);
    void EraseAt(int row);
    void StopTest(HeldInput held);
    void CaptureCursor();
    void WriteEditOptions();

    Macro& working_;
    int ownIndex_;
    EditorServices s_;
    MacroEditorView* view_ = nullptr;
    MouseItemCaptureTarget* mouseTarget_ = nullptr;
    bool isNew_ = false;
    std::vector<bool> selection_;
    std::string name_;
    std::string repeat_;
    bool testHotkeys_ = false;
    bool blueBoxes_ = false;
    std::string summary_;
    std::vector<Snapshot> undo_;
    std::vector<Snapshot> redo_;
    Field lastField_ = Field::None;
    bool testing_ = false;
    uint32_t lastTick_ = 0;
    std::unique_ptr<CMmtMacro> timer_;
};

} // namespace quillet
