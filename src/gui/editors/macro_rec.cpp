#include "gui/editors/macro_rec.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSignalBlocker>
#include <QTimer>
#include <QVBoxLayout>

#include "gui/editors/condition_dialog.h"
#include "gui/editors/item_dialog_controls.h"
#include "gui/text.h"
#include "gui/widgets/control_id.h"

namespace quillet::gui {

using namespace item_dialog;

namespace {

// The option boxes: each one recOptions bit.
struct OptionBox {
    int id;
    int32_t bit;
};
constexpr OptionBox kOptionBoxes[] = {
    {CDialogMacroRec::IdKeys, RecKeys},
    {CDialogMacroRec::IdButtons, RecButtons},
    {CDialogMacroRec::IdMovement, RecMovement},
    {CDialogMacroRec::IdWheel, RecWheel},
    {CDialogMacroRec::IdPauses, RecPauses},
    {CDialogMacroRec::IdMerge, RecMerge},
    {CDialogMacroRec::IdAbsolute, RecAbsolute},
    {CDialogMacroRec::IdNormalized, RecNormalized},
    {CDialogMacroRec::IdButtonPosition, RecButtonPosition},
};

// A signed number field, as the model reads it.
QLineEdit* NumberEdit(QWidget* parent, int id, const QString& name) {
    QLineEdit* edit = Edit(parent, id, name);
    edit->setMaxLength(RecorderDialogModel::kFieldChars);
    edit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("-?[0-9]*")), edit));
    edit->setMaximumWidth(80);
    return edit;
}

} // namespace

CDialogMacroRec::CDialogMacroRec(Session& session, Macro& macro, Point& lastRecordedPos, QWidget* parent)
    : QDialog(parent), session_(session), macro_(macro),
      model_(std::make_unique<RecorderDialogModel>(macro, session.library(), session.settings(), session.platform().io,
                                                   session.platform().clock, lastRecordedPos)) {
    setObjectName(QStringLiteral("133"));
    setWindowTitle(Utf8("매크로 기록"));
    Build();
    FindControl<QLabel>(this, IdHelp)->setText(FromCp949(model_->HelpText()));
    {
        // The fields' first texts are the model's own; they need not go back to it.
        const QSignalBlocker distance(FindControl<QLineEdit>(this, IdDistance));
        const QSignalBlocker pause(FindControl<QLineEdit>(this, IdPause));
        const QSignalBlocker repeat(FindControl<QLineEdit>(this, IdRepeat));
        FindControl<QLineEdit>(this, IdDistance)->setText(FromCp949(model_->distanceText()));
        FindControl<QLineEdit>(this, IdPause)->setText(FromCp949(model_->pauseText()));
        FindControl<QLineEdit>(this, IdRepeat)->setText(FromCp949(model_->repeatText()));
    }
    OnDisplayTimer(); // the whole list, its first line selected
    ShowRecordingState();
    ConnectCommands();
    model_->recorder().onRecordingChanged = [this] { ShowRecordingState(); };

    // The desktop's keys and buttons come here while the window exists, ahead of the windows opened before it.
    capture_ = std::make_unique<RecorderCapture>(model_->recorder(), session_.router(), session_.settings(),
                                                 session_.platform().ime);
    inputRegistration_ = std::make_unique<ScopedInputConsumer>(session_.router(), *capture_);

    list_->setFocus();
    displayTimer_->start();
}

CDialogMacroRec::~CDialogMacroRec() {
    // No more live input, and the recorder's last toggle reaches no half-destroyed window.
    inputRegistration_.reset();
    capture_.reset();
    model_->recorder().onRecordingChanged = nullptr;
}

void CDialogMacroRec::Build() {
    auto* help = SetControlId(new QLabel(this), IdHelp);
    help->setWordWrap(true);

    // A push-like check box: pressed in while recording.
    record_ = Button(this, IdRecord, "...");
    record_->setCheckable(true);
    record_->setMinimumHeight(2 * record_->sizeHint().height());

    auto* options = new QGroupBox(Utf8("기록 옵션"), this);
    options->setAccessibleName(options->title());
    auto* grid = new QGridLayout(options);
    QLineEdit* distance = NumberEdit(options, IdDistance, Utf8("마우스 움직임:"));
    distance->setAccessibleDescription(Utf8("픽셀 이상일 때"));
    QLineEdit* pause = NumberEdit(options, IdPause, Utf8("시간 지연:"));
    pause->setAccessibleDescription(Utf8("밀리초 이상일 때"));
    grid->addWidget(Check(options, IdKeys, "키보드 키"), 0, 0, 1, 3);
    grid->addWidget(Check(options, IdButtons, "마우스 버튼"), 1, 0, 1, 3);
    grid->addWidget(Check(options, IdMovement, "마우스 움직임:"), 2, 0);
    grid->addWidget(distance, 2, 1);
    grid->addWidget(Text(options, "픽셀 이상일 때"), 2, 2);
    grid->addWidget(Check(options, IdWheel, "마우스 휠"), 3, 0, 1, 3);
    grid->addWidget(Check(options, IdPauses, "시간 지연:"), 4, 0);
    grid->addWidget(pause, 4, 1);
    grid->addWidget(Text(options, "밀리초 이상일 때"), 4, 2);
    grid->addWidget(Check(options, IdMerge, "버튼의 누르기/떼기 이벤트를 하나의 이벤트로 합치기"), 5, 0, 1, 3);
    grid->addWidget(Check(options, IdAbsolute, "마우스의 절대 위치를 기록; 체크 해제인 경우 상대 위치를 기록"), 6, 0, 1,
                    3);
    grid->addWidget(Check(options, IdNormalized, "화면 해상도와 무관하게 마우스 위치 기록"), 7, 0, 1, 3);
    grid->addWidget(Check(options, IdButtonPosition, "위치 포함"), 8, 0, 1, 3);
    grid->setColumnStretch(2, 1);

    list_ = SetControlId(new QListWidget(this), IdList);
    list_->setAccessibleName(Utf8("매크로 항목"));
    list_->setSelectionMode(QAbstractItemView::SingleSelection);

    summary_ = SetControlId(new QLabel(this), IdSummary);
    auto* summaryRow = new QHBoxLayout;
    summaryRow->addWidget(summary_, 1);
    summaryRow->addWidget(Button(this, IdCondition, "시작/중지 조건"));

    QLineEdit* repeat = NumberEdit(this, IdRepeat, Utf8("매크로 반복 실행 횟수:"));
    auto* repeatRow = new QHBoxLayout;
    repeatRow->addWidget(LabelFor(this, repeat, "매크로 반복 실행 횟수:"));
    repeatRow->addWidget(repeat);
    repeatRow->addWidget(Text(this, "회 (0이면 무한 반복)"));
    repeatRow->addStretch(1);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(help);
    layout->addWidget(record_);
    layout->addWidget(options);
    layout->addWidget(list_, 1);
    layout->addLayout(summaryRow);
    layout->addLayout(repeatRow);
    layout->addLayout(OkCancelRow(this));

    displayTimer_ = new QTimer(this);
    displayTimer_->setObjectName(QStringLiteral("displayTimer"));
    displayTimer_->setInterval(kDisplayPeriodMs);
}

void CDialogMacroRec::ConnectCommands() {
    connect(record_, &QPushButton::clicked, this, &CDialogMacroRec::OnRecordButton);
    for (const OptionBox& box : kOptionBoxes) {
        connect(FindControl<QCheckBox>(this, box.id), &QCheckBox::clicked, this, [this, bit = box.bit](bool on) {
            model_->ClickOption(bit, on);
            ShowRecordingState();
        });
    }
    // textChanged, not textEdited: text set by assistive technology must reach the model too.
    connect(FindControl<QLineEdit>(this, IdDistance), &QLineEdit::textChanged, this,
            [this](const QString& text) { model_->SetDistanceText(ToCp949(text)); });
    connect(FindControl<QLineEdit>(this, IdPause), &QLineEdit::textChanged, this,
            [this](const QString& text) { model_->SetPauseText(ToCp949(text)); });
    connect(FindControl<QLineEdit>(this, IdRepeat), &QLineEdit::textChanged, this,
            [this](const QString& text) { model_->SetRepeatText(ToCp949(text)); });
    connect(FindControl<QPushButton>(this, IdCondition), &QPushButton::clicked, this, &CDialogMacroRec::OnCondition);
    connect(displayTimer_, &QTimer::timeout, this, &CDialogMacroRec::OnDisplayTimer);
}

void CDialogMacroRec::ShowRecordingState() {
    {
        const QSignalBlocker quiet(record_);
        record_->setChecked(model_->recording());
    }
    record_->setText(FromCp949(model_->RecordButtonCaption()));
    record_->setAccessibleName(record_->text());
    for (const OptionBox& box : kOptionBoxes) {
        auto* check = FindControl<QCheckBox>(this, box.id);
        const QSignalBlocker quiet(check);
        check->setChecked(model_->OptionChecked(box.bit));
        check->setEnabled(model_->OptionEnabled(box.bit));
    }
    for (int id : {IdDistance, IdPause, IdRepeat}) FindControl<QWidget>(this, id)->setEnabled(model_->FieldsEnabled());
}

void CDialogMacroRec::OnDisplayTimer() {
    std::optional<RecorderDialogModel::DisplayUpdate> u = model_->TakeDisplayUpdate();
    if (!u) return;
    while (list_->count() > u->keepLines) delete list_->takeItem(list_->count() - 1);
    for (const std::string& line : u->newLines) list_->addItem(FromCp949(line));
    list_->setCurrentRow(u->selectLine, QItemSelectionModel::ClearAndSelect);
    list_->scrollToItem(list_->currentItem());
    summary_->setText(FromCp949(u->summary));
}

void CDialogMacroRec::OnRecordButton(bool on) {
    model_->ToggleRecording(on);
    list_->setFocus();
}

void CDialogMacroRec::OnCondition() {
    // The condition dialog takes the live input while it is open; the recorder gets it back afterwards.
    CDialogMacroStart dialog(session_, macro_, this);
    dialog.exec();
}

void CDialogMacroRec::accept() {
    model_->Ok();
    displayTimer_->stop();
    QDialog::accept();
}

void CDialogMacroRec::reject() {
    model_->Cancel();
    displayTimer_->stop();
    QDialog::reject();
}

} // namespace quillet::gui
