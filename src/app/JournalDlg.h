// "Журнал": the exchange journal in the window. A table, newest first, filtered by account
// number and by any text; on the selected entry "Открыть", "Сохранить как…" and
// "Сравнить…". The window itself does the opening and saving, as for a file.
#pragma once

#include "journal/Journal.h"

#include <QAbstractTableModel>
#include <QDialog>
#include <QStringList>

#include <functional>
#include <vector>

class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;

class JournalModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Time, Action, Result, Port, Addresses, Account, Phone1, Installer, ColumnCount };

    void SetEntries(std::vector<JournalEntry> entries);
    // Shows the entries with exactly this account (empty: all) that contain `text` in any
    // shown column, ignoring case.
    void SetFilter(const QString& account, const QString& text);
    int Total() const { return static_cast<int>(m_entries.size()); }
    const JournalEntry* EntryAt(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    static QString CellText(const JournalEntry& e, int column);

private:
    std::vector<JournalEntry> m_entries;
    std::vector<int> m_shown;
};

class CJournalDlg : public QDialog {
    Q_OBJECT
public:
    // What the journal window asks of the main window.
    struct Actions {
        // Puts the record into memory and opens the settings sheet, titled after the entry.
        std::function<void(const JournalEntry&, const SettingsRecord&)> open;
        // Saves the record through the window's own "Сохранить".
        std::function<void(const SettingsRecord&)> saveAs;
        // The record in memory, or nullptr when there is none worth comparing.
        std::function<const SettingsRecord*()> inMemory;
        // The entry's settings card: the print preview, or (`pdf`) a PDF file.
        std::function<void(const JournalEntry&, const SettingsRecord&, bool pdf)> card;
    };

    CJournalDlg(Journal& journal, Actions actions, QWidget* parent = nullptr);

    // Reads the journal again.
    void Reload();

    void OnOpenEntry();
    void OnSaveEntry();
    void OnCompareEntry();
    void OnCardEntry(bool pdf);
    // Asks for the team's server address and keeps it in the window's settings.
    void OnServerSettings();
    // Keeps `address` (empty: none) and lists from there; false, with a message, when refused.
    bool ApplyServerAddress(const QString& address);

    QTableView* Table() const { return m_table; }
    JournalModel& Model() { return m_model; }
    QLineEdit* AccountFilter() const { return m_account; }
    QLineEdit* TextFilter() const { return m_text; }
    QLabel* Count() const { return m_count; }
    QPushButton* OpenButton() const { return m_openButton; }
    QPushButton* SaveButton() const { return m_saveButton; }
    QPushButton* CompareButton() const { return m_compareButton; }
    QPushButton* PrintButton() const { return m_printButton; }
    QPushButton* PdfButton() const { return m_pdfButton; }
    QLabel* Where() const { return m_where; }

    // Menu items of "Сравнить…".
    static constexpr int kCompareMemory = 1;
    static constexpr int kCompareFile = 2;

private:
    void ApplyFilter();
    void UpdateButtons();
    std::vector<const JournalEntry*> Selected() const;
    // The selected entry's record, checked; a message and false when it cannot be used.
    bool SelectedRecord(const JournalEntry*& entry, SettingsRecord& record);
    // `notes` stand above the differences: what the compared records carry with them.
    void ShowDifferences(const QString& what, const SettingsRecord& a, const SettingsRecord& b,
                         const QStringList& notes = {});
    // A line for each stopped write's entry among `entries`.
    static QStringList HalfWrittenNotes(const std::vector<const JournalEntry*>& entries);

    Journal& m_journal;
    Actions m_actions;
    JournalModel m_model;
    QTableView* m_table;
    QLineEdit* m_account;
    QLineEdit* m_text;
    QLabel* m_count;
    QPushButton* m_openButton;
    QPushButton* m_saveButton;
    QPushButton* m_compareButton;
    QPushButton* m_serverButton;
    QPushButton* m_printButton;
    QPushButton* m_pdfButton;
    QLabel* m_where; // where the journal lives
};

// Lines "label: a → b" of what differs, in the words of torvik7ctl diff.
std::vector<std::string> RecordDifferences(const SettingsRecord& a, const SettingsRecord& b);
