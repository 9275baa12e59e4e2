// Tab "Коды событий": the Contact ID event code of each of the sixteen loop types. The codes
// go into the record when the page is left; a double-click on a type's label decodes the
// code typed beside it.
#pragma once

#include "platform/PropertyPage.h"
#include "settings/SettingsRecord.h"

#include <QPoint>
#include <QString>

#include <memory>

class QLabel;
class QLineEdit;
namespace Ui {
class CCodes;
}

class CCodes : public CPropertyPage {
    Q_OBJECT
public:
    // Set by the sheet before the page is shown; the page never changes it.
    SettingsRecord* m_record = nullptr;
    QString m_codes[kTypeCount]; // the code texts of types 1..16

    explicit CCodes(QWidget* parent = nullptr);
    ~CCodes() override;
    QSize TemplateSize() const override;

    // Takes the sixteen edits into the record; false keeps the sheet on the page.
    bool OnKillActive() override;
    void ShowCodes();
    void RestoreDefaultCodes();
    // point in the page's coordinates.
    void DecodeEventCode(const QPoint& point);
    // The type whose label column and row hold point, or 0 before the first column or row.
    int TypeAt(const QPoint& point) const;

    QLineEdit* CodeEdit(int type) const;
    QLabel* TypeLabel(int type) const;

protected:
    void CreateControls() override;
    bool OnInitDialog() override;
    bool DoDataExchange(bool save) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::unique_ptr<Ui::CCodes> m_ui;
    QLabel* m_labels[kTypeCount] = {};
    QLineEdit* m_edits[kTypeCount] = {};
    // The text shown for a stored code whose digits are not all 0..9 (a foreign file), or
    // empty. While the edit still shows it, leaving the page keeps the stored digits.
    QString m_foreign[kTypeCount];
};
