#include "pages/Events.h"

#include "pages/AddLoopDlg.h"
#include "pages/PageTree.h"
#include "platform/Platform.h"
#include "ui_Events.h"

#include <QTreeWidget>

#include <algorithm>

namespace {

int LoopField(std::uint32_t tag) {
    return tag & 0xF;
}
int ExpanderField(std::uint32_t tag) {
    return (tag >> 4) & 0x7F;
}
int GroupField(std::uint32_t tag) {
    return (tag >> 11) & 0x1F;
}

} // namespace

Events::Events(QWidget* parent) : CPropertyPage(QStringLiteral("Группы шлейфов"), parent) {}

Events::~Events() = default;

QSize Events::TemplateSize() const {
    return FormSize<Ui::Events>();
}

QTreeWidget* Events::Tree() const {
    return m_ui ? m_ui->tree : nullptr;
}

void Events::CreateControls() {
    m_ui = std::make_unique<Ui::Events>();
    m_ui->setupUi(this);
    QTreeWidget* tree = m_ui->tree;
    pagetree::KeepSelectionOnRightClick(tree);
    tree->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(tree, &QWidget::customContextMenuRequested, this, [this] { OnContextMenu(); });
}

bool Events::OnInitDialog() {
    CPropertyPage::OnInitDialog();
    FillGroupTree();
    return true;
}

void Events::FillGroupTree() {
    if (!m_ui || !m_record) return;
    QTreeWidget* tree = m_ui->tree;
    tree->setUpdatesEnabled(false);
    auto* top = pagetree::MakeItem(QStringLiteral("Группы"), kTagGroups);
    for (int g = 1; g <= kGroupCount; ++g) {
        auto* group = pagetree::MakeItem(QStringLiteral("Группа %1").arg(g), GroupTag(g));
        const std::uint8_t* bitmap = m_record->loopGroups[g - 1];
        QList<QTreeWidgetItem*> members;
        for (int e = 0; e < kExpanderCount; ++e) {
            if (bitmap[e] == 0) continue;
            for (int l = 1; l <= kLoopsPerExpander; ++l)
                if (bitmap[e] & (1u << (l - 1)))
                    members.append(
                        pagetree::MakeItem(QStringLiteral("Расширитель %1, шлейф %2").arg(e).arg(l),
                                           MemberTag(g, e, l)));
        }
        group->addChildren(members);
        top->addChild(group);
    }
    tree->addTopLevelItem(top);
    tree->setUpdatesEnabled(true);
}

void Events::Rebuild(int g) {
    if (!m_ui || !m_record) return;
    QTreeWidget* tree = m_ui->tree;
    {
        const QSignalBlocker block(tree);
        tree->clear();
    }
    FillGroupTree();
    QTreeWidgetItem* top = tree->topLevelItem(0);
    top->setExpanded(true);
    if (g >= 1 && g <= top->childCount()) top->child(g - 1)->setExpanded(true);
}

// The top item is told by its own tag: its bit 16 is not among the group bits, and
// taking it for a group would address a bitmap before the first one.
int Events::SelectedGroup() const {
    if (!m_ui || !m_record) return 0;
    const QTreeWidgetItem* item = pagetree::SelectedItem(m_ui->tree);
    if (!item) return 0;
    const std::uint32_t tag = pagetree::Tag(item);
    if (tag == kTagGroups) return 0;
    const int g = GroupField(tag);
    return g >= 1 && g <= kGroupCount ? g : 0;
}

void Events::OnContextMenu() {
    if (SelectedGroup() == 0) return;
    const QTreeWidgetItem* item = pagetree::SelectedItem(m_ui->tree);
    const bool isLoop = LoopField(pagetree::Tag(item)) != 0;
    std::vector<MenuItem> items;
    items.push_back({kAddLoops, QStringLiteral("Добавить шлейф в группу"), false});
    if (isLoop) items.push_back({kRemoveLoop, QStringLiteral("Удалить шлейф из группы"), false});
    if (isLoop || item->childCount() > 0) {
        items.push_back({0, QString(), true});
        items.push_back({kClearGroup, QStringLiteral("Удалить все шлейфы из группы"), false});
    }
    const int chosen = ThePlatform().TrackPopupMenu(this, items, ThePlatform().CursorPos());
    if (chosen != 0) OnCommand(chosen);
}

bool Events::OnCommand(int id) {
    switch (id) {
    case kAddLoops:
        AddLoopsToGroup();
        return true;
    case kRemoveLoop:
        RemoveLoopFromGroup();
        return true;
    case kClearGroup:
        ClearGroup();
        return true;
    default:
        return false;
    }
}

bool Events::Confirm(const QString& text) {
    const Message question{MessageOwner::Window, "Подтверждение удаления", text.toStdString(),
                           MessageIcon::Question, MessageButtons::YesNo};
    return ThePlatform().ShowMessage(this, question) != MessageAnswer::No;
}

void Events::AddLoopsToGroup() {
    const int g = SelectedGroup();
    if (g == 0) return;
    CAddLoopDlg dialog(this);
    dialog.m_groupTitle = QStringLiteral("Группа %1").arg(g);
    if (dialog.exec() != QDialog::Accepted) return;
    // Two digits at most, so a number that fits; a foreign character reads as 0 digits.
    const int e = dialog.m_expander.isEmpty() ? 0 : dialog.m_expander.toInt();
    if (e < 0 || e > kExpanderCount - 1) {
        ThePlatform().ShowMessage(this,
                                  Message{MessageOwner::Window, kCaptionOshibka,
                                          "Номер расширителя может иметь значение от 0 до 63 !",
                                          MessageIcon::Error, MessageButtons::Ok});
        return;
    }
    std::uint8_t mask = 0;
    for (int i = 0; i < kLoopsPerExpander; ++i)
        if (dialog.m_loops[i]) mask |= static_cast<std::uint8_t>(1u << i);
    m_record->loopGroups[g - 1][e] |= mask;
    Rebuild(g);
}

void Events::RemoveLoopFromGroup() {
    const int g = SelectedGroup();
    if (g == 0) return;
    const std::uint32_t tag = pagetree::Tag(pagetree::SelectedItem(m_ui->tree));
    const int l = LoopField(tag);
    const int e = ExpanderField(tag);
    if (l < 1 || l > kLoopsPerExpander || e >= kExpanderCount) return;
    if (!Confirm(QStringLiteral("Вы уверены, что хотите удалить шлейф %1 расширителя %2 из "
                                "группы %3?")
                     .arg(l)
                     .arg(e)
                     .arg(g)))
        return;
    m_record->loopGroups[g - 1][e] &= static_cast<std::uint8_t>(~(1u << (l - 1)));
    Rebuild(g);
}

void Events::ClearGroup() {
    if (SelectedGroup() == 0) return;
    if (!Confirm(QStringLiteral("Вы уверены, что хотите удалить все шлейфы из группы ?"))) return;
    const int g = SelectedGroup();
    std::fill(std::begin(m_record->loopGroups[g - 1]), std::end(m_record->loopGroups[g - 1]),
              std::uint8_t{0});
    Rebuild(g);
}
