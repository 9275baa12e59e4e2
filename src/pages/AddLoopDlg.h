// "Добавление шлейфа": the expander number and the loops of it to add to a group. A fresh
// dialog for every use, so it always opens empty.
#pragma once

#include <QDialog>
#include <QString>

#include <memory>

namespace Ui {
class CAddLoopDlg;
}

class CAddLoopDlg : public QDialog {
    Q_OBJECT
public:
    QString m_expander;   // as typed, up to two digits
    int m_loops[8] = {};  // check state of loops 1..8
    QString m_groupTitle; // "Группа %d", set before the dialog is shown

    explicit CAddLoopDlg(QWidget* parent = nullptr);
    ~CAddLoopDlg() override;

    int exec() override;
    void accept() override;

private:
    void DoDataExchange(bool save);

    std::unique_ptr<Ui::CAddLoopDlg> m_ui;
};
