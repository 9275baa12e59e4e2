#include "pages/Loops.h"

#include "pages/PageTree.h"
#include "platform/Platform.h"
#include "settings/ContactIdTable.h"
#include "ui_Loops.h"

#include <QContextMenuEvent>
#include <QTreeWidget>

namespace {

QString Describe(const SettingsRecord& record, int type) {
    return QString::fromStdString(TypeDescription(record, type));
}

} // namespace

Loops::Loops(QWidget* parent) : CPropertyPage(QStringLiteral("Шлейфы"), parent) {}

Loops::~Loops() = default;

QSize Loops::TemplateSize() const {
    return FormSize<Ui::Loops>();
}

QTreeWidget* Loops::Tree() const {
    return m_ui ? m_ui->tree : nullptr;
}

void Loops::CreateControls() {
    m_ui = std::make_unique<Ui::Loops>();
    m_ui->setupUi(this);
    QTreeWidget* tree = m_ui->tree;
    pagetree::KeepSelectionOnRightClick(tree);
    m_singleExpand = new pagetree::SingleExpand(tree);
    tree->setContextMenuPolicy(Qt::CustomContextMenu);
    tree->installEventFilter(this);
    tree->viewport()->installEventFilter(this);
    connect(tree, &QWidget::customContextMenuRequested, this, [this] { OnContextMenu(); });
}

bool Loops::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ContextMenu)
        m_menuFromKeyboard =
            static_cast<QContextMenuEvent*>(event)->reason() == QContextMenuEvent::Keyboard;
    return CPropertyPage::eventFilter(watched, event);
}

bool Loops::OnInitDialog() {
    CPropertyPage::OnInitDialog();
    FillLoopTree();
    return true;
}

// The loop's stored type may be anything in a foreign file; the description names it
// readably without looking past the sixteen types.
QString Loops::LoopText(int e, int l) const {
    const int type = m_record->loopTypes[kLoopsPerExpander * e + l - 1];
    return QStringLiteral("Шлейф %1: '").arg(l) + Describe(*m_record, type) + u'\'';
}

QString Loops::RelayText(int k) const {
    const int type = m_record->relayTypes[k - 1];
    return QStringLiteral("Реле ПЦН %1 : '").arg(k) + Describe(*m_record, type) + u'\'';
}

QString Loops::TypeMenuText(int t) const {
    return QStringLiteral("Тип %1:\t '").arg(t) + Describe(*m_record, t) + u'\'';
}

void Loops::FillLoopTree() {
    if (!m_ui || !m_record) return;
    QTreeWidget* tree = m_ui->tree;
    tree->setUpdatesEnabled(false);
    {
        const QSignalBlocker block(tree);
        tree->clear();
    }
    m_singleExpand->Forget();

    QList<QTreeWidgetItem*> tops;
    auto* loops = pagetree::MakeItem(QStringLiteral("Шлейфы"), kTagAllLoops);
    for (int e = 0; e < kExpanderCount; ++e) {
        auto* expander =
            pagetree::MakeItem(QStringLiteral("Расширитель %1").arg(e), ExpanderTag(e));
        QList<QTreeWidgetItem*> children;
        children.reserve(kLoopsPerExpander);
        for (int l = 1; l <= kLoopsPerExpander; ++l)
            children.append(pagetree::MakeItem(LoopText(e, l), LoopTag(e, l)));
        expander->addChildren(children);
        loops->addChild(expander);
    }
    auto* relays = pagetree::MakeItem(QStringLiteral("Реле ПЦН"), kTagRelays);
    for (int k = 1; k <= kRelayCount; ++k)
        relays->addChild(pagetree::MakeItem(RelayText(k), RelayTag(k)));
    tops << loops << relays;
    tree->addTopLevelItems(tops);
    tree->setUpdatesEnabled(true);
}

void Loops::RefreshLoopTexts() {
    if (!m_ui || !m_record) return;
    auto refresh = [](QTreeWidgetItem* item, const QString& text) {
        if (item->text(0) != text) item->setText(0, text);
    };
    QTreeWidget* tree = m_ui->tree;
    for (int top = 0; top < tree->topLevelItemCount(); ++top) {
        QTreeWidgetItem* group = tree->topLevelItem(top);
        for (int i = 0; i < group->childCount(); ++i) {
            QTreeWidgetItem* item = group->child(i);
            const std::uint32_t tag = pagetree::Tag(item);
            if (tag >= RelayTag(1)) {
                refresh(item, RelayText(static_cast<int>((tag - RelayTag(1)) / 16) + 1));
                continue;
            }
            for (int l = 0; l < item->childCount(); ++l) {
                const std::uint32_t loopTag = pagetree::Tag(item->child(l));
                refresh(item->child(l),
                        LoopText(static_cast<int>(loopTag >> 4), static_cast<int>(loopTag & 0xF)));
            }
        }
    }
}

void Loops::OnSetActive() {
    RefreshLoopTexts();
}

void Loops::OnContextMenu() {
    if (!m_ui || !m_record || !pagetree::SelectedItem(m_ui->tree)) return;
    std::vector<MenuItem> items;
    items.reserve(kTypeCount);
    for (int t = 1; t <= kTypeCount; ++t)
        items.push_back(MenuItem{t, TypeMenuText(t), false});
    QPoint at = ThePlatform().CursorPos();
    if (m_menuFromKeyboard) {
        QTreeWidget* tree = m_ui->tree;
        const QRect row = tree->visualItemRect(pagetree::SelectedItem(tree));
        at = tree->viewport()->mapToGlobal(row.bottomLeft());
    }
    m_menuFromKeyboard = false;
    const int chosen = ThePlatform().TrackPopupMenu(this, items, at);
    if (chosen != 0) OnCommand(chosen);
}

bool Loops::OnCommand(int id) {
    if (id >= 1 && id <= kTypeCount) {
        AssignType(id);
        return true;
    }
    return false;
}

bool Loops::Confirm(const QString& text) {
    const Message question{MessageOwner::Window, "Подтверждение присвоения", text.toStdString(),
                           MessageIcon::Question, MessageButtons::YesNo};
    return ThePlatform().ShowMessage(this, question) != MessageAnswer::No;
}

void Loops::AssignType(int t) {
    if (t < 1 || t > kTypeCount || !m_ui || !m_record) return;
    QTreeWidgetItem* selected = pagetree::SelectedItem(m_ui->tree);
    if (!selected) return;
    const std::uint32_t tag = pagetree::Tag(selected);
    const QString description = Describe(*m_record, t);
    const int loop = tag & 0xF;
    const int unit = (tag >> 4) & 0x7F;
    const auto type = static_cast<std::int8_t>(t);

    if (tag & kTagAllLoops) {
        if (!Confirm(QStringLiteral("Вы уверены, что хотите ВСЕМ шлейфам в приборе \n присвоить "
                                    "тип : '") +
                     description + QStringLiteral("'?")))
            return;
        std::fill(std::begin(m_record->loopTypes), std::end(m_record->loopTypes), type);
        FillLoopTree();
        return;
    }
    if (tag >= kTagRelays) return;

    if (loop != 0) {
        if (loop > kLoopsPerExpander || unit >= kExpanderCount) return;
        m_record->loopTypes[kLoopsPerExpander * unit + loop - 1] = type;
    } else if (unit >= kExpanderCount) {
        if (unit - kExpanderCount >= kRelayCount) return;
        m_record->relayTypes[unit - kExpanderCount] = type;
        FillLoopTree();
        m_ui->tree->topLevelItem(1)->setExpanded(true);
        return;
    } else {
        if (!Confirm(QStringLiteral("Вы уверены, что хотите ВСЕМ шлейфам расширителя %1 \n "
                                    "присвоить тип : '")
                         .arg(unit) +
                     description + QStringLiteral("'?")))
            return;
        std::fill_n(m_record->loopTypes + kLoopsPerExpander * unit, kLoopsPerExpander, type);
    }
    FillLoopTree();
    QTreeWidgetItem* loopsTop = m_ui->tree->topLevelItem(0);
    loopsTop->setExpanded(true);
    loopsTop->child(unit)->setExpanded(true);
}
