#include "gui/editors/small_item_dialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QVBoxLayout>

#include "gui/editors/item_dialog_controls.h"
#include "gui/text.h"
#include "gui/widgets/control_id.h"
#include "gui/widgets/edit_ex.h"

namespace quillet::gui {

using namespace item_dialog;

namespace {

// A radio of a group whose checked member is the model's value; none is checked for a value of no radio.
QRadioButton* ChoiceRadio(QWidget* parent, int id, const char* caption, int& field, int value) {
    auto* radio = Radio(parent, id, caption);
    radio->setChecked(field == value);
    QObject::connect(radio, &QRadioButton::toggled, radio, [&field, value](bool on) {
        if (on) field = value;
    });
    return radio;
}

QCheckBox* BoundCheck(QWidget* parent, int id, const char* caption, bool& field) {
    auto* box = Check(parent, id, caption);
    box->setChecked(field);
    QObject::connect(box, &QCheckBox::toggled, box, [&field](bool on) { field = on; });
    return box;
}

QLineEdit* BoundEdit(QWidget* parent, int id, const char* label, std::string& field) {
    auto* edit = Edit(parent, id, Utf8(label));
    edit->setText(FromCp949(field));
    QObject::connect(edit, &QLineEdit::textChanged, edit, [&field](const QString& t) { field = ToCp949(t); });
    return edit;
}

// The edit's text as the model keeps it: CP949 with CR LF line breaks.
std::string TextWithCrLf(const QString& plain) {
    QString text = plain;
    text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return ToCp949(text);
}

} // namespace

// --- Text (134) -----------------------------------------------------------------------------------------------------

CDialogString::CDialogString(MacroItem& item, ItemDialogMemory& memory, QWidget* parent)
    : QDialog(parent), model_(item, memory) {
    setObjectName(QStringLiteral("134"));
    setWindowTitle(FromCp949(model_.Caption()));

    auto* comment = BoundCheck(this, IdComment, "이 문자열을 주석으로 사용", model_.comment);
    text_ = SetControlId(new CEditEx(this), IdText);
    text_->setAccessibleName(Utf8("문자열"));
    // The edit holds plain line feeds; the item keeps CR LF.
    QString shown = FromCp949(model_.text);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text_->setPlainText(shown);
    connect(text_, &CEditEx::textChanged, this, [this] { model_.text = TextWithCrLf(text_->toPlainText()); });
    random_ = BoundCheck(this, IdRandom, "랜덤 문자 생성 사용 (#, *, ?)", model_.random);
    sequence_ = BoundCheck(this, IdSequence, "연속 숫자 생성 사용($)", model_.sequence);

    // A comment is never typed: its options are off while it is one, and keep their state for when it is not.
    const auto applyComment = [this] {
        random_->setEnabled(model_.optionsEnabled());
        sequence_->setEnabled(model_.optionsEnabled());
    };
    applyComment();
    connect(comment, &QCheckBox::toggled, this, applyComment);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(comment);
    layout->addWidget(Text(this, "주의) 한글을 사용하려면 설정에서 한글입력기를 올바르게 설정해야합니다.", true));
    layout->addWidget(text_, 1);
    layout->addWidget(random_);
    auto* randomHelp = new QVBoxLayout;
    randomHelp->setContentsMargins(20, 0, 0, 0);
    randomHelp->addWidget(Text(this, "#문자는 임의의 대문자(A ~ Z) 중 하나로 대체"));
    randomHelp->addWidget(Text(this, "*문자는 임의의 소문자(a ~ z) 중 하나로 대체"));
    randomHelp->addWidget(Text(this, "?문자는 임의의 숫자(0 ~ 9) 중 하나로 대체"));
    layout->addLayout(randomHelp);
    layout->addWidget(sequence_);
    auto* sequenceHelp = Text(this, "시작 숫자는 설정 창에서 설정");
    sequenceHelp->setContentsMargins(20, 0, 0, 0);
    layout->addWidget(sequenceHelp);
    layout->addLayout(OkCancelRow(this));
    setMinimumSize(380, 360);
    text_->setFocus();
}

void CDialogString::accept() {
    if (Refused(this, model_.Accept())) return;
    QDialog::accept();
}

// --- Macro call (135) -----------------------------------------------------------------------------------------------

CDialogMacro::CDialogMacro(MacroItem& item, ItemDialogMemory& memory, const MacroLibrary& library, int ownIndex,
                           QWidget* parent)
    : QDialog(parent), model_(item, memory, library, ownIndex) {
    setObjectName(QStringLiteral("135"));
    setWindowTitle(FromCp949(model_.Caption()));

    const char* prompt = "호출하거나 실행 중단할 매크로를 선택하세요.";
    auto* macros = DropDown(this, IdMacro, Utf8(prompt));
    macros->setUpdatesEnabled(false);
    QStringList names;
    for (const std::string& name : model_.Names()) names.append(FromCp949(name));
    macros->addItems(names);
    // A macro renamed since the item was made is no longer there: nothing is chosen.
    macros->setCurrentIndex(model_.selection);
    macros->setUpdatesEnabled(true);
    connect(macros, &QComboBox::currentIndexChanged, this, [this](int index) { model_.selection = index; });

    auto* sequential = ChoiceRadio(this, IdSequential, "순차적 실행", model_.mode, CallSequential);
    auto* parallel = ChoiceRadio(this, IdParallel, "병렬 실행", model_.mode, CallParallel);
    auto* stop = ChoiceRadio(this, IdStop, "실행 중단", model_.mode, CallStop);
    auto* modes = new QHBoxLayout;
    modes->addWidget(sequential);
    modes->addWidget(parallel);
    modes->addWidget(stop);
    modes->addStretch(1);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(LabelFor(this, macros, prompt));
    layout->addWidget(macros);
    layout->addLayout(modes);
    layout->addWidget(Text(this,
                           "순차적 실행은 호출한 매크로가 끝날 때까지 기다린 후 다음 항목을 실행하고, 병렬 실행은 "
                           "호출한 매크로와 이 매크로를 동시에 실행합니다.",
                           true));
    layout->addLayout(OkCancelRow(this));
    setMinimumWidth(360);
    macros->setFocus();
}

void CDialogMacro::accept() {
    if (Refused(this, model_.Accept())) return;
    QDialog::accept();
}

// --- Exclusive section (137) ----------------------------------------------------------------------------------------

CDialogCS::CDialogCS(MacroItem& item, ItemDialogMemory& memory, QWidget* parent)
    : QDialog(parent), model_(item, memory) {
    setObjectName(QStringLiteral("137"));
    setWindowTitle(FromCp949(model_.Caption()));

    auto* enter = Radio(this, IdEnter, "독점실행구간으로 들어감");
    auto* leave = Radio(this, IdLeave, "독점실행구간에서 나옴 ");
    (model_.enter ? enter : leave)->setChecked(true);
    connect(enter, &QRadioButton::toggled, this, [this](bool on) { model_.enter = on; });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(
        Text(this,
             "여러 매크로가 동시에 실행되는 상황에서 한 매크로가 독점실행구간에 들어가면, 다른 매크로들은 "
             "실행되지 않고 대기합니다.",
             true));
    layout->addWidget(enter);
    layout->addWidget(leave);
    layout->addLayout(OkCancelRow(this));
    setMinimumWidth(340);
}

void CDialogCS::accept() {
    model_.Accept();
    QDialog::accept();
}

// --- Loop (138) -----------------------------------------------------------------------------------------------------

CDialogLoop::CDialogLoop(MacroItem& item, ItemDialogMemory& memory, QWidget* parent)
    : QDialog(parent), model_(item, memory) {
    setObjectName(QStringLiteral("138"));
    setWindowTitle(FromCp949(model_.Caption()));

    auto* enter = ChoiceRadio(this, IdEnter, "반복구간으로 들어감:", model_.kind, LoopEnter);
    auto* start = BoundEdit(this, IdStart, "시작:", model_.start);
    auto* stop = BoundEdit(this, IdStop, "중지:", model_.stop);
    auto* step = BoundEdit(this, IdStep, "간격:", model_.step);
    auto* keys = ChoiceRadio(this, IdOutputKeys, "반복 숫자를 키보드 이벤트로 출력", model_.kind, LoopOutputKeys);
    auto* outX = ChoiceRadio(this, IdOutputX, "반복 숫자를 마우스 X 위치로 설정", model_.kind, LoopOutputX);
    auto* outY = ChoiceRadio(this, IdOutputY, "반복 숫자를 마우스 Y 위치로 설정", model_.kind, LoopOutputY);
    auto* leave = ChoiceRadio(this, IdLeave, "반복구간에서 나옴 ", model_.kind, LoopLeave);

    // Kept for the record's sake but out of the person's sight: the dialog neither lays it out nor reads it.
    auto* askUser = Check(this, IdAskUser, "실행시 사용자에게 반복구간 설정 대화상자 띄우기");
    askUser->setChecked(model_.askUser);
    askUser->hide();

    auto* range = new QGridLayout;
    range->setContentsMargins(20, 0, 0, 0);
    int column = 0;
    for (const auto& [label, edit] : {std::pair{"시작:", start}, std::pair{"중지:", stop}, std::pair{"간격:", step}}) {
        range->addWidget(LabelFor(this, edit, label), 0, column++);
        range->addWidget(edit, 0, column++);
    }

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Text(this,
                           "반복 구간은 최소 한 번 이상 실행됩니다. 반복 구간의 시작, 중지, 간격 값으로 0에서 "
                           "65535사이의 숫자가 사용됩니다.",
                           true));
    layout->addWidget(enter);
    layout->addLayout(range);
    layout->addWidget(Text(this, "다음 3개의 선택은 반복구간 내에서 사용가능합니다:"));
    layout->addWidget(keys);
    layout->addWidget(outX);
    layout->addWidget(outY);
    layout->addWidget(leave);
    layout->addWidget(Text(this,
                           "시작을 20으로, 중지를 50으로, 간격을 5로 설정한 경우, 반복은 다음과 같습니다: 20, 25, 30, "
                           "35, 40, 45, 50",
                           true));
    layout->addLayout(OkCancelRow(this));
    setMinimumWidth(380);
}

void CDialogLoop::accept() {
    if (Refused(this, model_.Accept())) return;
    QDialog::accept();
}

} // namespace quillet::gui
