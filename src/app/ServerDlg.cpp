#include "app/ServerDlg.h"

#include "journal/PgPass.h"
#include "journal/ServerJournal.h"
#include "platform/Platform.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QThread>
#include <QUrl>
#include <QUrlQuery>
#include <QVBoxLayout>

CServerDlg::CServerDlg(const QString& address, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Сервер журнала"));
    auto* form = new QFormLayout;
    m_address = new QLineEdit(address, this);
    m_address->setPlaceholderText(QStringLiteral("postgresql://пользователь@сервер:порт/база"));
    m_host = new QLineEdit(this);
    m_port = new QLineEdit(this);
    m_port->setValidator(new QIntValidator(1, 65535, m_port));
    m_database = new QLineEdit(this);
    m_user = new QLineEdit(this);
    m_password = new QLineEdit(this);
    m_password->setEchoMode(QLineEdit::Password);
    m_savePassword = new QCheckBox(QStringLiteral("Сохранить пароль в ~/.pgpass"), this);
    m_check = new QPushButton(QStringLiteral("Проверить соединение"), this);
    m_result = new QLabel(this);
    m_result->setWordWrap(true);
    m_result->setTextInteractionFlags(Qt::TextSelectableByMouse);
    form->addRow(QStringLiteral("&Сервер:"), m_host);
    form->addRow(QStringLiteral("П&орт:"), m_port);
    form->addRow(QStringLiteral("&База:"), m_database);
    form->addRow(QStringLiteral("&Пользователь:"), m_user);
    form->addRow(QStringLiteral("Паро&ль:"), m_password);
    form->addRow(QString(), m_savePassword);
    form->addRow(QStringLiteral("&Адрес:"), m_address);
    auto* hint = new QLabel(QStringLiteral("Пусто — журнал только на этом компьютере. Пароль "
                                           "в адрес не входит: он берётся из ~/.pgpass или "
                                           "переменной PGPASSWORD."),
                            this);
    hint->setWordWrap(true);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Отмена"));
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(hint);
    layout->addWidget(m_check, 0, Qt::AlignLeft);
    layout->addWidget(m_result);
    layout->addWidget(buttons);
    for (QLineEdit* part : {m_host, m_port, m_database, m_user})
        connect(part, &QLineEdit::textEdited, this, &CServerDlg::AddressFromFields);
    connect(m_address, &QLineEdit::textChanged, this, &CServerDlg::FieldsFromAddress);
    connect(m_check, &QPushButton::clicked, this, &CServerDlg::OnCheck);
    connect(buttons, &QDialogButtonBox::accepted, this, &CServerDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CServerDlg::reject);
    resize(520, sizeHint().height());
    FieldsFromAddress();
}

CServerDlg::~CServerDlg() {
    // A check ends by its own time limit.
    if (m_worker) m_worker->wait();
}

QString CServerDlg::Address() const {
    return m_address->text().trimmed();
}
QString CServerDlg::Password() const {
    return m_password->text();
}
bool CServerDlg::SavePassword() const {
    return m_savePassword->isChecked();
}

void CServerDlg::FieldsFromAddress() {
    if (m_syncing) return;
    const auto parsed = ParseServerAddress(Address());
    if (!parsed) return; // half typed, or empty: the fields keep what they had
    m_syncing = true;
    m_host->setText(parsed->host);
    m_port->setText(QString::number(parsed->port));
    m_database->setText(parsed->database);
    m_user->setText(parsed->user);
    m_syncing = false;
}

void CServerDlg::AddressFromFields() {
    if (m_syncing) return;
    QUrl url;
    url.setScheme(QStringLiteral("postgresql"));
    url.setHost(m_host->text().trimmed());
    if (!m_port->text().isEmpty()) url.setPort(m_port->text().toInt());
    url.setUserName(m_user->text().trimmed());
    if (!m_database->text().trimmed().isEmpty())
        url.setPath(QLatin1Char('/') + m_database->text().trimmed());
    // What the address says beyond the fields (sslmode, a time-out) stays.
    url.setQuery(QUrl(Address()).query());
    m_syncing = true;
    m_address->setText(m_host->text().trimmed().isEmpty() ? QString()
                                                          : url.toString(QUrl::FullyEncoded));
    m_syncing = false;
}

void CServerDlg::OnCheck() {
    if (m_worker) return;
    QString why;
    if (!ParseServerAddress(Address(), &why)) {
        m_result->setText(QStringLiteral("Адрес не принят: %1.").arg(why));
        return;
    }
    m_check->setEnabled(false);
    m_result->setText(QStringLiteral("Проверяю соединение…"));
    // On a thread of its own: a server that does not answer holds up nothing but the answer.
    m_worker.reset(QThread::create([this, address = Address(), password = Password()] {
        ServerJournal server(address);
        QString what;
        const bool ok = server.CheckConnection(password, what);
        QMetaObject::invokeMethod(
            this,
            [this, ok, what] {
                m_worker->wait();
                m_worker.reset();
                m_check->setEnabled(true);
                m_result->setText((ok ? QString() : QStringLiteral("Нет: ")) + what);
            },
            Qt::QueuedConnection);
    }));
    m_worker->start();
}

void CServerDlg::accept() {
    QString why;
    if (!Address().isEmpty() && !ParseServerAddress(Address(), &why)) {
        m_result->setText(QStringLiteral("Адрес не принят: %1.").arg(why));
        return;
    }
    if (SavePassword() && !Password().isEmpty() && !Address().isEmpty()) {
        const auto a = ParseServerAddress(Address());
        const QString user = a->user.isEmpty() ? QStringLiteral("*") : a->user;
        const QString database = a->database.isEmpty() ? QStringLiteral("*") : a->database;
        if (!SavePgPassword(a->host, a->port, database, user, Password(), &why)) {
            m_result->setText(QStringLiteral("Пароль не сохранён: %1.").arg(why));
            return;
        }
    }
    QDialog::accept();
}
