#include "platform/PropertySheet.h"

#include "platform/PropertyPage.h"

#include <QAction>
#include <QHBoxLayout>
#include <QPushButton>
#include <QStackedWidget>
#include <QTabBar>
#include <QVBoxLayout>

CPropertySheet::CPropertySheet(const QString& caption, QWidget* owner, int startPage)
    : QDialog(owner), m_tabs(new QTabBar(this)), m_stack(new QStackedWidget(this)),
      m_ok(new QPushButton(QStringLiteral("OK"), this)),
      m_cancel(new QPushButton(QStringLiteral("Отмена"), this)),
      m_apply(new QPushButton(QStringLiteral("Применить"), this)),
      m_help(new QPushButton(QStringLiteral("Справка"), this)), m_startPage(startPage) {
    setWindowTitle(caption);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setObjectName(QStringLiteral("propertySheet"));
    m_tabs->setObjectName(QStringLiteral("sheetTabs"));
    m_tabs->setDrawBase(false);
    m_tabs->setExpanding(false);
    m_stack->setFrameShape(QFrame::StyledPanel);
    m_ok->setObjectName(QStringLiteral("sheetOk"));
    m_cancel->setObjectName(QStringLiteral("sheetCancel"));
    m_apply->setObjectName(QStringLiteral("sheetApply"));
    m_help->setObjectName(QStringLiteral("sheetHelp"));
    // No page ever reports a change, so there is never anything to apply.
    m_apply->setEnabled(false);
    m_ok->setDefault(true);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    for (auto* b : {m_ok, m_cancel, m_apply, m_help})
        buttons->addWidget(b);

    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(0);
    layout->addWidget(m_tabs);
    layout->addWidget(m_stack, 1);
    layout->addSpacing(8);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    // A property sheet's keys: Ctrl+Tab and Ctrl+PgDn to the next tab, Ctrl+Shift+Tab and
    // Ctrl+PgUp to the one before, round the ends; they work wherever the focus is.
    auto* next = new QAction(this);
    next->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::Key_Tab), QKeySequence(Qt::CTRL | Qt::Key_PageDown)});
    auto* previous = new QAction(this);
    previous->setShortcuts({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab),
                            QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab),
                            QKeySequence(Qt::CTRL | Qt::Key_PageUp)});
    addAction(next);
    addAction(previous);
    connect(next, &QAction::triggered, this, [this] { Step(1); });
    connect(previous, &QAction::triggered, this, [this] { Step(-1); });

    connect(m_tabs, &QTabBar::currentChanged, this, &CPropertySheet::OnTabChanged);
    connect(m_ok, &QPushButton::clicked, this, &CPropertySheet::PressOk);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_help, &QPushButton::clicked, this, &CPropertySheet::helpRequested);
}

CPropertySheet::~CPropertySheet() {
    // The pages belong to the caller; let them go before the stack would delete them.
    for (auto* page : m_pages)
        if (page && page->parent() == m_stack) page->setParent(nullptr);
}

void CPropertySheet::AddPage(CPropertyPage* page) {
    m_pages.push_back(page);
    connect(page, &QObject::destroyed, this, [this, page] {
        for (auto& p : m_pages)
            if (p == page) p = nullptr;
    });
    m_stack->addWidget(page);
    m_reverting = true; // adding the first tab selects it; the run picks the start page
    m_tabs->addTab(page->Caption());
    m_reverting = false;
}

CPropertyPage* CPropertySheet::ActivePage() const {
    return m_active >= 0 ? m_pages[static_cast<std::size_t>(m_active)] : nullptr;
}

void CPropertySheet::Activate(int index) {
    auto* page = m_pages[static_cast<std::size_t>(index)];
    // Built while still hidden, so its controls appear with it.
    page->EnsureCreated();
    m_stack->setCurrentWidget(page);
    m_active = index;
    if (m_tabs->currentIndex() != index) {
        m_reverting = true;
        m_tabs->setCurrentIndex(index);
        m_reverting = false;
    }
    page->OnSetActive();
}

void CPropertySheet::OnTabChanged(int index) {
    if (m_reverting || index < 0 || index == m_active) return;
    // The tab bar has moved already; put it back while the page is asked, so that a page
    // which refuses shows its own tab behind its message.
    m_reverting = true;
    m_tabs->setCurrentIndex(m_active);
    m_reverting = false;
    SetActivePage(index);
}

bool CPropertySheet::SetActivePage(int index) {
    if (index < 0 || index >= PageCount()) return false;
    if (index == m_active) return true;
    auto* current = ActivePage();
    if (current && !current->OnKillActive()) return false;
    Activate(index);
    return true;
}

void CPropertySheet::Step(int delta) {
    const int count = PageCount();
    if (m_active < 0 || count < 2) return;
    SetActivePage((m_active + delta + count) % count);
}

void CPropertySheet::PressOk() {
    auto* current = ActivePage();
    if (current && !current->OnKillActive()) return;
    accept();
}

int CPropertySheet::DoModal() {
    // One size for the whole run, that of the largest page, whichever tab is shown.
    QSize largest;
    for (const auto* page : m_pages)
        if (page) largest = largest.expandedTo(page->TemplateSize());
    if (largest.isValid()) m_stack->setMinimumSize(largest.grownBy(m_stack->contentsMargins()));
    if (!m_pages.empty()) {
        const int start = m_startPage >= 0 && m_startPage < PageCount() ? m_startPage : 0;
        m_active = -1;
        Activate(start);
    }
    return exec();
}
