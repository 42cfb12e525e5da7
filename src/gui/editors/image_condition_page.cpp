// The image page (146) of the start/stop condition dialog and its template preview.
#include <filesystem>
#include <system_error>

#include <QCheckBox>
#include <QDir>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include "gui/editors/condition_dialog.h"
#include "gui/editors/item_dialog_controls.h"
#include "gui/message_box.h"
#include "gui/text.h"
#include "imagefile/image_file.h"

namespace quillet::gui {

using namespace item_dialog;

namespace {

// The decoded picture as the preview shows it: files of 8-bit grey, 24-bit or 32-bit pixels (the fourth byte
// ignored, as a bitmap draws it), in the rows and columns the file stores; any other pixel size gives nothing.
QImage Shown(const std::string& cp949Path) {
    const ImageDecodeResult decoded = DecodeImageFile(cp949Path, ImageOrientation::AsStored);
    if (!decoded.ok()) return {};
    const int bits = decoded.image.layout.bitsPerPixel();
    if (bits != 8 && bits != 24 && bits != 32) return {};
    const BgrPicture& p = decoded.image.picture;
    return QImage(p.bytes.data(), p.width, p.height, static_cast<qsizetype>(p.stride), QImage::Format_BGR888).copy();
}

} // namespace

// --- Preview --------------------------------------------------------------------------------------------------------

CImagePreview::CImagePreview(QWidget* parent) : QFrame(parent) {
    setFrameShape(QFrame::NoFrame);
}

void CImagePreview::Load(const std::string& cp949Path) {
    image_ = QImage();
    // The path goes to the file system as it is stored, as the image condition reads it; asking the file system
    // first keeps a missing file from reaching the decoder, which would complain about it.
    std::error_code ec;
    if (!cp949Path.empty() && std::filesystem::is_regular_file(std::filesystem::path(cp949Path), ec))
        image_ = Shown(cp949Path);
    update();
}

void CImagePreview::Clear() {
    image_ = QImage();
    update();
}

QRect CImagePreview::DrawnRect() const {
    if (image_.isNull()) return {};
    const platform::ScreenRect r = ImagePageModel::PreviewRect(image_.width(), image_.height(), width(), height());
    return {r.left, r.top, r.width, r.height};
}

void CImagePreview::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (image_.isNull()) return;
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(DrawnRect(), image_);
}

// --- Image page (146) ----------------------------------------------------------------------------------------------

CDialogMacroStartPattern::CDialogMacroStartPattern(ConditionDialogModel& model, QWidget* parent)
    : CDialogCommon(parent), model_(model) {
    setObjectName(QStringLiteral("146"));
    ImagePageModel& m = model_.images;
    on_ = Check(this, IdOn, "매크로 시작에 이미지 매칭 사용");
    onChange_ = Check(this, IdOnChange, "찾은 후 한 번만 적용");
    path_ = Edit(this, IdPath, Utf8("이미지 파일 이름:"));
    choose_ = Button(this, IdChoose, "...");
    choose_->setAutoDefault(false);
    choose_->setMaximumWidth(40);
    choose_->setAccessibleDescription(Utf8("이미지 파일 이름:"));
    startX_ = Edit(this, IdStartX, QStringLiteral("SX:"));
    startY_ = Edit(this, IdStartY, QStringLiteral("SY:"));
    endX_ = Edit(this, IdEndX, QStringLiteral("EX:"));
    endY_ = Edit(this, IdEndY, QStringLiteral("EY:"));
    threshold_ = Edit(this, IdThreshold, Utf8("이미지 매칭 유사도:"));
    auto* moveMouse = Check(this, IdMoveMouse, "이미지 중앙으로 마우스 위치 설정");
    preview_ = SetControlId(new CImagePreview(this), IdPreview);
    preview_->setAccessibleName(Utf8("이미지 미리보기"));
    preview_->setFixedSize(120, 112);

    on_->setChecked(m.on);
    connect(on_, &QCheckBox::toggled, this, [this](bool on) {
        model_.images.on = on;
        ApplyEnableRules();
    });
    const std::pair<QAbstractButton*, bool*> checks[] = {{onChange_, &m.onChange}, {moveMouse, &m.moveMouse}};
    for (const auto& [box, field] : checks) {
        box->setChecked(*field);
        connect(box, &QAbstractButton::toggled, this, [field = field](bool on) { *field = on; });
    }
    const std::pair<QLineEdit*, std::string*> texts[] = {{path_, &m.path},     {startX_, &m.startX},
                                                         {startY_, &m.startY}, {endX_, &m.endX},
                                                         {endY_, &m.endY},     {threshold_, &m.threshold}};
    for (const auto& [edit, field] : texts) {
        edit->setText(FromCp949(*field));
        // A path typed by hand is stored on OK; the preview is read again only through the chooser.
        connect(edit, &QLineEdit::textChanged, this, [field = field](const QString& t) { *field = ToCp949(t); });
    }
    connect(choose_, &QPushButton::clicked, this, &CDialogMacroStartPattern::OnChoose);

    auto* layout = new QVBoxLayout(this);
    auto* titleRow = new QHBoxLayout;
    titleRow->addWidget(on_);
    titleRow->addStretch(1);
    titleRow->addWidget(onChange_);
    layout->addLayout(titleRow);
    layout->addWidget(LabelFor(this, path_, "이미지 파일 이름:"));
    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(path_, 1);
    pathRow->addWidget(choose_);
    layout->addLayout(pathRow);

    auto* fields = new QGridLayout;
    fields->addWidget(Text(this, "화면 검색 시작과 끝 위치:"), 0, 0, 1, 4);
    const std::pair<QLineEdit*, const char*> corners[] = {
        {startX_, "SX:"}, {startY_, "SY:"}, {endX_, "EX:"}, {endY_, "EY:"}};
    for (int i = 0; i < 4; ++i) {
        const auto& [edit, label] = corners[i];
        fields->addWidget(LabelFor(this, edit, label), 1 + i / 2, (i % 2) * 2);
        fields->addWidget(edit, 1 + i / 2, (i % 2) * 2 + 1);
        edit->setMaximumWidth(64);
    }
    auto* thresholdRow = new QHBoxLayout;
    thresholdRow->addWidget(LabelFor(this, threshold_, "이미지 매칭 유사도:"));
    thresholdRow->addWidget(threshold_);
    threshold_->setMaximumWidth(48);
    thresholdRow->addStretch(1);
    auto* left = new QVBoxLayout;
    left->addLayout(fields);
    left->addLayout(thresholdRow);
    left->addWidget(moveMouse);
    left->addStretch(1);
    auto* middle = new QHBoxLayout;
    middle->addLayout(left, 1);
    middle->addWidget(preview_, 0, Qt::AlignTop);
    layout->addLayout(middle);
    auto hint = [this](int id, const std::string& cp949) {
        auto* label = SetControlId(new QLabel(FromCp949(cp949), this), id);
        label->setWordWrap(true);
        label->setAccessibleName(label->text());
        return label;
    };
    layout->addWidget(hint(IdStartHint, model_.ImageStartHint()));
    layout->addWidget(hint(IdStopHint, model_.ImageStopHint()));
    layout->addStretch(1);

    preview_->Load(m.path);
    ApplyEnableRules();
}

void CDialogMacroStartPattern::ApplyEnableRules() {
    for (QWidget* w :
         std::initializer_list<QWidget*>{onChange_, path_, choose_, startX_, startY_, endX_, endY_, threshold_})
        w->setEnabled(model_.images.on);
}

void CDialogMacroStartPattern::ShowFields() {
    // Each field written here writes the same text back into the model.
    SetFieldText(startX_, FromCp949(model_.images.startX));
    SetFieldText(startY_, FromCp949(model_.images.startY));
    SetFieldText(endX_, FromCp949(model_.images.endX));
    SetFieldText(endY_, FromCp949(model_.images.endY));
}

void CDialogMacroStartPattern::OnChoose() {
    FileDialogRequest request;
    request.parent = this;
    request.mode = FileDialogRequest::Open;
    request.initialPath = FromCp949(model_.images.ChooserStartPath());
    request.filter = QString::fromLatin1(kFileFilter);
    const std::optional<QString> chosen = AskFileName(request);
    if (!chosen || chosen->isEmpty()) return;
    const std::string path = ImagePageModel::PathForChosen(ToCp949(QDir::toNativeSeparators(*chosen)),
                                                           ToCp949(QDir::toNativeSeparators(QDir::currentPath())));
    path_->setText(FromCp949(path));
    preview_->Load(path);
}

} // namespace quillet::gui
