// "Сервер…" of the journal window: where the team's journal lives, as fields or as one
// address, a password that goes into ~/.pgpass only when asked, and a connection check.
#pragma once

#include <QDialog>
#include <QString>

#include <memory>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QThread;

class CServerDlg : public QDialog {
    Q_OBJECT
public:
    // `journal`: the local journal a check's connection is made beside.
    explicit CServerDlg(const QString& address, QWidget* parent = nullptr);
    ~CServerDlg() override;

    // The address as the fields make it: no password, ever.
    QString Address() const;
    QString Password() const;
    bool SavePassword() const;

    // The controls, for tests.
    QLineEdit* AddressEdit() const { return m_address; }
    QLineEdit* HostEdit() const { return m_host; }
    QLineEdit* PortEdit() const { return m_port; }
    QLineEdit* DatabaseEdit() const { return m_database; }
    QLineEdit* UserEdit() const { return m_user; }
    QLineEdit* PasswordEdit() const { return m_password; }
    QCheckBox* SavePasswordBox() const { return m_savePassword; }
    QPushButton* CheckButton() const { return m_check; }
    QLabel* CheckResult() const { return m_result; }
    // True while a check runs on its thread.
    bool Checking() const { return m_worker != nullptr; }

    void accept() override;

private:
    void FieldsFromAddress();
    void AddressFromFields();
    void OnCheck();

    QLineEdit* m_address;
    QLineEdit* m_host;
    QLineEdit* m_port;
    QLineEdit* m_database;
    QLineEdit* m_user;
    QLineEdit* m_password;
    QCheckBox* m_savePassword;
    QPushButton* m_check;
    QLabel* m_result;
    std::unique_ptr<QThread> m_worker;
    bool m_syncing = false;
};
