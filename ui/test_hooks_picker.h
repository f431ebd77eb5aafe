// Test builds only: answers the server folder picker automatically. When a picker appears
// the answerer records it (with the folder it opened on) and then answers as a user would:
// it clicks the wanted folder in the tree and "btn_true", or clicks "btn_winclose", so the
// picker's own event handling runs. Answers are used in order; when they run out the
// fallback (cancel) answers.
#pragma once

#ifndef QUMO_TEST_HOOKS
#error "ui/test_hooks_picker.h is for test targets, which define QUMO_TEST_HOOKS"
#endif

#include "ui/sel_net_dir_dlg.h"
#include "ui/server_dir_tree.h"
#include "ui/skin/du_style.h"

#include <QApplication>
#include <QEvent>
#include <QPointer>
#include <QTimer>
#include <QTreeWidgetItemIterator>
#include <QtTest/QTest>

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace ui::testing {

class PickerAnswerer : public QObject {
public:
    // Called with the open picker before it is answered (to look at or drive it).
    using Inspector = std::function<void(CSelNetDirDlg*)>;

    PickerAnswerer() { qApp->installEventFilter(this); }
    ~PickerAnswerer() override { qApp->removeEventFilter(this); }

    // Click the folder whose tree path is `path`, then "btn_true". A path missing from the
    // tree is recorded in Missed() and the picker is cancelled instead.
    void QueueChoose(std::u16string path) { m_answers.push_back({Kind::Choose, std::move(path)}); }
    // Click "btn_winclose".
    void QueueCancel() { m_answers.push_back({Kind::Cancel, {}}); }
    // Clear the selection and click "btn_true" (the picker says "未选择私人目录！", which a
    // MsgBoxAnswerer must answer); the next answer then goes to the same picker.
    void QueueConfirmEmpty() { m_answers.push_back({Kind::ConfirmEmpty, {}}); }
    // Close the window itself (as the window manager's close does).
    void QueueCloseWindow() { m_answers.push_back({Kind::CloseWindow, {}}); }

    void SetInspector(Inspector inspector) { m_inspector = std::move(inspector); }

    int Shown() const { return static_cast<int>(m_opened.size()); }
    // The tree path selected when each picker opened ("" when none was).
    const std::vector<std::u16string>& OpenedOn() const { return m_opened; }
    const std::vector<std::u16string>& Missed() const { return m_missed; }

    // The picker's visible "btn_true" / "btn_winclose" button.
    static QWidget* Button(QWidget* picker, const char16_t* name) {
        DuStyle* style = DuAppStyle();
        DuWindow* window = style ? style->Window(picker) : nullptr;
        DuControl* control = window ? window->Control(name) : nullptr;
        return control ? control->Widget() : nullptr;
    }

    // The item of `tree` whose path is `path`, or null.
    static QTreeWidgetItem* FindPath(CServerDirTree* tree, const std::u16string& path) {
        for (QTreeWidgetItemIterator it(tree); tree && *it; ++it) {
            if (tree->ItemPath(*it) == path) {
                return *it;
            }
        }
        return nullptr;
    }

    // Clicks `item` in the tree with the mouse.
    static void ClickItem(CServerDirTree* tree, QTreeWidgetItem* item) {
        tree->scrollToItem(item);
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {},
                          tree->visualItemRect(item).center());
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Show) {
            return false;
        }
        auto* picker = dynamic_cast<CSelNetDirDlg*>(watched);
        if (!picker) {
            return false;
        }
        QTreeWidgetItem* current = nullptr;
        if (picker->m_pTree && !picker->m_pTree->selectedItems().isEmpty()) {
            current = picker->m_pTree->selectedItems().front();
        }
        m_opened.push_back(current ? picker->m_pTree->ItemPath(current) : std::u16string());
        QPointer<CSelNetDirDlg> guard(picker);
        QTimer::singleShot(0, picker, [this, guard]() {
            if (guard && m_inspector) {
                m_inspector(guard.data());
            }
            // Every answer but "confirm with nothing selected" ends the picker; the bound
            // keeps a picker that refuses to close from hanging the test.
            for (int i = 0; i < 16 && guard && guard->isVisible(); ++i) {
                Answer(guard.data(), Next());
            }
        });
        return false;
    }

private:
    enum class Kind { Choose, Cancel, ConfirmEmpty, CloseWindow };
    struct Reply {
        Kind kind;
        std::u16string path;
    };

    Reply Next() {
        if (m_answers.empty()) {
            return {Kind::Cancel, {}};
        }
        Reply reply = m_answers.front();
        m_answers.pop_front();
        return reply;
    }

    static void Click(QWidget* picker, const char16_t* name) {
        if (QWidget* button = Button(picker, name)) {
            QTest::mouseClick(button, Qt::LeftButton);
        } else {
            picker->close();
        }
    }

    void Answer(CSelNetDirDlg* picker, const Reply& reply) {
        switch (reply.kind) {
        case Kind::Choose:
            if (QTreeWidgetItem* item = FindPath(picker->m_pTree, reply.path)) {
                ClickItem(picker->m_pTree, item);
                Click(picker, u"btn_true");
            } else {
                m_missed.push_back(reply.path);
                Click(picker, u"btn_winclose");
            }
            break;
        case Kind::ConfirmEmpty:
            if (picker->m_pTree) {
                picker->m_pTree->clearSelection();
            }
            Click(picker, u"btn_true");
            break;
        case Kind::Cancel:
            Click(picker, u"btn_winclose");
            break;
        case Kind::CloseWindow:
            picker->close();
            break;
        }
    }

    std::deque<Reply> m_answers;
    std::vector<std::u16string> m_opened;
    std::vector<std::u16string> m_missed;
    Inspector m_inspector;
};

} // namespace ui::testing
