#include "platform/HelpViewer.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace {

// Qt's text browser loads file resources itself; the pictures of the guide are data: URLs,
// decoded here.
class DataUrlBrowser : public QTextBrowser {
public:
    using QTextBrowser::QTextBrowser;
    QVariant loadResource(int type, const QUrl& name) override {
        if (name.scheme() == QLatin1String("data")) {
            const QByteArray url = name.toEncoded();
            const qsizetype comma = url.indexOf(',');
            if (comma < 0) return {};
            const QByteArray head = url.left(comma);
            const QByteArray data = url.mid(comma + 1);
            return head.endsWith(";base64") ? QByteArray::fromBase64(data)
                                            : QByteArray::fromPercentEncoding(data);
        }
        return QTextBrowser::loadResource(type, name);
    }
};

} // namespace

HelpViewer::HelpViewer(QWidget* owner) : QDialog(owner), m_browser(new DataUrlBrowser(this)) {
    setObjectName(QStringLiteral("helpViewer"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    setModal(false);
    m_browser->setOpenExternalLinks(true);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->button(QDialogButtonBox::Close)->setText(QStringLiteral("Закрыть"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_browser);
    layout->addWidget(buttons);
    resize(820, 640);
    connect(m_browser, &QTextBrowser::sourceChanged, this,
            [this] { setWindowTitle(m_browser->documentTitle()); });
}

void HelpViewer::Show(const QUrl& page) {
    m_browser->setSource(page, QTextDocument::HtmlResource);
    setWindowTitle(m_browser->documentTitle());
    show();
    raise();
    activateWindow();
    // Once shown the page is laid out at the window's own width; go to the anchor again so
    // its heading stands at the top.
    if (page.hasFragment()) m_browser->scrollToAnchor(page.fragment());
}

HelpViewer* HelpViewer::For(QWidget* owner) {
    if (owner) {
        if (auto* open = owner->findChild<HelpViewer*>(QStringLiteral("helpViewer"),
                                                       Qt::FindDirectChildrenOnly))
            return open;
    }
    return new HelpViewer(owner);
}
