// The Qt platform's help opening where the desktop has no program for HTML: the page opens in
// the utility's own viewer, at its anchor, with its embedded pictures.
#include "platform/HelpViewer.h"
#include "platform/Platform.h"

#include <QFile>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QWidget>
#include <gtest/gtest.h>

TEST(HelpViewerFallback, OpensThePageAtItsAnchorInsideTheUtility) {
    QTemporaryDir dir, emptyBin;
    const QString page = dir.filePath(QStringLiteral("help.html"));
    {
        QFile file(page);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        QByteArray html = "<html><head><title>Руководство</title></head><body>";
        for (int i = 0; i < 300; ++i)
            html += "<p>строка " + QByteArray::number(i) + "</p>";
        // A 1 x 1 PNG as the guide embeds its pictures.
        html += "<h2 id=\"far\"><a name=\"far\"></a>Далеко</h2><img src=\"data:image/png;base64,"
                "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mP8z8BQDwAEhQGAhKmMIQ"
                "AAAABJRU5ErkJggg==\"></body></html>";
        file.write(html);
    }
    // No opener on the path: the desktop has no program for HTML.
    const QByteArray savedPath = qgetenv("PATH");
    qputenv("PATH", emptyBin.path().toLocal8Bit());
    QWidget owner;
    const int opened = ThePlatform().OpenHelp(&owner, page, QStringLiteral("far"));
    const int missing = ThePlatform().OpenHelp(&owner, dir.filePath(QStringLiteral("no.html")), {});
    qputenv("PATH", savedPath);

    EXPECT_EQ(opened, 0);
    EXPECT_EQ(missing, 2);
    auto* viewer = owner.findChild<HelpViewer*>();
    ASSERT_NE(viewer, nullptr);
    EXPECT_TRUE(viewer->isVisible());
    EXPECT_EQ(viewer->windowTitle(), QStringLiteral("Руководство"));
    QTextBrowser* browser = viewer->Browser();
    EXPECT_EQ(browser->source().fragment(), QStringLiteral("far"));
    EXPECT_GT(browser->verticalScrollBar()->value(), 0);
    const QVariant picture = browser->loadResource(
        QTextDocument::ImageResource,
        QUrl(
            QStringLiteral("data:image/png;base64,iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAAD"
                           "UlEQVR42mP8z8BQDwAEhQGAhKmMIQAAAABJRU5ErkJggg==")));
    EXPECT_TRUE(picture.toByteArray().startsWith("\x89PNG"));
    viewer->close();
}
