#include "platform/DataExchange.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>

LimitValidator::LimitValidator(QLineEdit* edit, bool digitsOnly)
    : QValidator(edit), m_digitsOnly(digitsOnly), m_length(edit->text().size()) {
    // The edit asks with the new text already in place, so remember the accepted length.
    connect(edit, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_length = text.size(); });
}

QValidator::State LimitValidator::validate(QString& input, int&) const {
    if (m_digitsOnly) {
        for (const QChar c : input)
            if (c < u'0' || c > u'9') return Invalid;
    }
    if (m_limit > 0 && input.size() > m_limit && input.size() > m_length) return Invalid;
    return Acceptable;
}

namespace {

LimitValidator* ValidatorOf(const QLineEdit* edit) {
    return qobject_cast<LimitValidator*>(const_cast<QValidator*>(edit->validator()));
}

} // namespace

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
    // A stored text longer than the limit is shown whole; the edit must take it as valid
    // input, or it would not refuse the next character typed past the limit.
    LimitValidator* v = ValidatorOf(edit);
    const int kept = v ? v->Limit() : 0;
    if (v && kept > 0 && value.size() > kept) v->SetLimit(static_cast<int>(value.size()));
    edit->setText(value);
    if (v) v->SetLimit(kept);
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
