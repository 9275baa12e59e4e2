// "Журнал": the exchange journal in the window. A table, newest first, filtered by account
// number and by any text, and "Объекты": each account's last write and read. On the selected
// entry "Открыть", "Сохранить как…", "Сравнить…" and the card. The window itself does the
// opening and saving, as for a file.
#pragma once

#include "journal/Journal.h"
#include "journal/JournalObjects.h"

#include <QAbstractTableModel>
#include <QDialog>
#include <QSortFilterProxyModel>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QTableView;
class CCompareDlg;
struct CompareSide;

// Every entry listed, newest first.
class JournalModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Time, Action, Result, Port, Addresses, Account, Phone1, Installer, ColumnCount };

    void SetEntries(std::vector<JournalEntry> entries);
    // Tells the views the entries start over (a filter over them changed).
    void Reset();
    const std::vector<JournalEntry>& Entries() const { return m_entries; }
    const JournalEntry* EntryAt(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    static QString CellText(const JournalEntry& e, int column);

private:
    std::vector<JournalEntry> m_entries;
};

// The entries the table shows: exactly this account (empty: all) and `text` in any shown
// column or the title, ignoring case.
class JournalFilter : public QSortFilterProxyModel {
    Q_OBJECT
public:
    explicit JournalFilter(JournalModel& entries);
    void SetFilter(const QString& account, const QString& text);
    const JournalEntry* EntryAt(int row) const;
    int Total() const { return m_entries.rowCount(); }

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

private:
    JournalModel& m_entries;
    QString m_account;
    QString m_text;
};

// "Объекты": per account, the last whole write and the last read, and whether they agree.
class JournalObjectsModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Account, WriteTime, WriteBy, ReadTime, ReadBy, Agree, ColumnCount };

    // `objects`, only `account`'s when it is not empty.
    void SetObjects(const std::vector<JournalObject>& objects, const QString& account);
    const JournalObject* ObjectAt(int row) const;
    // The entry a cell stands for: the write's or the read's columns name theirs; the
    // account and the agreement the newer of the two.
    const JournalEntry* EntryAt(const QModelIndex& index) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    std::vector<JournalObject> m_objects;
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
        // Runs inside each comparison window's modal run (tests look at it there).
        std::function<void(CCompareDlg&)> comparisonShown;
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
    // What the table of entries shows.
    JournalFilter& Model() { return m_filter; }
    QTabWidget* Tabs() const { return m_tabs; }
    QTableView* ObjectsTable() const { return m_objectsTable; }
    JournalObjectsModel& Objects() { return m_objects; }
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
    // "Объекты": an account's last write with its last read.
    static constexpr int kCompareWriteRead = 3;

private:
    void ApplyFilter();
    // "Объекты" of the entries listed, for the account filtered by (the text filter leaves it).
    void UpdateObjects();
    void UpdateButtons();
    bool ObjectsShown() const;
    // The entries chosen on the tab shown.
    std::vector<const JournalEntry*> Selected() const;
    // `listed`'s record, fetched whole and checked; a message and nullopt when it cannot be
    // used.
    std::optional<JournalEntry> WithRecord(const JournalEntry& listed, SettingsRecord& record);
    // The selected entry's record, checked; a message and false when it cannot be used.
    bool SelectedRecord(const JournalEntry*& entry, SettingsRecord& record);
    // Older first, so the table reads as what changed from one to the other.
    void CompareEntries(const JournalEntry& x, const JournalEntry& y);
    // `notes` stand above the differences: what the compared records carry with them.
    void ShowDifferences(const CompareSide& a, const CompareSide& b, const QStringList& notes);
    // A line for each stopped write's entry among `entries`.
    static QStringList HalfWrittenNotes(const std::vector<const JournalEntry*>& entries);

    Journal& m_journal;
    Actions m_actions;
    JournalModel m_model;
    JournalFilter m_filter;
    JournalObjectsModel m_objects;
    std::vector<JournalObject> m_allObjects; // of every entry listed
    QTabWidget* m_tabs;
    QTableView* m_table;
    QTableView* m_objectsTable;
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
