// The macro recorder (dialog 133, "매크로 기록"): the person's keys, buttons, movements, wheel turns and pauses become
// the items of a new macro while recording is on. The rules are the RecorderDialogModel's (and its MacroRecorder's);
// this window shows them and forwards what the person does.
//
// The caller hands it a default Macro (it becomes "Macro Rec. n" with its defaults) and runs it modally: on Accepted
// the macro is complete and may be appended to the library, on Rejected it is to be dropped. The option boxes and
// the two minimums stay in the settings either way. While the window exists it takes the desktop's live input above
// the windows opened before it: the record key starts and stops recording whichever window has the focus.
#pragma once

#include <memory>

#include <QDialog>

#include "editing/recorder_dialog.h"
#include "input/input_router.h"
#include "session/session.h"

class QLabel;
class QListWidget;
class QPushButton;
class QTimer;

namespace quillet::gui {

class CDialogMacroRec final : public QDialog {
    Q_OBJECT
public:
    enum ControlId {
        IdHelp = 1045,
        IdRecord = 1037,         // "기록 대기 중" / "매크로 기록 중", checked while recording
        IdKeys = 1011,           // "키보드 키"
        IdButtons = 1012,        // "마우스 버튼"
        IdMovement = 1013,       // "마우스 움직임:"
        IdWheel = 1015,          // "마우스 휠"
        IdPauses = 1014,         // "시간 지연:"
        IdMerge = 1016,          // press and release as one item
        IdNormalized = 1017,     // resolution-independent positions
        IdAbsolute = 1018,       // absolute positions
        IdButtonPosition = 1019, // "위치 포함"
        IdDistance = 1032,
        IdPause = 1031,
        IdCondition = 1099, // "시작/중지 조건"
        IdList = 1004,
        IdSummary = 1039,
        IdRepeat = 1020,
        IdOk = 1,
        IdCancel = 2,
    };
    static constexpr int kDisplayPeriodMs = 33;

    // macro: owned by the caller and outliving the window. lastRecordedPos: where the last recorded mouse item
    // was; relative movements of the next recording are measured from it, so it lives as long as the program.
    CDialogMacroRec(Session& session, Macro& macro, Point& lastRecordedPos, QWidget* parent = nullptr);
    ~CDialogMacroRec() override;

    RecorderDialogModel& model() { return *model_; }
    QListWidget* itemList() const { return list_; }
    QTimer* displayTimer() const { return displayTimer_; }
    // The display timer's tick: the items recorded since the last one join the list.
    void OnDisplayTimer();

    void accept() override; // OK
    void reject() override; // Cancel, Esc and the close box

private:
    void Build();
    void ConnectCommands();
    // The record button, the option boxes and the fields as the model has them.
    void ShowRecordingState();
    void OnRecordButton(bool on); // 1037
    void OnCondition();           // 1099

    Session& session_;
    Macro& macro_;
    // The model first and the input registration last: the registration goes before the model does.
    std::unique_ptr<RecorderDialogModel> model_;
    std::unique_ptr<RecorderCapture> capture_;
    std::unique_ptr<ScopedInputConsumer> inputRegistration_;

    QPushButton* record_ = nullptr;
    QListWidget* list_ = nullptr;
    QLabel* summary_ = nullptr;
    QTimer* displayTimer_ = nullptr;
};

} // namespace quillet::gui
