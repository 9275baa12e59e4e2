// Our thin layer over what the window needs from the desktop: message boxes, the file
// dialogs, opening a help page, pop-up menus and the message pump. Everything goes
// through one replaceable object so tests can script the operator's answers.
#pragma once

#include "link/Message.h"

#include <QPoint>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

class QTextDocument;
class QWidget;

struct FileChoice {
    QString path; // full path to open
    QString name; // last component, for the title
};

struct MenuItem {
    int id = 0;   // returned when chosen; 0 is never a valid id
    QString text; // may hold "\t" to start a second column
    bool separator = false;
};

class Platform {
public:
    virtual ~Platform() = default;

    // Modal; returns when the operator closes it. Callers cancel on No alone; Escape and the
    // close box of a question answer No, the safe way for a confirmation.
    virtual MessageAnswer ShowMessage(QWidget* owner, const Message& message) = 0;

    // "Settings Files (*.stg)" and "All Files (*.*)" (every file), default suffix "stg". Save asks
    // before overwriting; open does not insist that the file exists. Nothing on cancel.
    virtual std::optional<FileChoice> SaveFileDialog(QWidget* owner) = 0;
    virtual std::optional<FileChoice> OpenFileDialog(QWidget* owner) = 0;
    // Where the settings-file dialogs start from now on; empty for wherever they like.
    virtual void SetFileDialogFolder(const QString& folder) { (void)folder; }

    // Where to write a settings card: "PDF (*.pdf)", default suffix "pdf", `suggestedName`
    // proposed, overwrite asked. Nothing on cancel.
    virtual std::optional<FileChoice> SaveCardDialog(QWidget* owner,
                                                     const QString& suggestedName) = 0;
    // The print preview of a paged document, with its print button; returns when closed.
    virtual void PrintPreview(QWidget* owner, const QTextDocument& document) = 0;

    // Opens a file with the desktop's program for it. 0 on success, 2 when the file is not
    // there, otherwise the system's error number.
    virtual int ShellOpen(const QString& path) = 0;
    // Opens a help page at `anchor` (empty: at its top) with the desktop's program for
    // HTML or, where the desktop has none, in a viewer inside the utility owned by `owner`.
    // 0 on success, 2 when the file is not there, otherwise the system's error number.
    virtual int OpenHelp(QWidget* owner, const QString& path, const QString& anchor) = 0;

    virtual QPoint CursorPos() = 0;
    // Shows a pop-up menu at a global position; the chosen item's id, or 0.
    virtual int TrackPopupMenu(QWidget* owner, const std::vector<MenuItem>& items,
                               const QPoint& globalPos) = 0;
};

// The platform in force: the Qt one unless a test installed another.
Platform& ThePlatform();
// Installs `platform` (not owned) or, with nullptr, the Qt one again.
void SetPlatform(Platform* platform);
