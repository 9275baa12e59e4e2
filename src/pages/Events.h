// Tab "Группы шлейфов": the sixteen groups of loops and their members, edited through a
// menu on the selected item. Each change goes into the record at once.
#pragma once

#include "platform/PropertyPage.h"
#include "settings/SettingsRecord.h"

#include <cstdint>
#include <memory>

class QTreeWidget;
namespace Ui {
class Events;
}

class Events : public CPropertyPage {
    Q_OBJECT
public:
    // Set by the sheet before the page is shown; the page never changes it.
    SettingsRecord* m_record = nullptr;

    explicit Events(QWidget* parent = nullptr);
    ~Events() override;
    QSize TemplateSize() const override;

    enum Command { kAddLoops = 1, kRemoveLoop = 2, kClearGroup = 3 };

    static constexpr std::uint32_t kTagGroups = 0x10000;
    static constexpr std::uint32_t GroupTag(int g) { return 2048u * g; }
    static constexpr std::uint32_t MemberTag(int g, int e, int l) {
        return 2048u * g + 16u * e + l;
    }

    // Builds the tree into the empty tree control.
    void FillGroupTree();
    // Empties the tree, builds it again and opens "Группы" and group g.
    void Rebuild(int g);
    void OnContextMenu();
    bool OnCommand(int id);
    void AddLoopsToGroup();
    void RemoveLoopFromGroup();
    void ClearGroup();

    QTreeWidget* Tree() const;

protected:
    void CreateControls() override;
    bool OnInitDialog() override;

private:
    // The group (1..16) of the selected group or member item, or 0 for anything else.
    int SelectedGroup() const;
    bool Confirm(const QString& text);

    std::unique_ptr<Ui::Events> m_ui;
};
