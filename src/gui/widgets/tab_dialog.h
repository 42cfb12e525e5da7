// A tab control that owns one page dialog per tab and shows the page of the selected tab.
#pragma once

#include <memory>
#include <vector>

#include <QIcon>
#include <QWidget>

class QTabBar;

namespace quillet::gui {

class CDialogCommon;

class CTabDialog : public QWidget {
    Q_OBJECT
public:
    explicit CTabDialog(QWidget* parent = nullptr);
    ~CTabDialog() override;

    // Appends a tab with the caption (and the icon, when not null) and takes the page: it becomes a child placed
    // over the tab's display area, hidden until ShowPage. Returns the page's index.
    int AddPage(const QString& caption, std::unique_ptr<CDialogCommon> page, const QIcon& icon = QIcon());
    // Hides the page shown, shows page index (when valid) with the keyboard focus, and selects its tab. currentPage
    // becomes index in every case.
    void ShowPage(int index);

    int currentPage() const { return currentPage_; }
    int pageCount() const { return static_cast<int>(pages_.size()); }
    CDialogCommon* page(int index) const;
    QTabBar* tabBar() const { return bar_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void PlacePage(QWidget* page) const;

    QTabBar* bar_;
    int currentPage_ = -1;
    std::vector<CDialogCommon*> pages_; // owned through Qt's parent: they are children of this control
};

} // namespace quillet::gui
