#include "gui/widgets/tab_dialog.h"

#include <QSignalBlocker>
#include <QTabBar>

#include "gui/widgets/dialog_common.h"

namespace quillet::gui {

CTabDialog::CTabDialog(QWidget* parent) : QWidget(parent), bar_(new QTabBar(this)) {
    bar_->setDrawBase(true);
    bar_->setExpanding(false);
    connect(bar_, &QTabBar::currentChanged, this, [this](int index) {
        if (index >= 0) ShowPage(index);
    });
}

CTabDialog::~CTabDialog() = default;

int CTabDialog::AddPage(const QString& caption, std::unique_ptr<CDialogCommon> page, const QIcon& icon) {
    const int index = pageCount();
    {
        // The first tab becomes current by itself; which page shows is up to the owner's ShowPage.
        const QSignalBlocker blocker(bar_);
        if (icon.isNull()) {
            bar_->addTab(caption);
        } else {
            bar_->addTab(icon, caption);
        }
    }
    CDialogCommon* raw = page.release();
    raw->setParent(this, Qt::Widget);
    PlacePage(raw);
    raw->hide();
    pages_.push_back(raw);
    return index;
}

void CTabDialog::ShowPage(int index) {
    if (CDialogCommon* shown = page(currentPage_)) shown->hide();
    if (CDialogCommon* next = page(index)) {
        if (bar_->currentIndex() != index) {
            const QSignalBlocker blocker(bar_);
            bar_->setCurrentIndex(index);
        }
        next->show();
        next->setFocus();
    }
    currentPage_ = index;
}

CDialogCommon* CTabDialog::page(int index) const {
    return index >= 0 && index < pageCount() ? pages_[static_cast<std::size_t>(index)] : nullptr;
}

QSize CTabDialog::sizeHint() const {
    QSize size(bar_->sizeHint().width(), 0);
    for (const CDialogCommon* p : pages_) size = size.expandedTo(p->sizeHint());
    return {size.width() + 4, size.height() + bar_->sizeHint().height() + 2};
}

QSize CTabDialog::minimumSizeHint() const {
    QSize size(bar_->minimumSizeHint().width(), 0);
    for (const CDialogCommon* p : pages_) size = size.expandedTo(p->minimumSizeHint());
    return {size.width() + 4, size.height() + bar_->sizeHint().height() + 2};
}

void CTabDialog::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    bar_->setGeometry(0, 0, width(), bar_->sizeHint().height());
    for (CDialogCommon* p : pages_) PlacePage(p);
}

void CTabDialog::PlacePage(QWidget* p) const {
    const int top = bar_->sizeHint().height();
    p->setGeometry(2, top, qMax(0, width() - 4), qMax(0, height() - top - 2));
}

} // namespace quillet::gui
