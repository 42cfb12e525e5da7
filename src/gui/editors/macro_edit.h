// The macro editor (dialog 132): the name, the repeat count and the item list of one macro, the item buttons, the
// summary line, the test run and the mouse trail. Its rules live in the MacroEditor model; this window shows the
// model and forwards what the person does to it.
//
// The caller hands it a working copy of the macro (a default Macro for a new one, a copy of the library's entry to
// edit one) and runs it modally: on Accepted the working copy is valid and may be stored, on Rejected it is to be
// dropped. While the window exists it takes the desktop's live input (the capture key, the Insert key's export and
// the test hotkeys work whichever window has the focus), above the windows opened before it.
#pragma once

#include <array>
#include <memory>
#include <optional>
#include <string>

#include <QSize>

#include "editing/macro_editor.h"
#include "gui/widgets/dialog_common.h"
#include "input/input_router.h"
#include "session/session.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QTimer;

namespace quillet::gui {

class CListBoxEx;
class CTrailOverlay;

class CDialogMacroEdit final : public CDialogCommon, private MacroEditorView {
    Q_OBJECT
public:
    enum ControlId {
        IdHint = 1046,
        IdName = 1019,
        IdCondition = 1099, // "시작/중지 조건"
        IdList = 1004,
        IdAddKey = 1005,       // "키보드 추가"
        IdAddMouse = 1006,     // "마우스 추가"
        IdAddDelay = 1007,     // "지연 추가"
        IdAddString = 1020,    // "문자열 추가"
        IdAddCall = 1009,      // "매크로 호출"
        IdAddExclusive = 1024, // "독점영역 추가"
        IdAddLoop = 1025,      // "반복구간 추가"
        IdEditItem = 1010,     // "편집"
        IdDelete = 1008,       // "삭제"
        IdSummary = 1039,
        IdUp = 1015,   // "^"
        IdDown = 1016, // "v"
        IdRepeat = 1013,
        IdHideTest = 1072, // "매크로 테스트 숨기기"
        IdOk = 1,
        IdCancel = 2,
        IdTestStart = 1022,   // "매크로 시험 실행"
        IdTestStop = 1023,    // "중단"
        IdTestHotkeys = 1044, // "시작/중지 단축키 사용"
        IdTrail = 1014,       // "마우스 궤적 표시"
        IdEraseTrail = 1021,  // "지우기"
        IdBlueBoxes = 1045,   // "선택항목 파란색 박스 표시"
    };
    // The controls a test run disables (the stop button excepted); the list and 1072 stay usable.
    static constexpr std::array<int, 22> kEditingControls = {
        IdName,      IdCondition, IdAddKey, IdAddMouse,   IdAddDelay,    IdAddString, IdAddCall, IdAddExclusive,
        IdAddLoop,   IdEditItem,  IdDelete, IdUp,         IdDown,        IdRepeat,    IdOk,      IdCancel,
        IdTestStart, IdTestStop,  IdTrail,  IdEraseTrail, IdTestHotkeys, IdBlueBoxes};
    // Buttons whose dialogs do not exist yet: present, and always disabled (none left).
    static constexpr std::array<int, 0> kPendingDialogButtons = {};
    // The name field holds at most this many CP949 bytes.
    static constexpr std::size_t kNameBytes = 254;

    // working: the macro to edit, owned by the caller and outliving the window; ownIndex: its index in the
    // library, the library's size for a new macro. The session must outlive the window.
    // editing: what every editor of this run of the program shares (clipboard, remembered values, capture point).
    CDialogMacroEdit(Session& session, EditingContext& editing, Macro& working, int ownIndex,
                     QWidget* parent = nullptr);
    ~CDialogMacroEdit() override;

    MacroEditor& model() { return *model_; }
    CListBoxEx* itemList() const { return list_; }
    // Runs while a test run is going, every 33 ms.
    QTimer* displayTimer() const { return displayTimer_; }
    // The trail window; null before the first drawing.
    CTrailOverlay* trailOverlay() const { return trail_.get(); }
    // The window's size measured at its first showing, with the test group shown; invalid before.
    QSize fullSize() const { return fullSize_; }

    // --- Commands ---
    void OnDelete();            // 1008
    void OnUp();                // 1015
    void OnDown();              // 1016
    void OnTestStart();         // 1022
    void OnTestStop();          // 1023
    void OnTrail();             // 1014
    void OnEraseTrail();        // 1021
    void OnHideTest(bool hide); // 1072
    // The display timer's tick: the list follows the running item; a run that has ended is stopped.
    void OnDisplayTimer();

    // OK: the model checks the fields; a failed check is shown and the window stays open.
    void accept() override;
    // Cancel, Esc and the close box.
    void reject() override;
    void done(int result) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void BuildControls();
    void ConnectCommands();
    void ShowFields();
    void ShowSummary();
    // The editing controls as a test run (or its end) leaves them, and the display timer with them.
    void ShowTestingState();
    void SetEditingEnabled(bool enabled);
    void ApplyHideTest(bool hide);
    void Undo();
    void Redo();

    // --- The item dialogs (modal, over the editor) and the condition dialog ---
    void OnAddItem(int itemType);
    void OnEditItem(); // 1010, and a double-click on the list
    // Runs the dialog of that item type on item (a blank one to add, a copy to edit); true when the person confirmed
    // it (item then holds the result). The mouse dialog is the capture key's target while it runs.
    bool RunItemDialog(int itemType, MacroItem& item);
    void OnCondition(); // 1099

    // MacroEditorView
    void EditorChanged(uint32_t changes) override;
    void CopyTextToClipboard(const std::string& cp949Text) override;

    Session& session_;
    EditingContext& editing_;
    // The macro being edited: the condition dialog works on it directly.
    Macro& working_;
    // The model first and the input registration last: the registration goes before the model does.
    std::unique_ptr<MacroEditor> model_;
    std::unique_ptr<EditorCapture> capture_;
    std::unique_ptr<ScopedInputConsumer> inputRegistration_;
    std::unique_ptr<CTrailOverlay> trail_;

    QLabel* hint_ = nullptr;
    QLineEdit* name_ = nullptr;
    CListBoxEx* list_ = nullptr;
    QLabel* summary_ = nullptr;
    QLineEdit* repeat_ = nullptr;
    QCheckBox* hideTest_ = nullptr;
    QCheckBox* testHotkeys_ = nullptr;
    QCheckBox* blueBoxes_ = nullptr;
    QGroupBox* testGroup_ = nullptr;
    QTimer* displayTimer_ = nullptr;
    QSize fullSize_;
};

} // namespace quillet::gui
