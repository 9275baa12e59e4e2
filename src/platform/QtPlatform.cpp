#include "platform/Platform.h"

#include "card/SettingsCard.h"
#include "platform/HelpViewer.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QPageLayout>
#include <QPageSize>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTextDocument>
#include <QUrl>

#ifdef _WIN32
#include <windows.h>

#include <shlwapi.h>
#endif

#include <cerrno>

namespace {

// Each filter is its label followed by the patterns it applies. With the details hidden the
// dialog shows the label alone, so "All Files (*.*)" reads as it always has while listing
// every file: "*.*" taken literally would hide the names without an extension.
const QStringList& StgFilters() {
    static const QStringList filters{QStringLiteral("Settings Files (*.stg) (*.stg)"),
                                     QStringLiteral("All Files (*.*) (*)")};
    return filters;
}

// Whether the desktop names a program for HTML pages. Asking the opener alone is not
// enough: it starts and reports success even when nothing will show the page.
bool DesktopShowsHtml() {
#ifdef _WIN32
    // Windows knows by the file type's association: a program to open ".html" with.
    wchar_t program[MAX_PATH];
    DWORD length = MAX_PATH;
    return AssocQueryStringW(ASSOCF_NOTRUNCATE, ASSOCSTR_EXECUTABLE, L".html", L"open", program,
                             &length) == S_OK &&
           length > 1;
#else
    if (QStandardPaths::findExecutable(QStringLiteral("xdg-open")).isEmpty()) return false;
    const QString mime = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
    if (mime.isEmpty()) return false;
    QProcess query;
    query.start(mime,
                {QStringLiteral("query"), QStringLiteral("default"), QStringLiteral("text/html")});
    if (!query.waitForFinished(3000)) {
        query.kill();
        query.waitForFinished(1000);
        return false;
    }
    return query.exitCode() == 0 && !query.readAllStandardOutput().trimmed().isEmpty();
#endif
}

// Runs a prepared file dialog: the file chosen, or nothing on cancel.
std::optional<FileChoice> ChosenFile(QFileDialog& dialog) {
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty()) return std::nullopt;
    FileChoice choice;
    choice.path = files.front();
    choice.name = QFileInfo(choice.path).fileName();
    return choice;
}

std::optional<FileChoice> RunFileDialog(QWidget* owner, bool save, const QString& folder) {
    QFileDialog dialog(owner);
    if (!folder.isEmpty() && QFileInfo(folder).isDir()) dialog.setDirectory(folder);
    // Qt's own dialog: the same look and the same Russian texts on every desktop, and no
    // portal round trip that may never answer under a bare X server.
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    // Open does not insist that the typed name exists: the file operation reports it.
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !save);
    dialog.setOption(QFileDialog::HideNameFilterDetails, true);
    dialog.setNameFilters(StgFilters());
    dialog.selectNameFilter(StgFilters().front());
    dialog.setDefaultSuffix(QStringLiteral("stg"));
    return ChosenFile(dialog);
}

class QtPlatform final : public Platform {
public:
    MessageAnswer ShowMessage(QWidget* owner, const Message& message) override {
        QMessageBox box(owner);
        box.setWindowTitle(message.caption.empty() ? QStringLiteral("torvik7-setup")
                                                   : QString::fromStdString(message.caption));
        box.setText(QString::fromStdString(message.text));
        box.setTextFormat(Qt::PlainText);
        switch (message.icon) {
        case MessageIcon::None:
            box.setIcon(QMessageBox::NoIcon);
            break;
        case MessageIcon::Error:
            box.setIcon(QMessageBox::Critical);
            break;
        case MessageIcon::Question:
            box.setIcon(QMessageBox::Question);
            break;
        case MessageIcon::Information:
            box.setIcon(QMessageBox::Information);
            break;
        }
        // Our own texts, so the buttons read Russian whether or not Qt's translations are
        // installed.
        if (message.buttons == MessageButtons::YesNo) {
            QPushButton* yes = box.addButton(QStringLiteral("Да"), QMessageBox::YesRole);
            QPushButton* no = box.addButton(QStringLiteral("Нет"), QMessageBox::NoRole);
            box.setDefaultButton(message.defaultNo ? no : yes);
            box.setEscapeButton(no);
            box.exec();
            // Only an explicit No declines, or, where No is the default, only Yes accepts.
            if (message.defaultNo)
                return box.clickedButton() == yes ? MessageAnswer::Yes : MessageAnswer::No;
            return box.clickedButton() == no ? MessageAnswer::No : MessageAnswer::Yes;
        }
        QPushButton* ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
        box.setDefaultButton(ok);
        box.setEscapeButton(ok);
        box.exec();
        return MessageAnswer::Ok;
    }

    std::optional<FileChoice> SaveFileDialog(QWidget* owner) override {
        return RunFileDialog(owner, true, m_folder);
    }
    std::optional<FileChoice> OpenFileDialog(QWidget* owner) override {
        return RunFileDialog(owner, false, m_folder);
    }
    void SetFileDialogFolder(const QString& folder) override { m_folder = folder; }

    std::optional<FileChoice> SaveCardDialog(QWidget* owner,
                                             const QString& suggestedName) override {
        QFileDialog dialog(owner);
        dialog.setOption(QFileDialog::DontUseNativeDialog, true);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setNameFilters({QStringLiteral("PDF (*.pdf)")});
        dialog.setDefaultSuffix(QStringLiteral("pdf"));
        dialog.selectFile(suggestedName);
        return ChosenFile(dialog);
    }

    void PrintPreview(QWidget* owner, const QTextDocument& document) override {
        QPrinter printer(QPrinter::HighResolution);
        printer.setPageLayout(
            QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(0, 0, 0, 0)));
        printer.setDocName(document.metaInformation(QTextDocument::DocumentTitle));
        QPrintPreviewDialog preview(&printer, owner);
        preview.setWindowTitle(QStringLiteral("Предварительный просмотр"));
        QObject::connect(&preview, &QPrintPreviewDialog::paintRequested, &preview,
                         [&document](QPrinter* p) { PrintPages(document, p); });
        preview.resize(900, 1000);
        preview.exec();
    }

    int ShellOpen(const QString& path) override {
        const QFileInfo info(path);
        if (!info.exists()) return ENOENT; // 2, as the message for a missing page expects
        if (!QDesktopServices::openUrl(QUrl::fromLocalFile(info.absoluteFilePath())))
            return ENOEXEC; // no program on this desktop opens it
        return 0;
    }

    int OpenHelp(QWidget* owner, const QString& path, const QString& anchor) override {
        const QFileInfo info(path);
        if (!info.exists()) return ENOENT;
        QUrl page = QUrl::fromLocalFile(info.absoluteFilePath());
        if (!anchor.isEmpty()) page.setFragment(anchor);
        if (DesktopShowsHtml() && QDesktopServices::openUrl(page)) return 0;
        HelpViewer::For(owner)->Show(page);
        return 0;
    }

    QPoint CursorPos() override { return QCursor::pos(); }

    int TrackPopupMenu(QWidget* owner, const std::vector<MenuItem>& items,
                       const QPoint& globalPos) override {
        QMenu menu(owner);
        for (const auto& item : items) {
            if (item.separator) {
                menu.addSeparator();
                continue;
            }
            // QMenu shows the part after a tab in its own right-aligned column.
            QAction* action = menu.addAction(item.text);
            action->setData(item.id);
        }
        QAction* chosen = menu.exec(globalPos);
        return chosen ? chosen->data().toInt() : 0;
    }


private:
    QString m_folder;
};

Platform* g_installed = nullptr;

} // namespace

Platform& ThePlatform() {
    static QtPlatform qt;
    return g_installed ? *g_installed : qt;
}

void SetPlatform(Platform* platform) {
    g_installed = platform;
}
