// The server folder tree widget and the server folder picker, on real widgets with the blue
// skin and a server folder file written into a temporary install root.
#include "app/global_var.h"
#include "platform/paths.h"
#include "serverdir/server_dir_info.h"
#include "support/skin_fixture.h"
#include "ui/sel_net_dir_dlg.h"
#include "ui/server_dir_tree.h"
#include "ui/test_hooks.h"
#include "ui/test_hooks_picker.h"

#include <QTemporaryDir>
#include <QtTest/QTest>
#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <vector>

using ui::testing::MsgBoxAnswerer;
using ui::testing::PickerAnswerer;

namespace {

ServerFolder Folder(const char16_t* name, int fid, int parent) {
    ServerFolder folder;
    std::char_traits<char16_t>::copy(folder.name, name, std::char_traits<char16_t>::length(name));
    folder.fid = fid;
    folder.parenterid = parent;
    return folder;
}

// Names joined the way tree paths are.
std::u16string PathOf(std::initializer_list<const char16_t*> names) {
    std::u16string path;
    for (const char16_t* name : names) {
        if (!path.empty()) {
            path += platform::kPathSep;
        }
        path += name;
    }
    return path;
}

const std::u16string kRoot = u"我的相册";
const std::u16string kTravel = PathOf({u"我的相册", u"旅行"});
const std::u16string kSpring = PathOf({u"我的相册", u"旅行", u"2012 春节"});
const std::u16string kBeach = PathOf({u"我的相册", u"旅行", u"Beach"});
const std::u16string kKids = PathOf({u"我的相册", u"家人", u"Kids"});
const std::u16string kVideos = PathOf({u"我的相册", u"Videos"});

class PickerTest : public uitest::BlueSkin {
protected:
    void SetUp() override {
        uitest::BlueSkin::SetUp();
        ASSERT_TRUE(m_dir.isValid());
        m_savedRoot = CGlobalVar::m_strInstallRoot;
        CGlobalVar::m_strInstallRoot = (m_dir.path() + QStringLiteral("/")).toStdU16String();
        CGlobalVar::m_strNetDirPath.clear();
    }
    void TearDown() override {
        m_picker.reset(); // before the style it is bound to
        CGlobalVar::m_strInstallRoot = m_savedRoot;
        CGlobalVar::m_strNetDirPath.clear();
        uitest::BlueSkin::TearDown();
    }

    // The account's folders, listed children before parents to show that the file's nesting
    // and not the list order decides the tree.
    void WriteFolders() {
        const std::vector<ServerFolder> folders = {
            Folder(u"我的相册", 0, -1),   Folder(u"旅行", 11, 0),   Folder(u"家人", 12, 0),
            Folder(u"2012 春节", 21, 11), Folder(u"Beach", 22, 11), Folder(u"Kids", 23, 12),
            Folder(u"Videos", 13, 0),
        };
        ASSERT_EQ(WriteServerDirInfo(folders), 1);
    }

    // Runs one picker; the answerer decides what happens in it.
    CSelNetDirDlg* RunPicker() {
        m_picker = std::make_unique<CSelNetDirDlg>();
        m_picker->DoModal();
        return m_picker.get();
    }

    static std::u16string SelectedPath(CSelNetDirDlg* picker) {
        const QList<QTreeWidgetItem*> selected = picker->m_pTree->selectedItems();
        return selected.isEmpty() ? std::u16string() : picker->m_pTree->ItemPath(selected.front());
    }

    QTemporaryDir m_dir;
    std::u16string m_savedRoot;
    std::unique_ptr<CSelNetDirDlg> m_picker;
};

TEST_F(PickerTest, TreeWidgetLoadsTheFileWithFidsPathsAndCacheFolders) {
    WriteFolders();
    CServerDirTree tree;
    tree.Reload(ServerDirInfoPath().c_str());
    // Reloading replaces the items instead of adding a second copy.
    tree.Reload(ServerDirInfoPath().c_str());
    ASSERT_EQ(tree.topLevelItemCount(), 1);
    QTreeWidgetItem* top = tree.topLevelItem(0);
    EXPECT_EQ(top->text(0).toStdU16String(), kRoot);
    EXPECT_EQ(tree.ItemFid(top), 0);
    EXPECT_EQ(tree.GetParentItem(CServerDirTree::Handle(top)), nullptr);
    EXPECT_TRUE(top->isExpanded());
    ASSERT_EQ(top->childCount(), 3);
    QTreeWidgetItem* travel = top->child(0);
    EXPECT_FALSE(travel->isExpanded());
    EXPECT_EQ(top->child(1)->text(0), QStringLiteral("家人"));
    EXPECT_EQ(tree.ItemFid(top->child(2)), 13);

    QTreeWidgetItem* spring = PickerAnswerer::FindPath(&tree, kSpring);
    ASSERT_NE(spring, nullptr);
    EXPECT_EQ(spring->parent(), travel);
    EXPECT_EQ(tree.ItemFid(spring), 21);
    EXPECT_EQ(CServerDirTree::Item(CServerDirTree::Handle(spring)), spring);
    EXPECT_EQ(tree.GetItemText(tree.GetParentItem(CServerDirTree::Handle(spring))), u"旅行");
    EXPECT_EQ(tree.ItemPath(spring), kSpring);
    EXPECT_EQ(tree.ItemCacheDir(spring), ServerCacheRoot() + u"/" + kSpring);
    EXPECT_TRUE(QFileInfo(QString::fromStdU16String(tree.ItemCacheDir(spring))).isDir());
    EXPECT_EQ(tree.ItemFid(nullptr), 0);
    EXPECT_EQ(tree.ItemPath(nullptr), u"");
    EXPECT_EQ(tree.GetItemText(nullptr), u"");

    tree.ExpandAllItems();
    EXPECT_TRUE(travel->isExpanded());
    EXPECT_TRUE(top->child(1)->isExpanded());
    EXPECT_FALSE(spring->isExpanded()); // no children: nothing to expand
    EXPECT_FALSE(top->child(2)->isExpanded());

    // No file, a broken file, no path: an empty tree each time.
    tree.Reload((ServerDirInfoPath() + u".missing").c_str());
    EXPECT_EQ(tree.topLevelItemCount(), 0);
    uitest::WriteFile(m_dir, QStringLiteral("lib/tmp/ServerDirInfo.xml"), "<ServerUserDir><Boot");
    tree.Reload(ServerDirInfoPath().c_str());
    EXPECT_EQ(tree.topLevelItemCount(), 0);
    tree.Reload(nullptr);
    EXPECT_EQ(tree.topLevelItemCount(), 0);
}

TEST_F(PickerTest, ChoosingAFolderTwoLevelsDownGivesItsPathAndFid) {
    WriteFolders();
    PickerAnswerer answerer;
    bool inspected = false;
    answerer.SetInspector([&inspected](CSelNetDirDlg* picker) {
        inspected = true;
        EXPECT_EQ(picker->windowTitle(), QStringLiteral("选择私人目录"));
        ASSERT_NE(picker->m_pTree, nullptr);
        EXPECT_TRUE(picker->m_pTree->isVisible()); // placed in the host area
        EXPECT_EQ(picker->m_pTree->property("controlId").toInt(), kSelNetDirTreeId);
        // Every folder with sub-folders is open, nothing is selected yet.
        for (const std::u16string& path : {kRoot, kTravel, PathOf({u"我的相册", u"家人"})}) {
            EXPECT_TRUE(PickerAnswerer::FindPath(picker->m_pTree, path)->isExpanded());
        }
        EXPECT_TRUE(picker->m_pTree->selectedItems().isEmpty());
    });
    answerer.QueueChoose(kSpring);
    CSelNetDirDlg* picker = RunPicker();
    EXPECT_TRUE(inspected);
    EXPECT_EQ(answerer.Shown(), 1);
    EXPECT_TRUE(answerer.Missed().empty());
    EXPECT_EQ(picker->m_nResult, 1);
    EXPECT_EQ(picker->m_nChosenFid, 21);
    EXPECT_EQ(picker->m_strChosenName, u"2012 春节");
    EXPECT_EQ(CGlobalVar::m_strNetDirPath, kSpring);
}

TEST_F(PickerTest, NextOpeningStartsOnTheFolderChosenBeforeAlsoTheRoot) {
    WriteFolders();
    PickerAnswerer answerer;
    answerer.QueueChoose(kBeach);
    answerer.QueueChoose(kRoot);
    answerer.QueueCancel();
    EXPECT_EQ(RunPicker()->m_nChosenFid, 22);
    CSelNetDirDlg* second = RunPicker();
    EXPECT_EQ(second->m_nResult, 1);
    EXPECT_EQ(second->m_nChosenFid, 0);
    EXPECT_EQ(second->m_strChosenName, kRoot);
    EXPECT_EQ(CGlobalVar::m_strNetDirPath, kRoot);
    EXPECT_EQ(RunPicker()->m_nResult, 0);
    EXPECT_EQ(answerer.OpenedOn(), (std::vector<std::u16string>{u"", kBeach, kRoot}));

    // The remembered path matches without regard to case; one no longer in the tree selects
    // nothing.
    CGlobalVar::m_strNetDirPath = PathOf({u"我的相册", u"旅行", u"bEACH"});
    RunPicker();
    CGlobalVar::m_strNetDirPath = PathOf({u"我的相册", u"旅行", u"Gone"});
    RunPicker();
    ASSERT_EQ(answerer.Shown(), 5);
    EXPECT_EQ(answerer.OpenedOn()[3], kBeach);
    EXPECT_EQ(answerer.OpenedOn()[4], u"");
}

TEST_F(PickerTest, ConfirmingWithoutSelectionSaysSoAndStaysOpen) {
    WriteFolders();
    CGlobalVar::m_strNetDirPath = kKids;
    MsgBoxAnswerer messages;
    PickerAnswerer answerer;
    bool inspected = false;
    answerer.SetInspector([&](CSelNetDirDlg* picker) {
        inspected = true;
        CServerDirTree* tree = picker->m_pTree;
        ASSERT_EQ(SelectedPath(picker), kKids);
        // A click beside every item clears the selection.
        const QPoint empty(5, tree->viewport()->height() - 3);
        ASSERT_EQ(tree->itemAt(empty), nullptr);
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, empty);
        EXPECT_TRUE(tree->selectedItems().isEmpty());
        EXPECT_TRUE(tree->hasFocus() || !picker->isActiveWindow());

        QTest::mouseClick(PickerAnswerer::Button(picker, u"btn_true"), Qt::LeftButton);
        EXPECT_TRUE(picker->isVisible());
        EXPECT_EQ(picker->m_nResult, 0);
        EXPECT_EQ(messages.Texts(), std::vector<std::u16string>{u"未选择私人目录！"});

        // A click on an item selects it again.
        PickerAnswerer::ClickItem(tree, PickerAnswerer::FindPath(tree, kTravel));
        EXPECT_EQ(SelectedPath(picker), kTravel);
    });
    // Then the answerer clears the selection itself and confirms once more before choosing.
    answerer.QueueConfirmEmpty();
    answerer.QueueChoose(kVideos);
    CSelNetDirDlg* picker = RunPicker();
    EXPECT_TRUE(inspected);
    ASSERT_EQ(messages.Records().size(), 2u);
    for (const ui::testing::MsgRecord& record : messages.Records()) {
        EXPECT_EQ(record.text, u"未选择私人目录！");
        EXPECT_EQ(record.oneButton, 1);
    }
    EXPECT_EQ(answerer.Shown(), 1);
    EXPECT_EQ(picker->m_nResult, 1);
    EXPECT_EQ(picker->m_nChosenFid, 13);
    EXPECT_EQ(CGlobalVar::m_strNetDirPath, kVideos);
}

TEST_F(PickerTest, CancelAndClosingTheWindowChangeNothing) {
    WriteFolders();
    CGlobalVar::m_strNetDirPath = kBeach;
    PickerAnswerer answerer;
    // A folder is selected when the user gives up: it is not taken.
    answerer.SetInspector([](CSelNetDirDlg* picker) {
        PickerAnswerer::ClickItem(picker->m_pTree,
                                  PickerAnswerer::FindPath(picker->m_pTree, kVideos));
        EXPECT_EQ(SelectedPath(picker), kVideos);
    });
    answerer.QueueCancel();
    answerer.QueueCloseWindow();
    for (int run = 0; run < 2; ++run) {
        CSelNetDirDlg* picker = RunPicker();
        EXPECT_FALSE(picker->isVisible());
        EXPECT_EQ(picker->m_nResult, 0);
        EXPECT_EQ(picker->m_nChosenFid, 0);
        EXPECT_EQ(picker->m_strChosenName, u"");
        EXPECT_EQ(CGlobalVar::m_strNetDirPath, kBeach);
    }
    EXPECT_EQ(answerer.Shown(), 2);
}

TEST_F(PickerTest, DoubleClickChoosesTheFolder) {
    WriteFolders();
    PickerAnswerer answerer;
    answerer.SetInspector([](CSelNetDirDlg* picker) {
        CServerDirTree* tree = picker->m_pTree;
        QTreeWidgetItem* kids = PickerAnswerer::FindPath(tree, kKids);
        // What the system delivers for a double click: a click, then the double click.
        const QPoint at = tree->visualItemRect(kids).center();
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, at);
    });
    CSelNetDirDlg* picker = RunPicker();
    EXPECT_EQ(picker->m_nResult, 1);
    EXPECT_EQ(picker->m_nChosenFid, 23);
    EXPECT_EQ(CGlobalVar::m_strNetDirPath, kKids);
}

TEST_F(PickerTest, WithoutTheFileTheTreeIsEmptyAndOnlyCancelEndsIt) {
    MsgBoxAnswerer messages;
    PickerAnswerer answerer;
    answerer.SetInspector(
        [](CSelNetDirDlg* picker) { EXPECT_EQ(picker->m_pTree->topLevelItemCount(), 0); });
    answerer.QueueConfirmEmpty();
    answerer.QueueConfirmEmpty();
    answerer.QueueCancel();
    CSelNetDirDlg* picker = RunPicker();
    EXPECT_EQ(answerer.Shown(), 1);
    EXPECT_EQ(messages.Texts(),
              (std::vector<std::u16string>{u"未选择私人目录！", u"未选择私人目录！"}));
    EXPECT_EQ(picker->m_nResult, 0);
    EXPECT_EQ(CGlobalVar::m_strNetDirPath, u"");

    // A file that is not XML reads as no folders at all.
    uitest::WriteFile(m_dir, QStringLiteral("lib/tmp/ServerDirInfo.xml"), "\xff\xfe<\0S\0");
    answerer.QueueCancel();
    EXPECT_EQ(RunPicker()->m_nResult, 0);
    EXPECT_EQ(answerer.Shown(), 2);
}

TEST_F(PickerTest, WithoutTheSkinWindowThePickerEndsAtOnce) {
    WriteFolders();
    PickerAnswerer answerer;
    DuSetAppStyle(nullptr);
    CSelNetDirDlg picker;
    EXPECT_EQ(picker.DoModal(), 0);
    EXPECT_EQ(picker.m_nResult, 0);
    EXPECT_EQ(picker.m_pTree, nullptr);
    EXPECT_EQ(answerer.Shown(), 0);
    DuSetAppStyle(m_style.get());
}

} // namespace
