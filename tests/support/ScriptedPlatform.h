// A platform double for widget tests: records every message, menu, dialog and shell call,
// and gives the answers a test queued. Installed for its lifetime.
#pragma once

#include "platform/Platform.h"

#include <QCoreApplication>
#include <QTextDocument>

#include <deque>
#include <functional>
#include <vector>

class ScriptedPlatform : public Platform {
public:
    struct ShownMessage {
        QWidget* owner;
        Message message;
    };
    struct ShownMenu {
        QWidget* owner;
        std::vector<MenuItem> items;
        QPoint pos;
    };

    std::vector<ShownMessage> messages;
    std::deque<MessageAnswer> answers; // when empty: Ok, or Yes for a question
    std::vector<ShownMenu> menus;
    std::deque<int> menuChoices; // when empty: 0 (menu dismissed)
    QString dialogFolder;        // where the file dialogs were last told to start
    std::deque<std::optional<FileChoice>> saveChoices, openChoices; // when empty: cancel
    int saveDialogs = 0, openDialogs = 0;
    std::deque<std::optional<FileChoice>> cardChoices; // when empty: cancel
    std::vector<QString> cardSuggestions;              // the name each card dialog proposed
    std::vector<QString> previews;                     // the text of each print preview
    std::vector<QString> shellOpened;                  // ShellOpen and OpenHelp alike
    std::vector<QString> helpAnchors;                  // the anchor of each OpenHelp
    int shellResult = 0;
    QPoint cursor{100, 100};
    // Runs inside a message box, as the operator would act while it is shown.
    std::function<void(const Message&)> onMessage;

    ScriptedPlatform() { SetPlatform(this); }
    ~ScriptedPlatform() override { SetPlatform(nullptr); }

    MessageAnswer ShowMessage(QWidget* owner, const Message& message) override {
        messages.push_back({owner, message});
        if (onMessage) onMessage(message);
        if (!answers.empty()) {
            const auto a = answers.front();
            answers.pop_front();
            return a;
        }
        // Unscripted, a question gets its default answer, as Enter would give it.
        if (message.buttons != MessageButtons::YesNo) return MessageAnswer::Ok;
        return message.defaultNo ? MessageAnswer::No : MessageAnswer::Yes;
    }
    std::optional<FileChoice> SaveFileDialog(QWidget*) override {
        ++saveDialogs;
        return take(saveChoices);
    }
    void SetFileDialogFolder(const QString& folder) override { dialogFolder = folder; }
    std::optional<FileChoice> OpenFileDialog(QWidget*) override {
        ++openDialogs;
        return take(openChoices);
    }
    std::optional<FileChoice> SaveCardDialog(QWidget*, const QString& suggestedName) override {
        cardSuggestions.push_back(suggestedName);
        return take(cardChoices);
    }
    void PrintPreview(QWidget*, const QTextDocument& document) override {
        previews.push_back(document.toPlainText());
    }
    int ShellOpen(const QString& path) override {
        shellOpened.push_back(path);
        return shellResult;
    }
    int OpenHelp(QWidget*, const QString& path, const QString& anchor) override {
        shellOpened.push_back(path);
        helpAnchors.push_back(anchor);
        return shellResult;
    }
    QPoint CursorPos() override { return cursor; }
    int TrackPopupMenu(QWidget* owner, const std::vector<MenuItem>& items,
                       const QPoint& pos) override {
        menus.push_back({owner, items, pos});
        if (menuChoices.empty()) return 0;
        const int id = menuChoices.front();
        menuChoices.pop_front();
        return id;
    }

    // The texts of all messages shown so far, in order.
    std::vector<std::string> Texts() const {
        std::vector<std::string> t;
        for (const auto& m : messages)
            t.push_back(m.message.text);
        return t;
    }

private:
    static std::optional<FileChoice> take(std::deque<std::optional<FileChoice>>& q) {
        if (q.empty() || !q.front()) {
            if (!q.empty()) q.pop_front();
            return std::nullopt;
        }
        FileChoice c = std::move(*q.front());
        q.pop_front();
        return c;
    }
};
