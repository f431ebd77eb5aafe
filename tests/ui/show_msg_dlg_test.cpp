// The message box: layouts, results of real clicks, other ways of closing, the worker-thread
// entry and the test answerer.
#include "support/skin_fixture.h"
#include "ui/show_msg_dlg.h"
#include "ui/test_hooks.h"

#include <QKeyEvent>
#include <QTimer>
#include <QtTest/QTest>

#include <atomic>
#include <functional>
#include <thread>

namespace {

using ui::testing::MsgAnswer;
using ui::testing::MsgBoxAnswerer;

class MsgBox : public uitest::BlueSkin {
protected:
    // Runs a box and, once it shows, does `act` with it; returns the result field.
    int Run(int oneButton, const std::function<void(CShowMsgDlg&)>& act,
            const std::u16string& text = u"确定退出系统吗,点[否]取消退出?") {
        CShowMsgDlg box(nullptr, text, oneButton);
        QTimer::singleShot(0, &box, [&box, &act]() { act(box); });
        box.DoModal();
        return box.m_nResult;
    }
    DuControl* Control(CShowMsgDlg& box, const char16_t* name) {
        DuWindow* w = m_style->Window(&box);
        return w ? w->Control(name) : nullptr;
    }
    void Click(CShowMsgDlg& box, const char16_t* name) {
        DuControl* c = Control(box, name);
        ASSERT_NE(c, nullptr);
        ASSERT_TRUE(c->Widget()->isVisible());
        QTest::mouseClick(c->Widget(), Qt::LeftButton);
    }
};

TEST_F(MsgBox, NoticeButtonGivesOneAndShowsTheOneButtonLayout) {
    bool checked = false;
    const int result = Run(
        1,
        [&](CShowMsgDlg& box) {
            DuWindow* w = m_style->Window(&box);
            ASSERT_NE(w, nullptr);
            EXPECT_EQ(box.windowTitle(), QStringLiteral("消息提示"));
            EXPECT_FALSE(w->Control(u"layout_showmsg_cmdbtn")->Widget()->isVisible());
            EXPECT_TRUE(w->Control(u"layout_showmsg_onebtn")->Widget()->isVisible());
            EXPECT_EQ(w->Control(u"text_showmsg")->Text(), u"登录失败，请检查网络！");
            EXPECT_EQ(w->Text(), u"登录失败，请检查网络！");
            checked = true;
            Click(box, u"btn_true");
        },
        u"登录失败，请检查网络！");
    EXPECT_TRUE(checked);
    EXPECT_EQ(result, 1);
}

TEST_F(MsgBox, QuestionYesNoAndOtherWaysOfClosing) {
    EXPECT_EQ(Run(0,
                  [&](CShowMsgDlg& box) {
                      DuWindow* w = m_style->Window(&box);
                      EXPECT_TRUE(w->Control(u"layout_showmsg_cmdbtn")->Widget()->isVisible());
                      EXPECT_FALSE(w->Control(u"layout_showmsg_onebtn")->Widget()->isVisible());
                      Click(box, u"btn_yes");
                  }),
              1);
    EXPECT_EQ(Run(0, [&](CShowMsgDlg& box) { Click(box, u"btn_no"); }), 0);
    EXPECT_EQ(Run(0, [&](CShowMsgDlg& box) { Click(box, u"btn_showmsg_close"); }), 0);
    EXPECT_EQ(Run(1, [&](CShowMsgDlg& box) { Click(box, u"btn_showmsg_close"); }), 0);
    EXPECT_EQ(Run(0, [&](CShowMsgDlg& box) { box.close(); }), 0);
    EXPECT_EQ(Run(1, [&](CShowMsgDlg& box) { QTest::keyClick(&box, Qt::Key_Escape); }), 0);
    // A yes followed by nothing else stays 1 even though the dialog's own code is "rejected".
    CShowMsgDlg box(nullptr, u"x", 0);
    QTimer::singleShot(0, &box, [&]() { Click(box, u"btn_yes"); });
    EXPECT_EQ(box.DoModal(), QDialog::Rejected);
    EXPECT_EQ(box.m_nResult, 1);
}

TEST_F(MsgBox, LongTextDoesNotResizeTheBox) {
    const std::u16string longText(400, u'长');
    Run(1, [&](CShowMsgDlg& box) {
        EXPECT_EQ(box.size(), QSize(380, 186));
        DuControl* text = Control(box, u"text_showmsg");
        DuControl* button = Control(box, u"btn_true");
        EXPECT_FALSE(text->Rect().intersects(button->Rect())); // text stays above the button
        Click(box, u"btn_true");
    });
}

TEST(MsgBoxWithoutSkin, CreationFailsAndTheRunEndsAtOnceWithZero) {
    DuSetAppStyle(nullptr);
    CShowMsgDlg box(nullptr, u"无皮肤", 1);
    box.m_nResult = 7;
    EXPECT_EQ(box.DoModal(), 0);
    EXPECT_EQ(box.m_nResult, 0);
    EXPECT_FALSE(box.isVisible());
}

TEST_F(MsgBox, OwnerCentringAndWorkerThreadEntry) {
    QWidget owner;
    owner.setGeometry(100, 100, 800, 600);
    owner.show();
    MsgBoxAnswerer answerer;
    EXPECT_EQ(ShowMessageBox(&owner, u"第一", 1), 1);

    // From a worker: the box runs on this thread while the worker waits for its answer.
    answerer.Queue(MsgAnswer::Decline);
    std::atomic<int> fromWorker{-1};
    std::thread worker([&]() { fromWorker = ShowMessageBox(nullptr, u"空间不足", 0); });
    while (fromWorker == -1) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    worker.join();
    EXPECT_EQ(fromWorker, 0);
    ASSERT_EQ(answerer.Records().size(), 2u);
    EXPECT_EQ(answerer.Records()[0].text, u"第一");
    EXPECT_EQ(answerer.Records()[0].oneButton, 1);
    EXPECT_EQ(answerer.Records()[1].text, u"空间不足");
    EXPECT_EQ(answerer.Records()[1].oneButton, 0);
}

TEST_F(MsgBox, AnswererAnswersInOrderThenFallsBack) {
    MsgBoxAnswerer answerer(MsgAnswer::Close);
    answerer.Queue(MsgAnswer::Confirm);
    answerer.Queue(MsgAnswer::Decline);
    EXPECT_EQ(ShowMessageBox(nullptr, u"一", 0), 1);
    EXPECT_EQ(ShowMessageBox(nullptr, u"二", 0), 0);
    EXPECT_EQ(ShowMessageBox(nullptr, u"三", 1), 0); // fallback: the caption's close
    EXPECT_EQ(ShowMessageBox(nullptr, u"四", 1), 0); // a notice declined is closed
    const std::vector<std::u16string> expected = {u"一", u"二", u"三", u"四"};
    EXPECT_EQ(answerer.Texts(), expected);
}

} // namespace
