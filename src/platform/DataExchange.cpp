#include "platform/DataExchange.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>

#include <algorithm>

namespace {

bool IsDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

// Whether every non-digit of `text` stands, in the same order, among those of `before`:
// the edit that made `text` out of `before` took characters away or added digits only.
bool AddsNoNonDigit(const QString& text, const QString& before) {
    qsizetype from = 0;
    for (const QChar c : text) {
        if (IsDigit(c)) continue;
        while (from < before.size() && before[from] != c)
            ++from;
        if (from == before.size()) return false;
        ++from;
    }
    return true;
}

LimitValidator* ValidatorOf(const QLineEdit* edit) {
    return qobject_cast<LimitValidator*>(const_cast<QValidator*>(edit->validator()));
}

} // namespace

LimitValidator::LimitValidator(QLineEdit* edit, bool digitsOnly)
    : QValidator(edit), m_digitsOnly(digitsOnly), m_current(edit->text()) {
    // The edit asks with the new text already in place, so remember the accepted one.
    connect(edit, &QLineEdit::textChanged, this, [this](const QString& text) {
        m_unguarded = text != m_admitted && !Allows(text, m_current);
        m_current = text;
        m_admitted.clear();
    });
}

bool LimitValidator::Allows(const QString& text, const QString& before) const {
    if (m_digitsOnly && !AddsNoNonDigit(text, before)) return false;
    return !(m_limit > 0 && text.size() > m_limit && text.size() > before.size());
}

QValidator::State LimitValidator::validate(QString& input, int& pos) const {
    if (input == m_admitted || Allows(input, m_current)) return Acceptable;
    if (!m_unguarded) return Invalid; // the edit puts the text before it back
    // Refused while the edit no longer guards itself: hand back the text before the edit.
    const qsizetype caret = pos - (input.size() - m_current.size());
    pos = static_cast<int>(std::clamp<qsizetype>(caret, 0, m_current.size()));
    input = m_current;
    return Acceptable;
}

void MakeDigitsOnly(QLineEdit* edit, int limit) {
    auto* v = ValidatorOf(edit);
    if (!v || !v->DigitsOnly()) {
        v = new LimitValidator(edit, true);
        edit->setValidator(v);
    }
    v->SetLimit(limit);
}

void SetEditLimit(QLineEdit* edit, int limit) {
    auto* v = ValidatorOf(edit);
    if (!v) {
        v = new LimitValidator(edit, false);
        edit->setValidator(v);
    }
    v->SetLimit(limit);
}

int EditLimit(const QLineEdit* edit) {
    const auto* v = ValidatorOf(edit);
    return v ? v->Limit() : 0;
}

int LeadingValue(const QString& text) {
    int value = 0;
    for (const QChar c : text) {
        if (c < u'0' || c > u'9' || value > 100000) break;
        value = value * 10 + (c.unicode() - u'0');
    }
    return value;
}

namespace exchange {

void Text(bool save, QLineEdit* edit, QString& value, int limit) {
    if (save) {
        value = edit->text();
        return;
    }
    if (limit > 0) SetEditLimit(edit, limit);
    // Setting the same text again would move the caret while the operator types.
    if (edit->text() == value) return;
    // A stored text may break the field's rules (longer than the limit, or not digits from
    // a foreign file): it is shown whole and the field keeps guarding what is typed.
    if (LimitValidator* v = ValidatorOf(edit)) v->Admit(value);
    edit->setText(value);
}

void Check(bool save, QAbstractButton* button, int& value) {
    if (save) {
        // A stored value other than 0 and 1 that the box shows unchanged stays as it was.
        if ((value != 0) != button->isChecked()) value = button->isChecked() ? 1 : 0;
        return;
    }
    const bool want = value != 0;
    if (button->isChecked() == want) return;
    // A checked radio button of a group refuses to be cleared on its own; the members
    // decide each button's state, so let it.
    const bool exclusive = button->autoExclusive();
    button->setAutoExclusive(false);
    button->setChecked(want);
    button->setAutoExclusive(exclusive);
}

void ListIndex(bool save, QComboBox* list, int& value) {
    if (save) {
        // A stored value the list has no entry for, left without a selection, stays.
        const bool noEntry = value < 0 || value >= list->count();
        if (!(list->currentIndex() == -1 && noEntry)) value = list->currentIndex();
        return;
    }
    list->setCurrentIndex(value >= 0 && value < list->count() ? value : -1);
}

void Radio(bool save, std::initializer_list<QAbstractButton*> group, int& value) {
    if (save) {
        value = -1;
        int i = 0;
        for (auto* b : group) {
            if (b->isChecked()) {
                value = i;
                break;
            }
            ++i;
        }
        return;
    }
    int i = 0;
    for (auto* b : group) {
        int state = i == value ? 1 : 0;
        Check(false, b, state);
        ++i;
    }
}

} // namespace exchange

bool DataExchanger::UpdateData(bool saveAndValidate) {
    const bool was = m_exchanging;
    m_exchanging = true;
    const bool ok = DoDataExchange(saveAndValidate);
    m_exchanging = was;
    return ok;
}
