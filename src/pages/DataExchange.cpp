#include "pages/DataExchange.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QRegularExpression>
#include <QRegularExpressionValidator>

namespace ddx {

void MakeDigitEdit(QLineEdit* edit, int maxChars) {
    const QRegularExpression digits(QStringLiteral("[0-9]{0,%1}").arg(maxChars));
    edit->setValidator(new QRegularExpressionValidator(digits, edit));
}

void Text(bool save, QLineEdit* edit, QString& member, int maxChars) {
    if (save)
        member = edit->text().left(maxChars);
    else
        edit->setText(member);
}

void Check(bool save, QCheckBox* box, int& member) {
    if (save)
        member = box->isChecked() ? 1 : 0;
    else
        box->setChecked(member != 0);
}

int LeadingValue(const QString& text) {
    int value = 0;
    for (const QChar c : text) {
        if (c < u'0' || c > u'9') break;
        if (value > 100000) break; // the callers read three characters at most
        value = value * 10 + (c.unicode() - u'0');
    }
    return value;
}

} // namespace ddx
