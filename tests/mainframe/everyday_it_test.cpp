// The everyday job as a user does it: a local folder clicked, the upload button, a
// sub-folder confirmed in the picker, every row uploaded, the files on the service with
// their content in that folder, and the server preview of the folder showing them.
#include "preview_fixture.h"

#include <set>

using namespace mftest;
using ui::testing::MsgBoxAnswerer;
using ui::testing::PickerAnswerer;

namespace {

class EverydayIt : public PreviewTest {};

TEST_F(EverydayIt, FolderToServerFolderThenItsPreview) {
    const QString album = m_home + "/旅行";
    std::vector<std::u16string> files = Pictures(album, "海边", 4);
    for (const auto& p : Pictures(album + "/第二天", "山顶", 3, 1))
        files.push_back(p);
    ASSERT_NE(OpenFrame(), nullptr);
    MsgBoxAnswerer boxes;
    PickerAnswerer picker;

    // Browse: the folder's own pictures in the preview.
    ClickLocalFolder(album);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Preview()->count() == 4; }, 30000));

    // Upload it into a folder two levels down.
    QTreeWidgetItem* target = ServerItem("北京庙会");
    ASSERT_NE(target, nullptr);
    const int fid = m_frame->m_pServerDirTree->ItemFid(target);
    picker.QueueChoose(m_frame->m_pServerDirTree->ItemPath(target));
    QTest::mouseClick(m_frame->WindowObject()->Control(u"btn_uploadDir")->Widget(), Qt::LeftButton);
    ASSERT_EQ(List()->GetItemCount(), 7);
    for (const auto& path : files)
        ASSERT_TRUE(WaitUploaded(path)) << platform::ToNarrow(path);
    for (int row = 0; row < 7; ++row)
        EXPECT_EQ(List()->GetItemText(row, UploadListModel::kColProgress), u"上传成功");
    EXPECT_TRUE(boxes.Texts().empty());

    // On the service: each file once, in that folder, with its content.
    std::map<std::u16string, ServerFileEntry> stored;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            stored.clear();
            for (const ServerFileEntry& e : service->ListFolder(fid))
                stored[e.name] = e;
            std::size_t n = 0;
            for (const auto& path : files)
                n += stored.count(NameOf(path));
            return n == files.size();
        },
        30000));
    for (const auto& path : files) {
        const auto it = stored.find(NameOf(path));
        ASSERT_NE(it, stored.end());
        EXPECT_EQ(upload_it::StoredSha1(it->second.mobilepic),
                  upload_it::FileSha1(platform::ToNarrow(path)));
    }
    // The queue is done: the list file holds the user's group without tasks.
    ASSERT_TRUE(WaitWorkerEnded());
    std::vector<UpInfo> left;
    ASSERT_TRUE(ReadUploadTaskList(left));
    EXPECT_TRUE(left.empty());

    // The server preview of that folder lists them with thumbnails and records.
    ClickItem(m_frame->m_pServerDirTree, target);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Preview()->RecordCount() >= 7; }, 60000));
    ASSERT_TRUE(WaitPreviewDone());
    std::set<std::u16string> shown;
    for (int row = 0; row < Preview()->count(); ++row)
        shown.insert(Preview()->ItemText(row));
    for (const auto& path : files)
        EXPECT_EQ(shown.count(NameOf(path)), 1u) << platform::ToNarrow(path);
}

} // namespace
