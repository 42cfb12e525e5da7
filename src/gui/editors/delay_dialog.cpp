#include "gui/editors/delay_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "gui/editors/item_dialog_controls.h"
#include "gui/message_box.h"
#include "gui/text.h"
#include "model/key_table.h"

namespace quillet::gui {

using namespace item_dialog;

// --- Swatch ---------------------------------------------------------------------------------------------------------

CColorSwatch::CColorSwatch(QWidget* parent) : QFrame(parent) {
    setFrameShape(QFrame::NoFrame);
    setMinimumSize(28, 20);
}

void CColorSwatch::SetColor(uint32_t bbggrr) {
    color_ = bbggrr;
    update();
}

void CColorSwatch::paintEvent(QPaintEvent*) {
    // A one-pixel black frame with the colour inside it, so that white or a colour close to the dialog's own
    // background still shows where the swatch is.
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    painter.fillRect(rect().adjusted(1, 1, -1, -1), ColorFromColorRef(color_));
}

// --- Dialog 130 -----------------------------------------------------------------------------------------------------

CDialogDelay::CDialogDelay(MacroItem& item, ItemDialogMemory& memory, const CAppIni& settings, Session& session,
                           QWidget* parent)
    : CDialogCommon(parent), session_(session), model_(item, memory, settings) {
    setObjectName(QStringLiteral("130"));
    setWindowTitle(FromCp949(model_.Caption()));
    BuildControls();
    ConnectControls();
    ApplyEnableRules();

    captureTimer_ = new QTimer(this);
    captureTimer_->setObjectName(QStringLiteral("captureTimer"));
    captureTimer_->setSingleShot(true);
    captureTimer_->setInterval(kCaptureDelayMs);
    connect(captureTimer_, &QTimer::timeout, this, &CDialogDelay::OnCaptureTimer);

    // Key and button events of the desktop come here while the dialog exists, for the colour capture and the key
    // wait's list.
    capture_ = std::make_unique<DelayItemCapture>(static_cast<DelayItemInputConsumer&>(*this));
    inputRegistration_ = std::make_unique<ScopedInputConsumer>(session_.router(), *capture_);
}

CDialogDelay::~CDialogDelay() {
    inputRegistration_.reset();
    capture_.reset();
}

void CDialogDelay::BuildControls() {
    // Time delay.
    auto* timeRadio = Radio(this, IdTimeRadio, "시간 지연:");
    seconds_ = Edit(this, IdSeconds, timeRadio->text());
    seconds_->setText(FromCp949(model_.seconds));
    random_ = DropDown(this, IdRandom, Utf8("랜덤 지연"));
    for (const std::string& level : DelayItemModel::RandomLevels()) random_->addItem(FromCp949(level));
    random_->setCurrentIndex(model_.randomLevel);

    // Clock.
    auto* clockRadio = Radio(this, IdClockRadio, "지연 시각:");
    hour_ = DropDown(this, IdHour, Utf8("시"));
    minute_ = DropDown(this, IdMinute, Utf8("분"));
    second_ = DropDown(this, IdSecond, Utf8("초"));
    FillNumberCombo(hour_, 24, model_.hour);
    FillNumberCombo(minute_, 60, model_.minute);
    FillNumberCombo(second_, 60, model_.second);

    // Key.
    auto* keyRadio = Radio(this, IdKeyRadio, "키 입력 대기:");
    key_ = DropDown(this, IdKey, keyRadio->text());
    FillKeyCombo(key_, KeyCodeAt(model_.keyIndex));
    onPress_ = SetControlId(new QPushButton(this), IdOnPress);
    onPress_->setCheckable(true);
    onPress_->setChecked(model_.onPress);
    onPress_->setText(FromCp949(model_.PressCaption()));
    onPress_->setAccessibleName(onPress_->text());
    modifiers_ = Check(this, IdModifiers, "Modifier Key:");
    modifiers_->setChecked(model_.modifiersRequired);
    ctrl_ = Check(this, IdCtrl, "Ctrl");
    alt_ = Check(this, IdAlt, "Alt");
    shift_ = Check(this, IdShift, "Shift");
    ctrl_->setChecked(model_.ctrl);
    alt_->setChecked(model_.alt);
    shift_->setChecked(model_.shift);

    // Colour.
    auto* colorRadio = Radio(this, IdColorRadio, "화면 색 대기:");
    red_ = Edit(this, IdRed, QStringLiteral("R:"));
    green_ = Edit(this, IdGreen, QStringLiteral("G:"));
    blue_ = Edit(this, IdBlue, QStringLiteral("B:"));
    choose_ = Button(this, IdChooseColor, "...");
    choose_->setMaximumWidth(40);
    posX_ = Edit(this, IdPosX, QStringLiteral("X:"));
    posY_ = Edit(this, IdPosY, QStringLiteral("Y:"));
    swatch_ = SetControlId(new CColorSwatch(this), IdSwatch);
    swatch_->setAccessibleName(Utf8("색 미리보기"));
    tolerance_ = Edit(this, IdTolerance, Utf8("R, G, B 허용 편차:"));
    tolerance_->setText(FromCp949(model_.tolerance));
    captureHint_ = SetControlId(new QLabel(FromCp949(model_.CaptureHint()), this), IdCaptureHint);
    captureHint_->setAccessibleName(FromCp949(model_.CaptureHint()));
    ShowColorFields();

    switch (model_.kind) {
    case DelayItemModel::Time:
        timeRadio->setChecked(true);
        break;
    case DelayItemModel::Clock:
        clockRadio->setChecked(true);
        break;
    case DelayItemModel::Key:
        keyRadio->setChecked(true);
        break;
    case DelayItemModel::Color:
        colorRadio->setChecked(true);
        break;
    default:
        break; // a kind the dialog does not know: no radio, every group off
    }
    const std::pair<QRadioButton*, DelayItemModel::Kind> radios[] = {{timeRadio, DelayItemModel::Time},
                                                                     {clockRadio, DelayItemModel::Clock},
                                                                     {keyRadio, DelayItemModel::Key},
                                                                     {colorRadio, DelayItemModel::Color}};
    for (const auto& [radio, kind] : radios)
        connect(radio, &QRadioButton::toggled, this, [this, kind = kind](bool on) {
            if (!on) return;
            model_.kind = kind;
            ApplyEnableRules();
        });

    const auto fixed = [](QWidget* w, int width) {
        w->setMaximumWidth(width);
        return w;
    };
    const auto row = [] { return new QHBoxLayout; };

    auto* timeRow = row();
    timeRow->addWidget(timeRadio);
    timeRow->addWidget(fixed(seconds_, 90));
    timeRow->addWidget(Text(this, "초"));
    timeRow->addStretch(1);
    // The words around the spread's list: Korean puts one on each side, English only one in front.
    const QString randomText = Utf8("랜덤 지연 %1 추가");
    const qsizetype slot = randomText.indexOf(QLatin1String("%1"));
    auto* randomRow = row();
    randomRow->addSpacing(20);
    auto* randomLabel = new QLabel(randomText.left(slot).trimmed(), this);
    randomLabel->setBuddy(random_);
    randomRow->addWidget(randomLabel);
    randomRow->addWidget(random_);
    if (const QString after = randomText.mid(slot + 2).trimmed(); !after.isEmpty())
        randomRow->addWidget(new QLabel(after, this));
    randomRow->addStretch(1);

    auto* clockRow = row();
    clockRow->addWidget(clockRadio);
    clockRow->addWidget(hour_);
    clockRow->addWidget(Text(this, "시"));
    clockRow->addWidget(minute_);
    clockRow->addWidget(Text(this, "분"));
    clockRow->addWidget(second_);
    clockRow->addWidget(Text(this, "초"));
    clockRow->addStretch(1);

    auto* keyRow = row();
    keyRow->addWidget(keyRadio);
    keyRow->addWidget(key_, 1);
    keyRow->addWidget(onPress_);
    auto* modifierRow = row();
    modifierRow->addSpacing(20);
    modifierRow->addWidget(modifiers_);
    modifierRow->addWidget(ctrl_);
    modifierRow->addWidget(alt_);
    modifierRow->addWidget(shift_);
    modifierRow->addStretch(1);

    auto* colorRow = row();
    colorRow->addWidget(colorRadio);
    colorRow->addWidget(LabelFor(this, red_, "R:"));
    colorRow->addWidget(fixed(red_, 48));
    colorRow->addWidget(LabelFor(this, green_, "G:"));
    colorRow->addWidget(fixed(green_, 48));
    colorRow->addWidget(LabelFor(this, blue_, "B:"));
    colorRow->addWidget(fixed(blue_, 48));
    colorRow->addWidget(choose_);
    colorRow->addWidget(swatch_);
    colorRow->addStretch(1);
    auto* positionRow = row();
    positionRow->addSpacing(20);
    positionRow->addWidget(Text(this, "화면 위치"));
    positionRow->addWidget(LabelFor(this, posX_, "X:"));
    positionRow->addWidget(fixed(posX_, 64));
    positionRow->addWidget(LabelFor(this, posY_, "Y:"));
    positionRow->addWidget(fixed(posY_, 64));
    positionRow->addStretch(1);
    auto* toleranceRow = row();
    toleranceRow->addSpacing(20);
    toleranceRow->addWidget(LabelFor(this, tolerance_, "R, G, B 허용 편차:"));
    toleranceRow->addWidget(fixed(tolerance_, 48));
    toleranceRow->addStretch(1);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(timeRow);
    layout->addWidget(Text(this, "지정된 시간동안 실행을 대기합니다. \n입력 범위는 0.001 ~ 86400 초 입니다."));
    layout->addLayout(randomRow);
    layout->addWidget(
        Text(this, "시간지연이 10초고 랜덤 지연이 30% 라면 지연은 7~13초 사이에서 임의로 선택됩니다.", true));
    layout->addSpacing(8);
    layout->addLayout(clockRow);
    layout->addWidget(Text(this, "설정한 시각에 도달할 때까지 실행을 대기합니다."));
    layout->addSpacing(8);
    layout->addLayout(keyRow);
    layout->addLayout(modifierRow);
    layout->addWidget(Text(this, "설정한 키가 눌리거나 뗄 때까지 실행을 대기합니다."));
    layout->addSpacing(8);
    layout->addLayout(colorRow);
    layout->addLayout(positionRow);
    layout->addLayout(toleranceRow);
    layout->addWidget(Text(this, "화면에서 (X, Y) 위치의 색이 (R, G, B) 값으로 바뀔 때까지 실행을 대기합니다.", true));
    layout->addWidget(captureHint_);
    layout->addLayout(OkCancelRow(this));
    setMinimumWidth(440);
}

void CDialogDelay::ConnectControls() {
    const auto text = [this](QLineEdit* edit, std::string& field) {
        connect(edit, &QLineEdit::textChanged, this, [&field](const QString& t) { field = ToCp949(t); });
    };
    const auto index = [this](QComboBox* combo, int& field) {
        connect(combo, &QComboBox::currentIndexChanged, this, [&field](int i) { field = i; });
    };
    const auto check = [this](QAbstractButton* box, bool& field) {
        connect(box, &QAbstractButton::toggled, this, [&field](bool on) { field = on; });
    };
    text(seconds_, model_.seconds);
    index(random_, model_.randomLevel);
    index(hour_, model_.hour);
    index(minute_, model_.minute);
    index(second_, model_.second);
    index(key_, model_.keyIndex);
    check(ctrl_, model_.ctrl);
    check(alt_, model_.alt);
    check(shift_, model_.shift);
    text(posX_, model_.posX);
    text(posY_, model_.posY);
    text(tolerance_, model_.tolerance);

    connect(onPress_, &QPushButton::toggled, this, [this](bool on) {
        model_.onPress = on;
        onPress_->setText(FromCp949(model_.PressCaption()));
        onPress_->setAccessibleName(onPress_->text());
    });
    connect(modifiers_, &QCheckBox::toggled, this, [this](bool on) {
        model_.modifiersRequired = on;
        ApplyEnableRules();
    });
    // Every change of a colour field repaints the swatch.
    const std::pair<QLineEdit*, std::string*> colors[] = {
        {red_, &model_.red}, {green_, &model_.green}, {blue_, &model_.blue}};
    for (const auto& [edit, field] : colors)
        connect(edit, &QLineEdit::textChanged, this, [this, field = field](const QString& t) {
            *field = ToCp949(t);
            swatch_->SetColor(model_.SwatchColor());
        });
    connect(choose_, &QPushButton::clicked, this, &CDialogDelay::OnChooseColor);
}

void CDialogDelay::ApplyEnableRules() {
    const auto enable = [](std::initializer_list<QWidget*> group, bool on) {
        for (QWidget* w : group) w->setEnabled(on);
    };
    enable({seconds_, random_}, model_.Enabled(DelayItemModel::Time));
    enable({hour_, minute_, second_}, model_.Enabled(DelayItemModel::Clock));
    enable({key_, onPress_, modifiers_}, model_.Enabled(DelayItemModel::Key));
    enable({ctrl_, alt_, shift_}, model_.modifierBoxesEnabled());
    enable({red_, green_, blue_, choose_, posX_, posY_, tolerance_, captureHint_},
           model_.Enabled(DelayItemModel::Color));
}

void CDialogDelay::ShowColorFields() {
    SetFieldText(red_, FromCp949(model_.red));
    SetFieldText(green_, FromCp949(model_.green));
    SetFieldText(blue_, FromCp949(model_.blue));
    SetFieldText(posX_, FromCp949(model_.posX));
    SetFieldText(posY_, FromCp949(model_.posY));
    swatch_->SetColor(model_.SwatchColor());
}

void CDialogDelay::OnChooseColor() {
    if (const std::optional<uint32_t> chosen = AskColor({this, model_.SwatchColor()})) {
        model_.SetColor(*chosen);
        ShowColorFields();
    }
}

void CDialogDelay::OnDelayCaptureKey(int code, bool isPress, bool fromKeyboard) {
    if (model_.Capture(code, isPress, session_.platform().io, session_.platform().screen)) {
        ShowColorFields();
        return;
    }
    // Mouse buttons and releases are never taken into the key list.
    if (fromKeyboard && isPress && code != 0 && IsChoosingIn(key_)) {
        capturedKey_ = code;
        captureTimer_->start();
    }
}

void CDialogDelay::OnCaptureTimer() {
    if (!IsChoosingIn(key_)) return;
    model_.CaptureKey(capturedKey_);
    const QSignalBlocker blocker(key_);
    SelectCapturedRow(key_, model_.keyIndex);
}

void CDialogDelay::accept() {
    if (Refused(this, model_.Accept())) return;
    CDialogCommon::accept();
}

} // namespace quillet::gui
