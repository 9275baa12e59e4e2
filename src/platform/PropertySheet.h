// The settings sheet's frame: tabs over property pages and the buttons OK, Отмена,
// Применить and Справка. A page is built the first time its tab is shown, and a page whose
// OnKillActive refuses keeps the sheet on it, for a tab switch as well as for OK. The keys
// Ctrl+Tab, Ctrl+Shift+Tab, Ctrl+PgDn and Ctrl+PgUp switch tabs.
#pragma once

#include <QDialog>
#include <QString>

#include <vector>

class CPropertyPage;
class QPushButton;
class QStackedWidget;
class QTabBar;

class CPropertySheet : public QDialog {
    Q_OBJECT
public:
    CPropertySheet(const QString& caption, QWidget* owner, int startPage = 0);
    ~CPropertySheet() override;

    // The sheet shows the page but does not own it; remove pages by destroying them.
    void AddPage(CPropertyPage* page);
    int PageCount() const { return static_cast<int>(m_pages.size()); }
    CPropertyPage* Page(int index) const { return m_pages.at(static_cast<std::size_t>(index)); }
    int ActiveIndex() const { return m_active; }
    CPropertyPage* ActivePage() const;

    // Switches to a tab as a click on it would; false when the current page refused, and
    // then its tab stays the highlighted one.
    bool SetActivePage(int index);
    // The next (1) or the previous (-1) tab, round the ends, as Ctrl+Tab and Ctrl+Shift+Tab.
    void Step(int delta);

    // Runs the sheet modally: QDialog::Accepted for OK, Rejected for Cancel or the close box.
    int DoModal();

    QTabBar* TabBar() const { return m_tabs; }
    QPushButton* OkButton() const { return m_ok; }
    QPushButton* CancelButton() const { return m_cancel; }
    QPushButton* ApplyButton() const { return m_apply; }
    QPushButton* HelpButton() const { return m_help; }

    // The OK button: the active page may refuse.
    void PressOk();

signals:
    void helpRequested();

private:
    void OnTabChanged(int index);
    void Activate(int index);

    std::vector<CPropertyPage*> m_pages;
    QTabBar* m_tabs;
    QStackedWidget* m_stack;
    QPushButton* m_ok;
    QPushButton* m_cancel;
    QPushButton* m_apply;
    QPushButton* m_help;
    int m_startPage;
    int m_active = -1;
    bool m_reverting = false;
};
