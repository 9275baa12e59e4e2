// The Qt platform's questions: what Enter answers, by the question's default.
#include "platform/Platform.h"

#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

struct EnterCase {
    const char* name;
    bool defaultNo;
    int key;
    MessageAnswer expected;
};

class QtQuestion : public ::testing::TestWithParam<EnterCase> {};

TEST_P(QtQuestion, KeyAnswersByTheDefault) {
    const EnterCase& c = GetParam();
    SetPlatform(nullptr);
    Message question;
    question.owner = MessageOwner::None;
    question.text = "?";
    question.icon = MessageIcon::Question;
    question.buttons = MessageButtons::YesNo;
    question.defaultNo = c.defaultNo;
    bool pressed = false;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        QTest::keyClick(box, static_cast<Qt::Key>(c.key));
        pressed = true;
    });
    EXPECT_EQ(ThePlatform().ShowMessage(nullptr, question), c.expected);
    EXPECT_TRUE(pressed);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, QtQuestion,
    ::testing::Values(EnterCase{"EnterYesDefault", false, Qt::Key_Return, MessageAnswer::Yes},
                      EnterCase{"EnterNoDefault", true, Qt::Key_Return, MessageAnswer::No},
                      EnterCase{"EscapeNoDefault", true, Qt::Key_Escape, MessageAnswer::No},
                      EnterCase{"EscapeYesDefault", false, Qt::Key_Escape, MessageAnswer::No}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
