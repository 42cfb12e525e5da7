#include "gui/editors/condition_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "gui/editors/delay_dialog.h"
#include "gui/editors/item_dialog_controls.h"
#include "gui/message_box.h"
#include "gui/resources.h"
#include "gui/text.h"
#include "gui/widgets/tab_dialog.h"

namespace quillet::gui {

using namespace item_dialog;

namespace {

// Both sides of the hotkey and colour pages have controls of the same caption; the description tells them apart.
template <class W> W* OfSide(W* widget, bool start, const char* startUtf8, const char* stopUtf8) {
    widget->setAccessibleDescription(Utf8(start ? startUtf8 : stopUtf8));
    return widget;
}

QWidget* Fixed(QWidget* w, int width) {
    w->setMaximumWidth(width);
    return w;
}

// A text field that writes what the person types into the model's field.
void BindText(QLineEdit* edit, std::string& field) {
    edit->setText(FromCp949(field));
    QObject::connect(edit, &QLineEdit::textChanged, edit, [&field](const QString& t) { field = ToCp949(t); });
}

void BindCheck(QAbstractButton* box, bool& field) {
    box->setChecked(field);
    QObject::connect(box, &QAbstractButton::toggled, box, [&field](bool on) { field = on; });
}

// A capture hint: which key fills which fields.
QLabel* Hint(QWidget* parent, int id, const std::string& cp949) {
    auto* label = SetControlId(new QLabel(FromCp949(cp949), parent), id);
    label->setWordWrap(true);
    label->setAccessibleName(label->text());
    return label;
}

} // namespace

// --- Hotkey page (143) ---------------------------------------------------------------------------------------------

CDialogMacroStartKey::CDialogMacroStartKey(ConditionDialogModel& model, QWidget* parent)
    : CDialogCommon(parent), model_(model) {
    setObjectName(QStringLiteral("143"));
    auto* autoStart = Check(this, IdAutoStart, "\"매크로 실행 가능\"이 선택될 때 이 매크로 자동시작");
    BindCheck(autoStart, model_.hotkeys.autoStart);
    BuildSide(start_, model_.hotkeys.start, true);
    BuildSide(stop_, model_.hotkeys.stop, false);

    captureTimer_ = new QTimer(this);
    captureTimer_->setObjectName(QStringLiteral("captureTimer"));
    captureTimer_->setSingleShot(true);
    captureTimer_->setInterval(kCaptureDelayMs);
    connect(captureTimer_, &QTimer::timeout, this, &CDialogMacroStartKey::OnCaptureTimer);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(autoStart);
    layout->addSpacing(8);
    layout->addWidget(Text(this, "매크로 시작/중지에 단축키 사용"));
    for (const SideControls* c : {&start_, &stop_}) {
        auto* keyRow = new QHBoxLayout;
        keyRow->addWidget(c->on);
        keyRow->addWidget(c->key, 1);
        keyRow->addWidget(c->press);
        auto* modifierRow = new QHBoxLayout;
        modifierRow->addSpacing(20);
        modifierRow->addWidget(c->modifiers);
        modifierRow->addWidget(c->ctrl);
        modifierRow->addWidget(c->alt);
        modifierRow->addWidget(c->shift);
        modifierRow->addStretch(1);
        layout->addLayout(keyRow);
        layout->addLayout(modifierRow);
    }
    layout->addStretch(1);
    ApplyEnableRules();
}

void CDialogMacroStartKey::BuildSide(SideControls& c, HotkeyPageModel::Side& side, bool start) {
    const auto ofSide = [start](auto* w) { return OfSide(w, start, "시작 단축키", "중지 단축키"); };
    c.on = Check(this, start ? IdStartOn : IdStopOn, start ? "시작 단축키:" : "중지 단축키:");
    c.key = DropDown(this, start ? IdStartKey : IdStopKey, c.on->text());
    FillKeyCombo(c.key, -1);
    c.key->setCurrentIndex(side.keyIndex); // before the list is tied to the model
    c.press = ofSide(SetControlId(new QPushButton(this), start ? IdStartPress : IdStopPress));
    c.press->setCheckable(true);
    c.press->setAutoDefault(false);
    c.press->setChecked(side.onPress);
    c.press->setText(FromCp949(side.PressCaption()));
    c.press->setAccessibleName(c.press->text());
    c.modifiers = ofSide(Check(this, start ? IdStartModifiers : IdStopModifiers, "Modifier Key:"));
    c.ctrl = ofSide(Check(this, start ? IdStartCtrl : IdStopCtrl, "Ctrl"));
    c.alt = ofSide(Check(this, start ? IdStartAlt : IdStopAlt, "Alt"));
    c.shift = ofSide(Check(this, start ? IdStartShift : IdStopShift, "Shift"));

    BindCheck(c.ctrl, side.ctrl);
    BindCheck(c.alt, side.alt);
    BindCheck(c.shift, side.shift);
    c.on->setChecked(side.on);
    c.modifiers->setChecked(side.modifiers);
    connect(c.on, &QCheckBox::toggled, this, [this, &side](bool on) {
        side.on = on;
        ApplyEnableRules();
    });
    connect(c.modifiers, &QCheckBox::toggled, this, [this, &side](bool on) {
        side.modifiers = on;
        ApplyEnableRules();
    });
    connect(c.key, &QComboBox::currentIndexChanged, this, [&side](int row) { side.keyIndex = row; });
    // The release bit goes into the macro at once; Cancel does not take it back.
    connect(c.press, &QPushButton::toggled, this, [this, &side, start, button = c.press](bool pressedIn) {
        if (start) {
            model_.SetStartOnPress(pressedIn);
        } else {
            model_.SetStopOnPress(pressedIn);
        }
        button->setText(FromCp949(side.PressCaption()));
        button->setAccessibleName(button->text());
    });
}

void CDialogMacroStartKey::ApplyEnableRules() {
    const std::pair<const SideControls*, const HotkeyPageModel::Side*> sides[] = {{&start_, &model_.hotkeys.start},
                                                                                  {&stop_, &model_.hotkeys.stop}};
    for (const auto& [c, side] : sides) {
        for (QWidget* w :
             {static_cast<QWidget*>(c->key), static_cast<QWidget*>(c->press), static_cast<QWidget*>(c->modifiers)})
            w->setEnabled(side->keyEnabled());
        for (QWidget* w : {c->ctrl, c->alt, c->shift}) w->setEnabled(side->modifierBoxesEnabled());
    }
}

void CDialogMacroStartKey::OnKeyInput(int code, bool isPress) {
    if (code == 0 || !isPress) return;
    for (SideControls* c : {&start_, &stop_}) {
        if (!IsChoosingIn(c->key)) continue;
        c->captured = code;
        captureTimer_->start();
    }
}

void CDialogMacroStartKey::OnCaptureTimer() {
    // The list itself may have reacted to the key already (typing a letter searches it); the captured code wins,
    // but only while the person is still choosing in that list.
    for (SideControls* c : {&start_, &stop_}) {
        if (c->captured >= 0 && IsChoosingIn(c->key))
            SelectCapturedRow(c->key, ConditionDialogModel::KeyRowFor(c->captured));
        c->captured = -1;
    }
    captureTimer_->stop();
}

// --- Time page (144) -----------------------------------------------------------------------------------------------

CDialogMacroStartTime::CDialogMacroStartTime(ConditionDialogModel& model, QWidget* parent)
    : CDialogCommon(parent), model_(model) {
    setObjectName(QStringLiteral("144"));
    auto* on = Check(this, IdOn, "매크로 시작/중지에 시간 사용");
    on->setChecked(model_.times.on);
    connect(on, &QCheckBox::toggled, this, [this](bool checked) {
        model_.times.on = checked;
        ApplyEnableRules();
    });

    TimePageModel& t = model_.times;
    int* const rows[6] = {&t.startHour, &t.startMinute, &t.startSecond, &t.stopHour, &t.stopMinute, &t.stopSecond};
    const int ids[6] = {IdStartHour, IdStartMinute, IdStartSecond, IdStopHour, IdStopMinute, IdStopSecond};
    const char* const units[3] = {"시", "분", "초"};
    const int counts[3] = {24, 60, 60};
    auto* grid = new QGridLayout;
    for (int i = 0; i < 6; ++i) {
        const bool start = i < 3;
        QComboBox* list = DropDown(this, ids[i], Utf8(units[i % 3]));
        OfSide(list, start, "시작 시각:", "중지 시각:");
        FillNumberCombo(list, counts[i % 3], *rows[i]);
        connect(list, &QComboBox::currentIndexChanged, this, [row = rows[i]](int r) { *row = r; });
        lists_[i] = list;
        const int line = start ? 0 : 1;
        if (i % 3 == 0) grid->addWidget(LabelFor(this, list, start ? "시작 시각:" : "중지 시각:"), line, 0);
        grid->addWidget(list, line, 1 + (i % 3) * 2);
        grid->addWidget(Text(this, units[i % 3]), line, 2 + (i % 3) * 2);
    }
    grid->setColumnStretch(7, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(on);
    layout->addSpacing(8);
    layout->addLayout(grid);
    layout->addStretch(1);
    ApplyEnableRules();
}

void CDialogMacroStartTime::ApplyEnableRules() {
    for (QComboBox* list : lists_) list->setEnabled(model_.times.on);
}

// --- Colour page (147) ---------------------------------------------------------------------------------------------

CDialogMacroStartColor::CDialogMacroStartColor(ConditionDialogModel& model, QWidget* parent)
    : CDialogCommon(parent), model_(model) {
    setObjectName(QStringLiteral("147"));
    auto* onChange = Check(this, IdOnChange, "바뀔 때 한 번만 적용");
    BindCheck(onChange, model_.colors.onChange);
    BuildSide(start_, model_.colors.start, true);
    BuildSide(stop_, model_.colors.stop, false);
    auto* tolerance = Edit(this, IdTolerance, Utf8("R, G, B 허용 편차:"));
    BindText(tolerance, model_.colors.tolerance);

    auto* layout = new QVBoxLayout(this);
    auto* titleRow = new QHBoxLayout;
    titleRow->addWidget(Text(this, "매크로 시작/중지에 화면 색인식 사용"));
    titleRow->addStretch(1);
    titleRow->addWidget(onChange);
    layout->addLayout(titleRow);
    for (const SideControls* c : {&start_, &stop_}) {
        auto* colorRow = new QHBoxLayout;
        colorRow->addWidget(c->on);
        colorRow->addWidget(LabelFor(this, c->red, "R:"));
        colorRow->addWidget(Fixed(c->red, 48));
        colorRow->addWidget(LabelFor(this, c->green, "G:"));
        colorRow->addWidget(Fixed(c->green, 48));
        colorRow->addWidget(LabelFor(this, c->blue, "B:"));
        colorRow->addWidget(Fixed(c->blue, 48));
        colorRow->addWidget(c->choose);
        colorRow->addStretch(1);
        auto* positionRow = new QHBoxLayout;
        positionRow->addSpacing(20);
        positionRow->addWidget(Text(this, "화면 위치"));
        positionRow->addWidget(LabelFor(this, c->x, "X:"));
        positionRow->addWidget(Fixed(c->x, 64));
        positionRow->addWidget(LabelFor(this, c->y, "Y:"));
        positionRow->addWidget(Fixed(c->y, 64));
        positionRow->addStretch(1);
        auto* rows = new QVBoxLayout;
        rows->addLayout(colorRow);
        rows->addLayout(positionRow);
        auto* side = new QHBoxLayout;
        side->addLayout(rows, 1);
        side->addWidget(c->swatch);
        layout->addLayout(side);
    }
    auto* toleranceRow = new QHBoxLayout;
    toleranceRow->addWidget(LabelFor(this, tolerance, "R, G, B 허용 편차:"));
    toleranceRow->addWidget(Fixed(tolerance, 48));
    toleranceRow->addStretch(1);
    layout->addLayout(toleranceRow);
    layout->addWidget(Hint(this, IdStartHint, model_.ColorStartHint()));
    layout->addWidget(Hint(this, IdStopHint, model_.ColorStopHint()));
    layout->addStretch(1);
    ApplyEnableRules();
}

void CDialogMacroStartColor::BuildSide(SideControls& c, ColorPageModel::Side& side, bool start) {
    const auto ofSide = [start](auto* w) { return OfSide(w, start, "시작 색", "중지 색"); };
    c.on = Check(this, start ? IdStartOn : IdStopOn, start ? "시작 색" : "중지 색");
    c.red = ofSide(Edit(this, start ? IdStartRed : IdStopRed, QStringLiteral("R:")));
    c.green = ofSide(Edit(this, start ? IdStartGreen : IdStopGreen, QStringLiteral("G:")));
    c.blue = ofSide(Edit(this, start ? IdStartBlue : IdStopBlue, QStringLiteral("B:")));
    c.choose = ofSide(Button(this, start ? IdStartChoose : IdStopChoose, "..."));
    c.choose->setAutoDefault(false);
    c.choose->setMaximumWidth(40);
    c.x = ofSide(Edit(this, start ? IdStartX : IdStopX, QStringLiteral("X:")));
    c.y = ofSide(Edit(this, start ? IdStartY : IdStopY, QStringLiteral("Y:")));
    c.swatch = SetControlId(new CColorSwatch(this), start ? IdStartSwatch : IdStopSwatch);
    c.swatch->setAccessibleName(Utf8(start ? "시작 색 미리보기" : "중지 색 미리보기"));
    c.swatch->setMinimumSize(40, 40);

    c.on->setChecked(side.on);
    connect(c.on, &QCheckBox::toggled, this, [this, &side](bool on) {
        side.on = on;
        ApplyEnableRules();
    });
    BindText(c.x, side.x);
    BindText(c.y, side.y);
    // Every change of a colour field repaints the swatch, whatever is typed (out of range, not a number).
    const std::pair<QLineEdit*, std::string*> channels[] = {
        {c.red, &side.red}, {c.green, &side.green}, {c.blue, &side.blue}};
    for (const auto& [edit, field] : channels) {
        edit->setText(FromCp949(*field));
        connect(edit, &QLineEdit::textChanged, this, [&side, field = field, swatch = c.swatch](const QString& t) {
            *field = ToCp949(t);
            swatch->SetColor(side.Swatch());
        });
    }
    c.swatch->SetColor(side.Swatch());
    connect(c.choose, &QPushButton::clicked, this, [this, start] { OnChooseColor(start); });
}

void CDialogMacroStartColor::ApplyEnableRules() {
    const std::pair<const SideControls*, bool> sides[] = {{&start_, model_.colors.start.on},
                                                          {&stop_, model_.colors.stop.on}};
    for (const auto& [c, on] : sides)
        for (QWidget* w :
             {static_cast<QWidget*>(c->red), static_cast<QWidget*>(c->green), static_cast<QWidget*>(c->blue),
              static_cast<QWidget*>(c->x), static_cast<QWidget*>(c->y), static_cast<QWidget*>(c->choose)})
            w->setEnabled(on);
}

void CDialogMacroStartColor::ShowSide(const SideControls& c, const ColorPageModel::Side& side) {
    // Each field written here writes the same text back into the model and repaints the swatch.
    SetFieldText(c.red, FromCp949(side.red));
    SetFieldText(c.green, FromCp949(side.green));
    SetFieldText(c.blue, FromCp949(side.blue));
    SetFieldText(c.x, FromCp949(side.x));
    SetFieldText(c.y, FromCp949(side.y));
    c.swatch->SetColor(side.Swatch());
}

void CDialogMacroStartColor::ShowFields() {
    ShowSide(start_, model_.colors.start);
    ShowSide(stop_, model_.colors.stop);
}

void CDialogMacroStartColor::OnChooseColor(bool start) {
    ColorPageModel::Side& side = start ? model_.colors.start : model_.colors.stop;
    if (const std::optional<uint32_t> chosen = AskColor({this, side.Swatch()})) {
        side.SetColor(*chosen & 0xFFFFFF);
        ShowSide(start ? start_ : stop_, side);
    }
}

// --- The dialog (140) ----------------------------------------------------------------------------------------------

std::array<QIcon, ConditionDialogModel::PageCount> CDialogMacroStart::TabIcons() {
    InitGuiResources();
    // Four 16 x 16 symbols side by side; the picture carries its own transparency.
    const QPixmap strip(QStringLiteral(":/bitmaps/135.png"));
    std::array<QIcon, ConditionDialogModel::PageCount> icons;
    for (int i = 0; i < ConditionDialogModel::PageCount; ++i)
        icons[static_cast<std::size_t>(i)] = QIcon(strip.copy(i * 16, 0, 16, 16));
    return icons;
}

CDialogMacroStart::CDialogMacroStart(Session& session, Macro& macro, QWidget* parent)
    : CDialogCommon(parent), session_(session), model_(macro, session.settings()) {
    setObjectName(QStringLiteral("140"));
    setWindowTitle(Utf8("매크로 시작/중지 조건 설정"));

    tab_ = SetControlId(new CTabDialog(this), IdTab);
    tab_->setAccessibleName(Utf8("시작/중지 조건"));
    const auto icons = TabIcons();
    auto keyPage = std::make_unique<CDialogMacroStartKey>(model_);
    auto timePage = std::make_unique<CDialogMacroStartTime>(model_);
    auto colorPage = std::make_unique<CDialogMacroStartColor>(model_);
    auto patternPage = std::make_unique<CDialogMacroStartPattern>(model_);
    keyPage_ = keyPage.get();
    timePage_ = timePage.get();
    colorPage_ = colorPage.get();
    patternPage_ = patternPage.get();
    tab_->AddPage(Utf8("단축키"), std::move(keyPage), icons[ConditionDialogModel::Hotkeys]);
    tab_->AddPage(Utf8("시간"), std::move(timePage), icons[ConditionDialogModel::Times]);
    tab_->AddPage(Utf8("색인식"), std::move(colorPage), icons[ConditionDialogModel::Colors]);
    tab_->AddPage(Utf8("이미지"), std::move(patternPage), icons[ConditionDialogModel::Images]);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tab_, 1);
    layout->addLayout(OkCancelRow(this));
    setMinimumSize(440, 360);

    tab_->ShowPage(model_.InitialPage());

    // Key and button events of the desktop come here while the dialog exists, for the captures.
    capture_ = std::make_unique<ConditionCapture>(static_cast<ConditionInputConsumer&>(*this));
    inputRegistration_ = std::make_unique<ScopedInputConsumer>(session_.router(), *capture_);
}

CDialogMacroStart::~CDialogMacroStart() {
    inputRegistration_.reset();
    capture_.reset();
}

void CDialogMacroStart::OnConditionInputEvent(int code, bool isPress, bool fromKeyboard) {
    // Only the page shown reacts.
    const int visible = tab_->currentPage();
    if (visible == ConditionDialogModel::Hotkeys && fromKeyboard) {
        keyPage_->OnKeyInput(code, isPress);
        return;
    }
    if (!model_.OnInput(code, isPress, visible, session_.platform().io, session_.platform().screen)) return;
    if (visible == ConditionDialogModel::Colors) colorPage_->ShowFields();
    if (visible == ConditionDialogModel::Images) patternPage_->ShowFields();
}

void CDialogMacroStart::accept() {
    model_.Accept();
    CDialogCommon::accept();
}

void CDialogMacroStart::done(int result) {
    keyPage_->captureTimer()->stop();
    model_.Closing(tab_->currentPage());
    CDialogCommon::done(result);
}

} // namespace quillet::gui
