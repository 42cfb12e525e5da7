#include "gui/toolwindows/macro_debug.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QTimer>
#include <QVBoxLayout>

#include "gui/rules.h"
#include "gui/text.h"
#include "gui/widgets/edit_log.h"
#include "model/item_text.h"

namespace quillet::gui {

namespace {

QLineEdit* StatusField(QWidget* parent, int id) {
    auto* edit = SetControlId(new QLineEdit(parent), id);
    edit->setReadOnly(true);
    edit->setAlignment(Qt::AlignCenter);
    return edit;
}

QString FromUtf8(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

} // namespace

CDialogMacroDebug::CDialogMacroDebug(MacroLibrary& library, CAppIni& settings, QWidget* parent)
    : CDialogCommon(parent), library_(library), settings_(settings) {
    setWindowTitle(Text("매크로 실행 상태"));

    statusRadio_ = SetControlId(new QRadioButton(Text("매크로 실행 상태"), this), IdStatusPage);
    logRadio_ = SetControlId(new QRadioButton(Text("이벤트 실행 로그"), this), IdLogPage);

    statusPage_ = new QWidget(this);
    macroList_ = SetControlId(new QComboBox(statusPage_), IdMacroList);
    itemList_ = SetControlId(new QListWidget(statusPage_), IdItemList);
    itemList_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    itemList_->setSelectionMode(QAbstractItemView::SingleSelection);
    itemList_->setUniformItemSizes(true);
    runPos_ = StatusField(statusPage_, IdRunPos);
    passes_ = StatusField(statusPage_, IdPasses);
    delay_ = StatusField(statusPage_, IdDelay);

    auto* fields = new QGridLayout;
    fields->addWidget(new QLabel(Text("실행 위치:"), statusPage_), 0, 0);
    fields->addWidget(runPos_, 0, 1);
    fields->addWidget(new QLabel(Text("반복 횟수:"), statusPage_), 1, 0);
    fields->addWidget(passes_, 1, 1);
    fields->addWidget(new QLabel(Text("지연 대기:"), statusPage_), 2, 0);
    fields->addWidget(delay_, 2, 1);
    fields->addWidget(new QLabel(Text("밀리초"), statusPage_), 2, 2);
    fields->setColumnStretch(1, 1);

    auto* statusLayout = new QVBoxLayout(statusPage_);
    statusLayout->setContentsMargins(0, 0, 0, 0);
    statusLayout->addWidget(macroList_);
    statusLayout->addWidget(itemList_, 1);
    statusLayout->addLayout(fields);

    log_ = SetControlId(new CEditLogB(this), IdLog);

    auto* radios = new QHBoxLayout;
    radios->addWidget(statusRadio_);
    radios->addWidget(logRadio_);
    radios->addStretch(1);
    // Both pages cover the same area; only one of them is shown.
    auto* pages = new QGridLayout;
    pages->addWidget(statusPage_, 0, 0);
    pages->addWidget(log_, 0, 0);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(radios);
    layout->addLayout(pages, 1);
    resize(380, 420);

    connect(statusRadio_, &QRadioButton::clicked, this, [this] {
        if (statusRadio_->isChecked()) ApplyPage(false);
    });
    connect(logRadio_, &QRadioButton::clicked, this, [this] {
        if (logRadio_->isChecked()) ApplyPage(true);
    });
    connect(macroList_, &QComboBox::currentIndexChanged, this, &CDialogMacroDebug::OnMacroSelected);

    MoveInsideVirtualScreen(settings_.debugSX, settings_.debugSY);

    const bool logPage = (settings_.macroOptions & OptionLogPage) != 0;
    (logPage ? logRadio_ : statusRadio_)->setChecked(true);
    ApplyPage(logPage);

    log_->clear();
    log_->maxLines = kLogLines;
    log_->limitSet = false;

    timer_ = new QTimer(this);
    timer_->setObjectName(QStringLiteral("1000"));
    connect(timer_, &QTimer::timeout, this, &CDialogMacroDebug::OnTimer);
    // The timer runs while the window is shown, and while hidden only until the log lines that came are taken in.
}

CDialogMacroDebug::~CDialogMacroDebug() {
    const QPoint p = pos();
    settings_.debugSX = p.x();
    settings_.debugSY = p.y();
}

void CDialogMacroDebug::AppendLog(std::string_view cp949Line) {
    log_->AppendPending(FromCp949(cp949Line));
    if (!timer_->isActive()) timer_->start(kTimerMs);
}

Engine::LogSink CDialogMacroDebug::LogSink() {
    return [this](const std::string& line) { AppendLog(line); };
}

bool CDialogMacroDebug::timerRunning() const {
    return timer_->isActive();
}

bool CDialogMacroDebug::logPageShown() const {
    return !log_->isHidden();
}

void CDialogMacroDebug::ApplyPage(bool logPage) {
    if (logPage) {
        settings_.macroOptions |= OptionLogPage;
    } else {
        settings_.macroOptions &= ~OptionLogPage;
    }
    statusPage_->setVisible(!logPage);
    log_->setVisible(logPage);
}

void CDialogMacroDebug::FillMacroList() {
    {
        const QSignalBlocker blocker(macroList_);
        macroList_->setUpdatesEnabled(false);
        macroList_->clear();
        for (const Macro& m : library_) macroList_->addItem(FromCp949(m.name));
        macroList_->setCurrentIndex(library_.empty() ? -1 : 0);
        macroList_->setUpdatesEnabled(true);
    }
    OnMacroSelected(macroList_->currentIndex());
}

void CDialogMacroDebug::OnMacroSelected(int index) {
    if (index < 0 || index >= static_cast<int>(library_.size())) {
        selected_ = -1;
        return;
    }
    selected_ = index;
    itemList_->clear();
    const Macro& m = library_[static_cast<std::size_t>(index)];
    for (const MacroItem& item : m.items) itemList_->addItem(FromCp949(ItemRowText(item, settings_.macroOptions)));
    // The new list has no selection yet, whatever position the previous macro was at.
    lastShownPos_ = -1;
}

void CDialogMacroDebug::SetIfChanged(QLineEdit* edit, const QString& text) {
    if (edit->text() != text) edit->setText(text);
}

void CDialogMacroDebug::OnTimer() {
    // The library may have been emptied or replaced while a macro was selected.
    if (selected_ >= static_cast<int>(library_.size())) selected_ = -1;
    if (selected_ >= 0 && isVisible()) {
        const Macro& m = library_[static_cast<std::size_t>(selected_)];
        if (m.runPos != lastShownPos_) {
            if (m.runPos >= 0 && m.runPos < itemList_->count()) {
                itemList_->setCurrentRow(m.runPos);
                itemList_->scrollToItem(itemList_->currentItem());
            } else {
                itemList_->clearSelection();
                itemList_->setCurrentRow(-1);
            }
            lastShownPos_ = m.runPos;
        }
        const RunStatusTexts texts = RunStatusOf(m);
        SetIfChanged(runPos_, FromUtf8(texts.position));
        SetIfChanged(passes_, FromUtf8(texts.passes));
        SetIfChanged(delay_, FromUtf8(texts.delay));
    }
    log_->FlushPending();
    if (!isVisible()) timer_->stop();
}

void CDialogMacroDebug::done(int result) {
    setResult(result);
    hide();
}

void CDialogMacroDebug::keyPressEvent(QKeyEvent* event) {
    // The window has no OK button; Enter still closes it as OK would.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        done(Accepted);
        event->accept();
        return;
    }
    CDialogCommon::keyPressEvent(event);
}

void CDialogMacroDebug::showEvent(QShowEvent* event) {
    CDialogCommon::showEvent(event);
    if (!event->spontaneous()) FillMacroList();
    if (!timer_->isActive()) timer_->start(kTimerMs);
}

void CDialogMacroDebug::hideEvent(QHideEvent* event) {
    CDialogCommon::hideEvent(event);
    if (!event->spontaneous()) log_->clear();
}

} // namespace quillet::gui
