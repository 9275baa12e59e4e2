#include "platform/PropertySheet.h"

#include "platform/PropertyPage.h"

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
    auto* current = ActivePage();
    if (current && !current->OnKillActive()) {
        m_reverting = true;
        m_tabs->setCurrentIndex(m_active);
        m_reverting = false;
        return;
    }
    Activate(index);
}

bool CPropertySheet::SetActivePage(int index) {
    if (index < 0 || index >= PageCount()) return false;
    m_tabs->setCurrentIndex(index);
    return m_active == index;
}

void CPropertySheet::PressOk() {
    auto* current = ActivePage();
    if (current && !current->OnKillActive()) return;
    accept();
}

int CPropertySheet::DoModal() {
    if (!m_pages.empty()) {
        const int start = m_startPage >= 0 && m_startPage < PageCount() ? m_startPage : 0;
        m_active = -1;
        Activate(start);
    }
    return exec();
}
