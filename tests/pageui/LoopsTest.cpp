#include "pages/Loops.h"
#include "settings/ContactIdTable.h"

#include "PageTestSupport.h"

#include <QContextMenuEvent>

namespace {

QString Describe(const SettingsRecord& r, int type) {
    return QString::fromStdString(TypeDescription(r, type));
}

class LoopsTest : public ::testing::Test {
protected:
    ScriptedPlatform platform;
    std::unique_ptr<SettingsRecord> record = DefaultRecord();
    Loops page;

    void SetUp() override { ShowPage(page, *record); }
    QTreeWidget* tree() { return page.Tree(); }
    QTreeWidgetItem* loopsTop() { return tree()->topLevelItem(0); }
    QTreeWidgetItem* relaysTop() { return tree()->topLevelItem(1); }
    QTreeWidgetItem* expander(int e) { return loopsTop()->child(e); }
    QTreeWidgetItem* loop(int e, int l) { return expander(e)->child(l - 1); }
    QTreeWidgetItem* relay(int k) { return relaysTop()->child(k - 1); }
    quint32 tag(QTreeWidgetItem* item) { return item->data(0, Qt::UserRole).value<quint32>(); }

    // Selects `item`, right-clicks anywhere and picks type t from the menu.
    void ChooseType(QTreeWidgetItem* item, int t) {
        LeftClick(tree(), item);
        platform.menuChoices.push_back(t);
        RightClick(tree(), item);
    }
};

TEST_F(LoopsTest, TreeHasExpandersLoopsAndRelaysInOrderWithTags) {
    EXPECT_EQ(page.Caption(), "Шлейфы");
    ASSERT_EQ(tree()->topLevelItemCount(), 2);
    EXPECT_EQ(loopsTop()->text(0), "Шлейфы");
    EXPECT_EQ(relaysTop()->text(0), "Реле ПЦН");
    EXPECT_EQ(tag(loopsTop()), 0x800u);
    EXPECT_EQ(tag(relaysTop()), 0x1000u);
    ASSERT_EQ(loopsTop()->childCount(), 64);
    for (int e = 0; e < 64; ++e) {
        EXPECT_EQ(expander(e)->text(0), QStringLiteral("Расширитель %1").arg(e));
        EXPECT_EQ(tag(expander(e)), 16u * e);
        ASSERT_EQ(expander(e)->childCount(), 8);
        for (int l = 1; l <= 8; ++l) {
            EXPECT_EQ(tag(loop(e, l)), 16u * e + l);
            EXPECT_EQ(loop(e, l)->childCount(), 0);
        }
    }
    ASSERT_EQ(relaysTop()->childCount(), 4);
    const quint32 relayTags[] = {0x400, 0x410, 0x420, 0x430};
    for (int k = 1; k <= 4; ++k)
        EXPECT_EQ(tag(relay(k)), relayTags[k - 1]);
}

TEST_F(LoopsTest, ItemTextsCarryTheTypeDescription) {
    record->loopTypes[8 * 5 + 2] = 10;
    record->relayTypes[3] = 16;
    page.FillLoopTree();
    EXPECT_EQ(loop(5, 3)->text(0), "Шлейф 3: '" + Describe(*record, 10) + "'");
    EXPECT_EQ(loop(0, 1)->text(0), "Шлейф 1: '" + Describe(*record, 1) + "'");
    EXPECT_EQ(relay(4)->text(0), "Реле ПЦН 4 : '" + Describe(*record, 16) + "'");
    EXPECT_EQ(relay(1)->text(0), "Реле ПЦН 1 : '" + Describe(*record, 1) + "'");
}

TEST_F(LoopsTest, ItemTextsNameTheEventOfTheCode) {
    EXPECT_EQ(loop(5, 3)->text(0), "Шлейф 3: 'Охранная тревога'");
    record->loopTypes[0] = 16;
    record->relayTypes[1] = 14;
    page.FillLoopTree();
    EXPECT_EQ(loop(0, 1)->text(0), "Шлейф 1: 'Извещение не доставлять'");
    EXPECT_EQ(relay(2)->text(0), "Реле ПЦН 2 : 'Потеря радиодатчика'");
    record->eventCodes[0][0] = 9, record->eventCodes[0][1] = 9, record->eventCodes[0][2] = 9;
    page.FillLoopTree();
    EXPECT_EQ(loop(0, 2)->text(0), "Шлейф 2: 'Код события : 999'");
}

TEST_F(LoopsTest, ForeignTypesAreShownReadably) {
    record->loopTypes[2] = 0;
    record->loopTypes[3] = 17;
    record->loopTypes[4] = -128;
    record->relayTypes[0] = 100;
    page.FillLoopTree();
    EXPECT_EQ(loop(0, 3)->text(0), "Шлейф 3: 'Тип 0 (недопустимый)'");
    EXPECT_EQ(loop(0, 4)->text(0), "Шлейф 4: 'Тип 17 (недопустимый)'");
    EXPECT_EQ(loop(0, 5)->text(0), "Шлейф 5: 'Тип -128 (недопустимый)'");
    EXPECT_EQ(relay(1)->text(0), "Реле ПЦН 1 : 'Тип 100 (недопустимый)'");
}

TEST_F(LoopsTest, FreshTreeIsCollapsedWithNothingSelected) {
    EXPECT_TRUE(ExpandedTexts(tree()).isEmpty());
    EXPECT_EQ(Selected(tree()), nullptr);
}

TEST_F(LoopsTest, RightClickWithNothingSelectedShowsNoMenu) {
    RightClick(tree(), loopsTop());
    EXPECT_TRUE(platform.menus.empty());
    EXPECT_EQ(Selected(tree()), nullptr);
}

TEST_F(LoopsTest, MenuOffersSixteenTypesAtThePointerForAnySelection) {
    platform.cursor = QPoint(321, 123);
    LeftClick(tree(), relaysTop());
    RightClick(tree(), relaysTop());
    ASSERT_EQ(platform.menus.size(), 1u);
    const auto& menu = platform.menus[0];
    EXPECT_EQ(menu.owner, &page);
    EXPECT_EQ(menu.pos, QPoint(321, 123));
    ASSERT_EQ(menu.items.size(), 16u);
    for (int t = 1; t <= 16; ++t) {
        EXPECT_EQ(menu.items[t - 1].id, t);
        EXPECT_FALSE(menu.items[t - 1].separator);
        EXPECT_EQ(menu.items[t - 1].text,
                  QStringLiteral("Тип %1:\t '").arg(t) + Describe(*record, t) + "'");
    }
}

// The Menu key (or Shift+F10) opens the menu at the selected row, the mouse wherever it is.
TEST_F(LoopsTest, MenuKeyOpensTheMenuAtTheSelectedRow) {
    platform.cursor = QPoint(321, 123);
    LeftClick(tree(), relaysTop());
    // What the Menu key gives the focused tree.
    tree()->setFocus();
    QContextMenuEvent key(QContextMenuEvent::Keyboard, tree()->rect().center(),
                          tree()->mapToGlobal(tree()->rect().center()));
    QApplication::sendEvent(tree(), &key);
    ASSERT_EQ(platform.menus.size(), 1u);
    const QRect row = tree()->visualItemRect(relaysTop());
    EXPECT_EQ(platform.menus[0].pos, tree()->viewport()->mapToGlobal(row.bottomLeft()));
    EXPECT_NE(platform.menus[0].pos, QPoint(321, 123));
    RightClick(tree(), relaysTop()); // the mouse again: at the pointer
    ASSERT_EQ(platform.menus.size(), 2u);
    EXPECT_EQ(platform.menus[1].pos, QPoint(321, 123));
}

TEST_F(LoopsTest, MenuTextsNameEachType) {
    LeftClick(tree(), loopsTop());
    record->eventCodes[4][0] = 9, record->eventCodes[4][1] = 9, record->eventCodes[4][2] = 9;
    RightClick(tree(), loopsTop());
    ASSERT_EQ(platform.menus.size(), 1u);
    EXPECT_EQ(platform.menus[0].items[0].text, "Тип 1:\t 'Охранная тревога'");
    EXPECT_EQ(platform.menus[0].items[4].text, "Тип 5:\t 'Код события : 999'");
    EXPECT_EQ(platform.menus[0].items[15].text, "Тип 16:\t 'Извещение не доставлять'");
}

TEST_F(LoopsTest, RightClickDoesNotMoveTheSelection) {
    LeftClick(tree(), relaysTop());
    RightClick(tree(), loopsTop());
    EXPECT_EQ(Selected(tree()), relaysTop());
    ASSERT_EQ(platform.menus.size(), 1u);
}

TEST_F(LoopsTest, TypeGoesToTheSelectedLoopNotTheOneUnderThePointer) {
    LeftClick(tree(), loopsTop());
    LeftClick(tree(), expander(2));
    LeftClick(tree(), loop(2, 4));
    platform.menuChoices.push_back(7);
    RightClick(tree(), loop(2, 6));
    EXPECT_EQ(record->loopTypes[8 * 2 + 3], 7);
    EXPECT_EQ(record->loopTypes[8 * 2 + 5], 1);
}

TEST_F(LoopsTest, DismissedMenuChangesNothing) {
    const auto before = Bytes(*record);
    LeftClick(tree(), loopsTop());
    RightClick(tree(), loopsTop());
    EXPECT_EQ(platform.menus.size(), 1u);
    EXPECT_TRUE(platform.messages.empty());
    EXPECT_EQ(Bytes(*record), before);
}

TEST_F(LoopsTest, SingleLoopIsAssignedWithoutAskingAndItsExpanderOpened) {
    LeftClick(tree(), loopsTop());
    LeftClick(tree(), expander(63));
    const auto before = Bytes(*record);
    ChooseType(loop(63, 8), 12);
    EXPECT_TRUE(platform.messages.empty());
    auto expected = before;
    expected[195 + 511] = 12;
    EXPECT_EQ(Bytes(*record), expected);
    EXPECT_EQ(ExpandedTexts(tree()), (QStringList{"Шлейфы", "Расширитель 63"}));
    EXPECT_EQ(Selected(tree()), nullptr);
    EXPECT_EQ(loop(63, 8)->text(0), "Шлейф 8: '" + Describe(*record, 12) + "'");
}

TEST_F(LoopsTest, RelayIsAssignedWithoutAskingAndRelaysOpened) {
    LeftClick(tree(), relaysTop());
    const auto before = Bytes(*record);
    ChooseType(relay(3), 5);
    EXPECT_TRUE(platform.messages.empty());
    auto expected = before;
    expected[707 + 2] = 5;
    EXPECT_EQ(Bytes(*record), expected);
    EXPECT_EQ(ExpandedTexts(tree()), QStringList{"Реле ПЦН"});
}

TEST_F(LoopsTest, RelaysTopItemTakesNoType) {
    const auto before = Bytes(*record);
    ChooseType(relaysTop(), 3);
    EXPECT_EQ(platform.menus.size(), 1u);
    EXPECT_TRUE(platform.messages.empty());
    EXPECT_EQ(Bytes(*record), before);
    EXPECT_EQ(Selected(tree()), relaysTop()); // not rebuilt
}

TEST_F(LoopsTest, ExpanderAsksNamingTheTypeByItsDescription) {
    LeftClick(tree(), loopsTop());
    const auto before = Bytes(*record);
    ChooseType(expander(5), 14);
    ASSERT_EQ(platform.messages.size(), 1u);
    const auto& shown = platform.messages[0];
    EXPECT_EQ(shown.owner, &page);
    EXPECT_EQ(shown.message.caption, "Подтверждение присвоения");
    EXPECT_EQ(shown.message.icon, MessageIcon::Question);
    EXPECT_EQ(shown.message.buttons, MessageButtons::YesNo);
    EXPECT_EQ(shown.message.text, "Вы уверены, что хотите ВСЕМ шлейфам расширителя 5 \n присвоить "
                                  "тип : '" +
                                      TypeDescription(*record, 14) + "'?");
    auto expected = before;
    for (int b = 0; b < 8; ++b)
        expected[195 + 40 + b] = 14;
    EXPECT_EQ(Bytes(*record), expected);
    EXPECT_EQ(ExpandedTexts(tree()), (QStringList{"Шлейфы", "Расширитель 5"}));
}

TEST_F(LoopsTest, ExpanderQuestionText) {
    LeftClick(tree(), loopsTop());
    ChooseType(expander(0), 14);
    ASSERT_EQ(platform.messages.size(), 1u);
    EXPECT_EQ(platform.messages[0].message.text,
              "Вы уверены, что хотите ВСЕМ шлейфам расширителя 0 \n присвоить тип : 'Потеря "
              "радиодатчика'?");
}

TEST_F(LoopsTest, NoLeavesRecordAndTreeUntouched) {
    for (auto* target : {loopsTop(), expander(9)}) {
        LeftClick(tree(), loopsTop());
        if (target != loopsTop()) LeftClick(tree(), target);
        const auto before = Bytes(*record);
        const auto expanded = ExpandedTexts(tree());
        QTreeWidgetItem* oldTop = loopsTop();
        platform.answers.push_back(MessageAnswer::No);
        ChooseType(target, 9);
        EXPECT_EQ(Bytes(*record), before);
        EXPECT_EQ(loopsTop(), oldTop); // the same items: no rebuild
        EXPECT_EQ(Selected(tree()), target);
        EXPECT_EQ(ExpandedTexts(tree()), expanded);
    }
    EXPECT_EQ(platform.messages.size(), 2u);
}

TEST_F(LoopsTest, WholeDeviceChangesEveryLoopButNoRelayAndCollapses) {
    record->relayTypes[0] = 2, record->relayTypes[3] = 3;
    const auto before = Bytes(*record);
    ChooseType(loopsTop(), 11);
    ASSERT_EQ(platform.messages.size(), 1u);
    EXPECT_EQ(platform.messages[0].message.caption, "Подтверждение присвоения");
    EXPECT_EQ(platform.messages[0].message.icon, MessageIcon::Question);
    EXPECT_EQ(platform.messages[0].message.text,
              "Вы уверены, что хотите ВСЕМ шлейфам в приборе \n присвоить тип : '" +
                  TypeDescription(*record, 11) + "'?");
    auto expected = before;
    for (int n = 0; n < 512; ++n)
        expected[195 + n] = 11;
    EXPECT_EQ(Bytes(*record), expected);
    EXPECT_TRUE(ExpandedTexts(tree()).isEmpty());
    EXPECT_EQ(loop(40, 2)->text(0), "Шлейф 2: '" + Describe(*record, 11) + "'");
}

TEST_F(LoopsTest, DescriptionsFollowCodeChangesWhenThePageIsShownAgain) {
    LeftClick(tree(), loopsTop());
    LeftClick(tree(), expander(1));
    LeftClick(tree(), loop(1, 3));
    QTreeWidgetItem* const item = loop(1, 1);
    const QStringList expanded = ExpandedTexts(tree());
    record->eventCodes[0][0] = 1, record->eventCodes[0][1] = 2, record->eventCodes[0][2] = 0;
    page.hide();
    page.show(); // merely shown, as outside a sheet: nothing changes
    EXPECT_EQ(loop(1, 1)->text(0), "Шлейф 1: 'Охранная тревога'");
    page.OnSetActive(); // the sheet shows the tab again
    EXPECT_EQ(loop(1, 1)->text(0), "Шлейф 1: 'Кнопка тревожной сигнализации'");
    EXPECT_EQ(loop(63, 8)->text(0), "Шлейф 8: 'Кнопка тревожной сигнализации'");
    EXPECT_EQ(relay(4)->text(0), "Реле ПЦН 4 : 'Кнопка тревожной сигнализации'");
    EXPECT_EQ(loop(1, 1), item) << "the same items, not a rebuild";
    EXPECT_EQ(ExpandedTexts(tree()), expanded);
    EXPECT_EQ(Selected(tree()), loop(1, 3));
    RightClick(tree(), expander(1));
    ASSERT_EQ(platform.menus.size(), 1u);
    EXPECT_EQ(platform.menus[0].items[0].text, "Тип 1:\t 'Кнопка тревожной сигнализации'");
}

TEST_F(LoopsTest, SelectingOpensOneBranchAtATime) {
    LeftClick(tree(), loopsTop());
    EXPECT_EQ(ExpandedTexts(tree()), QStringList{"Шлейфы"});
    LeftClick(tree(), expander(3));
    EXPECT_EQ(ExpandedTexts(tree()), (QStringList{"Шлейфы", "Расширитель 3"}));
    LeftClick(tree(), loop(3, 2));
    EXPECT_EQ(ExpandedTexts(tree()), (QStringList{"Шлейфы", "Расширитель 3"}));
    LeftClick(tree(), expander(4));
    EXPECT_EQ(ExpandedTexts(tree()), (QStringList{"Шлейфы", "Расширитель 4"}));
    LeftClick(tree(), relaysTop());
    EXPECT_EQ(ExpandedTexts(tree()), QStringList{"Реле ПЦН"});
}

TEST_F(LoopsTest, KeyboardSelectionIsWhatTheMenuActsOn) {
    tree()->setFocus();
    LeftClick(tree(), relaysTop());
    QTest::keyClick(tree(), Qt::Key_Down); // relay 1
    EXPECT_EQ(Selected(tree()), relay(1));
    platform.menuChoices.push_back(4);
    RightClick(tree(), loopsTop());
    EXPECT_EQ(record->relayTypes[0], 4);
}

TEST_F(LoopsTest, AssignmentsStayWhenThePageGoesAway) {
    auto other = std::make_unique<Loops>();
    ShowPage(*other, *record);
    LeftClick(other->Tree(), other->Tree()->topLevelItem(1));
    LeftClick(other->Tree(), other->Tree()->topLevelItem(1)->child(1));
    platform.menuChoices.push_back(6);
    RightClick(other->Tree(), other->Tree()->topLevelItem(1)->child(1));
    other.reset(); // the sheet was cancelled
    EXPECT_EQ(record->relayTypes[1], 6);
}

TEST_F(LoopsTest, OnCommandRunsOnlyTypeCommands) {
    LeftClick(tree(), relaysTop());
    LeftClick(tree(), relay(2));
    EXPECT_FALSE(page.OnCommand(0));
    EXPECT_FALSE(page.OnCommand(17));
    EXPECT_EQ(record->relayTypes[1], 1);
    EXPECT_TRUE(page.OnCommand(16));
    EXPECT_EQ(record->relayTypes[1], 16);
}

} // namespace
