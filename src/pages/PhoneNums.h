// The "Телефоны" tab: nine numbers, the prefix, the dialing method and the signals the
// device listens for. Works on copies that the sheet's owner fills and takes back.
#pragma once

#include "platform/PropertyPage.h"

#include <QString>

#include <array>
#include <memory>

class QLineEdit;

namespace Ui {
class PhoneNums;
}

class PhoneNums : public CPropertyPage {
    Q_OBJECT
public:
    explicit PhoneNums(QWidget* parent = nullptr);
    ~PhoneNums() override;
    QSize TemplateSize() const override;

    QLineEdit* m_prefixEdit = nullptr;
    std::array<QString, 9> m_phones; // numbers 1..9
    QString m_prefix;
    int m_prefixOn = 0;
    int m_dialCyclesIndex = -1;
    int m_pulse = 0;
    int m_tone = 0;
    int m_detectBusy = 0;
    QString m_pause;
    QLineEdit* m_pauseEdit = nullptr;
    int m_detectDialTone = 0;
    int m_pulseRatioIndex = 0;

    static constexpr int kNumberLimit = 15;
    static constexpr int kPauseLimit = 2;

    Ui::PhoneNums* Form() const { return m_ui.get(); }
    // The edit of number n (1..9).
    QLineEdit* PhoneEdit(int n) const;

protected:
    void CreateControls() override;
    bool OnInitDialog() override;
    bool DoDataExchange(bool saveAndValidate) override;

private:
    void OnPrefixClicked();
    void OnDialToneClicked();

    std::unique_ptr<Ui::PhoneNums> m_ui;
};
