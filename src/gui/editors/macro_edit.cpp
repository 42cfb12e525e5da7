#include "gui/editors/macro_edit.h"

#include <algorithm>
#include <cmath>

#include <QAction>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QShortcut>
#include <QSignalBlocker>
#include <QTimer>
#include <QVBoxLayout>

#include "gui/editors/clipboard_text.h"
#include "gui/editors/condition_dialog.h"
#include "gui/editors/delay_dialog.h"
#include "gui/editors/key_mouse_dialogs.h"
#include "gui/editors/small_item_dialogs.h"
#include "gui/editors/trail_overlay.h"
#include "gui/message_box.h"
#include "gui/text.h"
#include "gui/widgets/list_box_ex.h"

namespace quillet::gui {

namespace {

constexpr int kDisplayPeriodMs = 33;

// A caption written in Korean, in the chosen language.
QString Utf8(const char* text) {
    return Text(text);
}

bool IsPending(int id) {
    const auto& pending = CDialogMacroEdit::kPendingDialogButtons;
    return std::find(pending.begin(), pending.end(), id) != pending.end();
}

enum class UndoKey { None, Undo, Redo };

UndoKey UndoKeyOf(const QKeyEvent& event) {
    const Qt::KeyboardModifiers mods = event.modifiers() & ~Qt::KeypadModifier;
    if (!(mods & Qt::ControlModifier) || (mods & (Qt::AltModifier | Qt::MetaModifier))) return UndoKey::None;
    if (event.key() == Qt::Key_Y) return UndoKey::Redo;
    if (event.key() == Qt::Key_Z) return (mods & Qt::ShiftModifier) ? UndoKey::Redo : UndoKey::Undo;
    return UndoKey::None;
}

// An action of a text field's standard context menu: by its object name where Qt gives one, otherwise by the
// shortcut its text ends with ("&Undo\tCtrl+Z").
bool IsMenuAction(const QAction& action, const char* objectName, QKeySequence::StandardKey key) {
    if (action.objectName() == QLatin1String(objectName)) return true;
    const QString shortcut = QKeySequence(key).toString(QKeySequence::NativeText);
    return !shortcut.isEmpty() && action.text().endsWith(QLatin1Char('\t') + shortcut);
}

} // namespace

namespace {

// What the editor works with: the session's library, settings, engine and clock for its test run, and the state
// every editor shares.
EditorServices ServicesOf(Session& session, EditingContext& editing) {
    return EditorServices{session.library(),
                          session.settings(),
                          session.engine(),
                          session.platform().io,
                          session.platform().clock,
                          session.timerCounter(),
                          [&session](std::function<void()> fn) { session.loop().Post(std::move(fn)); },
                          [&session] { session.DrainInput(); },
                          editing.clipboard,
                          editing.lastCapturePoint,
                          editing.itemMemory};
}

} // namespace

CDialogMacroEdit::CDialogMacroEdit(Session& session, EditingContext& editing, Macro& working, int ownIndex,
                                   QWidget* parent)
    : CDialogCommon(parent), session_(session), editing_(editing), working_(working),
      model_(std::make_unique<MacroEditor>(working, ownIndex, ServicesOf(session, editing))) {
    setObjectName(QStringLiteral("132"));
    BuildControls();
    ConnectCommands();

    // What the model holds after taking the macro (a new one has its defaults and name now).
    setWindowTitle(FromCp949(model_->Title()));
    hint_->setText(FromCp949(model_->HintText()));
    ShowFields();
    testHotkeys_->setChecked(model_->testHotkeys());
    blueBoxes_->setChecked(model_->blueBoxes());
    list_->Bind(model_.get());
    ShowSummary();
    ShowTestingState();
    model_->SetView(this);

    // The desktop's keys and buttons come here while the window exists, ahead of the windows opened before it.
    capture_ = std::make_unique<EditorCapture>(*model_);
    inputRegistration_ = std::make_unique<ScopedInputConsumer>(session_.router(), *capture_);

    {
        // The stored state is applied when the window is first shown, not as a change.
        const QSignalBlocker quiet(hideTest_);
        hideTest_->setChecked(model_->hideTest());
    }
    list_->setFocus();
}

CDialogMacroEdit::~CDialogMacroEdit() {
    // No more live input, the model's last words (a test run it ends) reach no half-destroyed window, and the list
    // (deleted with the window's children, after the model) forwards nothing to it any more.
    inputRegistration_.reset();
    capture_.reset();
    model_->SetView(nullptr);
    list_->Bind(nullptr);
    trail_.reset();
}

// --- Controls -------------------------------------------------------------------------------------------------------

void CDialogMacroEdit::BuildControls() {
    const auto button = [this](int id, const char* text) {
        auto* b = SetControlId(new QPushButton(Utf8(text), this), id);
        b->setAccessibleName(b->text());
        return b;
    };
    const auto check = [this](int id, const char* text) {
        auto* c = SetControlId(new QCheckBox(Utf8(text), this), id);
        c->setAccessibleName(c->text());
        return c;
    };
    const auto labelFor = [this](QWidget* field, const char* text) {
        auto* label = new QLabel(Utf8(text), this);
        label->setBuddy(field);
        field->setAccessibleName(label->text());
        return label;
    };

    hint_ = SetControlId(new QLabel(this), IdHint);
    hint_->setWordWrap(true);
    hint_->setMinimumHeight(2 * hint_->fontMetrics().lineSpacing());

    name_ = SetControlId(new QLineEdit(this), IdName);
    auto* nameRow = new QHBoxLayout;
    nameRow->addWidget(labelFor(name_, "매크로 이름:"));
    nameRow->addWidget(name_, 1);
    nameRow->addWidget(button(IdCondition, "시작/중지 조건"));

    list_ = SetControlId(new CListBoxEx(this), IdList);
    list_->setAccessibleName(Utf8("매크로 항목"));

    auto* side = new QVBoxLayout;
    side->addWidget(button(IdAddKey, "키보드 추가"));
    side->addWidget(button(IdAddMouse, "마우스 추가"));
    side->addWidget(button(IdAddDelay, "지연 추가"));
    side->addWidget(button(IdAddString, "문자열 추가"));
    side->addWidget(button(IdAddCall, "매크로 호출"));
    side->addWidget(button(IdAddExclusive, "독점영역 추가"));
    side->addWidget(button(IdAddLoop, "반복구간 추가"));
    side->addStretch(1);
    side->addWidget(button(IdEditItem, "편집"));
    side->addWidget(button(IdDelete, "삭제"));

    auto* middle = new QHBoxLayout;
    middle->addWidget(list_, 1);
    middle->addLayout(side);

    summary_ = SetControlId(new QLabel(QStringLiteral("Static"), this), IdSummary);
    auto* up = button(IdUp, "^");
    auto* down = button(IdDown, "v");
    up->setMaximumWidth(40);
    down->setMaximumWidth(40);
    auto* summaryRow = new QHBoxLayout;
    summaryRow->addWidget(summary_, 1);
    summaryRow->addWidget(up);
    summaryRow->addWidget(down);

    repeat_ = SetControlId(new QLineEdit(this), IdRepeat);
    repeat_->setMaximumWidth(80);
    auto* repeatRow = new QHBoxLayout;
    repeatRow->addWidget(labelFor(repeat_, "매크로 반복 실행 횟수:"));
    repeatRow->addWidget(repeat_);
    repeatRow->addWidget(new QLabel(Utf8("회 (0이면 무한 반복)"), this));
    repeatRow->addStretch(1);

    hideTest_ = check(IdHideTest, "매크로 테스트 숨기기");
    auto* ok = button(IdOk, "OK");
    auto* cancel = button(IdCancel, "Cancel");
    ok->setDefault(true);
    auto* closeRow = new QHBoxLayout;
    closeRow->addWidget(hideTest_);
    closeRow->addStretch(1);
    closeRow->addWidget(ok);
    closeRow->addWidget(cancel);

    testGroup_ = new QGroupBox(Utf8("매크로 테스트"), this);
    testGroup_->setObjectName(QStringLiteral("testGroup"));
    testGroup_->setAccessibleName(testGroup_->title());
    testHotkeys_ = check(IdTestHotkeys, "시작/중지 단축키 사용");
    blueBoxes_ = check(IdBlueBoxes, "선택항목 파란색 박스 표시");
    auto* testGrid = new QGridLayout(testGroup_);
    testGrid->addWidget(button(IdTestStart, "매크로 시험 실행"), 0, 0);
    testGrid->addWidget(button(IdTestStop, "중단"), 0, 1);
    testGrid->addWidget(testHotkeys_, 0, 2);
    testGrid->addWidget(button(IdTrail, "마우스 궤적 표시"), 1, 0);
    testGrid->addWidget(button(IdEraseTrail, "지우기"), 1, 1);
    testGrid->addWidget(blueBoxes_, 1, 2);
    testGrid->setColumnStretch(2, 1);
    // The buttons and check boxes were made with the dialog as parent; the grid moves them into the group.

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(hint_);
    layout->addLayout(nameRow);
    layout->addLayout(middle, 1);
    layout->addLayout(summaryRow);
    layout->addLayout(repeatRow);
    layout->addLayout(closeRow);
    layout->addWidget(testGroup_);

    // The tab order of dialog 132.
    const int order[] = {IdName,      IdCondition, IdList,         IdAddKey,   IdAddMouse,   IdAddDelay,
                         IdAddString, IdAddCall,   IdAddExclusive, IdAddLoop,  IdEditItem,   IdDelete,
                         IdUp,        IdDown,      IdRepeat,       IdHideTest, IdOk,         IdCancel,
                         IdTestStart, IdTestStop,  IdTestHotkeys,  IdTrail,    IdEraseTrail, IdBlueBoxes};
    QWidget* previous = nullptr;
    for (int id : order) {
        QWidget* w = Control(id);
        if (previous && w) setTabOrder(previous, w);
        if (w) previous = w;
    }

    displayTimer_ = new QTimer(this);
    displayTimer_->setObjectName(QStringLiteral("displayTimer"));
    displayTimer_->setInterval(kDisplayPeriodMs);
}

void CDialogMacroEdit::ConnectCommands() {
    const auto on = [this](int id, void (CDialogMacroEdit::*handler)()) {
        connect(Control<QPushButton>(id), &QPushButton::clicked, this, handler);
    };
    on(IdDelete, &CDialogMacroEdit::OnDelete);
    on(IdUp, &CDialogMacroEdit::OnUp);
    on(IdDown, &CDialogMacroEdit::OnDown);
    on(IdTestStart, &CDialogMacroEdit::OnTestStart);
    on(IdTestStop, &CDialogMacroEdit::OnTestStop);
    on(IdTrail, &CDialogMacroEdit::OnTrail);
    on(IdEraseTrail, &CDialogMacroEdit::OnEraseTrail);
    on(IdEditItem, &CDialogMacroEdit::OnEditItem);
    on(IdCondition, &CDialogMacroEdit::OnCondition);
    connect(Control<QPushButton>(IdOk), &QPushButton::clicked, this, &CDialogMacroEdit::accept);
    connect(Control<QPushButton>(IdCancel), &QPushButton::clicked, this, &CDialogMacroEdit::reject);
    const std::pair<int, int> adds[] = {
        {IdAddKey, ItemKey},   {IdAddMouse, ItemMouse},         {IdAddDelay, ItemDelay}, {IdAddString, ItemString},
        {IdAddCall, ItemCall}, {IdAddExclusive, ItemExclusive}, {IdAddLoop, ItemLoop}};
    for (const auto& [id, type] : adds)
        connect(Control<QPushButton>(id), &QPushButton::clicked, this, [this, type = type] { OnAddItem(type); });
    connect(list_, &QListWidget::itemDoubleClicked, this, [this] { OnEditItem(); });

    // textChanged, not textEdited: text set by assistive technology must reach the model too. Refreshing the field
    // from the model gives the model its own text back, which changes nothing there.
    connect(name_, &QLineEdit::textChanged, this, [this](const QString& text) {
        // The name is kept in CP949 with at most kNameBytes bytes; a longer one is cut where it is typed.
        std::string cp949 = ToCp949(text, kNameBytes);
        const QString kept = FromCp949(cp949);
        if (kept != text) {
            const int cursor = std::min(name_->cursorPosition(), static_cast<int>(kept.size()));
            name_->setText(kept);
            name_->setCursorPosition(cursor);
        }
        model_->SetNameText(std::move(cp949));
    });
    connect(repeat_, &QLineEdit::textChanged, this,
            [this](const QString& text) { model_->SetRepeatText(ToCp949(text)); });
    connect(testHotkeys_, &QCheckBox::toggled, this, [this](bool on) { model_->SetTestHotkeys(on); });
    connect(blueBoxes_, &QCheckBox::toggled, this, [this](bool on) { model_->SetBlueBoxes(on); });
    connect(hideTest_, &QCheckBox::toggled, this, &CDialogMacroEdit::OnHideTest);
    connect(displayTimer_, &QTimer::timeout, this, &CDialogMacroEdit::OnDisplayTimer);

    // Undo and redo belong to the model wherever the focus is: the list takes its own keys, the text fields are
    // filtered so that their private undo never competes with the model's, and these catch the rest.
    const auto shortcut = [this](QKeySequence keys, void (CDialogMacroEdit::*handler)()) {
        connect(new QShortcut(keys, this), &QShortcut::activated, this, handler);
    };
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_Z), &CDialogMacroEdit::Undo);
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_Y), &CDialogMacroEdit::Redo);
    shortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), &CDialogMacroEdit::Redo);
    name_->installEventFilter(this);
    repeat_->installEventFilter(this);
}

bool CDialogMacroEdit::eventFilter(QObject* watched, QEvent* event) {
    if (watched != name_ && watched != repeat_) return CDialogCommon::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::ShortcutOverride:
        // Claimed for the field so that the key press below sees it, not the window's shortcuts.
        if (UndoKeyOf(*static_cast<QKeyEvent*>(event)) != UndoKey::None) {
            event->accept();
            return true;
        }
        break;
    case QEvent::KeyPress:
        switch (UndoKeyOf(*static_cast<QKeyEvent*>(event))) {
        case UndoKey::Undo:
            Undo();
            return true;
        case UndoKey::Redo:
            Redo();
            return true;
        case UndoKey::None:
            break;
        }
        break;
    case QEvent::ContextMenu: {
        // The field's own menu, with its undo and redo doing the model's.
        auto* field = static_cast<QLineEdit*>(watched);
        std::unique_ptr<QMenu> menu(field->createStandardContextMenu());
        for (QAction* action : menu->actions()) {
            const bool undo = IsMenuAction(*action, "edit-undo", QKeySequence::Undo);
            const bool redo = IsMenuAction(*action, "edit-redo", QKeySequence::Redo);
            if (!undo && !redo) continue;
            disconnect(action, &QAction::triggered, nullptr, nullptr);
            action->setEnabled(undo ? model_->canUndo() : model_->canRedo());
            connect(action, &QAction::triggered, this, undo ? &CDialogMacroEdit::Undo : &CDialogMacroEdit::Redo);
        }
        menu->exec(static_cast<QContextMenuEvent*>(event)->globalPos());
        return true;
    }
    default:
        break;
    }
    return CDialogCommon::eventFilter(watched, event);
}

// --- Showing the model ----------------------------------------------------------------------------------------------

void CDialogMacroEdit::ShowFields() {
    const QString name = FromCp949(model_->nameText());
    if (name_->text() != name) name_->setText(name);
    const QString repeat = FromCp949(model_->repeatText());
    if (repeat_->text() != repeat) repeat_->setText(repeat);
}

void CDialogMacroEdit::ShowSummary() {
    summary_->setText(FromCp949(model_->summary()));
}

void CDialogMacroEdit::SetEditingEnabled(bool enabled) {
    for (int id : kEditingControls)
        if (QWidget* w = Control(id)) w->setEnabled(enabled && !IsPending(id));
}

void CDialogMacroEdit::ShowTestingState() {
    const bool testing = model_->testing();
    SetEditingEnabled(!testing);
    Control(IdTestStop)->setEnabled(testing);
    if (testing && !displayTimer_->isActive())
        displayTimer_->start();
    else if (!testing)
        displayTimer_->stop();
}

void CDialogMacroEdit::EditorChanged(uint32_t changes) {
    if (changes & ChangedRows)
        list_->Refresh();
    else if (changes & ChangedSelection)
        list_->RefreshSelection();
    if (changes & ChangedSummary) ShowSummary();
    if (changes & ChangedFields) ShowFields();
    if (changes & ChangedTesting) {
        ShowTestingState();
        list_->setFocus();
    }
}

void CDialogMacroEdit::CopyTextToClipboard(const std::string& cp949Text) {
    CopyCp949TextToClipboard(this, cp949Text);
}

void CDialogMacroEdit::showEvent(QShowEvent* event) {
    if (!fullSize_.isValid()) {
        // The full size is measured once the controls have their fonts and style, at the first showing: the
        // layout's own, and tall enough that the window without its test group still holds the rest.
        ensurePolished();
        layout()->activate();
        const int group = testGroup_->minimumSizeHint().height() + layout()->spacing();
        const int withoutGroup = layout()->totalMinimumSize().height() - group;
        const QSize hint = sizeHint().expandedTo(QSize(420, 480));
        fullSize_ = QSize(hint.width(), std::max(hint.height(), static_cast<int>(std::ceil(withoutGroup / 0.815)) + 1));
        ApplyHideTest(model_->hideTest());
    }
    CDialogCommon::showEvent(event);
}

void CDialogMacroEdit::ApplyHideTest(bool hide) {
    if (!fullSize_.isValid()) return; // applied at the first showing
    // The test group is the lower part of the window: hiding it cuts the window's height as the model says.
    testGroup_->setVisible(!hide);
    layout()->activate();
    resize(fullSize_.width(), hide ? MacroEditor::HiddenHeight(fullSize_.height()) : fullSize_.height());
}

// --- Commands -------------------------------------------------------------------------------------------------------

void CDialogMacroEdit::OnDelete() {
    model_->DeleteSelected();
    model_->RefreshSummary();
    ShowSummary();
    list_->setFocus();
}

void CDialogMacroEdit::OnUp() {
    model_->MoveUp();
    list_->setFocus();
}

void CDialogMacroEdit::OnDown() {
    model_->MoveDown();
    list_->setFocus();
}

void CDialogMacroEdit::Undo() {
    model_->Undo();
}

void CDialogMacroEdit::Redo() {
    model_->Redo();
}

void CDialogMacroEdit::OnTestStart() {
    model_->StartTestRun();
    ShowTestingState();
    list_->setFocus();
}

void CDialogMacroEdit::OnTestStop() {
    model_->StopTestRun();
    ShowTestingState();
    list_->setFocus();
}

void CDialogMacroEdit::OnDisplayTimer() {
    model_->OnDisplayTimer();
}

void CDialogMacroEdit::OnTrail() {
    if (!trail_) trail_ = std::make_unique<CTrailOverlay>();
    trail_->ShowTrail(model_->Trail(session_.platform().io.PrimaryScreenSize()));
    list_->setFocus();
}

void CDialogMacroEdit::OnEraseTrail() {
    if (trail_) trail_->Erase();
    list_->setFocus();
}

void CDialogMacroEdit::OnHideTest(bool hide) {
    model_->SetHideTest(hide);
    ApplyHideTest(hide);
}

// --- Item and condition dialogs -------------------------------------------------------------------------------------

void CDialogMacroEdit::OnAddItem(int itemType) {
    MacroItem item; // blank: all fields zero
    if (RunItemDialog(itemType, item)) model_->AddItem(item);
    model_->RefreshSummary();
    ShowSummary();
    list_->setFocus();
}

void CDialogMacroEdit::OnEditItem() {
    const int row = model_->EditTarget();
    if (row > 0) {
        MacroItem item = model_->macro().items[static_cast<std::size_t>(row)];
        if (RunItemDialog(item.type, item)) model_->ReplaceItem(row, item);
    }
    model_->RefreshSummary();
    ShowSummary();
    list_->setFocus();
}

bool CDialogMacroEdit::RunItemDialog(int itemType, MacroItem& item) {
    // Each dialog opens modally over the editor and takes its share of live input while it runs.
    ItemDialogMemory& memory = editing_.itemMemory;
    const CAppIni& settings = session_.settings();
    const auto run = [](QDialog& dialog) { return dialog.exec() == QDialog::Accepted; };
    switch (itemType) {
    case ItemKey: {
        CDialogKeyboard dialog(item, memory, settings, session_, this);
        return run(dialog);
    }
    case ItemMouse: {
        // The capture key writes into the open mouse dialog instead of adding an item.
        CDialogMouse dialog(item, memory, settings, session_, this);
        model_->SetMouseItemTarget(&dialog);
        const bool ok = run(dialog);
        model_->SetMouseItemTarget(nullptr);
        return ok;
    }
    case ItemDelay: {
        CDialogDelay dialog(item, memory, settings, session_, this);
        return run(dialog);
    }
    case ItemString: {
        CDialogString dialog(item, memory, this);
        return run(dialog);
    }
    case ItemCall: {
        CDialogMacro dialog(item, memory, session_.library(), model_->ownIndex(), this);
        return run(dialog);
    }
    case ItemExclusive: {
        CDialogCS dialog(item, memory, this);
        return run(dialog);
    }
    case ItemLoop: {
        CDialogLoop dialog(item, memory, this);
        return run(dialog);
    }
    default:
        return false;
    }
}

void CDialogMacroEdit::OnCondition() {
    // The conditions are no part of what the editor shows or undoes: nothing is refreshed after the dialog.
    CDialogMacroStart dialog(session_, working_, this);
    dialog.exec();
}

// --- Closing --------------------------------------------------------------------------------------------------------

void CDialogMacroEdit::accept() {
    const MacroEditor::Verdict verdict = model_->Accept();
    if (verdict != MacroEditor::Verdict::Ok) {
        ShowMessageBox(this, FromCp949(MacroEditor::VerdictMessage(verdict)), QMessageBox::Warning, QMessageBox::Ok);
        return;
    }
    CDialogCommon::accept();
}

void CDialogMacroEdit::reject() {
    model_->Cancel();
    CDialogCommon::reject();
}

void CDialogMacroEdit::done(int result) {
    displayTimer_->stop();
    if (trail_) trail_->Erase();
    CDialogCommon::done(result);
}

} // namespace quillet::gui
