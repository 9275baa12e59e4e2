#include "app/SetupDlg.h"

#include "app/JournalDlg.h"
#include "app/PageCopies.h"
#include "app/VirtualDevice.h"
#include "fields/RecordFields.h"
#include "journal/SessionJournal.h"
#include "link/LinkGlobals.h"
#include "pages/Devices.h"
#include "pages/PhoneNums.h"
#include "platform/Platform.h"
#include "platform/PropertySheet.h"
#include "settings/SettingsFile.h"

#include "pages/Codes.h"
#include "pages/Events.h"
#include "pages/Loops.h"

#include "ui_AboutDlg.h"
#include "ui_SetupDlg.h"

#include <QComboBox>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QtDebug>

int SettingsShown = 0;

// The icons are compiled into this static library; make sure the linker keeps them.
static void InitAppResources() {
    Q_INIT_RESOURCE(resources);
}

CAboutDlg::CAboutDlg(const QIcon& icon, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::AboutDlg>()) {
    m_ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    m_ui->icon->setPixmap(icon.pixmap(32, 32));
}

CAboutDlg::~CAboutDlg() = default;

CSetupDlg::CSetupDlg(QWidget* parent, SettingsRecord* record)
    : QDialog(parent), m_ui(std::make_unique<Ui::SetupDlg>()),
      m_record(record ? record : &TheSettings()),
      m_sessionJournal(std::make_unique<SessionJournal>(nullptr)) {
    m_readSession = [](TransferView& view, SettingsRecord& r, const SessionOptions& o) {
        return ::ReadDevice(view, r, o);
    };
    m_writeSession = [](TransferView& view, const SettingsRecord& r, const SessionOptions& o) {
        return ::WriteDevice(view, r, o);
    };
    // Beside the program, then where an install keeps its data, then the current folder.
    const QString programDir = QCoreApplication::applicationDirPath();
    m_helpFolders = {programDir,
                     QDir(programDir).absoluteFilePath(QStringLiteral("../share/torvik7-setup")),
                     QString()};

    InitAppResources();
    m_ui->setupUi(this);
    m_stopButton = m_ui->stopButton;
    m_codesHelpButton = m_ui->codesHelpButton;
    m_helpButton = m_ui->helpButton;
    m_progress = m_ui->progress;
    m_editButton = m_ui->editButton;
    m_saveButton = m_ui->saveButton;
    m_writeButton = m_ui->writeButton;
    m_readButton = m_ui->readButton;
    m_hIcon = QIcon(QStringLiteral(":/icons/app.svg"));

    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    // The bar and "Стоп" come and go with a transfer; the window keeps its size.
    for (QWidget* w : {static_cast<QWidget*>(m_progress), static_cast<QWidget*>(m_stopButton)}) {
        QSizePolicy policy = w->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        w->setSizePolicy(policy);
    }
    m_progress->setRange(0, 100);
    m_ui->picture->setPixmap(QIcon(QStringLiteral(":/icons/picture.svg")).pixmap(96, 64));

    MakeDigitsOnly(m_ui->lineAddress, kLineAddressLimit);
    MakeDigitsOnly(m_ui->unitAddress, kUnitAddressLimit);

    SetPorts(BuildPortList(SystemSerialPorts(), VirtualDevice::Available()));

    connect(m_ui->newButton, &QPushButton::clicked, this, &CSetupDlg::OnNew);
    connect(m_ui->openButton, &QPushButton::clicked, this, &CSetupDlg::OnOpen);
    connect(m_saveButton, &QPushButton::clicked, this, &CSetupDlg::OnSave);
    connect(m_editButton, &QPushButton::clicked, this, &CSetupDlg::OnEditInMemory);
    connect(m_writeButton, &QPushButton::clicked, this, &CSetupDlg::OnWriteDevice);
    connect(m_readButton, &QPushButton::clicked, this, &CSetupDlg::OnReadDevice);
    connect(m_helpButton, &QPushButton::clicked, this, &CSetupDlg::OnHelpFile);
    connect(m_codesHelpButton, &QPushButton::clicked, this, &CSetupDlg::OnCodesHelpFile);
    connect(m_stopButton, &QPushButton::clicked, this, &CSetupDlg::OnStop);
    connect(m_ui->journalButton, &QPushButton::clicked, this, &CSetupDlg::OnJournal);
    connect(m_ui->lineAddress, &QLineEdit::textChanged, this, [this] {
        if (!IsExchanging()) OnChangeLineAddress();
    });
    connect(m_ui->unitAddress, &QLineEdit::textChanged, this, [this] {
        if (!IsExchanging()) OnChangeUnitAddress();
    });
    connect(m_ui->portList, &QComboBox::currentIndexChanged, this, [this] {
        if (!IsExchanging()) OnPortChanged();
    });

    OnInitDialog();
}

CSetupDlg::~CSetupDlg() {
    if (m_journal) m_journal->SetProblemHandler(nullptr);
}

QComboBox* CSetupDlg::PortList() const {
    return m_ui->portList;
}
QLineEdit* CSetupDlg::LineAddressEdit() const {
    return m_ui->lineAddress;
}
QLineEdit* CSetupDlg::UnitAddressEdit() const {
    return m_ui->unitAddress;
}
QWidget* CSetupDlg::StatusLine() const {
    return m_ui->statusLine;
}
QPushButton* CSetupDlg::JournalButton() const {
    return m_ui->journalButton;
}

void CSetupDlg::SetPorts(std::vector<PortEntry> ports) {
    m_ports = std::move(ports);
    UpdateData(true);
    {
        const QSignalBlocker block(m_ui->portList);
        m_ui->portList->clear();
        for (const auto& entry : m_ports)
            m_ui->portList->addItem(entry.label);
    }
    UpdateData(false);
}

void CSetupDlg::OnInitDialog() {
    UpdateData(false);
    setWindowIcon(m_hIcon);
    m_helpButton->setIcon(QIcon(QStringLiteral(":/icons/help.svg")));
    m_codesHelpButton->setIcon(QIcon(QStringLiteral(":/icons/codes-help.svg")));
    UpdateData(true);
    m_portIndex = 0;
    m_lineAddressText = QStringLiteral("00");
    m_unitAddressText = QStringLiteral("0");
    UpdateData(false);
}

bool CSetupDlg::DoDataExchange(bool save) {
    exchange::ListIndex(save, m_ui->portList, m_portIndex);
    if (save) {
        m_status = m_ui->statusLine->text();
    } else if (m_ui->statusLine->text() != m_status) {
        m_ui->statusLine->setText(m_status);
    }
    exchange::Text(save, m_ui->lineAddress, m_lineAddressText, kLineAddressLimit);
    exchange::Text(save, m_ui->unitAddress, m_unitAddressText, kUnitAddressLimit);
    return true;
}

void CSetupDlg::contextMenuEvent(QContextMenuEvent* event) {
    ShowContextMenu(event->globalPos());
    event->accept();
}

void CSetupDlg::ShowContextMenu(const QPoint& globalPos) {
    const int chosen =
        ThePlatform().TrackPopupMenu(this, {MenuItem{kAboutCommand, kAboutItem}}, globalPos);
    if (chosen != 0) OnSysCommand(chosen);
}

void CSetupDlg::OnSysCommand(int id) {
    if ((id & 0xFFF0) == kAboutCommand) {
        CAboutDlg about(m_hIcon, this);
        about.exec();
    }
}

void CSetupDlg::keyPressEvent(QKeyEvent* event) {
    // Enter presses the focused push button; with none focused it ends the window like a
    // dialog's OK.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (auto* button = qobject_cast<QPushButton*>(focusWidget())) {
            if (button->isEnabled()) button->click();
        } else {
            accept();
        }
        return;
    }
    QDialog::keyPressEvent(event);
}

void CSetupDlg::OnStop() {
    TransferRunning = 0;
}

void CSetupDlg::OnChangeLineAddress() {
    UpdateData(true);
    const int value = LeadingValue(m_lineAddressText);
    LineAddress = value > 63 ? 63 : value;
    UpdateData(false);
}

void CSetupDlg::OnChangeUnitAddress() {
    UpdateData(true);
    const int value = LeadingValue(m_unitAddressText.left(1));
    UnitAddress = value > 7 ? 7 : value;
    UpdateData(false);
}

void CSetupDlg::OnCodesHelpFile() {
    OpenHelpPage(kCodesHelpFile, QStringLiteral(" Системе не удаётся найти указанный файл: "
                                                "'ContactIDEventCodes.html' "));
}

void CSetupDlg::OnHelpFile() {
    OpenHelpPage(kHelpFile, QStringLiteral("Системе не удаётся найти указанный файл: 'help.html'"));
}

void CSetupDlg::OpenHelpPage(const QString& fileName, const QString& notFoundText) {
    QString path = QDir::current().absoluteFilePath(fileName);
    for (const QString& folder : m_helpFolders) {
        const QString candidate = folder.isEmpty() ? QDir::current().absoluteFilePath(fileName)
                                                   : QDir(folder).absoluteFilePath(fileName);
        if (QFileInfo::exists(candidate)) {
            path = candidate;
            break;
        }
    }
    const int error = ThePlatform().ShellOpen(path);
    if (error == 0) return;
    Message message;
    message.owner = MessageOwner::Window;
    message.caption = kCaptionOshibka;
    message.icon = MessageIcon::Error;
    message.text =
        (error == 2 ? notFoundText : QStringLiteral("Ошибка: %1").arg(error)).toStdString();
    ThePlatform().ShowMessage(this, message);
}

// ---- the settings sheet ----

bool CSetupDlg::EditSettings(SettingsRecord& record) {
    SettingsShown = 1;
    CPropertySheet sheet(kSheetCaption, this, 0);
    sheet.setWindowIcon(m_hIcon);
    // Destroyed before the sheet, which only shows them.
    Devices general;
    PhoneNums phones;
    Loops loops;
    Events events;
    CCodes codes;
    sheet.AddPage(&general);
    sheet.AddPage(&phones);
    sheet.AddPage(&loops);
    sheet.AddPage(&events);
    sheet.AddPage(&codes);

    CopyIntoGeneral(record, general);
    CopyIntoPhones(record, phones);
    loops.m_record = &record;
    events.m_record = &record;
    codes.m_record = &record;

    if (m_onSheetShown) {
        auto hook = m_onSheetShown;
        QMetaObject::invokeMethod(
            &sheet, [hook, &sheet] { hook(sheet); }, Qt::QueuedConnection);
    }
    const bool ok = sheet.DoModal() == QDialog::Accepted;
    if (ok) {
        CopyBackGeneral(general, record);
        CopyBackPhones(phones, record);
        if (&record == m_record) KeepRecoverySlot();
    }
    return ok;
}

// ---- the record commands ----

void CSetupDlg::SetFileTitle(const QString& name) {
    setWindowTitle(kTitleStem + name + "]");
}

void CSetupDlg::OnNew() {
    FillDefaults(*m_record);
    if (!EditSettings(*m_record)) return;
    m_writeButton->setEnabled(true);
    m_saveButton->setEnabled(true);
    m_editButton->setEnabled(true);
    SetFileTitle(QStringLiteral("New.stg"));
}

void CSetupDlg::OnEditInMemory() {
    EditSettings(*m_record);
}

void CSetupDlg::OnOpen() {
    if (!LoadObject(*m_record)) return;
    EditSettings(*m_record);
    m_writeButton->setEnabled(true);
    m_editButton->setEnabled(true);
    m_saveButton->setEnabled(true);
}

void CSetupDlg::OnSave() {
    SaveForm(*m_record);
}

namespace {

Message FileMessage(const std::string& text) {
    Message message;
    message.owner = MessageOwner::Window;
    message.text = text;
    return message;
}

std::string LocalPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

} // namespace

bool CSetupDlg::LoadObject(SettingsRecord& record) {
    const auto choice = ThePlatform().OpenFileDialog(this);
    if (!choice) return false;
    const FileResult result = LoadSettingsFile(LocalPath(choice->path), record);
    if (!result.ok()) {
        ThePlatform().ShowMessage(this, FileMessage(result.message));
        return false;
    }
    SetFileTitle(choice->name);
    if (&record == m_record) MarkKept();
    return true;
}

std::optional<FileChoice> CSetupDlg::SaveToFile(const SettingsRecord& record) {
    const auto choice = ThePlatform().SaveFileDialog(this);
    if (!choice) return std::nullopt;
    const FileResult result = SaveSettingsFile(LocalPath(choice->path), record);
    if (!result.ok()) {
        ThePlatform().ShowMessage(this, FileMessage(result.message));
        return std::nullopt;
    }
    return choice;
}

void CSetupDlg::SaveForm(const SettingsRecord& record) {
    const auto choice = SaveToFile(record);
    if (!choice) return;
    SetFileTitle(choice->name);
    if (&record == m_record) MarkKept();
}

void CSetupDlg::OnReadDevice() {
    m_writeButton->setEnabled(false);
    m_readButton->setEnabled(false);
    if (ReadDevice(*m_record) == kSessionOk) {
        EditSettings(*m_record);
        m_editButton->setEnabled(true);
        m_writeButton->setEnabled(true);
        m_saveButton->setEnabled(true);
        SetFileTitle(QStringLiteral("Current.stg"));
    }
    m_readButton->setEnabled(true);
    if (SettingsShown == 1) m_writeButton->setEnabled(true);
}

void CSetupDlg::OnWriteDevice() {
    // A foreign or garbage file is not written into a live alarm device without a word.
    if (const std::string list = OutOfRangeList(*m_record); !list.empty()) {
        const Message question{MessageOwner::Window, "Запрос подтверждения",
                               "Настройки содержат недопустимые значения:\n" + list +
                                   "\nЗагрузить их в прибор?",
                               MessageIcon::Question, MessageButtons::YesNo};
        if (ThePlatform().ShowMessage(this, question) == MessageAnswer::No) return;
    }
    m_writeButton->setEnabled(false);
    m_readButton->setEnabled(false);
    if (WriteDevice(*m_record) == kSessionStopped && m_sessionJournal->Last()) {
        // The blocks before the stop hold the new settings, the rest the old ones.
        const int written = m_sessionJournal->Last()->blocksDone;
        Message m;
        m.owner = MessageOwner::Window;
        m.icon = MessageIcon::Information;
        m.text = written == 0
                     ? "Загрузка настроек остановлена до первого блока: прибор не изменён."
                     : "Загрузка настроек остановлена: записано " + std::to_string(written) +
                           " блоков из 512.\nВ приборе теперь смесь старых и новых настроек, "
                           "пока настройки не будут загружены полностью.";
        ShowMessage(m);
    }
    m_readButton->setEnabled(true);
    if (SettingsShown == 1) m_writeButton->setEnabled(true);
}

// ---- the transfers ----

void CSetupDlg::LockLinkParameters(bool locked) {
    // A line address changed mid-write would send the remaining blocks to another device.
    m_ui->portList->setEnabled(!locked);
    m_ui->lineAddress->setEnabled(!locked);
    m_ui->unitAddress->setEnabled(!locked);
}

template <typename Session, typename R> int CSetupDlg::RunSession(Session& session, R& record) {
    m_sessionRunning = true;
    LockLinkParameters(true);
    // The journal window could put another record into memory under a running read.
    m_ui->journalButton->setEnabled(false);
    SessionOptions options = m_sessionOptions;
    m_sessionJournal = std::make_unique<SessionJournal>(m_journal); // nothing of the last one
    m_sessionJournal->context = JournalContext();
    options.observers.push_back(m_sessionJournal.get());
    const int result = session(*this, record, options);
    if (m_virtualDevice) m_virtualDevice->Persist();
    LockLinkParameters(false);
    m_ui->journalButton->setEnabled(true);
    m_sessionRunning = false;
    // What the device now holds (or what was just kept with a write) is no longer unsaved.
    const auto& last = m_sessionJournal->Last();
    if (last && &record == m_record && (result == kSessionOk || m_sessionJournal->LastKept()) &&
        (last->action == JournalAction::Write || result == kSessionOk))
        MarkKept();
    return result;
}

int CSetupDlg::ReadDevice(SettingsRecord& record) {
    return RunSession(m_readSession, record);
}

int CSetupDlg::WriteDevice(const SettingsRecord& record) {
    return RunSession(m_writeSession, record);
}

std::string CSetupDlg::PortName() {
    UpdateData(true);
    if (m_portIndex < 0 || m_portIndex >= static_cast<int>(m_ports.size())) return {};
    const PortEntry& entry = m_ports[static_cast<std::size_t>(m_portIndex)];
    if (!entry.virtualDevice) return entry.portName;
    if (!m_virtualDevice) m_virtualDevice = std::make_unique<VirtualDevice>(m_virtualMemoryPath);
    return m_virtualDevice->PortPath();
}

void CSetupDlg::SetStatus(const std::string& text) {
    m_status = QString::fromStdString(text);
}
void CSetupDlg::SetProgress(int percent) {
    m_progress->setValue(percent);
}
void CSetupDlg::ShowProgress(bool visible) {
    m_progress->setVisible(visible);
}
void CSetupDlg::ShowStop(bool visible) {
    m_stopButton->setVisible(visible);
}
void CSetupDlg::Refresh() {
    UpdateData(false);
}
void CSetupDlg::PumpMessages() {
    ThePlatform().PumpMessages();
}

void CSetupDlg::ShowMessage(const Message& message) {
    ThePlatform().ShowMessage(message.owner == MessageOwner::Window ? this : nullptr, message);
}

// ---- the exchange journal ----

void CSetupDlg::SetJournal(Journal* journal) {
    if (m_journal) m_journal->SetProblemHandler(nullptr);
    m_journal = journal;
    m_sessionJournal = std::make_unique<SessionJournal>(journal);
    if (m_journal)
        m_journal->SetProblemHandler([this](const QString& text) { ShowJournalProblem(text); });
}

void CSetupDlg::ShowJournalProblem(const QString& text) {
    // Once per run, and never in the middle of what failed to be journaled: the message
    // waits for the event loop. At exit there is no loop left; the message goes to stderr.
    if (m_closing) {
        qWarning("%s", qPrintable(text));
        return;
    }
    QMetaObject::invokeMethod(
        this,
        [this, text] {
            if (m_closing) {
                qWarning("%s", qPrintable(text));
                return;
            }
            Message m;
            m.owner = MessageOwner::Window;
            m.icon = MessageIcon::Information;
            m.text = text.toStdString();
            ThePlatform().ShowMessage(this, m);
        },
        Qt::QueuedConnection);
}

JournalEntry CSetupDlg::JournalContext() const {
    JournalEntry e;
    e.source = JournalSource::Window;
    e.port = m_ui->portList->currentText();
    e.lineAddress = LineAddress;
    e.unitAddress = UnitAddress;
    e.title = windowTitle();
    return e;
}

namespace {

QByteArray ShaOf(const SettingsRecord& r) {
    const auto bytes = RecordBytes(r);
    return QCryptographicHash::hash(
        QByteArrayView(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
        QCryptographicHash::Sha256);
}

} // namespace

void CSetupDlg::MarkKept() {
    m_keptSha = ShaOf(*m_record);
    if (m_journal) m_journal->ClearRecovery();
}

void CSetupDlg::KeepRecoverySlot() {
    if (!m_journal || !WorthKeeping(*m_record) || ShaOf(*m_record) == m_keptSha) return;
    JournalEntry slot = JournalContext();
    slot.SetRecord(*m_record);
    m_journal->KeepRecovery(slot);
}

void CSetupDlg::RecoverUnsaved() {
    if (m_journal) m_journal->RecoverUnsaved();
}

void CSetupDlg::done(int result) {
    if (m_journal && !m_closing) {
        m_closing = true;
        // Kept without a question: the window closes as it always did.
        if (WorthKeeping(*m_record) && ShaOf(*m_record) != m_keptSha) {
            JournalEntry e = JournalContext();
            e.action = JournalAction::UnsavedAtExit;
            e.resultText = QStringLiteral("Окно закрыто без сохранения");
            e.SetRecord(*m_record);
            m_journal->Add(e);
        }
        m_journal->ClearRecovery();
    }
    QDialog::done(result);
}

void CSetupDlg::OpenJournalEntry(const QDateTime& time, const SettingsRecord& record) {
    *m_record = record;
    SetFileTitle(QStringLiteral("Журнал ") +
                 time.toLocalTime().toString(QStringLiteral("dd.MM.yyyy HH:mm:ss")));
    m_keptSha = ShaOf(*m_record); // it is in the journal already
    EditSettings(*m_record);
    m_writeButton->setEnabled(true);
    m_editButton->setEnabled(true);
    m_saveButton->setEnabled(true);
}

void CSetupDlg::OnJournal() {
    if (!m_journal) return;
    // The sheet opens once the journal window has closed.
    std::optional<std::pair<QDateTime, SettingsRecord>> chosen;
    CJournalDlg::Actions actions;
    actions.open = [&chosen](const JournalEntry& entry, const SettingsRecord& record) {
        chosen.emplace(entry.time, record);
    };
    actions.saveAs = [this](const SettingsRecord& record) { SaveToFile(record); };
    actions.inMemory = [this]() -> const SettingsRecord* {
        return m_editButton->isEnabled() ? m_record : nullptr;
    };
    CJournalDlg dlg(*m_journal, std::move(actions), this);
    dlg.setWindowIcon(m_hIcon);
    if (m_onJournalShown) {
        auto hook = m_onJournalShown;
        QMetaObject::invokeMethod(
            &dlg, [hook, &dlg] { hook(dlg); }, Qt::QueuedConnection);
    }
    dlg.exec();
    if (chosen) OpenJournalEntry(chosen->first, chosen->second);
}
