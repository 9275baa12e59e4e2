// A page of the settings sheet: built the first time its tab is shown, exchanging values
// between its members and its controls, and able to keep the sheet on itself when its
// input is refused.
#pragma once

#include <QSize>
#include <QString>
#include <QWidget>

class CPropertyPage : public QWidget {
    Q_OBJECT
public:
    explicit CPropertyPage(const QString& caption, QWidget* parent = nullptr);

    const QString& Caption() const { return m_caption; }
    bool IsCreated() const { return m_created; }

    // The sheet calls this when the page's tab is shown for the first time: the controls
    // are built and OnInitDialog fills them from the members.
    void EnsureCreated();

    // The page is being left for another tab, or OK was pressed on it. false keeps the
    // sheet on this page. By default the controls go into the members.
    virtual bool OnKillActive() { return UpdateData(true); }
    virtual void OnSetActive() {}

    // The size the page takes once built, known before it is: the sheet sizes itself to
    // its largest page at the start of its run. Empty when unknown.
    virtual QSize TemplateSize() const { return m_created ? sizeHint() : QSize(); }

    // true: controls into members (and checks); false: members into controls. Returns
    // false when a check refused the input. Notifications are ignored meanwhile.
    bool UpdateData(bool saveAndValidate);
    bool IsExchanging() const { return m_exchanging; }

protected:
    virtual void CreateControls() = 0;
    virtual bool OnInitDialog();
    virtual bool DoDataExchange(bool saveAndValidate);

    // The size of a page built on the form `Form`, measured on a scratch widget.
    template <class Form> static QSize FormSize() {
        QWidget sheet; // a page is never a window: its layout takes a child's margins
        QWidget scratch(&sheet);
        Form form;
        form.setupUi(&scratch);
        return scratch.sizeHint();
    }

private:
    QString m_caption;
    bool m_created = false;
    bool m_exchanging = false;
};
