// Test builds only: answers message boxes automatically and records what they said.
// The answerer watches the application's events; when a message box appears it records the
// text and layout and then clicks the chosen button for real, so the box's own event
// handling runs exactly as it does for a user.
#pragma once

#ifndef QUMO_TEST_HOOKS
#error "ui/test_hooks.h is for test targets, which define QUMO_TEST_HOOKS"
#endif

#include "ui/show_msg_dlg.h"
#include "ui/skin/du_style.h"

#include <QApplication>
#include <QEvent>
#include <QPointer>
#include <QTimer>
#include <QtTest/QTest>

#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace ui::testing {

enum class MsgAnswer {
    Confirm, // "btn_true" on a notice, "btn_yes" on a question
    Decline, // "btn_no" on a question (a notice has no such button: it is closed instead)
    Close,   // the caption's close button
    Leave,   // nothing: the test drives the box itself
};

struct MsgRecord {
    std::u16string text;
    int oneButton = 0;
};

class MsgBoxAnswerer : public QObject {
public:
    explicit MsgBoxAnswerer(MsgAnswer fallback = MsgAnswer::Confirm) : m_fallback(fallback) {
        qApp->installEventFilter(this);
    }
    ~MsgBoxAnswerer() override { qApp->removeEventFilter(this); }

    // Answers for the next boxes, in order; when they run out the fallback answers.
    void Queue(MsgAnswer answer) {
        std::lock_guard<std::mutex> lock(m_lock);
        m_answers.push_back(answer);
    }

    std::vector<MsgRecord> Records() const {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_records;
    }
    std::vector<std::u16string> Texts() const {
        std::vector<std::u16string> texts;
        for (const MsgRecord& r : Records()) {
            texts.push_back(r.text);
        }
        return texts;
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(m_lock);
        m_records.clear();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Show) {
            return false;
        }
        auto* box = dynamic_cast<CShowMsgDlg*>(watched);
        if (!box) {
            return false;
        }
        MsgAnswer answer = m_fallback;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_records.push_back({box->m_strText, box->m_nOneButton});
            if (!m_answers.empty()) {
                answer = m_answers.front();
                m_answers.pop_front();
            }
        }
        QPointer<CShowMsgDlg> guard(box);
        QTimer::singleShot(0, box, [guard, answer]() {
            if (guard) {
                Answer(guard.data(), answer);
            }
        });
        return false;
    }

private:
    static void Click(QWidget* window, const char16_t* name) {
        DuStyle* style = DuAppStyle();
        DuWindow* object = style ? style->Window(window) : nullptr;
        DuControl* control = object ? object->Control(name) : nullptr;
        if (control && control->Widget()) {
            QTest::mouseClick(control->Widget(), Qt::LeftButton);
        } else {
            window->close();
        }
    }

    static void Answer(CShowMsgDlg* box, MsgAnswer answer) {
        switch (answer) {
        case MsgAnswer::Confirm:
            Click(box, box->m_nOneButton ? u"btn_true" : u"btn_yes");
            break;
        case MsgAnswer::Decline:
            if (box->m_nOneButton) {
                box->close();
            } else {
                Click(box, u"btn_no");
            }
            break;
        case MsgAnswer::Close:
            Click(box, u"btn_showmsg_close");
            break;
        case MsgAnswer::Leave:
            break;
        }
    }

    mutable std::mutex m_lock;
    MsgAnswer m_fallback;
    std::deque<MsgAnswer> m_answers;
    std::vector<MsgRecord> m_records;
};

} // namespace ui::testing
