// A plain window that shows a help page inside the utility, for desktops that have no
// program for HTML. It follows links and anchors within the page and shows its pictures,
// which the guide carries inside itself as data: URLs.
#pragma once

#include <QDialog>
#include <QUrl>

class QTextBrowser;

class HelpViewer : public QDialog {
    Q_OBJECT
public:
    explicit HelpViewer(QWidget* owner);

    // Loads `page` (a local file URL, its fragment the anchor to show).
    void Show(const QUrl& page);
    QTextBrowser* Browser() const { return m_browser; }

    // The viewer `owner` already has, or a new one; it closes with its owner.
    static HelpViewer* For(QWidget* owner);

private:
    QTextBrowser* m_browser;
};
