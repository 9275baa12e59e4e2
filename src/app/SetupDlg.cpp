#include "app/SetupDlg.h"

#include "app/CompareDlg.h"
#include "app/FileNames.h"
#include "app/HelpAnchors.h"
#include "app/JournalDlg.h"
#include "app/PageCopies.h"
#include "app/SessionBridge.h"
#include "app/VirtualDevice.h"
#include "fields/RecordFields.h"
#include "pages/Devices.h"
#include "pages/PhoneNums.h"
#include "platform/Platform.h"
#include "platform/PropertySheet.h"
#include "sessionjournal/SessionJournal.h"
#include "settings/SettingsFile.h"

#include "pages/Codes.h"
#include "pages/Events.h"
#include "pages/Loops.h"

#include "ui_AboutDlg.h"
#include "ui_SetupDlg.h"

#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTextDocument>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <QtDebug>

int SettingsShown = 0;

namespace {

QByteArray ShaOf(const SettingsRecord& r) {
    const auto bytes = RecordBytes(r);
    return QCryptographicHash::hash(
        QByteArrayView(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
        QCryptographicHash::Sha256);
}

} // namespace

// The icons are compiled into this static library; make sure the linker keeps them.
static void InitAppResources() {
    Q_INIT_RESOURCE(resources);
}

// The icons are drawn in SVG; a build without Qt's SVG support carries them rendered to
// PNG at the sizes the windows use ("app-16x16.png", "picture-96x64.png", ...).
static QIcon ResourceIcon(const char* name) {
    const QString svg = QStringLiteral(":/icons/%1.svg").arg(QLatin1String(name));
    if (QFile::exists(svg)) return QIcon(svg);
    QIcon icon;
    const QDir folder(QStringLiteral(":/icons"));
    for (const QString& png :
         folder.entryList({QStringLiteral("%1-*.png").arg(QLatin1String(name))}, QDir::Files))
        icon.addFile(folder.filePath(png));
    return icon;
}

CAboutDlg::CAboutDlg(const QIcon& icon, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::AboutDlg>()) {
    m_ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    m_ui->icon->setPixmap(icon.pixmap(32, 32));
}

CAboutDlg::~CAboutDlg() = default;

// The window as a session's calls reach it, on the window's thread.
class CSetupDlg::Panel final : public TransferView {
public:
    explicit Panel(CSetupDlg& window) : w(window) {}
    std::string PortName() override { return w.PortName(); }
    void SetStatus(const std::string& text) override { w.m_status = QString::fromStdString(text); }
    void SetProgress(int percent) override { w.m_progress->setValue(percent); }
    void ShowProgress(bool visible) override { w.m_progress->setVisible(visible); }
    void ShowStop(bool visible) override {
        w.m_stopButton->setVisible(visible);
        // A transfer started from the keyboard: the next key press can stop it.
        if (visible && w.m_focusToStop) w.m_stopButton->setFocus();
    }
    void Refresh() override { w.UpdateData(false); }
    void ShowMessage(const Message& message) override {
        ThePlatform().ShowMessage(message.owner == MessageOwner::Window ? &w : nullptr, message);
    }

private:
    CSetupDlg& w;
};

CSetupDlg::CSetupDlg(QWidget* parent, SettingsRecord* record)
    : QDialog(parent), m_ui(std::make_unique<Ui::SetupDlg>()),
      m_record(record ? record : &TheSettings()), m_panel(std::make_unique<Panel>(*this)),
      m_sessionJournal(std::make_unique<SessionJournal>(nullptr)) {
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
    m_printButton = m_ui->printButton;
    m_pdfButton = m_ui->pdfButton;
    m_hIcon = ResourceIcon("app");

    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    // The bar and "Стоп" come and go with a transfer; the window keeps its size.
    for (QWidget* w : {static_cast<QWidget*>(m_progress), static_cast<QWidget*>(m_stopButton)}) {
        QSizePolicy policy = w->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        w->setSizePolicy(policy);
    }
    m_progress->setRange(0, 100);
    m_ui->picture->setPixmap(ResourceIcon("picture").pixmap(96, 64));

    MakeDigitsOnly(m_ui->lineAddress, kLineAddressLimit);
    MakeDigitsOnly(m_ui->unitAddress, kUnitAddressLimit);

    SetPorts(BuildPortList(SystemSerialPorts(), VirtualDevice::Available()));

    connect(m_ui->newButton, &QPushButton::clicked, this, &CSetupDlg::OnNew);
    connect(m_ui->openButton, &QPushButton::clicked, this, &CSetupDlg::OnOpen);
    connect(m_ui->recentButton, &QToolButton::clicked, this, &CSetupDlg::OnRecentFiles);
    m_ui->recentButton->setEnabled(!m_recent.Files().isEmpty());
    connect(m_saveButton, &QPushButton::clicked, this, &CSetupDlg::OnSave);
    connect(m_editButton, &QPushButton::clicked, this, &CSetupDlg::OnEditInMemory);
    connect(m_writeButton, &QPushButton::clicked, this, &CSetupDlg::OnWriteDevice);
    connect(m_readButton, &QPushButton::clicked, this, &CSetupDlg::OnReadDevice);
    connect(m_helpButton, &QPushButton::clicked, this, &CSetupDlg::OnHelpFile);
    connect(m_codesHelpButton, &QPushButton::clicked, this, &CSetupDlg::OnCodesHelpFile);
    connect(m_stopButton, &QPushButton::clicked, this, &CSetupDlg::OnStop);
    connect(m_ui->journalButton, &QPushButton::clicked, this, &CSetupDlg::OnJournal);
    connect(m_printButton, &QPushButton::clicked, this, &CSetupDlg::OnPrintCard);
    connect(m_pdfButton, &QPushButton::clicked, this, &CSetupDlg::OnCardPdf);
    connect(m_ui->compareButton, &QPushButton::clicked, this, &CSetupDlg::OnCompareWithFile);
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
    // Torn down mid-transfer (the application quitting under it): the worker ends before
    // its next block, without the window.
    if (m_bridge) m_bridge->Detach();
    OnStop();
    if (m_worker) m_worker->wait();
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
QToolButton* CSetupDlg::RecentButton() const {
    return m_ui->recentButton;
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
        for (const auto& entry : m_ports) {
            m_ui->portList->addItem(entry.label);
            if (!entry.description.isEmpty())
                m_ui->portList->setItemData(m_ui->portList->count() - 1, entry.description,
                                            Qt::ToolTipRole);
        }
    }
    UpdateData(false);
}

void CSetupDlg::OnInitDialog() {
    // Screen readers name the link fields by their labels.
    m_ui->portList->setAccessibleName(m_ui->portLabel->text());
    m_ui->unitAddress->setAccessibleName(m_ui->unitAddressLabel->text());
    m_ui->lineAddress->setAccessibleName(m_ui->lineAddressLabel->text());
    // The keyboard starts at the first command, not at the help icons above it.
    m_ui->newButton->setFocus();
    UpdateData(false);
    setWindowIcon(m_hIcon);
    m_helpButton->setIcon(ResourceIcon("help"));
    m_codesHelpButton->setIcon(ResourceIcon("codes-help"));
    m_codesHelpButton->setToolTip(kCodesHelpTip);
    m_helpButton->setToolTip(kHelpTip);
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
    // F1 opens the installer's guide, the page the hidden help button names.
    if (event->key() == Qt::Key_F1) {
        OnHelpFile();
        return;
    }
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
    if (m_stopToken) *m_stopToken = true;
}

void CSetupDlg::done(int result) {
    if (!m_sessionRunning) {
        EndWindow(result);
        return;
    }
    if (m_closeAfterSession) return; // already stopping to leave
    Message question;
    question.owner = MessageOwner::Window;
    question.text = "Идёт обмен с прибором. Остановить обмен и выйти?";
    question.icon = MessageIcon::Question;
    question.buttons = MessageButtons::YesNo;
    if (m_sessionWrites) {
        // Stopped now, the device keeps a mix of old and new settings: leaving must be the
        // operator's choice, never a stray Enter's.
        question.text = "Идёт загрузка настроек в прибор. Если остановить её сейчас, прибор "
                        "останется записанным не полностью: смесь старых и новых настроек.\n"
                        "Остановить загрузку и выйти?";
        question.defaultNo = true;
    }
    if (ThePlatform().ShowMessage(this, question) == MessageAnswer::No) return;
    // The session is still running: whatever ended it meanwhile is handled when its end
    // reaches this window.
    m_closeAfterSession = true;
    m_closeResult = result;
    OnStop();
}

void CSetupDlg::OnChangeLineAddress() {
    UpdateData(true);
    const int value = LeadingValue(m_lineAddressText);
    m_lineAddress = value > 63 ? 63 : value;
    UpdateData(false);
}

void CSetupDlg::OnChangeUnitAddress() {
    UpdateData(true);
    const int value = LeadingValue(m_unitAddressText.left(1));
    m_unitAddress = value > 7 ? 7 : value;
    UpdateData(false);
}

void CSetupDlg::OnCodesHelpFile() {
    OpenHelpPage(kCodesHelpFile, QStringLiteral(" Системе не удаётся найти указанный файл: "
                                                "'ContactIDEventCodes.html' "));
}

void CSetupDlg::OnHelpFile() {
    OpenHelpPage(kHelpFile, kHelpNotFound);
}

void CSetupDlg::OpenHelpPage(const QString& fileName, const QString& notFoundText,
                             const QString& anchor, QWidget* owner) {
    if (!owner) owner = this;
    QString path = QDir::current().absoluteFilePath(fileName);
    for (const QString& folder : m_helpFolders) {
        const QString candidate = folder.isEmpty() ? QDir::current().absoluteFilePath(fileName)
                                                   : QDir(folder).absoluteFilePath(fileName);
        if (QFileInfo::exists(candidate)) {
            path = candidate;
            break;
        }
    }
    const int error = ThePlatform().OpenHelp(owner, path, anchor);
    if (error == 0) return;
    Message message;
    message.owner = MessageOwner::Window;
    message.caption = kCaptionOshibka;
    message.icon = MessageIcon::Error;
    message.text =
        (error == 2 ? notFoundText : QStringLiteral("Ошибка: %1").arg(error)).toStdString();
    ThePlatform().ShowMessage(owner, message);
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
    // "Справка" opens the guide at the section of the page in front.
    connect(&sheet, &CPropertySheet::helpRequested, this, [this, &sheet] {
        const int page = sheet.ActiveIndex();
        const QString anchor = page >= 0 && page < static_cast<int>(kPageHelpAnchors.size())
                                   ? QString::fromLatin1(kPageHelpAnchors[page])
                                   : QString();
        OpenHelpPage(kHelpFile, kHelpNotFound, anchor, &sheet);
    });

    if (m_testing.onSheetShown) {
        auto hook = m_testing.onSheetShown;
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
    KeepReplaced(QStringLiteral("Заменено заводскими настройками («Новые»)"));
    FillDefaults(*m_record);
    // The defaults are in memory whatever the sheet's end: a card tells no older origin.
    SetRecordSource(CardSource::Kind::Defaults);
    if (!EditSettings(*m_record)) return;
    m_writeButton->setEnabled(true);
    m_saveButton->setEnabled(true);
    m_editButton->setEnabled(true);
    EnableCardButtons();
    SetFileTitle(QStringLiteral("New.stg"));
}

void CSetupDlg::OnEditInMemory() {
    EditSettings(*m_record);
}

void CSetupDlg::OnOpen() {
    if (!LoadObject(*m_record)) return;
    ShowOpened();
}

void CSetupDlg::ShowOpened() {
    EditSettings(*m_record);
    m_writeButton->setEnabled(true);
    m_editButton->setEnabled(true);
    m_saveButton->setEnabled(true);
    EnableCardButtons();
}

void CSetupDlg::OnSave() {
    SaveForm(*m_record);
}

void CSetupDlg::EnableCardButtons() {
    m_printButton->setEnabled(true);
    m_pdfButton->setEnabled(true);
    m_ui->compareButton->setEnabled(true);
}

void CSetupDlg::SetRecordSource(CardSource::Kind kind, const QString& name) {
    m_recordSource = CardSource{};
    m_recordSource.kind = kind;
    if (kind == CardSource::Kind::File) m_recordSource.fileName = name.toStdString();
    if (kind == CardSource::Kind::Journal) m_recordSource.journalEntry = name.toStdString();
    if (kind == CardSource::Kind::Device) {
        if (m_portIndex >= 0 && m_portIndex < static_cast<int>(m_ports.size()))
            m_recordSource.port =
                m_ports[static_cast<std::size_t>(m_portIndex)].label.toStdString();
        m_recordSource.lineAddress = m_lineAddress;
        m_recordSource.unitAddress = m_unitAddress;
        m_recordSource.readAt = Now().toStdString();
    }
}

QString CSetupDlg::Now() {
    return QDateTime::currentDateTime().toString(QStringLiteral("dd.MM.yyyy HH:mm"));
}

CardInfo CSetupDlg::CurrentCardInfo() const {
    CardInfo info;
    info.source = m_recordSource;
    info.printedAt = Now().toStdString();
    return info;
}

void CSetupDlg::OnPrintCard() {
    const auto card = CardDocument(*m_record, CurrentCardInfo());
    ThePlatform().PrintPreview(this, *card);
}

void CSetupDlg::OnCardPdf() {
    CardPdf(*m_record, CurrentCardInfo(), this);
}

void CSetupDlg::CardPdf(const SettingsRecord& record, const CardInfo& info, QWidget* owner) {
    QString suggested = QStringLiteral("Карточка");
    const std::size_t account = FieldLength(record.accountNumber);
    if (account > 0) suggested += " " + QString::fromLatin1(record.accountNumber, account);
    const auto choice = ThePlatform().SaveCardDialog(owner, suggested + ".pdf");
    if (!choice) return;
    std::string error;
    if (WriteCardPdf(record, info, choice->path, error)) return;
    Message message;
    message.owner = MessageOwner::Window;
    message.caption = kCaptionOshibka;
    message.icon = MessageIcon::Error;
    message.text = "Не удаётся сохранить карточку настроек: " + error;
    ThePlatform().ShowMessage(owner, message);
}

namespace {

Message FileMessage(const std::string& text) {
    Message message;
    message.owner = MessageOwner::Window;
    message.text = text;
    return message;
}

std::string LocalPath(const QString& path) {
    return ToFileName(path);
}

} // namespace

void CSetupDlg::OnCompareWithFile() {
    ThePlatform().SetFileDialogFolder(m_recent.LastFolder());
    const auto choice = ThePlatform().OpenFileDialog(this);
    if (!choice) return;
    CompareSide file{QStringLiteral("Файл %1").arg(choice->name), *m_record};
    const FileResult result = LoadSettingsFile(LocalPath(choice->path), file.record);
    if (!result.ok()) {
        ThePlatform().ShowMessage(this, FileMessage(result.message));
        return;
    }
    QStringList notes;
    if (m_recordSource.blocksWritten >= 0)
        notes << QString::fromStdString(HalfWrittenText(m_recordSource.blocksWritten));
    ShowComparison(this, CompareSide{QStringLiteral("Настройки в памяти"), *m_record}, file, notes,
                   m_testing.onComparisonShown);
}

bool CSetupDlg::LoadObject(SettingsRecord& record) {
    ThePlatform().SetFileDialogFolder(m_recent.LastFolder());
    const auto choice = ThePlatform().OpenFileDialog(this);
    if (!choice) return false;
    return LoadFile(record, *choice);
}

bool CSetupDlg::LoadFile(SettingsRecord& record, const FileChoice& choice) {
    // Loaded aside first: the record in memory is journaled only when a file replaces it.
    SettingsRecord loaded = record;
    const FileResult result = LoadSettingsFile(LocalPath(choice.path), loaded);
    if (!result.ok()) {
        ThePlatform().ShowMessage(this, FileMessage(result.message));
        return false;
    }
    if (&record == m_record && ShaOf(loaded) != ShaOf(record))
        KeepReplaced(QStringLiteral("Заменено файлом ") + choice.name);
    record = loaded;
    SetRecordSource(CardSource::Kind::File, choice.name);
    SetFileTitle(choice.name);
    if (&record == m_record) MarkKept();
    Remember(choice.path);
    return true;
}

void CSetupDlg::Remember(const QString& path) {
    m_recent.Add(path);
    m_ui->recentButton->setEnabled(true);
}

void CSetupDlg::OnRecentFiles() {
    const QStringList files = m_recent.Files();
    std::vector<MenuItem> items;
    for (int i = 0; i < files.size(); ++i) {
        const QFileInfo file(files[i]);
        items.push_back(MenuItem{
            i + 1, QStringLiteral("&%1 %2\t%3")
                       .arg(i + 1)
                       .arg(file.fileName(), QDir::toNativeSeparators(file.absolutePath()))});
    }
    const int chosen = ThePlatform().TrackPopupMenu(
        this, items, m_ui->recentButton->mapToGlobal(QPoint(0, m_ui->recentButton->height())));
    if (chosen < 1 || chosen > files.size()) return;
    const QString path = files[chosen - 1];
    // As "Открыть" with that file chosen; one that is gone leaves the list.
    if (!LoadFile(*m_record, FileChoice{path, QFileInfo(path).fileName()})) {
        m_recent.Remove(path);
        m_ui->recentButton->setEnabled(!m_recent.Files().isEmpty());
        return;
    }
    ShowOpened();
}

std::optional<FileChoice> CSetupDlg::SaveToFile(const SettingsRecord& record) {
    ThePlatform().SetFileDialogFolder(m_recent.LastFolder());
    const auto choice = ThePlatform().SaveFileDialog(this);
    if (!choice) return std::nullopt;
    const FileResult result = SaveSettingsFile(LocalPath(choice->path), record);
    if (!result.ok()) {
        ThePlatform().ShowMessage(this, FileMessage(result.message));
        return std::nullopt;
    }
    Remember(choice->path);
    return choice;
}

void CSetupDlg::SaveForm(const SettingsRecord& record) {
    const auto choice = SaveToFile(record);
    if (!choice) return;
    SetRecordSource(CardSource::Kind::File, choice->name);
    SetFileTitle(choice->name);
    if (&record == m_record) MarkKept();
}

void CSetupDlg::OpenAtStart(const QString& path) {
    const FileResult result = LoadSettingsFile(ToFileName(path), *m_record);
    if (!result.ok()) {
        QMetaObject::invokeMethod(
            this,
            [this, text = result.message] { ThePlatform().ShowMessage(this, FileMessage(text)); },
            Qt::QueuedConnection);
        return;
    }
    const QString name = QFileInfo(path).fileName();
    SetRecordSource(CardSource::Kind::File, name);
    SetFileTitle(name);
    MarkKept();
    Remember(path);
    // As "Открыть" goes on: the sheet, once the window is up.
    QMetaObject::invokeMethod(
        this, [this] { ShowOpened(); }, Qt::QueuedConnection);
}

void CSetupDlg::NoteTransferFocus() {
    // The button that starts a transfer is about to be disabled: with the focus on it, the
    // focus goes to "Стоп" and comes back at the end.
    m_focusToStop = nullptr;
    for (QPushButton* b : {m_readButton, m_writeButton})
        if (focusWidget() == b) m_focusToStop = b;
}

void CSetupDlg::OnReadDevice() {
    if (m_sessionRunning) return; // one transfer at a time
    NoteTransferFocus();
    m_writeButton->setEnabled(false);
    m_readButton->setEnabled(false);
    ReadDevice(*m_record, [this](SessionResult result) {
        if (result == kSessionOk && !m_closeAfterSession) {
            SetRecordSource(CardSource::Kind::Device);
            EditSettings(*m_record);
            m_editButton->setEnabled(true);
            m_writeButton->setEnabled(true);
            m_saveButton->setEnabled(true);
            EnableCardButtons();
            SetFileTitle(QStringLiteral("Current.stg"));
        }
        m_readButton->setEnabled(true);
        if (SettingsShown == 1) m_writeButton->setEnabled(true);
    });
}

void CSetupDlg::OnWriteDevice() {
    if (m_sessionRunning) return; // one transfer at a time
    // A foreign or garbage file is not written into a live alarm device without a word.
    if (const std::string list = OutOfRangeList(*m_record); !list.empty()) {
        const Message question{MessageOwner::Window, "Запрос подтверждения",
                               "Настройки содержат недопустимые значения:\n" + list +
                                   "\nЗагрузить их в прибор?",
                               MessageIcon::Question, MessageButtons::YesNo};
        if (ThePlatform().ShowMessage(this, question) == MessageAnswer::No) return;
    }
    NoteTransferFocus();
    m_writeButton->setEnabled(false);
    m_readButton->setEnabled(false);
    // The sheet stays usable during a write, but the device gets the record as it was here.
    const QByteArray sent = ShaOf(*m_record);
    WriteDevice(*m_record, [this, sent](SessionResult result) { WriteEnded(result, sent); });
}

void CSetupDlg::WriteEnded(SessionResult result, const QByteArray& sent) {
    if (!m_closeAfterSession && ShaOf(*m_record) != sent) {
        m_status = kWriteMissedEdits;
        UpdateData(false);
    }
    if (result == kSessionStopped && m_sessionJournal->Last() && !m_closeAfterSession) {
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
        ThePlatform().ShowMessage(this, m);
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

void CSetupDlg::RunSession(SessionRun session, std::function<void(SessionResult)> ended) {
    QWidget* started = m_focusToStop;
    m_sessionRunning = true;
    m_closeAfterSession = false;
    m_sessionLoopLevel = QThread::currentThread()->loopLevel();
    LockLinkParameters(true);
    // The journal window could put another record into memory under a running read.
    m_ui->journalButton->setEnabled(false);
    // Settled here, on the window's thread: the worker never reads a widget.
    auto bridge = std::make_shared<SessionBridge>(this, *m_panel, PortName());
    m_bridge = bridge;
    m_stopToken = std::make_shared<std::atomic<bool>>(false);
    SessionOptions options = m_testing.sessionOptions;
    options.lineAddress = m_lineAddress;
    options.unitAddress = m_unitAddress;
    options.stop = m_stopToken.get();
    if (VirtualDeviceChosen() && !options.opener) options.opener = m_virtualDevice->Opener();
    // Told on the worker thread; the entry is kept here once the worker is done.
    options.observers.push_back(m_sessionJournal.get());
    m_worker.reset(QThread::create([this, session = std::move(session), options, bridge,
                                    ended = std::move(ended), started]() mutable {
        const SessionResult result = session(*bridge, options);
        // Reaches the window after every call the session made, and after the operator
        // closed every message it showed. Dropped when the window has gone.
        bridge->Post([this, result, ended = std::move(ended), started]() mutable {
            AfterModalDialogs([this, result, ended = std::move(ended), started] {
                SessionEnded(result, started);
                ended(result);
            });
        });
    }));
    m_worker->start();
}

void CSetupDlg::AfterModalDialogs(std::function<void()> work) {
    // A sheet, file dialog or About box opened during the transfer is the operator's work
    // in progress: what the transfer's end does (the record read, the window closed) waits
    // until it is closed, as it would if the transfer had held the window until then.
    // A dialog's own event loop counts even where the platform does not list it as modal.
    const QWidget* modal = QApplication::activeModalWidget();
    const bool nested = QThread::currentThread()->loopLevel() > m_sessionLoopLevel;
    if (!nested && (!modal || modal == this)) {
        work();
        return;
    }
    QTimer::singleShot(kModalPollMs, this, [this, work = std::move(work)]() mutable {
        AfterModalDialogs(std::move(work));
    });
}

void CSetupDlg::SessionEnded(SessionResult result, QWidget* started) {
    m_worker->wait();
    m_worker.reset();
    m_bridge.reset();
    m_stopToken.reset();
    if (m_virtualDevice) m_virtualDevice->Persist();
    LockLinkParameters(false);
    m_ui->journalButton->setEnabled(true);
    m_sessionRunning = false;
    if (started) {
        m_focusToStop = nullptr;
        // Enabled again by the caller right after; the focus waits for it.
        QMetaObject::invokeMethod(
            started, [started] { started->setFocus(); }, Qt::QueuedConnection);
    }
    m_sessionJournal->KeepLast();
    // What the device now holds (or what was just kept with a write) is no longer unsaved.
    if (const auto& last = m_sessionJournal->Last();
        last && (result == kSessionOk || m_sessionJournal->LastKept()) &&
        (last->action == JournalAction::Write || result == kSessionOk)) {
        m_keptSha = QByteArray::fromHex(last->sha256.toLatin1());
        if (m_journal) m_journal->ClearRecovery();
    }
    if (m_closeAfterSession) EndWindow(m_closeResult);
}

void CSetupDlg::ReadDevice(SettingsRecord& record, std::function<void(SessionResult)> ended) {
    PrepareSessionJournal(record);
    auto image = std::make_shared<DeviceImage>();
    // The session's end marks what it read as kept; the record it replaces is judged by
    // what was kept before.
    const QByteArray keptBefore = m_keptSha;
    RunSession(
        [read = m_testing.readSession, image](TransferView& view, const SessionOptions& options) {
            return read(view, *image, options);
        },
        [this, &record, image, keptBefore, ended = std::move(ended)](SessionResult result) {
            if (result == kSessionOk) {
                SettingsRecord decoded = record;
                DecodeImage(*image, decoded);
                if (&record == m_record && !m_closing && ShaOf(decoded) != ShaOf(record))
                    KeepReplaced(QStringLiteral("Заменено настройками, прочитанными из прибора"),
                                 keptBefore);
                record = decoded;
            }
            ended(result);
        });
}

void CSetupDlg::WriteDevice(const SettingsRecord& record,
                            std::function<void(SessionResult)> ended) {
    PrepareSessionJournal(record);
    auto image = std::make_shared<DeviceImage>();
    EncodeImage(record, *image);
    m_sessionWrites = true;
    RunSession(
        [write = m_testing.writeSession, image](TransferView& view, const SessionOptions& options) {
            return write(view, *image, options);
        },
        [this, ended = std::move(ended)](SessionResult result) {
            m_sessionWrites = false;
            ended(result);
        });
}

bool CSetupDlg::VirtualDeviceChosen() const {
    return m_virtualDevice && m_portIndex >= 0 && m_portIndex < static_cast<int>(m_ports.size()) &&
           m_ports[static_cast<std::size_t>(m_portIndex)].virtualDevice;
}

std::string CSetupDlg::PortName() {
    UpdateData(true);
    if (m_portIndex < 0 || m_portIndex >= static_cast<int>(m_ports.size())) return {};
    const PortEntry& entry = m_ports[static_cast<std::size_t>(m_portIndex)];
    if (!entry.virtualDevice) return entry.portName;
    if (!m_virtualDevice)
        m_virtualDevice = std::make_unique<VirtualDevice>(m_testing.virtualMemoryPath);
    return m_virtualDevice->PortPath();
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
    // Once per run, and never in the middle of what failed to be journaled (it may have
    // been the transfer's worker): the message waits for the window's event loop. At exit
    // there is no loop left; the message goes to stderr.
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
    e.lineAddress = m_lineAddress;
    e.unitAddress = m_unitAddress;
    e.title = windowTitle();
    return e;
}

void CSetupDlg::PrepareSessionJournal(const SettingsRecord& record) {
    // A fresh observer per transfer: nothing of the last one's end is left in it.
    m_sessionJournal = std::make_unique<SessionJournal>(m_journal);
    m_sessionJournal->context = JournalContext();
    m_sessionJournal->base = record;
    m_sessionJournal->keepLater = true; // the session ends on its worker thread
}

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
    if (!m_journal) return;
    const auto recovered = m_journal->RecoverUnsaved();
    if (!recovered) return;
    // Said once, in the status line: the next transfer's status replaces it.
    const QString when = recovered->time.toLocalTime().toString(QStringLiteral("dd.MM.yyyy HH:mm"));
    const QString what = recovered->account.isEmpty()
                             ? QStringLiteral("Несохранённые настройки от %1").arg(when)
                             : QStringLiteral("Несохранённые настройки объекта %1 от %2")
                                   .arg(recovered->account, when);
    m_status = what + QStringLiteral(" (программа завершилась не штатно) сохранены в журнале: "
                                     "кнопка «Журнал».");
    UpdateData(false);
}

bool CSetupDlg::KeepUnsaved(const QString& why, const QByteArray& keptSha, JournalAction action) {
    if (!m_journal || !WorthKeeping(*m_record) || ShaOf(*m_record) == keptSha) return false;
    JournalEntry e = JournalContext();
    e.action = action;
    e.resultText = why;
    e.SetRecord(*m_record);
    return m_journal->Add(e);
}

void CSetupDlg::KeepReplaced(const QString& by) {
    KeepReplaced(by, m_keptSha);
}

void CSetupDlg::KeepReplaced(const QString& by, const QByteArray& keptSha) {
    // No question: the command goes on as it always did, and the record it replaces can be
    // opened again from the journal. The recovery slot held that record; it is kept now.
    if (KeepUnsaved(by, keptSha, JournalAction::Replaced)) m_journal->ClearRecovery();
}

void CSetupDlg::EndWindow(int result) {
    if (m_journal && !m_closing) {
        m_closing = true;
        // Kept without a question: the window closes as it always did.
        KeepUnsaved(QStringLiteral("Окно закрыто без сохранения"), m_keptSha);
        m_journal->ClearRecovery();
    }
    QDialog::done(result);
}

void CSetupDlg::OpenJournalEntry(const QDateTime& time, const SettingsRecord& record,
                                 int blocksWritten) {
    const QString when = time.toLocalTime().toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
    if (ShaOf(record) != ShaOf(*m_record))
        KeepReplaced(QStringLiteral("Заменено строкой журнала от ") + when);
    *m_record = record;
    m_recordSource = JournalCardSource(when.toStdString(), blocksWritten);
    SetFileTitle(QStringLiteral("Журнал ") + when);
    if (blocksWritten >= 0) {
        // The record goes on saying what the device holds: on the card and here.
        m_status = QString::fromStdString(HalfWrittenText(blocksWritten)) +
                   QStringLiteral(" (строка журнала от %1): в приборе смесь старых и новых "
                                  "настроек.")
                       .arg(when);
        UpdateData(false);
    }
    m_keptSha = ShaOf(*m_record); // it is in the journal already
    EditSettings(*m_record);
    m_writeButton->setEnabled(true);
    m_editButton->setEnabled(true);
    m_saveButton->setEnabled(true);
    EnableCardButtons();
}

void CSetupDlg::OnJournal() {
    if (!m_journal || m_sessionRunning) return;
    // The sheet opens once the journal window has closed.
    std::optional<std::pair<JournalEntry, SettingsRecord>> chosen;
    CJournalDlg* dlgSlot = nullptr; // the card's dialogs belong to the journal window
    CJournalDlg::Actions actions;
    actions.open = [&chosen](const JournalEntry& entry, const SettingsRecord& record) {
        chosen.emplace(entry, record);
    };
    actions.saveAs = [this](const SettingsRecord& record) { SaveToFile(record); };
    actions.card = [this, &dlgSlot](const JournalEntry& entry, const SettingsRecord& record,
                                    bool pdf) {
        CardInfo info;
        info.source = JournalCardSource(
            entry.time.toLocalTime().toString(QStringLiteral("dd.MM.yyyy HH:mm:ss")).toStdString(),
            entry.halfWritten ? entry.blocksDone : -1);
        info.printedAt = Now().toStdString();
        QWidget* owner = dlgSlot ? static_cast<QWidget*>(dlgSlot) : this;
        if (pdf) {
            CardPdf(record, info, owner);
        } else {
            const auto card = CardDocument(record, info);
            ThePlatform().PrintPreview(owner, *card);
        }
    };
    actions.comparisonShown = m_testing.onComparisonShown;
    actions.inMemory = [this]() -> const SettingsRecord* {
        return m_editButton->isEnabled() ? m_record : nullptr;
    };
    CJournalDlg dlg(*m_journal, std::move(actions), this);
    dlgSlot = &dlg;
    dlg.setWindowIcon(m_hIcon);
    if (m_testing.onJournalShown) {
        auto hook = m_testing.onJournalShown;
        QMetaObject::invokeMethod(
            &dlg, [hook, &dlg] { hook(dlg); }, Qt::QueuedConnection);
    }
    dlg.exec();
    if (chosen)
        OpenJournalEntry(chosen->first.time, chosen->second,
                         chosen->first.halfWritten ? chosen->first.blocksDone : -1);
}
