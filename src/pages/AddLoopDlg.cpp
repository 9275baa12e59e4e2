#include "pages/AddLoopDlg.h"

#include "platform/DataExchange.h"
#include "ui_AddLoopDlg.h"

namespace {
constexpr int kExpanderChars = 2;
}

CAddLoopDlg::CAddLoopDlg(QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::CAddLoopDlg>()) {
    m_ui->setupUi(this);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    MakeDigitsOnly(m_ui->expander, kExpanderChars);
}

CAddLoopDlg::~CAddLoopDlg() = default;

int CAddLoopDlg::exec() {
    DoDataExchange(false);
    m_ui->expander->setFocus();
    return QDialog::exec();
}

void CAddLoopDlg::accept() {
    DoDataExchange(true);
    QDialog::accept();
}

void CAddLoopDlg::DoDataExchange(bool save) {
    if (!save) m_ui->groupTitle->setText(m_groupTitle);
    exchange::Text(save, m_ui->expander, m_expander, kExpanderChars);
    QCheckBox* const boxes[8] = {m_ui->loop1, m_ui->loop2, m_ui->loop3, m_ui->loop4,
                                 m_ui->loop5, m_ui->loop6, m_ui->loop7, m_ui->loop8};
    for (int i = 0; i < 8; ++i)
        exchange::Check(save, boxes[i], m_loops[i]);
}
