#include "pages/Events.h"
#include "pages/AddLoopDlg.h"

#include "PageTestSupport.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

namespace {

// What the operator does in the add-loop dialog once it is shown.
struct DialogInput {
    QString expander;
    std::vector<int> loops; // 1..8 to tick
    bool accept = true;
};

class EventsTest : public ::testing::Test {
protected:
    ScriptedPlatform platform;
    std::unique_ptr<SettingsRecord> record = DefaultRecord();
    Events page;
    int dialogsShown = 0;
    bool dialogOpenedEmpty = true;
    QString dialogTitle, dialogCaption;

    void SetUp() override { ShowPage(page, *record); }
    QTreeWidget* tree() { return page.Tree(); }
    QTreeWidgetItem* top() { return tree()->topLevelItem(0); }
    QTreeWidgetItem* group(int g) { return top()->child(g - 1); }
    quint32 tag(QTreeWidgetItem* item) { return item->data(0, Qt::UserRole).value<quint32>(); }

    void Select(QTreeWidgetItem* item) {
        for (QTreeWidgetItem* p = item->parent(); p; p = p->parent())
            p->setExpanded(true);
        LeftClick(tree(), item);
        ASSERT_EQ(Selected(tree()), item);
    }

    // Schedules the operator's work in the next modal add-loop dialog.
    void WhenDialogShows(DialogInput input) {
        QTimer::singleShot(0, [this, input] {
            auto* dialog = qobject_cast<CAddLoopDlg*>(QApplication::activeModalWidget());
            if (!dialog) return;
            ++dialogsShown;
            dialogCaption = dialog->windowTitle();
            dialogTitle = dialog->findChild<QLabel*>("groupTitle")->text();
            auto* edit = dialog->findChild<QLineEdit*>("expander");
            dialogOpenedEmpty = dialogOpenedEmpty && edit->text().isEmpty();
            for (auto* box : dialog->findChildren<QCheckBox*>())
                dialogOpenedEmpty = dialogOpenedEmpty && !box->isChecked();
            QTest::keyClicks(edit, input.expander);
            // Ticked with Space, as from the keyboard: under Wine a test's mouse press does not
            // reach a box inside a modal dialog.
            for (int l : input.loops)
                QTest::keyClick(dialog->findChild<QCheckBox*>(QStringLiteral("loop%1").arg(l)),
                                Qt::Key_Space);
            dialog->findChild<QPushButton*>(input.accept ? "acceptButton" : "cancelButton")
                ->click();
        });
    }

    void Choose(QTreeWidgetItem* item, int command) {
        Select(item);
        platform.menuChoices.push_back(command);
        RightClick(tree(), item);
    }

    std::vector<int> MenuIds(size_t i) {
        std::vector<int> ids;
        for (const auto& item : platform.menus.at(i).items)
            ids.push_back(item.separator ? -1 : item.id);
        return ids;
    }
};

TEST_F(EventsTest, TreeListsGroupsAndMembersInExpanderAndLoopOrder) {
    record->loopGroups[1][7] = 0x81;   // group 2: expander 7, loops 1 and 8
    record->loopGroups[1][0] = 0x04;   // group 2: expander 0, loop 3
    record->loopGroups[15][63] = 0x80; // group 16: expander 63, loop 8
    top()->setExpanded(true);
    {
        const QSignalBlocker b(tree());
        tree()->clear();
    }
    page.FillGroupTree();
    ASSERT_EQ(tree()->topLevelItemCount(), 1);
    EXPECT_EQ(top()->text(0), "Группы");
    EXPECT_EQ(tag(top()), 0x10000u);
    ASSERT_EQ(top()->childCount(), 16);
    for (int g = 1; g <= 16; ++g) {
        EXPECT_EQ(group(g)->text(0), QStringLiteral("Группа %1").arg(g));
        EXPECT_EQ(tag(group(g)), 2048u * g);
    }
    ASSERT_EQ(group(2)->childCount(), 3);
    EXPECT_EQ(group(2)->child(0)->text(0), "Расширитель 0, шлейф 3");
    EXPECT_EQ(group(2)->child(1)->text(0), "Расширитель 7, шлейф 1");
    EXPECT_EQ(group(2)->child(2)->text(0), "Расширитель 7, шлейф 8");
    EXPECT_EQ(tag(group(2)->child(2)), 2048u * 2 + 16 * 7 + 8);
    ASSERT_EQ(group(16)->childCount(), 1);
    EXPECT_EQ(group(16)->child(0)->text(0), "Расширитель 63, шлейф 8");
    EXPECT_EQ(tag(group(16)->child(0)), 2048u * 16 + 16 * 63 + 8);
    EXPECT_EQ(group(1)->childCount(), 0);
    EXPECT_TRUE(ExpandedTexts(tree()).isEmpty());
}

TEST_F(EventsTest, NoMenuWithNothingSelectedOrOnTheTopItem) {
    RightClick(tree(), top());
    EXPECT_TRUE(platform.menus.empty());
    Select(top());
    RightClick(tree(), group(3));
    EXPECT_TRUE(platform.menus.empty());
    EXPECT_EQ(Selected(tree()), top());
}

TEST_F(EventsTest, MenuEntriesDependOnTheSelectedItem) {
    record->loopGroups[4][2] = 0x01;
    page.Rebuild(5);
    platform.cursor = QPoint(77, 88);
    Select(group(1)); // empty group
    RightClick(tree(), group(1));
    Select(group(5));             // group with a member
    RightClick(tree(), group(1)); // the pointer is elsewhere: the selection counts
    Select(group(5)->child(0));
    RightClick(tree(), group(1));
    ASSERT_EQ(platform.menus.size(), 3u);
    EXPECT_EQ(MenuIds(0), (std::vector<int>{1}));
    EXPECT_EQ(MenuIds(1), (std::vector<int>{1, -1, 3}));
    EXPECT_EQ(MenuIds(2), (std::vector<int>{1, 2, -1, 3}));
    const auto& items = platform.menus[2].items;
    EXPECT_EQ(items[0].text, "Добавить шлейф в группу");
    EXPECT_EQ(items[1].text, "Удалить шлейф из группы");
    EXPECT_EQ(items[3].text, "Удалить все шлейфы из группы");
    EXPECT_EQ(platform.menus[2].pos, QPoint(77, 88));
    EXPECT_EQ(platform.menus[2].owner, &page);
}

TEST_F(EventsTest, AddOrsTheTickedLoopsIntoTheGroup) {
    record->loopGroups[2][10] = 0x03;
    const auto before = Bytes(*record);
    WhenDialogShows({"10", {2, 5, 8}});
    Choose(group(3), Events::kAddLoops);
    EXPECT_EQ(dialogsShown, 1);
    EXPECT_EQ(dialogCaption, "Добавление шлейфа");
    EXPECT_EQ(dialogTitle, "Группа 3");
    auto expected = before;
    expected[711 + 64 * 2 + 10] = 0x03 | 0x02 | 0x10 | 0x80;
    EXPECT_EQ(Bytes(*record), expected);
    EXPECT_EQ(ExpandedTexts(tree()), (QStringList{"Группы", "Группа 3"}));
    EXPECT_EQ(group(3)->childCount(), 4);
    EXPECT_EQ(Selected(tree()), nullptr);
}

TEST_F(EventsTest, EveryAddOpensAFreshEmptyDialog) {
    WhenDialogShows({"12", {1, 2, 3}});
    Choose(group(4), Events::kAddLoops);
    WhenDialogShows({"13", {8}});
    Choose(group(4)->child(0), Events::kAddLoops);
    EXPECT_EQ(dialogsShown, 2);
    EXPECT_TRUE(dialogOpenedEmpty);
    EXPECT_EQ(record->loopGroups[3][12], 0x07);
    EXPECT_EQ(record->loopGroups[3][13], 0x80);
    EXPECT_EQ(page.Caption(), "Группы шлейфов");
}

TEST_F(EventsTest, LastLoopOfLastExpanderInLastGroupIsTheLastBitOfTheBitmaps) {
    const auto before = Bytes(*record);
    WhenDialogShows({"63", {8}});
    Choose(group(16), Events::kAddLoops);
    auto expected = before;
    expected[711 + 1023] = 0x80;
    EXPECT_EQ(Bytes(*record), expected);
    EXPECT_EQ(record->loopGroups[15][63], 0x80);
    ASSERT_EQ(group(16)->childCount(), 1);
    EXPECT_EQ(group(16)->child(0)->text(0), "Расширитель 63, шлейф 8");
}

TEST_F(EventsTest, AddFromAMemberItemGoesToItsGroup) {
    record->loopGroups[6][1] = 0x01;
    page.Rebuild(7);
    WhenDialogShows({"1", {4}});
    Choose(group(7)->child(0), Events::kAddLoops);
    EXPECT_EQ(dialogTitle, "Группа 7");
    EXPECT_EQ(record->loopGroups[6][1], 0x09);
}

TEST_F(EventsTest, EmptyExpanderFieldMeansExpanderZero) {
    WhenDialogShows({"", {1, 3}});
    Choose(group(1), Events::kAddLoops);
    EXPECT_EQ(record->loopGroups[0][0], 0x05);
}

TEST_F(EventsTest, NoBoxTickedChangesNothingButStillRebuilds) {
    const auto before = Bytes(*record);
    QTreeWidgetItem* oldTop = top();
    WhenDialogShows({"5", {}});
    Choose(group(9), Events::kAddLoops);
    EXPECT_EQ(Bytes(*record), before);
    EXPECT_NE(top(), oldTop);
    EXPECT_EQ(ExpandedTexts(tree()), (QStringList{"Группы", "Группа 9"}));
}

TEST_F(EventsTest, AddingAMemberAgainLeavesTheBitmapAlone) {
    record->loopGroups[3][4] = 0x20;
    const auto before = Bytes(*record);
    WhenDialogShows({"4", {6}});
    Choose(group(4), Events::kAddLoops);
    EXPECT_EQ(Bytes(*record), before);
}

TEST_F(EventsTest, CancelledDialogChangesNothing) {
    const auto before = Bytes(*record);
    WhenDialogShows({"3", {1, 2}, false});
    Choose(group(2), Events::kAddLoops);
    EXPECT_EQ(dialogsShown, 1);
    EXPECT_EQ(Bytes(*record), before);
    EXPECT_EQ(Selected(tree()), group(2)); // not rebuilt
}

TEST_F(EventsTest, ExpanderAbove63IsRefused) {
    const auto before = Bytes(*record);
    WhenDialogShows({"64", {1}});
    Choose(group(2), Events::kAddLoops);
    ASSERT_EQ(platform.messages.size(), 1u);
    EXPECT_EQ(platform.messages[0].message,
              (Message{MessageOwner::Window, "Ошибка",
                       "Номер расширителя может иметь значение от 0 до 63 !", MessageIcon::Error,
                       MessageButtons::Ok}));
    EXPECT_EQ(platform.messages[0].owner, &page);
    EXPECT_EQ(dialogsShown, 1); // not shown again
    EXPECT_EQ(Bytes(*record), before);
}

TEST_F(EventsTest, RemoveAsksThenClearsOneBit) {
    record->loopGroups[1][5] = 0x0F;
    page.Rebuild(2);
    Select(group(2)->child(2)); // expander 5, loop 3
    platform.answers.push_back(MessageAnswer::No);
    platform.menuChoices.push_back(Events::kRemoveLoop);
    RightClick(tree(), group(2));
    ASSERT_EQ(platform.messages.size(), 1u);
    EXPECT_EQ(platform.messages[0].message,
              (Message{MessageOwner::Window, "Подтверждение удаления",
                       "Вы уверены, что хотите удалить шлейф 3 расширителя 5 из группы 2?",
                       MessageIcon::Question, MessageButtons::YesNo}));
    EXPECT_EQ(record->loopGroups[1][5], 0x0F);
    EXPECT_NE(Selected(tree()), nullptr); // No: not rebuilt

    platform.menuChoices.push_back(Events::kRemoveLoop);
    RightClick(tree(), group(2));
    EXPECT_EQ(record->loopGroups[1][5], 0x0B);
    EXPECT_EQ(ExpandedTexts(tree()), (QStringList{"Группы", "Группа 2"}));
    EXPECT_EQ(group(2)->childCount(), 3);
}

TEST_F(EventsTest, ClearOnAMemberEmptiesItsWholeGroupOnly) {
    record->loopGroups[10][0] = 0xFF;
    record->loopGroups[10][63] = 0x01;
    record->loopGroups[11][0] = 0x01;
    page.Rebuild(11);
    const auto before = Bytes(*record);
    Select(group(11)->child(3));
    platform.answers.push_back(MessageAnswer::No);
    platform.menuChoices.push_back(Events::kClearGroup);
    RightClick(tree(), top());
    ASSERT_EQ(platform.messages.size(), 1u);
    EXPECT_EQ(platform.messages[0].message,
              (Message{MessageOwner::Window, "Подтверждение удаления",
                       "Вы уверены, что хотите удалить все шлейфы из группы ?",
                       MessageIcon::Question, MessageButtons::YesNo}));
    EXPECT_EQ(Bytes(*record), before);

    platform.menuChoices.push_back(Events::kClearGroup);
    RightClick(tree(), top());
    auto expected = before;
    expected[711 + 64 * 10 + 0] = 0;
    expected[711 + 64 * 10 + 63] = 0;
    EXPECT_EQ(Bytes(*record), expected);
    EXPECT_EQ(ExpandedTexts(tree()), (QStringList{"Группы", "Группа 11"}));
    EXPECT_EQ(group(11)->childCount(), 0);
    EXPECT_EQ(group(12)->childCount(), 1);
}

TEST_F(EventsTest, TopItemIsNeverTakenForAGroup) {
    // Commands reaching the page with the top item selected touch nothing outside the
    // sixteen bitmaps, nor anything else.
    Select(top());
    const auto before = Bytes(*record);
    for (int command : {1, 2, 3})
        EXPECT_TRUE(page.OnCommand(command));
    EXPECT_FALSE(page.OnCommand(4));
    EXPECT_EQ(dialogsShown, 0);
    EXPECT_TRUE(platform.messages.empty());
    EXPECT_EQ(Bytes(*record), before);
}

TEST_F(EventsTest, ChangesStayWhenThePageGoesAway) {
    auto other = std::make_unique<Events>();
    ShowPage(*other, *record);
    other->Tree()->topLevelItem(0)->setExpanded(true);
    LeftClick(other->Tree(), other->Tree()->topLevelItem(0)->child(0));
    WhenDialogShows({"2", {7}});
    platform.menuChoices.push_back(Events::kAddLoops);
    RightClick(other->Tree(), nullptr);
    other.reset();
    EXPECT_EQ(record->loopGroups[0][2], 0x40);
}

TEST_F(EventsTest, EveryLoopInEveryGroupIsListed) {
    std::memset(record->loopGroups, 0xFF, sizeof record->loopGroups);
    page.Rebuild(16);
    for (int g = 1; g <= 16; ++g)
        ASSERT_EQ(group(g)->childCount(), 512);
    EXPECT_EQ(group(16)->child(511)->text(0), "Расширитель 63, шлейф 8");
    EXPECT_EQ(group(1)->child(8)->text(0), "Расширитель 1, шлейф 1");
}

} // namespace
