// Moving values between a page's members and its controls, with the input limits of the
// digit fields. Small on purpose: the pages need text fields and check boxes only.
#pragma once

#include <QString>

class QCheckBox;
class QLineEdit;

namespace ddx {

// A field that takes the digits 0..9 only, at most maxChars of them: typed or pasted
// letters and over-long text are refused whole, never cut to fit. The limit binds the
// operator only, so a longer text the program shows (a foreign code) is shown in full.
void MakeDigitEdit(QLineEdit* edit, int maxChars);

// save: control into member, at most maxChars characters; otherwise member into control.
void Text(bool save, QLineEdit* edit, QString& member, int maxChars);
void Check(bool save, QCheckBox* box, int& member);

// The decimal value of the leading digits of text; 0 when it starts with none.
int LeadingValue(const QString& text);

} // namespace ddx
