#include "editing/macro_editor.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "input/input_decoder.h"
#include "model/cp949.h"
#include "model/decimal.h"
#include "model/item_text.h"
#include "model/key_table.h"
#include "model/text_fill.h"
#include "model/texts.h"

namespace quillet {

namespace {

constexpr int kVkInsert = 0x2D;
constexpr int32_t kCaptureFlags = MouseMove | 0x8000; // an absolute move
constexpr std::size_t kNameBytesMax = 254;
constexpr std::size_t kSummaryBytesMax = 255;
constexpr std::size_t kHintBytesMax = 1023;
constexpr std::size_t kUndoDepth = 500;
constexpr int32_t kButtonPressBits = MouseLeftDown | MouseRightDown | MouseMiddleDown | MouseXDown;

std::string CutText(std::string s, std::size_t maxBytes) {
    s.resize(Cp949HeadLength(s, maxBytes));
    return s;
}

} // namespace

MacroEditor::MacroEditor(Macro& working, int ownIndex, EditorServices services)
    : working_(working), ownIndex_(ownIndex), s_(std::move(services)) {
    if (working_.name.empty()) {
        // An empty name is the only sign of a new macro: it gets the defaults of one made here.
        isNew_ = true;
        working_.name = UniqueMacroName(s_.library, "Macro %d");
        working_.startKey = 113;  // F2
        working_.stopKey = 114;   // F3
        working_.flags = 0x10024; // repeat once, start and stop keys on
        working_.items.assign(1, MacroItem{});
    }
    if (working_.items.empty()) working_.items.emplace_back(); // a damaged record without its start item
    name_ = working_.name;
    repeat_ = std::to_string(working_.repeatCount());
    testHotkeys_ = (s_.settings.editOptions & EditTestHotkeys) != 0;
    blueBoxes_ = (s_.settings.editOptions & EditBlueBoxes) != 0;
    selection_.assign(working_.items.size(), false);
    selection_[0] = true;
    RefreshSummary();

    timer_ = std::make_unique<CMmtMacro>(s_.clock, s_.timerCounter, s_.post);
    // Set once for the editor's life: a tick must never replace the closure that is running it.
    timer_->SetOwner([this] {
        // A person's stop key that has arrived goes first.
        if (s_.drainInput) s_.drainInput();
        if (testing_) s_.engine.OnEditorTimer(working_, lastTick_);
    });
}

MacroEditor::~MacroEditor() {
    if (testing_) StopTest(HeldInput::Release);
}

std::string MacroEditor::Title() const {
    return TrCp949(isNew_ ? "매크로 추가" : "매크로 편집");
}

std::string MacroEditor::HintText() const {
    return CutText(FillText(TrCp949("%1를 눌러 현재 마우스 위치를 매크로 항목에 추가합니다. Insert key를 누르면 매크로 "
                                    "이름과 모든 내용을 클립보드에 텍스트로 복사합니다. "),
                            {KeyLongName(s_.settings.keyMousePosCapture)}),
                   kHintBytesMax);
}

void MacroEditor::Notify(uint32_t changes) {
    if (view_ != nullptr && changes != 0) view_->EditorChanged(changes);
}

// --- Rows and selection ------------------------------------------------------------------------------------------

std::string MacroEditor::RowText(int row) const {
    if (row < 0 || row >= rowCount()) return {};
    return ItemRowText(working_.items[static_cast<std::size_t>(row)], s_.settings.macroOptions);
}

bool MacroEditor::IsSelected(int row) const {
    return row >= 0 && row < rowCount() && selection_[static_cast<std::size_t>(row)];
}

std::vector<int> MacroEditor::SelectedRows() const {
    std::vector<int> rows;
    for (int i = 0; i < rowCount(); ++i)
        if (selection_[static_cast<std::size_t>(i)]) rows.push_back(i);
    return rows;
}

void MacroEditor::SetSelection(const std::vector<int>& rows) {
    selection_.assign(working_.items.size(), false);
    for (int r : rows)
        if (r >= 0 && r < rowCount()) selection_[static_cast<std::size_t>(r)] = true;
}

int MacroEditor::HighestSelected() const {
    for (int i = rowCount() - 1; i >= 0; --i)
        if (selection_[static_cast<std::size_t>(i)]) return i;
    return -1;
}

int MacroEditor::LowestSelected() const {
    for (int i = 0; i < rowCount(); ++i)
        if (selection_[static_cast<std::size_t>(i)]) return i;
    return -1;
}

int MacroEditor::InsertPosition() const {
    const int high = HighestSelected();
    return high < 0 ? rowCount() : high + 1;
}

void MacroEditor::SelectOnly(int row) {
    selection_.assign(working_.items.size(), false);
    if (row >= 0 && row < rowCount()) selection_[static_cast<std::size_t>(row)] = true;
}

void MacroEditor::InsertAt(int row, const MacroItem& item) {
    row = std::clamp(row, 0, rowCount());
    working_.items.insert(working_.items.begin() + row, item);
    selection_.insert(selection_.begin() + row, false);
}

void MacroEditor::EraseAt(int row) {
    working_.items.erase(working_.items.begin() + row);
    selection_.erase(selection_.begin() + row);
}

// --- Fields ------------------------------------------------------------------------------------------------------

void MacroEditor::SetNameText(std::string cp949) {
    cp949 = CutText(std::move(cp949), kNameBytesMax);
    if (cp949 == name_) return;
    Remember(Field::Name);
    name_ = std::move(cp949);
}

void MacroEditor::SetRepeatText(std::string text) {
    if (text == repeat_) return;
    Remember(Field::Repeat);
    repeat_ = std::move(text);
}

bool MacroEditor::hideTest() const {
    return (s_.settings.macroOptions & OptionHideEditorTest) != 0;
}

void MacroEditor::SetHideTest(bool on) {
    if (on)
        s_.settings.macroOptions |= OptionHideEditorTest;
    else
        s_.settings.macroOptions &= ~OptionHideEditorTest;
}

int MacroEditor::HiddenHeight(int fullHeight) {
    return fullHeight + static_cast<int>(std::trunc(-fullHeight * 0.185));
}

int32_t MacroEditor::RepeatCountFromText(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return 0;
    int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return 0;                                    // not a number
        value = std::min<int64_t>(value * 10 + (c - '0'), int64_t{1} << 40); // saturates long before overflow
    }
    if (negative) return 0;
    return static_cast<int32_t>(std::min<int64_t>(value, 65535));
}

// --- Buttons -----------------------------------------------------------------------------------------------------

void MacroEditor::AddItem(const MacroItem& item) {
    Remember();
    const int p = InsertPosition();
    InsertAt(p, item);
    SelectOnly(p);
    RefreshSummary();
    Notify(ChangedRows | ChangedSummary);
}

int MacroEditor::EditTarget() const {
    const int e = LowestSelected();
    return e <= 0 ? -1 : e;
}

void MacroEditor::ReplaceItem(int row, const MacroItem& item) {
    if (row <= 0 || row >= rowCount()) return;
    Remember();
    working_.items[static_cast<std::size_t>(row)] = item;
    SelectOnly(row);
    RefreshSummary();
    Notify(ChangedRows | ChangedSummary);
}

void MacroEditor::DeleteSelected() {
    if (HighestSelected() <= 0) return; // nothing, or only the start item
    Remember();
    for (int i = rowCount() - 1; i >= 1; --i)
        if (selection_[static_cast<std::size_t>(i)]) EraseAt(i);
    Notify(ChangedRows);
}

bool MacroEditor::MoveUp() {
    const int low = LowestSelected();
    if (low <= 1) return false; // nothing selected, or the block would pass the start item
    Remember();
    for (int i : SelectedRows()) {
        const auto k = static_cast<std::size_t>(i);
        const bool aboveSelected = selection_[k - 1];
        std::swap(working_.items[k], working_.items[k - 1]);
        selection_[k - 1] = true;
        selection_[k] = aboveSelected;
    }
    Notify(ChangedRows);
    return true;
}

bool MacroEditor::MoveDown() {
    const int low = LowestSelected();
    const int high = HighestSelected();
    if (low <= 0 || high >= rowCount() - 1) return false;
    Remember();
    const std::vector<int> rows = SelectedRows();
    for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
        const auto k = static_cast<std::size_t>(*it);
        const bool belowSelected = selection_[k + 1];
        std::swap(working_.items[k], working_.items[k + 1]);
        selection_[k + 1] = true;
        selection_[k] = belowSelected;
    }
    Notify(ChangedRows);
    return true;
}

// --- The list's keys ---------------------------------------------------------------------------------------------

void MacroEditor::SelectAll() {
    selection_.assign(working_.items.size(), true);
    Notify(ChangedSelection);
}

void MacroEditor::Copy() {
    std::vector<MacroItem> copied;
    for (int i : SelectedRows())
        if (i > 0) copied.push_back(working_.items[static_cast<std::size_t>(i)]);
    // Only the start item selected: the clipboard keeps what it has.
    if (!copied.empty()) s_.clipboard.items = std::move(copied);
}

void MacroEditor::Cut() {
    if (HighestSelected() <= 0) return;
    Remember();
    std::vector<MacroItem> cut;
    for (int i = rowCount() - 1; i >= 1; --i) {
        if (!selection_[static_cast<std::size_t>(i)]) continue;
        cut.push_back(working_.items[static_cast<std::size_t>(i)]);
        EraseAt(i);
    }
    std::reverse(cut.begin(), cut.end()); // list order
    s_.clipboard.items = std::move(cut);
    Notify(ChangedRows);
}

void MacroEditor::Paste() {
    const int a = HighestSelected();
    if (a < 0) return;
    // The selection is cleared also when there is nothing to paste, so that the next add goes to the end.
    if (s_.clipboard.items.empty()) {
        selection_.assign(working_.items.size(), false);
        Notify(ChangedSelection);
        return;
    }
    Remember();
    selection_.assign(working_.items.size(), false);
    // Copies of the clipboard's items: the same items can be pasted again, each time with buffers of their own.
    const std::vector<MacroItem> items = s_.clipboard.items;
    for (std::size_t j = 0; j < items.size(); ++j) {
        const int row = a + 1 + static_cast<int>(j);
        InsertAt(row, items[j]);
        selection_[static_cast<std::size_t>(row)] = true;
    }
    Notify(ChangedRows);
}

// --- Summary -----------------------------------------------------------------------------------------------------

void MacroEditor::RefreshSummary() {
    int32_t counter = 0;
    const int32_t t = EstimateRunTime(s_.library, working_, s_.settings.eventDelay, counter);
    const int n = rowCount() - 1;
    std::string text;
    if (t < kEstimateCycle) {
        text = FillText(TrCp949("%1개 항목이 기록됨 (%2 초)"), {std::to_string(n), FormatGeneral(t / 1000.0)});
    } else {
        text = FillText(TrCp949("%1개 항목이 기록됨 (순환호출!)"), {std::to_string(n)});
    }
    summary_ = CutText(std::move(text), kSummaryBytesMax);
}

// --- Closing -----------------------------------------------------------------------------------------------------

void MacroEditor::WriteEditOptions() {
    int32_t& options = s_.settings.editOptions;
    options = (options & ~(EditTestHotkeys | EditBlueBoxes)) | (testHotkeys_ ? EditTestHotkeys : 0) |
              (blueBoxes_ ? EditBlueBoxes : 0);
}

MacroEditor::Verdict MacroEditor::Accept() {
    WriteEditOptions();
    working_.name = name_;
    // The clamped count is stored at once; the field keeps what the person typed until the dialog closes, so that a
    // refused OK does not change it behind the message.
    working_.setRepeatCount(RepeatCountFromText(repeat_));
    if (working_.name.empty()) return Verdict::NoName;
    if (FindMacroByName(s_.library, working_.name, ownIndex_) >= 0) return Verdict::NameTaken;
    if (!IsWellFormed(working_.items)) return Verdict::Unbalanced;
    repeat_ = std::to_string(working_.repeatCount());
    Notify(ChangedFields);
    // The dialog closes: a test run still going ends with it.
    if (testing_) StopTest(HeldInput::Release);
    return Verdict::Ok;
}

std::string MacroEditor::VerdictMessage(Verdict verdict) {
    switch (verdict) {
    case Verdict::NoName:
        return TrCp949("매크로 이름이 지정되지 않았습니다. 이름을 입력하시기 바랍니다.");
    case Verdict::NameTaken:
        return TrCp949("같은 이름의 매크로가 존재합니다. 다른 이름을 입력하시기 바랍니다.");
    case Verdict::Unbalanced:
        return TrCp949("매크로 내에서 반복구간이나 독점실행구간이 올바르게 열리고 닫히지 않았습니다.");
    case Verdict::Ok:
        break;
    }
    return {};
}

void MacroEditor::Cancel() {
    WriteEditOptions();
    if (testing_) StopTest(HeldInput::Release);
}

// --- Undo --------------------------------------------------------------------------------------------------------

MacroEditor::Snapshot MacroEditor::Take() const {
    return Snapshot{working_.items, selection_, name_, repeat_};
}

void MacroEditor::Remember(Field field) {
    // Typing in one field is one step.
    if (field != Field::None && field == lastField_) return;
    lastField_ = field;
    undo_.push_back(Take());
    if (undo_.size() > kUndoDepth) undo_.erase(undo_.begin());
    redo_.clear();
}

void MacroEditor::Restore(Snapshot s) {
    working_.items = std::move(s.items);
    selection_ = std::move(s.selection);
    name_ = std::move(s.name);
    repeat_ = std::move(s.repeat);
    lastField_ = Field::None;
    RefreshSummary();
    Notify(ChangedRows | ChangedFields | ChangedSummary);
}

bool MacroEditor::Undo() {
    if (undo_.empty()) return false;
    redo_.push_back(Take());
    Snapshot s = std::move(undo_.back());
    undo_.pop_back();
    Restore(std::move(s));
    return true;
}

bool MacroEditor::Redo() {
    if (redo_.empty()) return false;
    undo_.push_back(Take());
    Snapshot s = std::move(redo_.back());
    redo_.pop_back();
    Restore(std::move(s));
    return true;
}

// --- Test run ----------------------------------------------------------------------------------------------------

void MacroEditor::StartTestRun() {
    if (testing_) return;
    testing_ = true;
    timer_->period = s_.settings.TickPeriodMs();
    timer_->Start();
    int pos = HighestSelected();
    if (pos < 1) pos = 1;
    s_.engine.StartMacro(working_, pos);
    lastTick_ = s_.clock.NowMs();
    Notify(ChangedTesting);
}

void MacroEditor::StopTestRun() {
    if (testing_) StopTest(HeldInput::AsSettingSays);
}

void MacroEditor::StopTest(HeldInput held) {
    // A run that has reached its end is not stopped again: what it holds stays as it is.
    if (IsRunning(working_)) s_.engine.StopMacro(working_, held);
    timer_->Stop();
    testing_ = false;
    Notify(ChangedTesting);
}

void MacroEditor::OnDisplayTimer() {
    if (!testing_) return;
    int p = working_.runPos;
    if (p < 0 || p >= rowCount()) {
        StopTest(HeldInput::AsSettingSays);
        p = 0;
    }
    SelectOnly(p);
    Notify(ChangedSelection);
}

// --- Trail -------------------------------------------------------------------------------------------------------

MouseTrail MacroEditor::Trail(platform::ScreenSize screen) const {
    MouseTrail trail;
    for (int i = 0; i < rowCount(); ++i) {
        const MacroItem& item = working_.items[static_cast<std::size_t>(i)];
        if (item.type != ItemMouse) continue;
        int32_t x = item.mouseX();
        int32_t y = item.mouseY();
        if ((item.mouseFlags() & MouseNormalized) != 0) {
            // The product as a 32-bit integer, scaled as a double, truncated.
            const auto px = static_cast<int32_t>(static_cast<uint32_t>(x) * static_cast<uint32_t>(screen.width));
            const auto py = static_cast<int32_t>(static_cast<uint32_t>(y) * static_cast<uint32_t>(screen.height));
            x = static_cast<int32_t>(std::trunc(px / 65536.0));
            y = static_cast<int32_t>(std::trunc(py / 65536.0));
        }
        trail.line.push_back({x, y});
        // A position read from a file can be anything in 32 bits: the boxes' corners stop at the lowest value
        // instead of overflowing.
        const auto box = [x, y](int32_t half) {
            const auto corner = [half](int32_t v) {
                return static_cast<int32_t>(std::max<int64_t>(int64_t{v} - half, std::numeric_limits<int32_t>::min()));
            };
            return platform::ScreenRect{corner(x), corner(y), 2 * half, 2 * half};
        };
        if ((item.mouseFlags() & kButtonPressBits) != 0) trail.pressBoxes.push_back(box(4));
        if (blueBoxes_ && selection_[static_cast<std::size_t>(i)]) {
            trail.selectedBoxes.push_back(box(8));
            trail.selectedBoxes.push_back(box(12));
        }
    }
    return trail;
}

// --- Live input --------------------------------------------------------------------------------------------------

void MacroEditor::OnEditorInputEvent(int code, bool isPress) {
    if (testHotkeys_) {
        const int32_t e = MakeKeyEventCode(code, isPress, s_.io);
        if (KeyConditionMatches(working_.startKey, e)) {
            if (!testing_) StartTestRun();
        } else if (testing_ && KeyConditionMatches(working_.stopKey, e)) {
            StopTestRun();
        }
    }
    if (code == s_.settings.keyMousePosCapture && isPress) CaptureCursor();
    if (code == kVkInsert && !isPress && view_ != nullptr) view_->CopyTextToClipboard(ExportText());
}

void MacroEditor::CaptureCursor() {
    if (mouseTarget_ != nullptr) {
        const Point p = mouseTarget_->LivePosition();
        if (mouseTarget_->AbsoluteChecked()) {
            mouseTarget_->SetItemPosition(p.x, p.y);
        } else {
            mouseTarget_->SetItemPosition(p.x - s_.lastCapturePoint.x, p.y - s_.lastCapturePoint.y);
            s_.lastCapturePoint = p;
        }
        return;
    }
    platform::ScreenPoint cursor;
    if (!s_.io.CursorPos(cursor)) return;
    Remember();
    const int p = InsertPosition();
    InsertAt(p, MakeMouseItem(cursor.x, cursor.y, kCaptureFlags));
    SelectOnly(p);
    Notify(ChangedRows);
}

std::string MacroEditor::ExportText() const {
    return MacroText(working_, s_.settings.macroOptions);
}

} // namespace quillet
