// The utility's one window: the record commands, the link parameters (port, unit
// address, line address), the transfers with their status line, progress bar and
// "Стоп", the event-code help page and the About box.
#pragma once

#include "journal/Journal.h"
#include "link/TransferSession.h"
#include "platform/DataExchange.h"
#include "platform/Platform.h"
#include "settings/SettingsRecord.h"

#include "app/PortList.h"
#include "app/RecentFiles.h"
#include "card/SettingsCard.h"

#include <QDialog>
#include <QIcon>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QComboBox;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QToolButton;
class CCompareDlg;
class CJournalDlg;
class CPropertySheet;
class Journal;
class SessionJournal;
class QThread;
class SessionBridge;
class VirtualDevice;

namespace Ui {
class SetupDlg;
class AboutDlg;
} // namespace Ui

// 1 once the settings sheet has been opened, whatever its outcome; never cleared. A
// transfer re-enables "Загрузка =>" only when it is 1.
extern int SettingsShown;

inline const QString kStartTitle = QStringLiteral("Утилита настройки ТОРВИК-7 (ПЕНКО-РС исп.3)");
inline const QString kTitleStem = QStringLiteral("Утилита настройки ТОРВИК-7 - [");
inline const QString kSheetCaption = QStringLiteral("Настройки ТОРВИК-7");
inline const QString kAboutItem = QStringLiteral("О программе 'Утилита настройки ТОРВИК-7' ...");
inline const QString kAboutText =
    QStringLiteral("Утилита настройки ТОРВИК-7 (ПЕНКО-РС исп.3), вер.1.1 ");
inline const QString kCodesHelpFile = QStringLiteral("ContactIDEventCodes.html");
// The installer's guide: opened by F1, by the sheet's "Справка" and by the hidden button.
inline const QString kHelpFile = QStringLiteral("help.html");
inline const QString kHelpNotFound =
    QStringLiteral("Системе не удаётся найти указанный файл: 'help.html'");
inline const QString kCodesHelpTip = QStringLiteral("Справка: коды событий Contact ID");
inline const QString kHelpTip = QStringLiteral("Руководство монтажника (F1)");
// The status line after a write during which the record in memory was changed.
inline const QString kWriteMissedEdits =
    QStringLiteral("Настройки в памяти изменены во время загрузки: в прибор загружены "
                   "настройки без этих изменений. Нажмите «Загрузка =>» ещё раз.");

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(const QIcon& icon, QWidget* parent = nullptr);
    ~CAboutDlg() override;

private:
    std::unique_ptr<Ui::AboutDlg> m_ui;
};

// What tests and the benchmarks may put into the main window; the product leaves it as
// built.
struct SetupDlgTesting {
    // What a transfer runs on its worker thread: the link's sessions on the image.
    using ReadSession =
        std::function<SessionResult(TransferView&, DeviceImage&, const SessionOptions&)>;
    using WriteSession =
        std::function<SessionResult(TransferView&, const DeviceImage&, const SessionOptions&)>;
    ReadSession readSession = &ReadImage;
    WriteSession writeSession = &WriteImage;
    SessionOptions sessionOptions;
    // Where the virtual device keeps its memory; empty for the user's data folder.
    std::string virtualMemoryPath;
    // Runs each time the settings sheet is shown, inside its modal run.
    std::function<void(CPropertySheet&)> onSheetShown;
    // Runs each time the journal window is shown, inside its modal run.
    std::function<void(CJournalDlg&)> onJournalShown;
    // Runs each time a comparison window is shown, inside its modal run.
    std::function<void(CCompareDlg&)> onComparisonShown;
};

class CSetupDlg : public QDialog, public DataExchanger {
    Q_OBJECT
public:
    // `record`: the settings the commands work on; the utility's one record by default.
    explicit CSetupDlg(QWidget* parent = nullptr, SettingsRecord* record = nullptr);
    ~CSetupDlg() override;

    // A settings file the utility was started on (a double-clicked "*.stg"): loaded as
    // "Открыть" loads it, its sheet shown once the window runs; a file that cannot be
    // loaded gives the same message.
    void OpenAtStart(const QString& path);

    QPushButton* m_stopButton;
    QPushButton* m_codesHelpButton;
    QPushButton* m_helpButton;
    QProgressBar* m_progress;
    QPushButton* m_editButton;
    QPushButton* m_saveButton;
    QPushButton* m_writeButton;
    int m_portIndex = -1;
    QString m_status;
    QString m_lineAddressText;
    QIcon m_hIcon;
    QString m_unitAddressText;
    QPushButton* m_readButton;
    // The settings card: enabled with "Сохранить", when a record is in memory.
    QPushButton* m_printButton;
    QPushButton* m_pdfButton;

    static constexpr int kAboutCommand = 0x0010;
    static constexpr int kLineAddressLimit = 2;
    static constexpr int kUnitAddressLimit = 1;

    // The six record commands.
    void OnNew();
    void OnEditInMemory();
    void OnOpen();
    // The sheet on a just-opened record, as "Открыть" ends.
    void ShowOpened();
    void OnSave();
    void OnReadDevice();
    void OnWriteDevice();

    void OnStop();
    void OnPrintCard();
    void OnCardPdf();
    // The record in memory beside a settings file the operator chooses.
    void OnCompareWithFile();
    // The card of `record` into a PDF file the operator chooses, dialogs over `owner`.
    void CardPdf(const SettingsRecord& record, const CardInfo& info, QWidget* owner);
    void OnCodesHelpFile();
    void OnHelpFile();
    void OnChangeLineAddress();
    void OnChangeUnitAddress();
    void OnPortChanged() {}
    void OnSysCommand(int id);

    // The modal settings sheet over `record`; true when it ended with OK.
    bool EditSettings(SettingsRecord& record);
    // The file operations behind "Открыть" and "Сохранить".
    bool LoadObject(SettingsRecord& record);
    // The button beside "Открыть": the recent files in a menu; the one chosen is opened as
    // "Открыть" opens it.
    void OnRecentFiles();
    QToolButton* RecentButton() const;
    void SaveForm(const SettingsRecord& record);
    // The transfer sessions, shown in this window. Each starts on a worker thread and
    // returns at once; `ended` runs on this window's thread once the session has ended and
    // the operator has closed its messages. The record is encoded before a write starts
    // and decoded after a read has ended whole, both on this window's thread.
    void ReadDevice(SettingsRecord& record, std::function<void(SessionResult)> ended);
    void WriteDevice(const SettingsRecord& record, std::function<void(SessionResult)> ended);

    // Reads the controls and returns the selected port's name, making the virtual device
    // when it is the one selected.
    std::string PortName();
    // Whether the port chosen (as PortName() last read it) is the virtual device.
    bool VirtualDeviceChosen() const;

    // Where the help pages are looked for, in order; an empty entry is the current folder.
    // Beside the program first: a file dialog may have moved the current folder.
    QStringList m_helpFolders;

    VirtualDevice* TheVirtualDevice() const { return m_virtualDevice.get(); }

    // The exchange journal (not owned); nullptr keeps nothing. Reports its first problem
    // of the run once, in a message.
    void SetJournal(Journal* journal);
    Journal* TheJournal() const { return m_journal; }
    // Turns a recovery slot left by a run that did not end normally into an entry, and
    // says so in the status line.
    void RecoverUnsaved();
    // "Журнал": the journal window.
    void OnJournal();
    QPushButton* JournalButton() const;
    // Puts a journal entry's record into memory and opens the sheet on it, as "Открыть"
    // of a file does. `blocksWritten`: a stopped write's entry, the blocks that went in
    // (the status line and the card say so); -1 for any other entry.
    void OpenJournalEntry(const QDateTime& time, const SettingsRecord& record,
                          int blocksWritten = -1);
    SetupDlgTesting& Testing() { return m_testing; }

    const std::vector<PortEntry>& Ports() const { return m_ports; }
    // Replaces the port list (tests, or a rescan); keeps the selection by index.
    void SetPorts(std::vector<PortEntry> ports);
    bool SessionRunning() const { return m_sessionRunning; }
    // The addresses the next transfer goes to, as the address fields last set them.
    int LineAddressValue() const { return m_lineAddress; }
    int UnitAddressValue() const { return m_unitAddress; }
    SettingsRecord& Record() { return *m_record; }
    // Where the record in memory came from, for the card's header.
    const CardSource& RecordSource() const { return m_recordSource; }
    // Names that origin: `name` is the file's name or how a journal entry names itself; a
    // device read takes the port and addresses of this window.
    void SetRecordSource(CardSource::Kind kind, const QString& name = {});
    CardInfo CurrentCardInfo() const;

    QComboBox* PortList() const;
    QLineEdit* LineAddressEdit() const;
    QLineEdit* UnitAddressEdit() const;
    QWidget* StatusLine() const;

    // The window's context menu at `globalPos`, standing in for a system menu item.
    void ShowContextMenu(const QPoint& globalPos);

    // Enter, Escape and the close box end the window, except during a transfer: then the
    // operator is asked whether to stop it, and the window ends once it has stopped. A
    // record not kept anywhere goes into the journal first.
    void done(int result) override;

protected:
    bool DoDataExchange(bool saveAndValidate) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void OnInitDialog();
    void SetFileTitle(const QString& name);
    void EnableCardButtons();
    static QString Now(); // "07.12.2026 12:30"
    // Opens a help page at `anchor`; a page that cannot be opened is reported over `owner`
    // (the main window when null).
    void OpenHelpPage(const QString& fileName, const QString& notFoundText,
                      const QString& anchor = {}, QWidget* owner = nullptr);
    void LockLinkParameters(bool locked);
    void NoteTransferFocus();
    using SessionRun = std::function<SessionResult(TransferView&, const SessionOptions&)>;
    // Starts `session` on a worker; `ended` runs on this window's thread after the
    // window's own end-of-transfer work.
    void RunSession(SessionRun session, std::function<void(SessionResult)> ended);
    void SessionEnded(SessionResult result, QWidget* started);
    // Runs `work` once no modal dialog but this window is open.
    void AfterModalDialogs(std::function<void()> work);
    static constexpr int kModalPollMs = 20;
    void WriteEnded(SessionResult result, const QByteArray& sent);
    std::optional<FileChoice> SaveToFile(const SettingsRecord& record);
    // The file `choice` into `record`, as "Открыть" loads it; false after its message.
    bool LoadFile(SettingsRecord& record, const FileChoice& choice);
    // A settings file opened or saved: first among the recent files, its folder the next
    // dialogs' start.
    void Remember(const QString& path);
    // The record in memory is kept somewhere (a file, a device, the journal).
    void MarkKept();
    void KeepRecoverySlot();
    JournalEntry JournalContext() const;
    // A fresh journal observer for the next transfer, over the record in memory.
    void PrepareSessionJournal(const SettingsRecord& record);
    void ShowJournalProblem(const QString& text);
    // Ends the window: an unsaved record into the journal, the recovery slot cleared.
    void EndWindow(int result);
    // The record in memory into the journal, `why` as its result, when it is worth keeping
    // and differs from `keptSha`; true when an entry was kept.
    bool KeepUnsaved(const QString& why, const QByteArray& keptSha,
                     JournalAction action = JournalAction::UnsavedAtExit);
    // The same for a record about to be replaced in memory; `by` says by what. Judged
    // against what was last kept, or `keptSha` when that has just changed.
    void KeepReplaced(const QString& by);
    void KeepReplaced(const QString& by, const QByteArray& keptSha);

    class Panel;
    std::unique_ptr<Ui::SetupDlg> m_ui;
    SettingsRecord* m_record;
    std::vector<PortEntry> m_ports;
    std::unique_ptr<VirtualDevice> m_virtualDevice;
    SetupDlgTesting m_testing;
    // The running transfer: the window's side of its view calls, the bridge that carries
    // them over from the worker thread, and the worker.
    std::unique_ptr<Panel> m_panel;
    std::shared_ptr<SessionBridge> m_bridge;
    std::unique_ptr<QThread> m_worker;
    // Set by "Стоп" or a close during the transfer; a fresh one for every session.
    std::shared_ptr<std::atomic<bool>> m_stopToken;
    int m_lineAddress = 0;
    int m_unitAddress = 0;
    int m_sessionLoopLevel = 0; // the event loop's depth where the running session started
    bool m_sessionRunning = false;
    bool m_sessionWrites = false; // the running session writes the device
    // The transfer button that had the focus when the running session started.
    QWidget* m_focusToStop = nullptr;
    CardSource m_recordSource;
    // The operator chose to stop the transfer and leave: the window ends with this result
    // once the session has ended.
    bool m_closeAfterSession = false;
    int m_closeResult = 0;
    Journal* m_journal = nullptr;
    std::unique_ptr<SessionJournal> m_sessionJournal;
    QByteArray m_keptSha; // of the record last saved, loaded, written, read or journaled
    bool m_closing = false;
    RecentFiles m_recent;
};
