// Moving values between a window's members and its controls, in the shape every
// DoDataExchange of the utility uses: one call per control, the same call for both
// directions. Edits get their length limit (and, for number fields, digits only) from
// here, so typing and pasting meet the same limit.
#pragma once

#include <QString>
#include <QValidator>

#include <initializer_list>

class QAbstractButton;
class QComboBox;
class QLineEdit;

// Refuses any edit that would make the text longer than the limit (unless it shrinks an
// already longer text, which a record from a device or a file may bring), and, for number
// fields, any edit that brings a character that is not a decimal digit. A stored text that
// breaks these rules is shown as it came (Admit) and stays until the operator edits it;
// deleting from it is always allowed, adding to it never. A refused paste is refused whole.
class LimitValidator : public QValidator {
    Q_OBJECT
public:
    LimitValidator(QLineEdit* edit, bool digitsOnly);

    void SetLimit(int limit) { m_limit = limit; }
    int Limit() const { return m_limit; }
    bool DigitsOnly() const { return m_digitsOnly; }
    // The next text put into the edit by the program, taken as it stands.
    void Admit(const QString& text) { m_admitted = text; }

    State validate(QString& input, int& pos) const override;

private:
    // Whether an edit that turns `before` into `text` keeps the rules.
    bool Allows(const QString& text, const QString& before) const;

    bool m_digitsOnly;
    QString m_current;  // the text the edit holds, before the edit being judged
    QString m_admitted; // a stored text on its way in, until it is shown
    // The edit holds a text the rules refuse (an undo brought it back, or the program set
    // it without Admit). Qt stops undoing refused edits then, so the validator puts the
    // text back itself.
    bool m_unguarded = false;
    int m_limit = 0; // 0: no limit
};

// Makes `edit` accept decimal digits only, up to `limit` characters (0: no limit).
void MakeDigitsOnly(QLineEdit* edit, int limit = 0);
// Sets the typing limit of `edit`, keeping whatever text it already holds.
void SetEditLimit(QLineEdit* edit, int limit);
int EditLimit(const QLineEdit* edit);

// The decimal value of the leading digits of `text`; 0 when it starts with none. Stops
// growing past 100000, far beyond any field's limit.
int LeadingValue(const QString& text);

namespace exchange {

// save: members <- controls; otherwise members -> controls.
void Text(bool save, QLineEdit* edit, QString& value, int limit = 0);
// Check state 0 or 1. Works for radio buttons one by one as well. A member holding some
// other non-zero value keeps it while the box stays checked.
void Check(bool save, QAbstractButton* button, int& value);
// Selected list index, -1 for none. An index the list does not have selects nothing, and
// stays in the member while nothing gets selected.
void ListIndex(bool save, QComboBox* list, int& value);
// Index of the checked button of a group, -1 for none.
void Radio(bool save, std::initializer_list<QAbstractButton*> group, int& value);

} // namespace exchange

// The members-and-controls exchange of a window, with notifications of that window
// ignored while it runs. The window's DoDataExchange does the work.
class DataExchanger {
public:
    virtual ~DataExchanger() = default;
    bool UpdateData(bool saveAndValidate);
    bool IsExchanging() const { return m_exchanging; }

protected:
    virtual bool DoDataExchange(bool saveAndValidate) = 0;

private:
    bool m_exchanging = false;
};
