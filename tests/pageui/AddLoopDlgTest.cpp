#include "pages/AddLoopDlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

QCheckBox* Box(CAddLoopDlg& d, int l) {
    return d.findChild<QCheckBox*>(QStringLiteral("loop%1").arg(l));
}

TEST(AddLoopDlgTest, TextsAndBoxesInTwoRows) {
    CAddLoopDlg dialog;
    dialog.show();
    QApplication::processEvents();
    EXPECT_EQ(dialog.windowTitle(), "Добавление шлейфа");
    QStringList frames;
    for (auto* g : dialog.findChildren<QGroupBox*>())
        frames << g->title();
    EXPECT_TRUE(frames.contains("Добавление шлейфа в группу"));
    EXPECT_TRUE(frames.contains("Шлейфы"));
    EXPECT_EQ(dialog.findChild<QLabel*>("expanderLabel")->text(), "Расширитель (0..63)");
    auto* accept = dialog.findChild<QPushButton*>("acceptButton");
    EXPECT_EQ(accept->text(), "Принять");
    EXPECT_TRUE(accept->isDefault());
    EXPECT_EQ(dialog.findChild<QPushButton*>("cancelButton")->text(), "Отмена");
    for (int l = 1; l <= 8; ++l) {
        ASSERT_NE(Box(dialog, l), nullptr);
        EXPECT_EQ(Box(dialog, l)->text(), QString::number(l));
        const QPoint p = Box(dialog, l)->pos();
        const QPoint first = Box(dialog, l % 2 ? 1 : 2)->pos();
        EXPECT_EQ(p.y(), first.y()) << l; // odd loops above, even below
        if (l > 2) {
            EXPECT_GT(p.x(), Box(dialog, l - 2)->pos().x()) << l;
        }
    }
    EXPECT_GT(Box(dialog, 2)->pos().y(), Box(dialog, 1)->pos().y());
    EXPECT_EQ(Box(dialog, 2)->pos().x(), Box(dialog, 1)->pos().x());
}

TEST(AddLoopDlgTest, ExpanderFieldTakesTwoDigitsOnly) {
    CAddLoopDlg dialog;
    dialog.show();
    auto* edit = dialog.findChild<QLineEdit*>("expander");
    QTest::keyClicks(edit, "a4-x7 9");
    EXPECT_EQ(edit->text(), "47");
    edit->clear();
    edit->insert("1x"); // a paste with a letter is refused whole
    EXPECT_EQ(edit->text(), "");
    edit->insert("123");
    EXPECT_EQ(edit->text(), "");
    edit->insert("63");
    EXPECT_EQ(edit->text(), "63");
}

TEST(AddLoopDlgTest, EnterAcceptsAndTheMembersGetTheControls) {
    CAddLoopDlg dialog;
    dialog.m_groupTitle = "Группа 12";
    QTimer::singleShot(0, [&] {
        EXPECT_EQ(dialog.findChild<QLabel*>("groupTitle")->text(), "Группа 12");
        EXPECT_EQ(dialog.findChild<QLineEdit*>("expander")->text(), "");
        for (int l = 1; l <= 8; ++l)
            EXPECT_FALSE(Box(dialog, l)->isChecked());
        auto* edit = dialog.findChild<QLineEdit*>("expander");
        QTest::keyClicks(edit, "7");
        Box(dialog, 3)->setChecked(true);
        Box(dialog, 8)->setChecked(true);
        QTest::keyClick(edit, Qt::Key_Return);
    });
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    EXPECT_EQ(dialog.m_expander, "7");
    const int expected[8] = {0, 0, 1, 0, 0, 0, 0, 1};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(dialog.m_loops[i], expected[i]) << i;
}

TEST(AddLoopDlgTest, CancelLeavesTheMembersEmpty) {
    CAddLoopDlg dialog;
    QTimer::singleShot(0, [&] {
        QTest::keyClicks(dialog.findChild<QLineEdit*>("expander"), "5");
        Box(dialog, 1)->setChecked(true);
        dialog.findChild<QPushButton*>("cancelButton")->click();
    });
    EXPECT_EQ(dialog.exec(), QDialog::Rejected);
    EXPECT_EQ(dialog.m_expander, "");
    EXPECT_EQ(dialog.m_loops[0], 0);
}

} // namespace
