#include "gui/mainwindow/main_window.h"

#include <algorithm>

#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QVBoxLayout>

#include "gui/mainwindow/library_names.h"
#include "gui/mainwindow/marker_overlay.h"
#include "gui/message_box.h"
#include "gui/resources.h"
#include "gui/text.h"
#include "gui/toolwindows/key_mouse_status.h"
#include "gui/toolwindows/macro_debug.h"
#include "gui/widgets/hyperlink.h"
#include "model/key_table.h"
#include "model/library_file.h"

namespace quillet::gui {

namespace {

const char* const kFileFilter = "Macro file (*.m)|*.m|All Files(*.*)|*.*||";

QString Utf8(const char* text) {
    return QString::fromUtf8(text);
}

QString Quoted(const std::string& cp949) {
    return QStringLiteral("\"%1\"").arg(FromCp949(cp949));
}

bool IsPendingDialogButton(int id) {
    return std::find(CQuilletDlg::kPendingDialogButtons.begin(), CQuilletDlg::kPendingDialogButtons.end(), id) !=
           CQuilletDlg::kPendingDialogButtons.end();
}

} // namespace

CQuilletDlg::CQuilletDlg(platform::Platform platform, CAppIni& settings, TimerCounter& counter, VersionInfo version,
                         QWidget* parent)
    : CDialogCommon(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowMinimizeButtonHint),
      platform_(platform), settings_(settings), engine_(library_, settings, platform),
      status_(platform.io, platform.ime), router_(settings, platform.io, platform.ime),
      engineTimer_(platform.clock, counter, [this](std::function<void()> fn) { PostToThisThread(std::move(fn)); }),
      image_(engine_, settings, platform.screen, *this),
      runMode_(engine_, settings, platform.io, platform.screen, platform.clock, engineTimer_, image_, *this) {
    setObjectName(QStringLiteral("102"));
    mainIcon_ = MainIcon();
    blinkIcon_ = BlinkIcon();
    BuildControls();
    ConnectCommands();

    // Caption and icons; the window has no close box.
    setWindowIcon(mainIcon_);
    setWindowTitle(FromCp949(settings_.title));

    tray_ = new QSystemTrayIcon(mainIcon_, this);
    tray_->setToolTip(Utf8("Quillet 프로그램 - 더블클릭 하세요."));
    connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::DoubleClick) RestoreWindow();
    });
    // Without a notification area (a bare X server) the icon is not shown; nothing else depends on it.
    if (QSystemTrayIcon::isSystemTrayAvailable()) tray_->show();

    adjustSize();
    MoveInsideVirtualScreen(settings_.windowSX, settings_.windowSY);

    // The tool windows, hidden until their buttons show them.
    statusWindow_ = std::make_unique<CDialogKeyMouseStatus>(status_, settings_, this);
    router_.keyMouseStatusWindow = &status_;
    debugWindow_ = std::make_unique<CDialogMacroDebug>(library_, settings_, this);
    engine_.SetLogSink(debugWindow_->LogSink());
    overlay_ = std::make_unique<CMarkerOverlay>();

    toggleHint_->setText(ToggleHintText());
    fileName_->setText(FromCp949(settings_.macroFileName));
    version_->setText(version.productVersion);
    link_->setText(version.fileDescription);
    link_->SetURL(version.fileDescription);
    link_->setToolTip(Utf8("Quillet 프로그램 웹페이지 방문"));
    link_->setCursor(Qt::PointingHandCursor);

    LoadLibraryFile(settings_.macroFileName);
    engine_.runMode = false;
    engine_.exclusiveCount = 0;
    engine_.sequenceNumber = settings_.sequenceStart;
    engine_.lastTickTime = platform_.clock.NowMs();
    engineTimer_.SetOwner([this] { engine_.OnMacroTimer(); });

    FillEditList(settings_.macroSel);
    UpdateCount();

    router_.mainWindow = &runMode_;
    // Restores run mode when it was on at the last exit (radio 1014 from macroOptions bit 0x2).
    runMode_.Initialise();

    monitoring_ = platform_.monitor.Start([this](std::function<void()> fn) { PostToThisThread(std::move(fn)); },
                                          [this](const platform::RawInputRecord& record) { OnRawInput(record); });
    if (!monitoring_) ShowNotice(Utf8("키보드와 마우스 입력을 감시할 수 없어 단축키와 토글 키가 동작하지 않습니다."));

    StartWindowTimers();
}

CQuilletDlg::~CQuilletDlg() {
    Destroy();
}

void CQuilletDlg::PostToThisThread(std::function<void()> fn) {
    // Events posted to a window that is deleted before they run are discarded with it.
    QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection);
}

// --- Controls -------------------------------------------------------------------------------------------------------

void CQuilletDlg::BuildControls() {
    const auto button = [this](int id, const char* text) {
        auto* b = SetControlId(new QPushButton(Utf8(text), this), id);
        b->setAutoDefault(false);
        return b;
    };

    toggleHint_ = SetControlId(new QLabel(this), IdToggleHint);
    toggleHint_->setWordWrap(true);
    runRadio_ = SetControlId(new QRadioButton(Utf8("매크로 실행 가능"), this), IdRunRadio);
    editRadio_ = SetControlId(new QRadioButton(Utf8("실행 중단과 편집"), this), IdEditRadio);
    fileName_ = SetControlId(new QLineEdit(this), IdFileName);
    fileName_->setReadOnly(true);
    QPushButton* open = button(IdOpen, "...");
    open->setMaximumWidth(32);
    QPushButton* save = button(IdSave, "저장");

    editList_ = SetControlId(new QListWidget(this), IdEditList);
    editList_->setSelectionMode(QAbstractItemView::SingleSelection);
    runList_ = SetControlId(new QListWidget(this), IdRunList);
    runList_->setSelectionMode(QAbstractItemView::MultiSelection);
    runList_->setFocusPolicy(Qt::NoFocus);
    runList_->hide();

    count_ = SetControlId(new QLabel(this), IdCount);
    version_ = SetControlId(new QLabel(QStringLiteral("Version: --- (Updated: ---)"), this), IdVersion);
    link_ = SetControlId(new CHyperLink(this), IdLink);
    notice_ = new QLabel(this);
    notice_->setObjectName(QStringLiteral("notice"));
    notice_->setWordWrap(true);
    notice_->hide();

    auto* modes = new QHBoxLayout;
    modes->addWidget(runRadio_);
    modes->addWidget(editRadio_);
    modes->addStretch(1);

    auto* file = new QHBoxLayout;
    file->addWidget(fileName_, 1);
    file->addWidget(open);
    file->addWidget(save);

    auto* lists = new QGridLayout;
    lists->addWidget(editList_, 0, 0);
    lists->addWidget(runList_, 0, 0); // same place and size; one of the two is shown

    auto* side = new QVBoxLayout;
    side->addWidget(button(IdRecord, "기록"));
    side->addWidget(button(IdAdd, "추가"));
    side->addWidget(button(IdEdit, "편집"));
    side->addWidget(button(IdCopy, "복사"));
    side->addWidget(button(IdDelete, "삭제"));
    auto* moves = new QHBoxLayout;
    moves->addWidget(button(IdUp, "^"));
    moves->addWidget(button(IdDown, "v"));
    side->addLayout(moves);
    side->addStretch(1);
    side->addWidget(button(IdInputStatus, "입력상태"));
    side->addWidget(button(IdRunStatus, "실행상태"));
    side->addWidget(button(IdSettings, "설정"));
    side->addWidget(button(IdExit, "종료"));

    auto* middle = new QHBoxLayout;
    middle->addLayout(lists, 1);
    middle->addLayout(side);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(count_);
    bottom->addStretch(1);
    bottom->addWidget(version_);
    bottom->addWidget(link_);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(toggleHint_);
    layout->addLayout(modes);
    layout->addLayout(file);
    layout->addLayout(middle, 1);
    layout->addLayout(bottom);
    layout->addWidget(notice_);
    resize(420, 360);

    // The tab order of dialog 102.
    const int order[] = {IdRunRadio, IdEditRadio, IdFileName, IdOpen, IdSave,        IdEditList,
                         IdRecord,   IdAdd,       IdEdit,     IdCopy, IdDelete,      IdUp,
                         IdDown,     IdLink,      IdSettings, IdExit, IdInputStatus, IdRunStatus};
    QWidget* previous = nullptr;
    for (int id : order) {
        QWidget* w = Control(id);
        if (previous && w) setTabOrder(previous, w);
        if (w) previous = w;
    }

    // The editing commands whose dialogs do not exist yet.
    for (int id : kPendingDialogButtons) Control(id)->setEnabled(false);
}

void CQuilletDlg::ConnectCommands() {
    const auto on = [this](int id, void (CQuilletDlg::*handler)()) {
        connect(Control<QPushButton>(id), &QPushButton::clicked, this, handler);
    };
    on(IdOpen, &CQuilletDlg::OnOpen);
    on(IdSave, &CQuilletDlg::OnSave);
    on(IdExit, &CQuilletDlg::OnExit);
    on(IdCopy, &CQuilletDlg::OnCopy);
    on(IdDelete, &CQuilletDlg::OnDelete);
    on(IdUp, &CQuilletDlg::OnUp);
    on(IdDown, &CQuilletDlg::OnDown);
    on(IdInputStatus, &CQuilletDlg::OnInputStatus);
    on(IdRunStatus, &CQuilletDlg::OnRunStatus);
    connect(runRadio_, &QRadioButton::clicked, this, [this] { runMode_.OnRunRadio(); });
    connect(editRadio_, &QRadioButton::clicked, this, [this] { runMode_.OnEditRadio(); });
}

void CQuilletDlg::StartWindowTimers() {
    for (const WindowTimerSpec& timerSpec : kWindowTimers) {
        auto* timer = new QTimer(this);
        timer->setObjectName(QStringLiteral("timer%1").arg(timerSpec.id));
        timer->setTimerType(Qt::PreciseTimer);
        const int id = timerSpec.id;
        connect(timer, &QTimer::timeout, this, [this, id] { runMode_.OnWindowTimer(id); });
        timers_[id] = timer;
        timer->start(static_cast<int>(timerSpec.id == kTimerColor ? runMode_.ColorTimerPeriod() : timerSpec.periodMs));
    }
}

int CQuilletDlg::WindowTimerInterval(int id) const {
    const auto it = timers_.find(id);
    if (it == timers_.end() || !it->second->isActive()) return -1;
    return it->second->interval();
}

QString CQuilletDlg::ToggleHintText() const {
    return Utf8("%1를 눌러 \"매크로 실행 가능\"과 \"실행 중단과 편집\" 상태를 토글합니다.")
        .arg(QString::fromLatin1(KeyLongName(settings_.keyMacroRun)));
}

void CQuilletDlg::ApplySettings() {
    setWindowTitle(FromCp949(settings_.title));
    const bool onTop = (settings_.macroOptions & kOptionAlwaysOnTop) != 0;
    if (windowFlags().testFlag(Qt::WindowStaysOnTopHint) != onTop) {
        const bool wasVisible = isVisible();
        setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
        if (wasVisible) show(); // changing the flags hides a shown window
    }
    toggleHint_->setText(ToggleHintText());
}

void CQuilletDlg::ShowAtStart() {
    setWindowFlag(Qt::WindowStaysOnTopHint, (settings_.macroOptions & kOptionAlwaysOnTop) != 0);
    // Minimised, not hidden: there may be no tray icon to bring it back from.
    if ((settings_.macroOptions & kOptionStartMinimised) != 0)
        showMinimized();
    else
        show();
}

void CQuilletDlg::RestoreWindow() {
    if (isMinimized())
        showNormal();
    else
        show();
    raise();
    activateWindow();
}

void CQuilletDlg::ShowNotice(const QString& text) {
    notice_->setText(text);
    notice_->setVisible(!text.isEmpty());
}

QString CQuilletDlg::notice() const {
    return notice_->isHidden() ? QString() : notice_->text();
}

// --- Library --------------------------------------------------------------------------------------------------------

void CQuilletDlg::LoadLibraryFile(const std::string& cp949Name) {
    library_.clear();
    protectedFile_.clear();
    const LoadResult result = LoadMacroLibrary(FileSystemName(cp949Name), library_);
    if (result.status == LoadStatus::Ok) return;
    // A missing file is how a new library begins: nothing to say. Anything else the user had stays untouched.
    if (result.status == LoadStatus::Unopenable && !QFileInfo::exists(FromCp949(cp949Name))) return;
    protectedFile_ = cp949Name;
    QString text;
    if (result.status == LoadStatus::Damaged) {
        text = Utf8("매크로 파일 %1이(가) 손상되어 끝까지 읽지 못했습니다.\n(%2)\n\n손상된 곳 앞의 매크로 %3개만 "
                    "불러왔습니다. 파일은 그대로 두며, 묻지 않고 그 파일에 저장하지 않습니다.")
                   .arg(Quoted(cp949Name), QString::fromStdString(result.problem))
                   .arg(result.macrosRead);
    } else {
        text = Utf8("매크로 파일 %1을(를) 열 수 없습니다.\n(%2)\n\n파일은 그대로 두며, 묻지 않고 그 파일에 저장하지 "
                    "않습니다.")
                   .arg(Quoted(cp949Name), QString::fromStdString(result.problem));
    }
    ShowMessageBox(this, text, QMessageBox::Warning);
}

void CQuilletDlg::FillEditList(int selection) {
    const QSignalBlocker blocker(editList_);
    editList_->clear();
    for (const Macro& m : library_) editList_->addItem(FromCp949(m.name));
    SelectEditLine(selection);
}

void CQuilletDlg::SelectEditLine(int row) {
    if (row >= 0 && row < editList_->count()) {
        editList_->setCurrentRow(row, QItemSelectionModel::ClearAndSelect);
    } else {
        editList_->clearSelection();
        editList_->setCurrentRow(-1, QItemSelectionModel::Clear);
    }
}

void CQuilletDlg::UpdateCount() {
    count_->setText(Utf8("%1개 매크로 기록됨.").arg(library_.size()));
}

void CQuilletDlg::SetModified() {
    modified_ = true;
}

CQuilletDlg::SaveOutcome CQuilletDlg::SaveLibrary(const std::string& cp949Name, std::string& problem) {
    if (!protectedFile_.empty() && cp949Name == protectedFile_) {
        MessageBoxRequest question;
        question.parent = this;
        question.text = Utf8("매크로 파일 %1은(는) 읽을 때 손상되어 있었습니다(또는 읽을 수 없었습니다).\n"
                             "지금의 매크로로 그 파일을 덮어쓸까요?")
                            .arg(Quoted(cp949Name));
        question.icon = QMessageBox::Warning;
        question.buttons = QMessageBox::Yes | QMessageBox::No;
        question.defaultButton = QMessageBox::No;
        if (ShowMessageBox(question) != QMessageBox::Yes) return SaveOutcome::Declined;
    }
    const SaveResult result = SaveMacroLibrary(FileSystemName(cp949Name), library_);
    if (!result.ok) {
        problem = result.problem;
        return SaveOutcome::Failed;
    }
    modified_ = false;
    if (cp949Name == protectedFile_) protectedFile_.clear();
    return SaveOutcome::Saved;
}

void CQuilletDlg::ReportSaveFailure(const std::string& cp949Name, const std::string& problem) {
    ShowMessageBox(
        this,
        Utf8("매크로 파일 %1을(를) 저장하지 못했습니다.\n(%2)").arg(Quoted(cp949Name), QString::fromStdString(problem)),
        QMessageBox::Warning);
}

bool CQuilletDlg::AskToSave() {
    if (!modified_) return true;
    MessageBoxRequest question;
    question.parent = this;
    question.text = Utf8("매크로가 변경되었습니다. 저장할까요?");
    question.icon = QMessageBox::Question;
    question.buttons = QMessageBox::Yes | QMessageBox::No;
    if (ShowMessageBox(question) != QMessageBox::Yes) return true;

    settings_.macroFileName = ToCp949(fileName_->text(), kLibraryNameMax);
    std::string problem;
    switch (SaveLibrary(settings_.macroFileName, problem)) {
    case SaveOutcome::Saved:
        return true;
    case SaveOutcome::Declined:
        return false; // the user keeps the changes and stays
    case SaveOutcome::Failed:
        break;
    }
    // The changes are still only in memory: going on loses them, so the user decides.
    MessageBoxRequest failed;
    failed.parent = this;
    failed.text = Utf8("매크로 파일 %1을(를) 저장하지 못했습니다.\n(%2)\n\n저장하지 않고 계속할까요?")
                      .arg(Quoted(settings_.macroFileName), QString::fromStdString(problem));
    failed.icon = QMessageBox::Warning;
    failed.buttons = QMessageBox::Yes | QMessageBox::No;
    failed.defaultButton = QMessageBox::No;
    return ShowMessageBox(failed) == QMessageBox::Yes;
}

// --- Commands -------------------------------------------------------------------------------------------------------

void CQuilletDlg::OnOpen() {
    if (engine_.runMode) return; // the library never changes while macros run
    if (!AskToSave()) return;

    FileDialogRequest request;
    request.parent = this;
    request.mode = FileDialogRequest::Open;
    request.initialPath = FromCp949(settings_.macroFileName);
    request.filter = QString::fromLatin1(kFileFilter);
    const std::optional<QString> chosen = AskFileName(request);
    if (!chosen || chosen->isEmpty()) return;
    // The toggle key works while the dialogs are open; a library must not be replaced under running macros.
    if (engine_.runMode) return;

    const QString name = LibraryNameForChosenPath(*chosen, QDir::currentPath());
    const std::optional<std::string> cp949Name = LibraryNameToCp949(name);
    if (!cp949Name) {
        ShowMessageBox(this,
                       Utf8("이 파일 이름은 쓸 수 없습니다: \"%1\"\n(한글 코드 CP949로 나타낼 수 없는 글자가 있거나 "
                            "%2바이트보다 깁니다.)")
                           .arg(name)
                           .arg(kLibraryNameMax),
                       QMessageBox::Warning);
        return;
    }

    LoadLibraryFile(*cp949Name);
    engine_.runMode = false;
    engine_.exclusiveCount = 0;
    engine_.sequenceNumber = settings_.sequenceStart;
    FillEditList(0);
    UpdateCount();
    settings_.macroFileName = *cp949Name;
    fileName_->setText(FromCp949(*cp949Name));
    modified_ = false;
}

void CQuilletDlg::OnSave() {
    settings_.macroFileName = ToCp949(fileName_->text(), kLibraryNameMax);
    std::string problem;
    // A failed save keeps the modified flag: the changes are not on disk.
    if (SaveLibrary(settings_.macroFileName, problem) == SaveOutcome::Failed)
        ReportSaveFailure(settings_.macroFileName, problem);
}

void CQuilletDlg::OnExit() {
    settings_.macroSel = SelectedEditIndex();
    if (!AskToSave()) return;
    exitAllowed_ = true;
    done(Accepted);
}

void CQuilletDlg::CloseWithoutQuestion() {
    if (exitAllowed_) return;
    settings_.macroSel = SelectedEditIndex();
    exitAllowed_ = true;
    done(Accepted);
}

void CQuilletDlg::OnCopy() {
    const int sel = SelectedEditIndex();
    if (engine_.runMode || sel < 0) return;
    CopyMacro(library_, sel);
    editList_->addItem(FromCp949(library_.back().name));
    SelectEditLine(editList_->count() - 1);
    SetModified();
    UpdateCount();
}

void CQuilletDlg::OnDelete() {
    const int sel = SelectedEditIndex();
    if (engine_.runMode || sel < 0) return;
    {
        const QSignalBlocker blocker(editList_);
        std::unique_ptr<QListWidgetItem> gone(editList_->takeItem(sel));
    }
    DeleteMacro(library_, sel);
    SelectEditLine(sel);
    SetModified();
    UpdateCount();
}

void CQuilletDlg::OnUp() {
    const int sel = SelectedEditIndex();
    if (engine_.runMode || sel <= 0) return;
    if (!MoveMacroUp(library_, sel)) return;
    QListWidgetItem* item = editList_->takeItem(sel);
    editList_->insertItem(sel - 1, item);
    SelectEditLine(sel - 1);
    SetModified();
}

void CQuilletDlg::OnDown() {
    const int sel = SelectedEditIndex();
    if (engine_.runMode || sel < 0 || sel >= editList_->count() - 1) return;
    if (!MoveMacroDown(library_, sel)) return;
    QListWidgetItem* item = editList_->takeItem(sel);
    editList_->insertItem(sel + 1, item);
    SelectEditLine(sel + 1);
    SetModified();
}

void CQuilletDlg::OnInputStatus() {
    statusWindow_->setVisible(!statusWindow_->isVisible());
}

void CQuilletDlg::OnRunStatus() {
    debugWindow_->setVisible(!debugWindow_->isVisible());
}

// --- Input and the end ----------------------------------------------------------------------------------------------

void CQuilletDlg::OnRawInput(const platform::RawInputRecord& record) {
    if (destroyed_) return;
    router_.OnRawInput(record);
}

void CQuilletDlg::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
        event->accept(); // IDOK and IDCANCEL do nothing
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

void CQuilletDlg::closeEvent(QCloseEvent* event) {
    // The title bar offers no close command; Alt+F4 and the like change nothing either.
    if (exitAllowed_)
        QDialog::closeEvent(event);
    else
        event->ignore();
}

void CQuilletDlg::done(int result) {
    if (!exitAllowed_) return;
    QDialog::done(result);
}

void CQuilletDlg::ReleaseEverythingHeld() {
    const int32_t options = settings_.macroOptions;
    settings_.macroOptions |= OptionReleaseHeldOnStop;
    for (Macro& m : library_) {
        const bool holds = std::any_of(m.heldInputs.begin(), m.heldInputs.end(), [](uint8_t h) { return h != 0; });
        if (IsRunning(m) || holds) engine_.StopMacro(m);
        m.heldInputs.fill(0);
    }
    settings_.macroOptions = options;
}

void CQuilletDlg::Destroy() {
    if (destroyed_) return;
    destroyed_ = true;
    // No input and no timer work while the window goes: the toggle key must not bring run mode back.
    if (monitoring_) platform_.monitor.Stop();
    monitoring_ = false;
    router_.mainWindow = nullptr;
    for (auto& [id, timer] : timers_) timer->stop();

    // The tool windows store their positions as they go.
    engine_.SetLogSink({});
    router_.keyMouseStatusWindow = nullptr;
    statusWindow_.reset();
    debugWindow_.reset();

    // In run mode every macro stops (run mode is restored at the next start: bit 0x2 stays set).
    runMode_.OnMainWindowDestroyed();
    ReleaseEverythingHeld();
    engineTimer_.Stop();
    engineTimer_.SetOwner({});

    const QPoint p = pos();
    settings_.windowSX = p.x();
    settings_.windowSY = p.y();

    tray_->hide();
    overlay_.reset();
    for (auto& [title, window] : imageWindows_)
        if (window) window->close();
}

// --- RunView --------------------------------------------------------------------------------------------------------

void CQuilletDlg::EnableControls(std::span<const int> ids, bool enable) {
    for (int id : ids) {
        QWidget* w = Control(id);
        if (!w) continue;
        w->setEnabled(enable && !IsPendingDialogButton(id));
    }
}

void CQuilletDlg::SetModeRadios(bool runChecked) {
    runRadio_->setChecked(runChecked);
    editRadio_->setChecked(!runChecked);
}

void CQuilletDlg::ShowRunList(bool show) {
    editList_->setVisible(!show);
    runList_->setVisible(show);
}

void CQuilletDlg::SetRunListLines(const std::vector<std::string>& lines) {
    const QSignalBlocker blocker(runList_);
    runList_->clear();
    for (const std::string& line : lines) runList_->addItem(FromCp949(line));
}

void CQuilletDlg::SetRunningLines(const std::vector<bool>& running) {
    const QSignalBlocker blocker(runList_);
    const int n = std::min(runList_->count(), static_cast<int>(running.size()));
    for (int i = 0; i < n; ++i) {
        QListWidgetItem* item = runList_->item(i);
        const bool on = running[static_cast<std::size_t>(i)];
        if (item->isSelected() != on) item->setSelected(on);
    }
}

int CQuilletDlg::SelectedEditIndex() const {
    const int row = editList_->currentRow();
    if (row < 0 || row >= editList_->count() || !editList_->item(row)->isSelected()) return -1;
    return row;
}

void CQuilletDlg::HideStatusWindow() {
    if (debugWindow_) debugWindow_->hide();
}

void CQuilletDlg::ShowBalloon(const std::string& title, const std::string& text, int timeoutMs) {
    if (!tray_->isVisible()) return;
    tray_->showMessage(FromCp949(title), FromCp949(text), tray_->icon(), timeoutMs);
}

void CQuilletDlg::SetTrayIcon(TrayIcon icon, const std::string& tooltip) {
    const QIcon& picture = icon == TrayIcon::Blink ? blinkIcon_ : mainIcon_;
    setWindowIcon(picture);
    tray_->setIcon(picture);
    tray_->setToolTip(FromCp949(tooltip));
}

void CQuilletDlg::RestartColorTimer(uint32_t periodMs) {
    const auto it = timers_.find(kTimerColor);
    // Before the timers exist (run mode restored during initialisation) they start with this period anyway.
    if (it != timers_.end()) it->second->start(static_cast<int>(periodMs));
}

void CQuilletDlg::DrawColorMarkers(const std::vector<platform::MarkerRect>& markers) {
    if (overlay_) overlay_->ShowMarkers(markers);
}

void CQuilletDlg::ShowImageResult(const std::string& title, const cv::Mat& image) {
    if (image.empty() || image.depth() != CV_8U || (image.channels() != 3 && image.channels() != 1)) return;
    const QImage picture = QImage(image.data, image.cols, image.rows, static_cast<qsizetype>(image.step),
                                  image.channels() == 3 ? QImage::Format_BGR888 : QImage::Format_Grayscale8)
                               .copy();
    QPointer<QLabel>& window = imageWindows_[title];
    if (!window) {
        // One window per title; a window the user closed is shown again at the next result.
        window = new QLabel(this, Qt::Window);
        window->setObjectName(QStringLiteral("imageResult"));
        window->setWindowTitle(FromCp949(title));
        window->setAttribute(Qt::WA_ShowWithoutActivating);
    }
    window->setPixmap(QPixmap::fromImage(picture));
    window->resize(picture.size());
    if (!window->isVisible()) window->show();
}

QLabel* CQuilletDlg::ImageResultWindow(const std::string& title) const {
    const auto it = imageWindows_.find(title);
    return it == imageWindows_.end() ? nullptr : it->second.data();
}

} // namespace quillet::gui
