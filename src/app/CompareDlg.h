// "Сравнение настроек": two records side by side, one row for every setting that differs (the
// setting, its value on one side, on the other), loop and relay types with their names. Every
// row is listed; "Копировать" and "Печать…" take them all.
#pragma once

#include "settings/SettingsRecord.h"

#include <QDialog>
#include <QStringList>

#include <functional>
#include <memory>

class QLabel;
class QPushButton;
class QTableWidget;
class QTextDocument;

// One side of a comparison: what it is ("Строка журнала от …", "Файл a.stg") and its record.
struct CompareSide {
    QString name;
    SettingsRecord record{};
};

class CCompareDlg : public QDialog {
    Q_OBJECT
public:
    enum Column { Setting, Left, Right, ColumnCount };

    // `notes` stand above the table: what the compared records carry with them (a stopped
    // write's mark).
    CCompareDlg(const CompareSide& left, const CompareSide& right, const QStringList& notes = {},
                QWidget* parent = nullptr);

    QTableWidget* Table() const { return m_table; }
    // The notes and how many settings differ.
    QLabel* Summary() const { return m_summary; }
    QPushButton* CopyButton() const { return m_copyButton; }
    QPushButton* PrintButton() const { return m_printButton; }

    // The summary and every row, tab between the columns: what "Копировать" puts on the
    // clipboard.
    QString Text() const;
    // The same as a paged document, for the print preview.
    std::unique_ptr<QTextDocument> Document() const;

    void OnCopy();
    void OnPrint();

private:
    QTableWidget* m_table;
    QLabel* m_summary;
    QPushButton* m_copyButton;
    QPushButton* m_printButton;
};

// Runs each comparison window modally over `owner`; `shown`, when set, runs inside that modal
// run (tests look at the window there).
void ShowComparison(QWidget* owner, const CompareSide& left, const CompareSide& right,
                    const QStringList& notes, const std::function<void(CCompareDlg&)>& shown);
