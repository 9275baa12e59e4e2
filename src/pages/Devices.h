// The "Общие" tab: account number, protocol, test-report interval, line-check period and
// the line-fault display. Works on copies that the sheet's owner fills and takes back.
#pragma once

#include "platform/PropertyPage.h"

#include <QString>

#include <memory>

namespace Ui {
class Devices;
}

class Devices : public CPropertyPage {
    Q_OBJECT
public:
    explicit Devices(QWidget* parent = nullptr);
    ~Devices() override;
    QSize TemplateSize() const override;

    QString m_account;
    int m_protocolDtmf = 0;
    int m_protocolFm = 0;
    QString m_testInterval;
    int m_lineCheckIndex = -1;
    int m_showLineFault = 0;

    static constexpr int kAccountLimit = 4;
    static constexpr int kTestIntervalLimit = 2;

    Ui::Devices* Form() const { return m_ui.get(); }

protected:
    void CreateControls() override;
    bool OnInitDialog() override;
    bool DoDataExchange(bool saveAndValidate) override;

private:
    void OnLineCheckChanged() {}

    std::unique_ptr<Ui::Devices> m_ui;
};
