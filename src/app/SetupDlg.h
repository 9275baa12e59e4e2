// The utility's one window: the record commands, the link parameters (port, unit
// address, line address), the transfers with their status line, progress bar and
// "Стоп", the event-code help page and the About box.
#pragma once

#include "journal/Journal.h"
#include "link/TransferSession.h"
#include "link/TransferView.h"
#include "platform/DataExchange.h"
#include "platform/Platform.h"
#include "settings/SettingsRecord.h"

#include "app/PortList.h"

#include <QDialog>
#include <QIcon>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QComboBox;
class QLineEdit;
class QProgressBar;
class QPushButton;
class CPropertySheet;
class CJournalDlg;
class Journal;
class SessionJournal;
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
inline const QString kHelpFile = QStringLiteral("help.html");

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(const QIcon& icon, QWidget* parent = nullptr);
    ~CAboutDlg() override;

private:
    std::unique_ptr<Ui::AboutDlg> m_ui;
};

class CSetupDlg : public QDialog, public DataExchanger, public TransferView {
    Q_OBJECT
public:
    // `record`: the settings the commands work on; the utility's one record by default.
    explicit CSetupDlg(QWidget* parent = nullptr, SettingsRecord* record = nullptr);
    ~CSetupDlg() override;

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

    static constexpr int kAboutCommand = 0x0010;
    static constexpr int kLineAddressLimit = 2;
    static constexpr int kUnitAddressLimit = 1;

    // The six record commands.
    void OnNew();
    void OnEditInMemory();
    void OnOpen();
    void OnSave();
    void OnReadDevice();
    void OnWriteDevice();

    void OnStop();
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
    void SaveForm(const SettingsRecord& record);
    // The transfer sessions, shown in this window.
    int ReadDevice(SettingsRecord& record);
    int WriteDevice(const SettingsRecord& record);

    // TransferView
    std::string PortName() override;
    void SetStatus(const std::string& text) override;
    void SetProgress(int percent) override;
    void ShowProgress(bool visible) override;
    void ShowStop(bool visible) override;
    void Refresh() override;
    void PumpMessages() override;
    void ShowMessage(const Message& message) override;

    // What the transfers run; the link's sessions unless a test put in its own.
    using ReadSession = std::function<int(TransferView&, SettingsRecord&, const SessionOptions&)>;
    using WriteSession =
        std::function<int(TransferView&, const SettingsRecord&, const SessionOptions&)>;
    ReadSession m_readSession;
    WriteSession m_writeSession;
    SessionOptions m_sessionOptions;

    // Where the help pages are looked for, in order; an empty entry is the current folder.
    // Beside the program first: a file dialog may have moved the current folder.
    QStringList m_helpFolders;

    // The exchange journal (not owned); nullptr keeps nothing. Reports its first problem
    // of the run once, in a message.
    void SetJournal(Journal* journal);
    Journal* TheJournal() const { return m_journal; }
    // Turns a recovery slot left by a run that did not end normally into an entry.
    void RecoverUnsaved();
    // "Журнал": the journal window.
    void OnJournal();
    QPushButton* JournalButton() const;
    // Runs each time the journal window is shown, inside its modal run (tests drive it).
    std::function<void(CJournalDlg&)> m_onJournalShown;
    // Puts a journal entry's record into memory and opens the sheet on it, as "Открыть"
    // of a file does.
    void OpenJournalEntry(const QDateTime& time, const SettingsRecord& record);

    // Where the virtual device keeps its memory; empty for the user's data folder.
    std::string m_virtualMemoryPath;
    VirtualDevice* TheVirtualDevice() const { return m_virtualDevice.get(); }

    // Runs each time the settings sheet is shown, inside its modal run (tests drive it).
    std::function<void(CPropertySheet&)> m_onSheetShown;

    const std::vector<PortEntry>& Ports() const { return m_ports; }
    // Replaces the port list (tests, or a rescan); keeps the selection by index.
    void SetPorts(std::vector<PortEntry> ports);
    bool SessionRunning() const { return m_sessionRunning; }
    SettingsRecord& Record() { return *m_record; }

    QComboBox* PortList() const;
    QLineEdit* LineAddressEdit() const;
    QLineEdit* UnitAddressEdit() const;
    QWidget* StatusLine() const;

    // The window's context menu at `globalPos`, standing in for a system menu item.
    void ShowContextMenu(const QPoint& globalPos);

    // Ends the window; keeps an unsaved record in the journal first.
    void done(int result) override;

protected:
    bool DoDataExchange(bool saveAndValidate) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void OnInitDialog();
    void SetFileTitle(const QString& name);
    void OpenHelpPage(const QString& fileName, const QString& notFoundText);
    void LockLinkParameters(bool locked);
    template <typename Session, typename R> int RunSession(Session& session, R& record);
    std::optional<FileChoice> SaveToFile(const SettingsRecord& record);
    // The record in memory is kept somewhere (a file, a device, the journal).
    void MarkKept();
    void KeepRecoverySlot();
    JournalEntry JournalContext() const;
    void ShowJournalProblem(const QString& text);

    std::unique_ptr<Ui::SetupDlg> m_ui;
    SettingsRecord* m_record;
    std::vector<PortEntry> m_ports;
    std::unique_ptr<VirtualDevice> m_virtualDevice;
    bool m_sessionRunning = false;
    Journal* m_journal = nullptr;
    std::unique_ptr<SessionJournal> m_sessionJournal;
    QByteArray m_keptSha; // of the record last saved, loaded, written, read or journaled
    bool m_closing = false;
};
