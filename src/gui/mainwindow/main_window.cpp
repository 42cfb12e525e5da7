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
#include <QMenu>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QSaveFile>
#include <QSignalBlocker>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QVBoxLayout>

#include "gui/editors/config_dialog.h"
#include "gui/editors/macro_edit.h"
#include "gui/editors/macro_rec.h"
#include "gui/mainwindow/library_names.h"
#include "gui/mainwindow/marker_overlay.h"
#include "gui/message_box.h"
#include "gui/resources.h"
#include "gui/text.h"
#include "gui/toolwindows/key_mouse_status.h"
#include "gui/toolwindows/macro_debug.h"
#include "gui/translations.h"
#include "gui/widgets/hyperlink.h"
#include "model/key_table.h"
#include "model/library_file.h"
#include "model/macro_merge.h"
#ifdef QUILLET_TEXT_FORMAT
#include "model/text_format.h"
#endif

namespace quillet::gui {

namespace {

const char* const kFileFilter = "Macro file (*.m)|*.m|All Files(*.*)|*.*||";
const char* const kTextFilter = "매크로 텍스트 (*.json)|*.json|모든 파일 (*.*)|*.*||";

// A file name made from a macro's name: the characters file systems refuse become '_'.
QString FileNameFor(QString name) {
    for (QChar& c : name)
        if (QStringLiteral("/\\:*?\"<>|").contains(c) || c.unicode() < 0x20) c = QLatin1Char('_');
    return name.trimmed().isEmpty() ? QStringLiteral("macros") : name.trimmed();
}

QString Quoted(const std::string& cp949) {
    return QStringLiteral("\"%1\"").arg(FromCp949(cp949));
}

bool IsPendingDialogButton(int id) {
    return std::find(CQuilletDlg::kPendingDialogButtons.begin(), CQuilletDlg::kPendingDialogButtons.end(), id) !=
           CQuilletDlg::kPendingDialogButtons.end();
}

} // namespace

CQuilletDlg::CQuilletDlg(Session& session, VersionInfo version, QWidget* parent)
    : CDialogCommon(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowMinimizeButtonHint),
      session_(session), settings_(session.settings()) {
    setObjectName(QStringLiteral("102"));
    mainIcon_ = MainIcon();
    blinkIcon_ = BlinkIcon();
    BuildControls();
    ConnectCommands();

    // Caption and icons; the window has no close box.
    setWindowIcon(mainIcon_);
    setWindowTitle(FromCp949(settings_.title));

    tray_ = new QSystemTrayIcon(mainIcon_, this);
    tray_->setToolTip(Text("Quillet 프로그램 - 더블클릭 하세요."));
    connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::DoubleClick) RestoreWindow();
    });
    // Without a notification area (a bare X server) the icon is not shown; nothing else depends on it.
    if (QSystemTrayIcon::isSystemTrayAvailable()) tray_->show();

    adjustSize();
    MoveInsideVirtualScreen(settings_.windowSX, settings_.windowSY);

    // The tool windows, hidden until their buttons show them.
    statusWindow_ = std::make_unique<CDialogKeyMouseStatus>(session_.keyMouseStatus(), settings_, this);
    debugWindow_ = std::make_unique<CDialogMacroDebug>(session_.library(), settings_, this);
    debugLog_ = debugWindow_->LogSink();
    session_.AddObserver(*this);
    overlay_ = std::make_unique<CMarkerOverlay>();

    toggleHint_->setText(ToggleHintText());
    version_->setText(version.productVersion);
    link_->setText(version.fileDescription);
    link_->SetURL(version.fileDescription);
    link_->setToolTip(Text("Quillet 프로그램 웹페이지 방문"));
    link_->setCursor(Qt::PointingHandCursor);

    const std::string name = settings_.macroFileName;
    if (const auto report = session_.OpenLibrary(name)) ReportLoad(name, *report);
    fileName_->setText(FromCp949(settings_.macroFileName));
    FillEditList(settings_.macroSel);
    UpdateCount();

    model_ = std::make_unique<MainWindowModel>(session_, *this);
    // Restores run mode when it was on at the last exit (radio 1014 from macroOptions bit 0x2).
    model_->Begin();
    if (!session_.StartInputMonitoring())
        ShowNotice(Text("키보드와 마우스 입력을 감시할 수 없어 단축키와 토글 키가 동작하지 않습니다."));
    session_.StartWindowTimers();
}

CQuilletDlg::~CQuilletDlg() {
    Destroy();
}

// --- Controls -------------------------------------------------------------------------------------------------------

void CQuilletDlg::BuildControls() {
    const auto button = [this](int id, const char* text) {
        auto* b = SetControlId(new QPushButton(Text(text), this), id);
        b->setAutoDefault(false);
        return b;
    };

    toggleHint_ = SetControlId(new QLabel(this), IdToggleHint);
    toggleHint_->setWordWrap(true);
    runRadio_ = SetControlId(new QRadioButton(Text("매크로 실행 가능"), this), IdRunRadio);
    editRadio_ = SetControlId(new QRadioButton(Text("실행 중단과 편집"), this), IdEditRadio);
    fileName_ = SetControlId(new QLineEdit(this), IdFileName);
    fileName_->setReadOnly(true);
    fileName_->setAccessibleName(Text("매크로 파일"));
    QPushButton* open = button(IdOpen, "...");
    open->setMaximumWidth(32);
    QPushButton* save = button(IdSave, "저장");

    editList_ = SetControlId(new QListWidget(this), IdEditList);
    editList_->setSelectionMode(QAbstractItemView::SingleSelection);
    editList_->setAccessibleName(Text("매크로 목록"));
    runList_ = SetControlId(new QListWidget(this), IdRunList);
    runList_->setAccessibleName(Text("실행 가능한 매크로 목록"));
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
    QPushButton* exportButton = button(IdExport, "내보내기");
    auto* exportMenu = new QMenu(exportButton);
    exportMenu->addAction(Text("선택한 매크로 내보내기..."), this, &CQuilletDlg::OnExportSelected);
    exportMenu->addAction(Text("모든 매크로 내보내기..."), this, &CQuilletDlg::OnExportAll);
    exportButton->setMenu(exportMenu);
    side->addWidget(exportButton);
    side->addWidget(button(IdImport, "가져오기..."));
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
    const int order[] = {IdRunRadio, IdEditRadio, IdFileName, IdOpen,   IdSave,        IdEditList, IdRecord,
                         IdAdd,      IdEdit,      IdCopy,     IdDelete, IdUp,          IdDown,     IdExport,
                         IdImport,   IdLink,      IdSettings, IdExit,   IdInputStatus, IdRunStatus};
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
    on(IdAdd, &CQuilletDlg::OnAdd);
    on(IdRecord, &CQuilletDlg::OnRecord);
    on(IdSettings, &CQuilletDlg::OnSettings);
    on(IdEdit, &CQuilletDlg::OnEdit);
    connect(editList_, &QListWidget::itemDoubleClicked, this, [this] { OnEdit(); });
    connect(editList_, &QListWidget::itemSelectionChanged, this, [this] {
        if (model_) model_->OnSelectionChanged();
    });
    on(IdExit, &CQuilletDlg::OnExit);
    on(IdCopy, &CQuilletDlg::OnCopy);
    on(IdDelete, &CQuilletDlg::OnDelete);
    on(IdUp, &CQuilletDlg::OnUp);
    on(IdDown, &CQuilletDlg::OnDown);
    on(IdInputStatus, &CQuilletDlg::OnInputStatus);
    on(IdImport, &CQuilletDlg::OnImport);
    on(IdRunStatus, &CQuilletDlg::OnRunStatus);
    // toggled, not clicked: a radio switched by assistive technology or the keyboard switches the mode too. The
    // window's own updates of the radios are silent (SetModeRadios).
    connect(runRadio_, &QRadioButton::toggled, this, [this](bool on) {
        if (on && model_) model_->OnRunRadio();
    });
    connect(editRadio_, &QRadioButton::toggled, this, [this](bool on) {
        if (on && model_) model_->OnEditRadio();
    });
}

int CQuilletDlg::WindowTimerInterval(int id) const {
    return session_.loop().TimerInterval(id);
}

QString CQuilletDlg::ToggleHintText() const {
    return TextIn(language_, "%1를 눌러 \"매크로 실행 가능\"과 \"실행 중단과 편집\" 상태를 토글합니다.")
        .arg(QString::fromLatin1(KeyLongName(settings_.keyMacroRun)));
}

void CQuilletDlg::ApplySettings() {
    setWindowTitle(FromCp949(settings_.title));
    const bool onTop = (settings_.macroOptions & OptionAlwaysOnTop) != 0;
    if (windowFlags().testFlag(Qt::WindowStaysOnTopHint) != onTop) {
        const bool wasVisible = isVisible();
        setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
        if (wasVisible) show(); // changing the flags hides a shown window
    }
    toggleHint_->setText(ToggleHintText());
}

void CQuilletDlg::ShowAtStart() {
    setWindowFlag(Qt::WindowStaysOnTopHint, (settings_.macroOptions & OptionAlwaysOnTop) != 0);
    // Minimised, not hidden: there may be no tray icon to bring it back from.
    if ((settings_.macroOptions & OptionStartMinimised) != 0)
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

void CQuilletDlg::ReportLoad(const std::string& cp949Name, const LibraryDocument::LoadReport& report) {
    QString text;
    switch (report.kind) {
    case LibraryDocument::LoadReport::Loaded:
    case LibraryDocument::LoadReport::New:
        return;
    case LibraryDocument::LoadReport::Damaged:
        text = Text("매크로 파일 %1이(가) 손상되어 끝까지 읽지 못했습니다.\n(%2)\n\n손상된 곳 앞의 매크로 %3개만 "
                    "불러왔습니다. 파일은 그대로 두며, 묻지 않고 그 파일에 저장하지 않습니다.")
                   .arg(Quoted(cp949Name), QString::fromStdString(report.problem))
                   .arg(report.macrosRead);
        break;
    case LibraryDocument::LoadReport::Unopenable:
        text = Text("매크로 파일 %1을(를) 열 수 없습니다.\n(%2)\n\n파일은 그대로 두며, 묻지 않고 그 파일에 저장하지 "
                    "않습니다.")
                   .arg(Quoted(cp949Name), QString::fromStdString(report.problem));
        break;
    }
    ShowMessageBox(this, text, QMessageBox::Warning);
}

void CQuilletDlg::FillEditList(int selection) {
    const QSignalBlocker blocker(editList_);
    editList_->clear();
    for (const Macro& m : session_.library()) editList_->addItem(FromCp949(m.name));
    SelectEditLine(selection);
}

void CQuilletDlg::SelectEditLine(int row) {
    if (row >= 0 && row < editList_->count()) {
        editList_->setCurrentRow(row, QItemSelectionModel::ClearAndSelect);
    } else {
        editList_->clearSelection();
        editList_->setCurrentRow(-1, QItemSelectionModel::Clear);
    }
    // Also when the list's signals are blocked (while it is filled).
    if (model_) model_->OnSelectionChanged();
}

void CQuilletDlg::UpdateCount() {
    count_->setText(TextIn(language_, "%1개 매크로 기록됨.").arg(session_.library().size()));
}

void CQuilletDlg::ReportSaveFailure(const std::string& cp949Name, const std::string& problem) {
    ShowMessageBox(
        this,
        Text("매크로 파일 %1을(를) 저장하지 못했습니다.\n(%2)").arg(Quoted(cp949Name), QString::fromStdString(problem)),
        QMessageBox::Warning);
}

bool CQuilletDlg::AskSaveChanges() {
    MessageBoxRequest question;
    question.parent = this;
    question.text = Text("매크로가 변경되었습니다. 저장할까요?");
    question.icon = QMessageBox::Question;
    question.buttons = QMessageBox::Yes | QMessageBox::No;
    return ShowMessageBox(question) == QMessageBox::Yes;
}

bool CQuilletDlg::AskOverwriteDamaged(const std::string& cp949Name) {
    MessageBoxRequest question;
    question.parent = this;
    question.text = Text("매크로 파일 %1은(는) 읽을 때 손상되어 있었습니다(또는 읽을 수 없었습니다).\n"
                         "지금의 매크로로 그 파일을 덮어쓸까요?")
                        .arg(Quoted(cp949Name));
    question.icon = QMessageBox::Warning;
    question.buttons = QMessageBox::Yes | QMessageBox::No;
    question.defaultButton = QMessageBox::No;
    return ShowMessageBox(question) == QMessageBox::Yes;
}

bool CQuilletDlg::AskContinueWithoutSaving(const std::string& cp949Name, const std::string& problem) {
    MessageBoxRequest failed;
    failed.parent = this;
    failed.text = Text("매크로 파일 %1을(를) 저장하지 못했습니다.\n(%2)\n\n저장하지 않고 계속할까요?")
                      .arg(Quoted(cp949Name), QString::fromStdString(problem));
    failed.icon = QMessageBox::Warning;
    failed.buttons = QMessageBox::Yes | QMessageBox::No;
    failed.defaultButton = QMessageBox::No;
    return ShowMessageBox(failed) == QMessageBox::Yes;
}

// --- Commands -------------------------------------------------------------------------------------------------------

void CQuilletDlg::OnOpen() {
    LibraryDocument& document = session_.document();
    if (!document.Editable()) return; // the library never changes while macros run
    settings_.macroFileName = ToCp949(fileName_->text(), kLibraryNameMax);
    if (!document.AskToSave(*this)) return;

    FileDialogRequest request;
    request.parent = this;
    // An existing library, or the name of a new one: a name that does not exist yet begins an empty library.
    request.mode = FileDialogRequest::OpenOrNew;
    request.initialPath = FromCp949(settings_.macroFileName);
    request.filter = QString::fromLatin1(kFileFilter);
    const std::optional<QString> chosen = AskFileName(request);
    if (!chosen || chosen->isEmpty()) return;
    // The toggle key works while the dialogs are open; a library must not be replaced under running macros.
    if (!document.Editable()) return;

    const QString name = LibraryNameForChosenPath(*chosen, QDir::currentPath());
    const std::optional<std::string> cp949Name = LibraryNameToCp949(name);
    if (!cp949Name) {
        ShowMessageBox(this,
                       Text("이 파일 이름은 쓸 수 없습니다: \"%1\"\n(한글 코드 CP949로 나타낼 수 없는 글자가 있거나 "
                            "%2바이트보다 깁니다.)")
                           .arg(name)
                           .arg(kLibraryNameMax),
                       QMessageBox::Warning);
        return;
    }

    const std::optional<LibraryDocument::LoadReport> report = session_.OpenLibrary(*cp949Name);
    if (!report) return;
    ReportLoad(*cp949Name, *report);
    FillEditList(0);
    UpdateCount();
    fileName_->setText(FromCp949(*cp949Name));
}

void CQuilletDlg::OnSave() {
    settings_.macroFileName = ToCp949(fileName_->text(), kLibraryNameMax);
    std::string problem;
    // A failed save keeps the modified flag: the changes are not on disk.
    if (session_.document().Save(*this, problem) == LibraryDocument::SaveOutcome::Failed)
        ReportSaveFailure(settings_.macroFileName, problem);
}

void CQuilletDlg::OnSettings() {
    if (!session_.document().Editable()) return; // an edit-mode command
    CDialogConfig dialog(settings_, this);
    const bool ok = dialog.exec() == QDialog::Accepted;
    ApplySettings();
    // Written now rather than only at the end, so that a crash or power cut loses no change made here.
    if (ok && !settings_.Transfer(CAppIni::Save))
        ShowMessageBox(this,
                       Text("설정을 %1에 저장하지 못했습니다. 프로그램을 끝낼 때 다시 저장합니다.")
                           .arg(QString::fromStdString(settings_.path())),
                       QMessageBox::Warning);
}

void CQuilletDlg::OnAdd() {
    if (!session_.document().Editable()) return; // the library never changes while macros run
    // A macro without a name: the editor gives it the defaults and the first free name of a new one.
    Macro macro;
    CDialogMacroEdit editor(session_, editing_, macro, static_cast<int>(session_.library().size()), this);
    if (editor.exec() == QDialog::Accepted && session_.document().Append(std::move(macro))) {
        editList_->addItem(FromCp949(session_.library().back().name));
        SelectEditLine(editList_->count() - 1);
    }
    UpdateCount();
}

void CQuilletDlg::OnRecord() {
    if (!session_.document().Editable()) return; // the library never changes while macros run
    // A macro without a name: the recorder gives it the defaults and the first free "Macro Rec. n".
    Macro macro;
    CDialogMacroRec recorder(session_, macro, editing_.lastRecordedPos, this);
    if (recorder.exec() == QDialog::Accepted && session_.document().Append(std::move(macro))) {
        editList_->addItem(FromCp949(session_.library().back().name));
        SelectEditLine(editList_->count() - 1);
    }
    UpdateCount();
}

void CQuilletDlg::OnEdit() {
    const int sel = SelectedEditIndex();
    if (sel < 0 || !session_.document().Editable()) return;
    // The editor works on a copy: Cancel leaves the library as it was.
    Macro copy = session_.library()[static_cast<std::size_t>(sel)];
    CDialogMacroEdit editor(session_, editing_, copy, sel, this);
    if (editor.exec() != QDialog::Accepted) return;
    const QString name = FromCp949(copy.name);
    if (!session_.document().Replace(sel, std::move(copy))) return;
    editList_->item(sel)->setText(name);
    SelectEditLine(sel);
}

void CQuilletDlg::OnExit() {
    settings_.macroSel = SelectedEditIndex();
    settings_.macroFileName = ToCp949(fileName_->text(), kLibraryNameMax);
    if (!session_.document().AskToSave(*this)) return;
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
    if (!session_.document().Copy(SelectedEditIndex())) return;
    editList_->addItem(FromCp949(session_.library().back().name));
    SelectEditLine(editList_->count() - 1);
    UpdateCount();
}

void CQuilletDlg::OnDelete() {
    const int sel = SelectedEditIndex();
    if (!session_.document().Delete(sel)) return;
    {
        const QSignalBlocker blocker(editList_);
        std::unique_ptr<QListWidgetItem> gone(editList_->takeItem(sel));
    }
    SelectEditLine(sel);
    UpdateCount();
}

void CQuilletDlg::OnUp() {
    const int sel = SelectedEditIndex();
    if (!session_.document().MoveUp(sel)) return;
    QListWidgetItem* item = editList_->takeItem(sel);
    editList_->insertItem(sel - 1, item);
    SelectEditLine(sel - 1);
}

void CQuilletDlg::OnDown() {
    const int sel = SelectedEditIndex();
    if (!session_.document().MoveDown(sel)) return;
    QListWidgetItem* item = editList_->takeItem(sel);
    editList_->insertItem(sel + 1, item);
    SelectEditLine(sel + 1);
}

void CQuilletDlg::OnExportSelected() {
    const int sel = SelectedEditIndex();
    if (sel < 0) return;
    ExportMacros({static_cast<std::size_t>(sel)},
                 FileNameFor(FromCp949(session_.library()[static_cast<std::size_t>(sel)].name)));
}

void CQuilletDlg::OnExportAll() {
    if (session_.library().empty()) return;
    std::vector<std::size_t> all(session_.library().size());
    for (std::size_t i = 0; i < all.size(); ++i) all[i] = i;
    ExportMacros(all, FileNameFor(QFileInfo(fileName_->text()).completeBaseName()));
}

void CQuilletDlg::ExportMacros(const std::vector<std::size_t>& which, const QString& suggestedName) {
#ifdef QUILLET_TEXT_FORMAT
    if (!session_.document().Editable()) return; // an edit-mode command
    FileDialogRequest request;
    request.parent = this;
    request.mode = FileDialogRequest::Save;
    request.caption = Text("매크로 내보내기");
    request.initialPath = suggestedName + QStringLiteral(".json");
    request.filter = Text(kTextFilter);
    const std::optional<QString> chosen = AskFileName(request);
    if (!chosen || chosen->isEmpty()) return;
    QString path = *chosen;
    if (QFileInfo(path).suffix().isEmpty()) path += QStringLiteral(".json");

    // The text of what the library holds now (a library changed under the dialog is written as it is now).
    std::vector<std::size_t> present;
    for (std::size_t i : which)
        if (i < session_.library().size()) present.push_back(i);
    if (present.empty()) return;
    const std::string text = MacrosToText(session_.library(), {}, present);
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) ||
        out.write(text.data(), static_cast<qint64>(text.size())) != static_cast<qint64>(text.size()) || !out.commit()) {
        ShowMessageBox(
            this,
            Text("%1에 매크로를 내보내지 못했습니다.\n(%2)").arg(QDir::toNativeSeparators(path), out.errorString()),
            QMessageBox::Warning);
    }
#else
    (void)which;
    (void)suggestedName;
#endif
}

void CQuilletDlg::OnImport() {
#ifdef QUILLET_TEXT_FORMAT
    if (!session_.document().Editable()) return; // the library never changes while macros run
    FileDialogRequest request;
    request.parent = this;
    request.mode = FileDialogRequest::Open;
    request.caption = Text("매크로 가져오기");
    request.filter = Text(kTextFilter);
    const std::optional<QString> chosen = AskFileName(request);
    if (!chosen || chosen->isEmpty()) return;
    const QString shown = QDir::toNativeSeparators(*chosen);

    QFile in(*chosen);
    if (!in.open(QIODevice::ReadOnly)) {
        ShowMessageBox(this, Text("%1을(를) 열 수 없습니다.\n(%2)").arg(shown, in.errorString()), QMessageBox::Warning);
        return;
    }
    const QByteArray bytes = in.readAll();
    StoredMacros imported;
    TextError error;
    if (!TextToMacros(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())), imported, error)) {
        const QString where =
            error.line > 0 ? Text("%1번째 줄 %2번째 글자: ").arg(error.line).arg(error.column) : QString();
        ShowMessageBox(
            this,
            Text("%1에서 매크로를 가져올 수 없습니다.\n%2%3").arg(shown, where, QString::fromStdString(error.message)),
            QMessageBox::Warning);
        return;
    }
    if (imported.macros.empty()) {
        ShowMessageBox(this, Text("%1에는 가져올 매크로가 없습니다.").arg(shown), QMessageBox::Information);
        return;
    }

    ClashPolicy policy = ClashPolicy::Refuse;
    const MergePlan plan = PlanMerge(session_.library(), imported.macros, ClashPolicy::Refuse);
    if (!plan.clashes.empty()) {
        QStringList names;
        for (std::size_t i : plan.clashes) names << Quoted(imported.macros[i].name);
        MessageBoxRequest question;
        question.parent = this;
        question.text = Text("가져올 매크로 중 %1개는 같은 이름의 매크로가 이미 목록에 있습니다: %2\n\n"
                             "기존 매크로를 가져온 매크로로 바꿀까요?\n"
                             "[예] 기존 매크로를 바꿉니다.\n"
                             "[아니요] 가져온 매크로를 새 이름으로 추가합니다.")
                            .arg(plan.clashes.size())
                            .arg(names.join(QStringLiteral(", ")));
        question.icon = QMessageBox::Question;
        question.buttons = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
        question.defaultButton = QMessageBox::Cancel;
        const QMessageBox::StandardButton answer = ShowMessageBox(question);
        if (answer == QMessageBox::Yes)
            policy = ClashPolicy::Replace;
        else if (answer == QMessageBox::No)
            policy = ClashPolicy::Rename;
        else
            return;
    }
    // The toggle key works while the dialogs are open: nothing is added under running macros.
    const std::vector<std::size_t> placed = session_.document().Import(std::move(imported.macros), policy);
    if (placed.empty()) return;
    FillEditList(static_cast<int>(placed.front()));
    UpdateCount();
#endif
}

void CQuilletDlg::OnInputStatus() {
    statusWindow_->setVisible(!statusWindow_->isVisible());
}

void CQuilletDlg::OnRunStatus() {
    debugWindow_->setVisible(!debugWindow_->isVisible());
}

// --- Input and the end ----------------------------------------------------------------------------------------------

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

void CQuilletDlg::Destroy() {
    if (destroyed_) return;
    destroyed_ = true;
    // Nothing reaches this window any more; every macro stops and whatever a macro still holds is released, whatever
    // the release setting says: keys faked down by a program that has ended stay down in the X server. (Run mode is
    // restored at the next start: bit 0x2 stays set.)
    if (model_) model_->End();
    session_.End(HeldInput::Release);
    session_.RemoveObserver(*this);
    debugLog_ = {};

    // The tool windows store their positions as they go.
    statusWindow_.reset();
    debugWindow_.reset();

    const QPoint p = pos();
    settings_.windowSX = p.x();
    settings_.windowSY = p.y();

    tray_->hide();
    overlay_.reset();
    for (auto& [title, window] : imageWindows_)
        if (window) window->close();
}

void CQuilletDlg::ItemLogged(const std::string& cp949Line) {
    if (debugLog_) debugLog_(cp949Line);
}

// --- MainWindowView --------------------------------------------------------------------------------------------------------

void CQuilletDlg::SetEditingEnabled(bool enabled) {
    for (int id : kEditButtonIds) {
        if (QWidget* w = Control(id)) w->setEnabled(enabled && !IsPendingDialogButton(id));
    }
    if (QWidget* w = Control(IdRunStatus)) w->setEnabled(!enabled);
}

void CQuilletDlg::SetModeRadios(bool runChecked) {
    const QSignalBlocker quietRun(runRadio_);
    const QSignalBlocker quietEdit(editRadio_);
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

void CQuilletDlg::SetRunningLine(std::size_t line, bool running) {
    if (line >= static_cast<std::size_t>(runList_->count())) return;
    const QSignalBlocker blocker(runList_);
    QListWidgetItem* item = runList_->item(static_cast<int>(line));
    if (item->isSelected() != running) item->setSelected(running);
}

int CQuilletDlg::SelectedEditIndex() const {
    // The selected row, whether or not it is the current one (assistive technology selects without moving the
    // current row).
    const QList<QListWidgetItem*> selected = editList_->selectedItems();
    return selected.isEmpty() ? -1 : editList_->row(selected.constFirst());
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

void CQuilletDlg::DrawColorMarkers(const std::vector<platform::MarkerRect>& markers) {
    if (overlay_) overlay_->ShowMarkers(markers);
}

void CQuilletDlg::ShowImageResult(const std::string& title, const BgrImageView& image) {
    if (image.data == nullptr || image.width <= 0 || image.height <= 0) return;
    const QImage picture =
        QImage(image.data, image.width, image.height, static_cast<qsizetype>(image.stride), QImage::Format_BGR888)
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
