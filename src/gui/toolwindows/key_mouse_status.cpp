#include "gui/toolwindows/key_mouse_status.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "gui/resources.h"
#include "gui/text.h"

namespace quillet::gui {

namespace {

const char* const kDownProperty = "down";

QLineEdit* ReadOnlyField(QWidget* parent, int id) {
    auto* edit = SetControlId(new QLineEdit(parent), id);
    edit->setReadOnly(true);
    edit->setFocusPolicy(Qt::NoFocus);
    return edit;
}

} // namespace

CDialogKeyMouseStatus::CDialogKeyMouseStatus(KeyMouseStatus& status, CAppIni& settings, QWidget* parent)
    : CDialogCommon(parent), status_(status), settings_(settings), up_(IndicatorUp()), down_(IndicatorDown()) {
    setWindowTitle(Text("키보드 키/마우스 상태표시"));

    key_ = ReadOnlyField(this, IdKey);
    ime_ = ReadOnlyField(this, IdIme);
    position_ = ReadOnlyField(this, IdPosition);

    auto* modifierRow = new QHBoxLayout;
    const std::array<std::pair<int, const char*>, 3> modifierIds{
        {{IdCtrl, "Ctrl"}, {IdAlt, "Alt"}, {IdShift, "Shift"}}};
    for (std::size_t i = 0; i < modifierIds.size(); ++i) {
        modifiers_[i] = AddIndicator(this, modifierIds[i].first);
        modifierRow->addWidget(modifiers_[i]);
        modifierRow->addWidget(new QLabel(QString::fromLatin1(modifierIds[i].second), this));
    }
    modifierRow->addStretch(1);

    auto* buttonRow = new QHBoxLayout;
    const std::array<std::pair<int, const char*>, KeyMouseStatus::ButtonCount> buttonIds{
        {{IdLeft, "Left"}, {IdMiddle, "Middle"}, {IdRight, "Right"}, {IdX1, "X1"}, {IdX2, "X2"}}};
    for (std::size_t i = 0; i < buttonIds.size(); ++i) {
        buttons_[i] = AddIndicator(this, buttonIds[i].first);
        buttonRow->addWidget(buttons_[i]);
        buttonRow->addWidget(new QLabel(QString::fromLatin1(buttonIds[i].second), this));
    }
    buttonRow->addStretch(1);

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(Text("입력 키:"), this), 0, 0);
    grid->addWidget(key_, 0, 1);
    grid->addLayout(modifierRow, 1, 1);
    grid->addWidget(new QLabel(Text("IME 한/영 키:"), this), 2, 0);
    grid->addWidget(ime_, 2, 1);
    grid->addWidget(new QLabel(Text("마우스 위치:"), this), 3, 0);
    grid->addWidget(position_, 3, 1);
    grid->addLayout(buttonRow, 4, 1);
    grid->setColumnStretch(1, 1);

    auto* ok = SetControlId(new QPushButton(Text("확인"), this), IdOk);
    auto* cancel = SetControlId(new QPushButton(Text("취소"), this), IdCancel);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(buttons);
    adjustSize();
    resize(qMax(width(), 340), height());

    status_.onChanged = [this] { Refresh(); };
    Refresh();

    MoveInsideVirtualScreen(settings_.statusSX, settings_.statusSY);

    timer_ = new QTimer(this);
    timer_->setObjectName(QStringLiteral("1000"));
    connect(timer_, &QTimer::timeout, this, &CDialogKeyMouseStatus::OnTimer);
    // The timer runs only while the window is shown: hidden, it has nothing to sample.
}

CDialogKeyMouseStatus::~CDialogKeyMouseStatus() {
    status_.onChanged = nullptr;
    const QPoint p = pos();
    settings_.statusSX = p.x();
    settings_.statusSY = p.y();
}

QLabel* CDialogKeyMouseStatus::AddIndicator(QWidget* parent, int id) {
    auto* indicator = SetControlId(new QLabel(parent), id);
    indicator->setFixedSize(13, 13);
    indicator->setProperty(kDownProperty, true); // so that the first SetIndicator draws
    SetIndicator(indicator, false);
    return indicator;
}

void CDialogKeyMouseStatus::SetIndicator(QLabel* indicator, bool down) {
    if (indicator->property(kDownProperty).toBool() == down) return;
    indicator->setProperty(kDownProperty, down);
    indicator->setPixmap(down ? down_ : up_);
}

bool CDialogKeyMouseStatus::IndicatorShowsDown(int id) const {
    const QLabel* indicator = Control<QLabel>(id);
    return indicator && indicator->property(kDownProperty).toBool();
}

void CDialogKeyMouseStatus::SetIfChanged(QLineEdit* edit, std::string& shown, const std::string& text) {
    // Compared as bytes first: this runs for every mouse movement of the desktop.
    if (shown == text) return;
    shown = text;
    edit->setText(FromCp949(text));
}

void CDialogKeyMouseStatus::Refresh() {
    SetIfChanged(key_, keyShown_, status_.keyText());
    SetIfChanged(ime_, imeShown_, status_.imeText());
    SetIfChanged(position_, positionShown_, status_.positionText());
    SetIndicator(modifiers_[0], status_.ctrlDown());
    SetIndicator(modifiers_[1], status_.altDown());
    SetIndicator(modifiers_[2], status_.shiftDown());
    for (int b = 0; b < KeyMouseStatus::ButtonCount; ++b) {
        SetIndicator(buttons_[static_cast<std::size_t>(b)], status_.buttonDown(static_cast<KeyMouseStatus::Button>(b)));
    }
}

void CDialogKeyMouseStatus::OnTimer() {
    status_.Tick(isVisible());
}

bool CDialogKeyMouseStatus::timerRunning() const {
    return timer_->isActive();
}

void CDialogKeyMouseStatus::showEvent(QShowEvent* event) {
    CDialogCommon::showEvent(event);
    if (!timer_->isActive()) timer_->start(kTimerMs);
}

void CDialogKeyMouseStatus::hideEvent(QHideEvent* event) {
    CDialogCommon::hideEvent(event);
    timer_->stop();
}

void CDialogKeyMouseStatus::done(int result) {
    setResult(result);
    hide();
}

} // namespace quillet::gui
