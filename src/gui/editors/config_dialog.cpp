#include "gui/editors/config_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include "gui/editors/item_dialog_controls.h"
#include "gui/text.h"
#include "gui/translations.h"

namespace quillet::gui {

using namespace item_dialog;

namespace {

// A field that takes only the digits 0..9, so no negative number can be typed.
QLineEdit* DigitsEdit(QWidget* parent, int id, const QString& name) {
    QLineEdit* edit = Edit(parent, id, name);
    edit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
    return edit;
}

// A key list with its label in front, on one row of grid: every key name, row `selected` chosen (none when -1).
QComboBox* AddKeyRow(QGridLayout* grid, QWidget* parent, int row, int id, const char* utf8Label, int selected) {
    QComboBox* combo = DropDown(parent, id, Utf8(utf8Label));
    CDialogCommon::FillKeyCombo(combo, -1);
    combo->setCurrentIndex(selected);
    grid->addWidget(LabelFor(parent, combo, utf8Label), row, 0);
    grid->addWidget(combo, row, 1);
    return combo;
}

// The language list names itself in both languages and each language in its own, so that a person who reads only
// one of them finds the way back. These texts are shown as written, not looked up; their catalogue twins
// ("Language:", "Korean") are what screen readers announce in English.
const char* const kLanguageCaption = "언어 / Language:";
const char* const kLanguageNames[] = {"한국어", "English"}; // in the order of the Language values

// Shown while the list differs from the language the program runs in, in the language chosen.
const char* const kLanguageNote = "새로 여는 창부터 이 언어로 보입니다. 메인 창과 도구 창은 다시 시작하면 바뀝니다.";

Language LanguageAt(int row) {
    return row == 1 ? Language::English : Language::Korean;
}

} // namespace

CDialogConfig::CDialogConfig(CAppIni& settings, QWidget* parent) : CDialogCommon(parent), model_(settings) {
    setObjectName(QStringLiteral("136"));
    setWindowTitle(Utf8("Quillet 설정"));
    Build();
}

CDialogConfig::~CDialogConfig() = default;

void CDialogConfig::Build() {
    const SettingsDialogModel& m = model_;
    auto* layout = new QVBoxLayout(this);

    // The program.
    auto* program = new QGroupBox(Utf8("프로그램 실행과 관련된 설정"), this);
    auto* p = new QGridLayout(program);
    QLineEdit* title = Edit(program, IdTitle, Utf8("매크로 프로그램 이름 변경:"));
    title->setText(FromCp949(m.title));
    p->addWidget(LabelFor(program, title, "매크로 프로그램 이름 변경:"), 0, 0);
    p->addWidget(title, 0, 1);
    QCheckBox* onTop = Check(program, IdAlwaysOnTop, "다른 윈도우보다 항상 위에 두기");
    onTop->setChecked(m.alwaysOnTop);
    p->addWidget(onTop, 1, 0, 1, 2);
    QCheckBox* minimised = Check(program, IdStartMinimised, "프로그램 시작시 시스템 트레이로 최소화");
    minimised->setChecked(m.startMinimised);
    p->addWidget(minimised, 2, 0, 1, 2);
    QComboBox* layouts = DropDown(program, IdHangulKeyboard, Utf8("윈도우즈 IME 한글 입력기:"));
    layouts->addItems({Utf8("두벌식 자판"), Utf8("세벌식 390 자판"), Utf8("세벌식 최종 자판")});
    layouts->setCurrentIndex(m.hangulKeyboard);
    p->addWidget(LabelFor(program, layouts, "윈도우즈 IME 한글 입력기:"), 3, 0);
    p->addWidget(layouts, 3, 1);
    QComboBox* language = DropDown(program, IdLanguage, Utf8(kLanguageCaption));
    for (const char* name : kLanguageNames) {
        language->addItem(QString::fromUtf8(name));
        language->setItemData(language->count() - 1, Utf8(name), Qt::AccessibleTextRole);
    }
    language->setCurrentIndex(m.language == Language::English ? 1 : 0);
    auto* languageLabel = new QLabel(QString::fromUtf8(kLanguageCaption), program);
    languageLabel->setObjectName(QStringLiteral("languageLabel"));
    languageLabel->setAccessibleName(Utf8(kLanguageCaption));
    languageLabel->setBuddy(language);
    p->addWidget(languageLabel, 4, 0);
    p->addWidget(language, 4, 1);
    languageNote_ = new QLabel(program);
    languageNote_->setObjectName(QStringLiteral("languageNote"));
    languageNote_->setWordWrap(true);
    p->addWidget(languageNote_, 5, 0, 1, 2);
    connect(language, &QComboBox::currentIndexChanged, this, &CDialogConfig::ShowLanguageNote);
    ShowLanguageNote(language->currentIndex());
    layout->addWidget(program);

    // Running macros.
    auto* running = new QGroupBox(Utf8("매크로 실행과 관련된 설정"), this);
    auto* r = new QGridLayout(running);
    AddKeyRow(r, running, 0, IdRunKey, "매크로 실행/편집 토글 키:", m.runKey);
    QCheckBox* selected =
        Check(running, IdStartSelected, "\"매크로 실행 가능\" 선택 시 리스트 박스에서 선택된 매크로 실행");
    selected->setChecked(m.startSelected);
    r->addWidget(selected, 1, 0, 1, 3);
    QCheckBox* blink = Check(running, IdTrayBlink, "매크로 실행/중단 시 아이콘 깜박임 및 말풍선 알림");
    blink->setChecked(m.trayBlink);
    r->addWidget(blink, 2, 0, 1, 3);
    QLineEdit* sequence = DigitsEdit(running, IdSequenceStart, Utf8("\"문자열 추가\"에서 시퀀스 숫자 시작 값: "));
    sequence->setText(QString::fromStdString(m.sequenceStart));
    r->addWidget(LabelFor(running, sequence, "\"문자열 추가\"에서 시퀀스 숫자 시작 값: "), 3, 0);
    r->addWidget(sequence, 3, 1);
    QLineEdit* eventDelay = DigitsEdit(running, IdEventDelay, Utf8("매크로 이벤트 실행 주기: "));
    eventDelay->setText(QString::fromStdString(m.eventDelay));
    r->addWidget(LabelFor(running, eventDelay, "매크로 이벤트 실행 주기: "), 4, 0);
    r->addWidget(eventDelay, 4, 1);
    r->addWidget(Text(running, "밀리초"), 4, 2);
    QLineEdit* colorDelay = DigitsEdit(running, IdColorDelay, Utf8("색, 이미지 인식 실행 주기: "));
    colorDelay->setText(QString::fromStdString(m.colorDelay));
    r->addWidget(LabelFor(running, colorDelay, "색, 이미지 인식 실행 주기: "), 5, 0);
    r->addWidget(colorDelay, 5, 1);
    r->addWidget(Text(running, "밀리초"), 5, 2);
    QCheckBox* ime = Check(running, IdFollowIme, "매크로 실행시 IME의 한/영 전환 상태 감지");
    ime->setChecked(m.followIme);
    r->addWidget(ime, 6, 0, 1, 3);
    layout->addWidget(running);

    // Recording.
    auto* recording = new QGroupBox(Utf8("매크로 기록에 사용되는 키 설정"), this);
    auto* k = new QGridLayout(recording);
    AddKeyRow(k, recording, 0, IdRecordKey, "매크로 기록 시작/중단 키:", m.recordKey);
    AddKeyRow(k, recording, 1, IdCaptureKey, "마우스 현재 위치 캡쳐 키:", m.captureKey);
    layout->addWidget(recording);

    // Conditions.
    auto* conditions = new QGroupBox(Utf8("매크로 시작/중지 조건 설정에 사용되는 키 설정"), this);
    auto* c = new QGridLayout(conditions);
    AddKeyRow(c, conditions, 0, IdColorStartKey, "시작 색, 화면위치 선택 키:", m.colorStartKey);
    AddKeyRow(c, conditions, 1, IdColorStopKey, "종료 색, 화면위치 선택 키:", m.colorStopKey);
    QCheckBox* marks = Check(conditions, IdMarkColors, "화면에 매크로 시작(빨강)/종료(파랑) 색 인식 위치 표시");
    marks->setChecked(m.markColors);
    c->addWidget(marks, 2, 0, 1, 2);
    QCheckBox* release = Check(conditions, IdReleaseOnStop, "매크로 중지 시 모든 눌린 키/버튼 떼기");
    release->setChecked(m.releaseOnStop);
    c->addWidget(release, 3, 0, 1, 2);
    QCheckBox* images = Check(conditions, IdImageResult, "매크로 시작 이미지 매칭 결과 표시");
    images->setChecked(m.imageResult);
    c->addWidget(images, 4, 0, 1, 2);
    layout->addWidget(conditions);

    layout->addLayout(OkCancelRow(this));
}

void CDialogConfig::accept() {
    SettingsDialogModel& m = model_;
    m.title = ToCp949(Control<QLineEdit>(IdTitle)->text(), 259);
    m.hangulKeyboard = Control<QComboBox>(IdHangulKeyboard)->currentIndex();
    m.runKey = Control<QComboBox>(IdRunKey)->currentIndex();
    m.recordKey = Control<QComboBox>(IdRecordKey)->currentIndex();
    m.captureKey = Control<QComboBox>(IdCaptureKey)->currentIndex();
    m.colorStartKey = Control<QComboBox>(IdColorStartKey)->currentIndex();
    m.colorStopKey = Control<QComboBox>(IdColorStopKey)->currentIndex();
    m.alwaysOnTop = Control<QCheckBox>(IdAlwaysOnTop)->isChecked();
    m.startMinimised = Control<QCheckBox>(IdStartMinimised)->isChecked();
    m.startSelected = Control<QCheckBox>(IdStartSelected)->isChecked();
    m.trayBlink = Control<QCheckBox>(IdTrayBlink)->isChecked();
    m.followIme = Control<QCheckBox>(IdFollowIme)->isChecked();
    m.markColors = Control<QCheckBox>(IdMarkColors)->isChecked();
    m.releaseOnStop = Control<QCheckBox>(IdReleaseOnStop)->isChecked();
    m.imageResult = Control<QCheckBox>(IdImageResult)->isChecked();
    m.sequenceStart = Control<QLineEdit>(IdSequenceStart)->text().toStdString();
    m.eventDelay = Control<QLineEdit>(IdEventDelay)->text().toStdString();
    m.colorDelay = Control<QLineEdit>(IdColorDelay)->text().toStdString();
    m.language = LanguageAt(Control<QComboBox>(IdLanguage)->currentIndex());
    m.Accept();
    // Windows made from now on speak the new language.
    if (m.language != CurrentLanguage()) SetLanguage(m.language);
    QDialog::accept();
}

void CDialogConfig::ShowLanguageNote(int row) {
    const Language chosen = LanguageAt(row);
    languageNote_->setText(chosen == CurrentLanguage() ? QString() : TextIn(chosen, kLanguageNote));
    languageNote_->setVisible(chosen != CurrentLanguage());
}

} // namespace quillet::gui
