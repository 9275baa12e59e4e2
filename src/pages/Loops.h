// Tab "Шлейфы": the type of every loop of the 64 expanders and of the four monitoring-station
// relays, shown by the description of the type's event code and assigned through a menu
// on the selected item. Each assignment goes into the record at once.
#pragma once

#include "platform/PropertyPage.h"
#include "settings/SettingsRecord.h"

#include <cstdint>
#include <memory>

class QTreeWidget;
class QTreeWidgetItem;
namespace Ui {
class Loops;
}
namespace pagetree {
class SingleExpand;
}

class Loops : public CPropertyPage {
    Q_OBJECT
public:
    // Set by the sheet before the page is shown; the page never changes it.
    SettingsRecord* m_record = nullptr;

    explicit Loops(QWidget* parent = nullptr);
    ~Loops() override;
    QSize TemplateSize() const override;

    static constexpr std::uint32_t kTagAllLoops = 0x800;
    static constexpr std::uint32_t kTagRelays = 0x1000;
    static constexpr std::uint32_t ExpanderTag(int e) { return 16u * e; }
    static constexpr std::uint32_t LoopTag(int e, int l) { return 16u * e + l; }
    static constexpr std::uint32_t RelayTag(int k) { return 1024u + 16u * (k - 1); }

    // Rebuilds the tree from the record: nothing expanded, nothing selected.
    void FillLoopTree();
    // Brings every loop and relay text up to date with the record (codes changed on the
    // codes page meanwhile), leaving the items, what is expanded and what is selected.
    void RefreshLoopTexts();
    // Shown again: the descriptions follow the codes.
    void OnSetActive() override;
    // The type menu for the selected item; nothing without a selection.
    void OnContextMenu();
    // A menu command: 1..16 assign that type to the selected item.
    bool OnCommand(int id);
    // Applies type t to the selected item, asking first for an expander or the whole device.
    void AssignType(int t);

    QTreeWidget* Tree() const;
    // "Тип %d:\t '<description>'", the text of menu entry t.
    QString TypeMenuText(int t) const;

protected:
    void CreateControls() override;
    bool OnInitDialog() override;
    // Notes whether the tree's menu was asked for by the keyboard (the Menu key, Shift+F10).
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QString LoopText(int e, int l) const;
    QString RelayText(int k) const;
    bool Confirm(const QString& text);

    std::unique_ptr<Ui::Loops> m_ui;
    pagetree::SingleExpand* m_singleExpand = nullptr;
    // A menu asked for by the keyboard opens at the selected row, not at the mouse.
    bool m_menuFromKeyboard = false;
};
