// The text (134), macro call (135), exclusive section (137) and loop (138) item dialogs. Their rules live in
// StringItemModel, CallItemModel, ExclusiveItemModel and LoopItemModel; these windows show the model's fields and
// forward what the person does. None of them takes live input.
//
// Each works on an item the caller owns and outliving the dialog: a blank item (type 0) to add one, which takes the
// values remembered from the dialog's last OK, or a copy of an existing item to edit it. After Accepted the item
// holds the result; after Rejected the caller drops it. An OK the model refuses shows its message and leaves the
// dialog open.
#pragma once

#include <QDialog>

#include "editing/item_dialogs.h"
#include "model/macro.h"

class QCheckBox;

namespace quillet::gui {

class CEditEx;

class CDialogString final : public QDialog {
    Q_OBJECT
public:
    enum ControlId {
        IdComment = 1014, // "이 문자열을 주석으로 사용"
        IdText = 1013,
        IdRandom = 1011,   // "랜덤 문자 생성 사용 (#, *, ?)"
        IdSequence = 1012, // "연속 숫자 생성 사용($)"
        IdOk = 1,
        IdCancel = 2,
    };
    CDialogString(MacroItem& item, ItemDialogMemory& memory, QWidget* parent = nullptr);
    const StringItemModel& model() const { return model_; }
    // An empty text is refused.
    void accept() override;

private:
    StringItemModel model_;
    CEditEx* text_ = nullptr;
    QCheckBox* random_ = nullptr;
    QCheckBox* sequence_ = nullptr;
};

class CDialogMacro final : public QDialog {
    Q_OBJECT
public:
    enum ControlId {
        IdMacro = 1042,      // the library's macro names
        IdSequential = 1057, // "순차적 실행"
        IdParallel = 1058,   // "병렬 실행"
        IdStop = 1059,       // "실행 중단"
        IdOk = 1,
        IdCancel = 2,
    };
    // ownIndex: the edited macro's index in the library (the library's size for a macro not yet in it), which it may
    // not call. The library must outlive the dialog.
    CDialogMacro(MacroItem& item, ItemDialogMemory& memory, const MacroLibrary& library, int ownIndex,
                 QWidget* parent = nullptr);
    const CallItemModel& model() const { return model_; }
    // No macro chosen, or the macro itself: refused.
    void accept() override;

private:
    CallItemModel model_;
};

class CDialogCS final : public QDialog {
    Q_OBJECT
public:
    enum ControlId {
        IdEnter = 1047, // "독점실행구간으로 들어감"
        IdLeave = 1048, // "독점실행구간에서 나옴 "
        IdOk = 1,
        IdCancel = 2,
    };
    CDialogCS(MacroItem& item, ItemDialogMemory& memory, QWidget* parent = nullptr);
    const ExclusiveItemModel& model() const { return model_; }
    void accept() override;

private:
    ExclusiveItemModel model_;
};

class CDialogLoop final : public QDialog {
    Q_OBJECT
public:
    enum ControlId {
        IdEnter = 1050,      // "반복구간으로 들어감:"
        IdStart = 1052,      // "시작:"
        IdStop = 1100,       // "중지:"
        IdStep = 1101,       // "간격:"
        IdOutputKeys = 1056, // "반복 숫자를 키보드 이벤트로 출력"
        IdOutputX = 1057,    // "반복 숫자를 마우스 X 위치로 설정"
        IdOutputY = 1058,    // "반복 숫자를 마우스 Y 위치로 설정"
        IdLeave = 1051,      // "반복구간에서 나옴 "
        IdAskUser = 1055,    // present, never shown and never read
        IdOk = 1,
        IdCancel = 2,
    };
    CDialogLoop(MacroItem& item, ItemDialogMemory& memory, QWidget* parent = nullptr);
    const LoopItemModel& model() const { return model_; }
    // A step that never reaches the stop is refused.
    void accept() override;

private:
    LoopItemModel model_;
};

} // namespace quillet::gui
