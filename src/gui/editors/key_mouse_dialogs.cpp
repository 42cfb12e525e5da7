#include "gui/editors/key_mouse_dialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QTimer>
#include <QVBoxLayout>

#include "gui/editors/item_dialog_controls.h"
#include "gui/text.h"
#include "model/key_table.h"

namespace quillet::gui {

using namespace item_dialog;

namespace {

// A radio that sets the model's action while it is the checked one.
void BindAction(QRadioButton* radio, int& action, int value) {
    radio->setChecked(action == value);
    QObject::connect(radio, &QRadioButton::toggled, radio, [&action, value](bool on) {
        if (on) action = value;
    });
}

QString Number(int32_t v) {
    return QString::number(v);
}

} // namespace

// --- Keyboard (129) -------------------------------------------------------------------------------------------------

CDialogKeyboard::CDialogKeyboard(MacroItem& item, ItemDialogMemory& memory, const CAppIni& settings, Session& session,
                                 QWidget* parent)
    : CDialogCommon(parent), model_(item, memory, settings) {
    setObjectName(QStringLiteral("129"));
    setWindowTitle(FromCp949(model_.Caption()));
    BuildControls();

    captureTimer_ = new QTimer(this);
    captureTimer_->setObjectName(QStringLiteral("captureTimer"));
    captureTimer_->setSingleShot(true);
    captureTimer_->setInterval(kCaptureDelayMs);
    connect(captureTimer_, &QTimer::timeout, this, &CDialogKeyboard::OnCaptureTimer);

    // Every key pressed on the desktop comes here while the dialog exists.
    capture_ = std::make_unique<KeyItemCapture>(static_cast<KeyItemInputConsumer&>(*this));
    inputRegistration_ = std::make_unique<ScopedInputConsumer>(session.router(), *capture_);

    keys_->setFocus();
}

CDialogKeyboard::~CDialogKeyboard() {
    inputRegistration_.reset();
    capture_.reset();
}

void CDialogKeyboard::BuildControls() {
    keys_ = DropDown(this, IdKey, Utf8("추가할 키보드 키를 누르거나 선택하세요."));
    // The list shows the key alone: a recorded key's scan code is not part of its row.
    FillKeyCombo(keys_, KeyCodeAt(model_.keyIndex));
    connect(keys_, &QComboBox::currentIndexChanged, this, [this](int index) { model_.keyIndex = index; });

    auto* pressRelease = Radio(this, IdPressRelease, "누르고 떼기");
    auto* press = Radio(this, IdPress, "누르기");
    auto* release = Radio(this, IdRelease, "떼기");
    BindAction(pressRelease, model_.action, kActionClick);
    BindAction(press, model_.action, kActionPress);
    BindAction(release, model_.action, kActionRelease);

    // Disabled without the input-method option, but still showing (and keeping) the item's bit.
    auto* hangul = Check(this, IdHangul, "한글입력상태");
    hangul->setChecked(model_.hangul);
    hangul->setEnabled(model_.hangulEnabled());
    connect(hangul, &QCheckBox::toggled, this, [this](bool on) { model_.hangul = on; });

    auto* actions = new QHBoxLayout;
    actions->addWidget(pressRelease);
    actions->addWidget(press);
    actions->addWidget(release);
    actions->addStretch(1);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(LabelFor(this, keys_, "추가할 키보드 키를 누르거나 선택하세요."));
    layout->addWidget(keys_);
    layout->addLayout(actions);
    layout->addWidget(hangul);
    layout->addWidget(Text(this,
                           "이 항목을 선택하면 키가 IME의 한글 자판 배열에 따라 한글로 입력됩니다. 이 기능은 설정에서 "
                           "\"매크로 실행시 IME의 한/영 전환 상태 감지\"를 선택해야 동작합니다.",
                           true));
    layout->addLayout(OkCancelRow(this));
    setMinimumWidth(360);
}

void CDialogKeyboard::OnCapturedKey(int code) {
    capturedKey_ = code;
    captureTimer_->start();
}

void CDialogKeyboard::OnCaptureTimer() {
    // Only while the person is choosing a key: a key typed into another control is not taken.
    if (!IsChoosingIn(keys_)) return;
    model_.CaptureKey(capturedKey_);
    const QSignalBlocker blocker(keys_);
    SelectCapturedRow(keys_, model_.keyIndex);
}

void CDialogKeyboard::accept() {
    captureTimer_->stop();
    model_.Accept();
    CDialogCommon::accept();
}

// --- Mouse (131) ----------------------------------------------------------------------------------------------------

CDialogMouse::CDialogMouse(MacroItem& item, ItemDialogMemory& memory, const CAppIni& settings, Session& session,
                           QWidget* parent)
    : QDialog(parent), model_(item, memory, settings) {
    setObjectName(QStringLiteral("131"));
    setWindowTitle(FromCp949(model_.Caption()));
    BuildControls();
    ConnectControls();
    ShowAbsolute();

    // Every mouse event of the desktop refreshes the live position while the dialog exists.
    capture_ = std::make_unique<MouseItemCapture>(static_cast<MouseItemInputConsumer&>(*this), session.platform().io);
    inputRegistration_ = std::make_unique<ScopedInputConsumer>(session.router(), *capture_);
}

CDialogMouse::~CDialogMouse() {
    inputRegistration_.reset();
    capture_.reset();
}

void CDialogMouse::BuildControls() {
    auto* hint = SetControlId(new QLabel(FromCp949(model_.CaptureHint()), this), IdCaptureHint);
    hint->setAccessibleName(hint->text());

    const QString live = Utf8("현재 커서 위치:");
    liveX_ = Edit(this, IdLiveX, live + QStringLiteral(" X"));
    liveY_ = Edit(this, IdLiveY, live + QStringLiteral(" Y"));
    liveX_->setReadOnly(true);
    liveY_->setReadOnly(true);

    position_ = SetControlId(new QCheckBox(this), IdPosition);
    position_->setChecked(model_.position);
    x_ = Edit(this, IdX, QString());
    y_ = Edit(this, IdY, QString());
    x_->setText(FromCp949(model_.x));
    y_->setText(FromCp949(model_.y));

    wheel_ = Check(this, IdWheel, "휠 굴리기:");
    wheel_->setChecked(model_.wheel);
    wheelAmount_ = Edit(this, IdWheelAmount, wheel_->text());
    wheelAmount_->setText(FromCp949(model_.wheelAmount));

    button_ = DropDown(this, IdButton, Utf8("마우스 버튼:"));
    for (const char* name : {"(선택안함)", "왼쪽 버튼", "오른쪽 버튼", "중앙 버튼", "X1 버튼", "X2 버튼"})
        button_->addItem(Utf8(name));
    button_->setCurrentIndex(model_.button);

    auto* click = Radio(this, IdClick, "클릭");
    auto* press = Radio(this, IdPress, "누르기");
    auto* release = Radio(this, IdRelease, "떼기");
    BindAction(click, model_.action, kActionClick);
    BindAction(press, model_.action, kActionPress);
    BindAction(release, model_.action, kActionRelease);

    absolute_ = Check(this, IdAbsolute, "마우스의 절대 위치를 기록");
    absolute_->setChecked(model_.absolute);
    normalized_ = Check(this, IdNormalized, "화면 해상도와 무관하게 마우스 위치 기록");
    normalized_->setChecked(model_.normalized);

    auto* fields = new QGridLayout;
    fields->addWidget(LabelFor(this, liveX_, "현재 커서 위치:"), 0, 0);
    fields->addWidget(liveX_, 0, 1);
    fields->addWidget(liveY_, 0, 2);
    fields->addWidget(position_, 1, 0);
    fields->addWidget(x_, 1, 1);
    fields->addWidget(y_, 1, 2);
    fields->addWidget(wheel_, 2, 0);
    fields->addWidget(wheelAmount_, 2, 1);
    fields->addWidget(LabelFor(this, button_, "마우스 버튼:"), 3, 0);
    fields->addWidget(button_, 3, 1, 1, 2);
    auto* actions = new QHBoxLayout;
    actions->addWidget(click);
    actions->addWidget(press);
    actions->addWidget(release);
    actions->addStretch(1);
    fields->addLayout(actions, 4, 1, 1, 2);
    fields->setColumnStretch(1, 1);
    fields->setColumnStretch(2, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Text(this, "마우스 커서 위치와 버튼 상태를 추가하세요."));
    layout->addWidget(hint);
    layout->addWidget(Text(this, "(주의: 휠과 X1,X2버튼을 같이 사용할 수 없음)"));
    layout->addLayout(fields);
    layout->addWidget(absolute_);
    layout->addWidget(normalized_);
    layout->addWidget(Text(this, "* 절대위치: 30000, 30000 설정시 매크로 시작할 때의 마우스 위치가 적용됩니다.", true));
    layout->addWidget(Text(this, "* 절대위치: 40000, 40000 설정시 이미지의 중앙으로 마우스 위치가 적용됩니다.", true));
    layout->addLayout(OkCancelRow(this));
    setMinimumWidth(400);
}

void CDialogMouse::ConnectControls() {
    connect(position_, &QCheckBox::toggled, this, [this](bool on) { model_.position = on; });
    connect(x_, &QLineEdit::textChanged, this, [this](const QString& t) { model_.x = ToCp949(t); });
    connect(y_, &QLineEdit::textChanged, this, [this](const QString& t) { model_.y = ToCp949(t); });
    connect(wheel_, &QCheckBox::toggled, this, [this](bool on) { model_.wheel = on; });
    connect(wheelAmount_, &QLineEdit::textChanged, this, [this](const QString& t) { model_.wheelAmount = ToCp949(t); });
    connect(button_, &QComboBox::currentIndexChanged, this, [this](int index) { model_.button = index; });
    connect(absolute_, &QCheckBox::toggled, this, [this](bool on) {
        model_.SetAbsolute(on);
        ShowAbsolute();
    });
    connect(normalized_, &QCheckBox::toggled, this, [this](bool on) { model_.normalized = on; });
}

void CDialogMouse::ShowAbsolute() {
    const QString caption = FromCp949(model_.PositionCaption());
    position_->setText(caption);
    position_->setAccessibleName(caption);
    x_->setAccessibleName(caption + QStringLiteral(" X"));
    y_->setAccessibleName(caption + QStringLiteral(" Y"));
    // A relative position never carries the resolution-independent bit.
    const QSignalBlocker blocker(normalized_);
    normalized_->setChecked(model_.normalized);
    normalized_->setEnabled(model_.normalizedEnabled());
}

bool CDialogMouse::NormalizedPositionChecked() const {
    return normalized_->isChecked();
}

void CDialogMouse::OnLivePosition(int32_t x, int32_t y) {
    liveX_->setText(Number(x));
    liveY_->setText(Number(y));
}

bool CDialogMouse::AbsoluteChecked() const {
    return absolute_->isChecked();
}

Point CDialogMouse::LivePosition() const {
    return {ReadSignedField(ToCp949(liveX_->text())), ReadSignedField(ToCp949(liveY_->text()))};
}

void CDialogMouse::SetItemPosition(int32_t x, int32_t y) {
    x_->setText(Number(x));
    y_->setText(Number(y));
}

void CDialogMouse::accept() {
    if (Refused(this, model_.Accept())) return;
    QDialog::accept();
}

} // namespace quillet::gui
