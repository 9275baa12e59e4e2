#include "platform/PropertyPage.h"

CPropertyPage::CPropertyPage(const QString& caption, QWidget* parent)
    : QWidget(parent), m_caption(caption) {}

void CPropertyPage::EnsureCreated() {
    if (m_created) return;
    m_created = true;
    CreateControls();
    OnInitDialog();
}

bool CPropertyPage::UpdateData(bool saveAndValidate) {
    const bool wasExchanging = m_exchanging;
    m_exchanging = true;
    const bool ok = DoDataExchange(saveAndValidate);
    m_exchanging = wasExchanging;
    return ok;
}

bool CPropertyPage::OnInitDialog() {
    UpdateData(false);
    return true;
}

bool CPropertyPage::DoDataExchange(bool) {
    return true;
}
