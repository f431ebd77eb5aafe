// The upload worker's changes to the list file go to the journal: a kill at any byte of it
// leaves the list of before or after each change, never a wrong one, and the next start
// writes that list back in the file's own format. A damaged or foreign journal is not used.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <csignal>

#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/global_var.h"
#include "platform/codepage.h"
#include "upload/upload_list_file.h"
#include "upload/upload_list_journal.h"
#include "upload_it_util.h"

using upload_it::ReadBytes;
using upload_it::WriteBytes;

namespace {

UpInfo Task(const std::string& name) {
    UpInfo t;
    t.m_strFilePath = platform::FromNarrow("/photos/" + name);
    t.m_strFilePath2 = t.m_strFilePath;
    t.m_strFileName = platform::FromNarrow(name);
    CopyToFixed(t.m_tcExt, u"jpg");
    t.m_nFileLen = 2048;
    t.m_strNetDirPath = u"相册";
    return t;
}

// `n` tasks IMG_0.jpg, IMG_1.jpg, ... in that order.
std::vector<UpInfo> Library(int n) {
    std::vector<UpInfo> tasks;
    for (int i = 0; i < n; ++i)
        tasks.push_back(Task("IMG_" + std::to_string(i) + ".jpg"));
    return tasks;
}

class UploadListJournal : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/qumo_journal_XXXXXX";
        dir = mkdtemp(tmpl);
        list = dir + "/QumolanUploadList.xml";
        journal = list + ".journal";
        CGlobalVar::m_strUploadListPath = platform::FromNarrow(list);
        CGlobalVar::m_strUid = u"1001";
        DropUploadListForTesting();
    }
    void TearDown() override {
        DropUploadListForTesting();
        EXPECT_EQ(std::system(("rm -rf " + dir).c_str()), 0);
        CGlobalVar::m_strUploadListPath.clear();
    }
    // Another user's group and three tasks of ours, then the changes of one worker run.
    void Queue() {
        CGlobalVar::m_strUid = u"77";
        ASSERT_TRUE(AddUploadTaskList(Task("other.jpg")));
        CGlobalVar::m_strUid = u"1001";
        ASSERT_TRUE(AddUploadTaskLists({Task("a.jpg"), Task("b.jpg"), Task("c.jpg")}));
    }
    std::vector<std::function<void()>> Changes() {
        UpInfo a = Task("a.jpg");
        CopyToFixed(a.m_tsUpID, u"2147000011");
        CopyToFixed(a.m_tcVid, u"2147000012");
        CopyToFixed(a.m_tcUploadIp, u"127.0.0.1");
        a.m_nUploadPort = 8411;
        return {[a] { UpdateUploadTaskList(a); }, [] { DeleteUploadTaskList(u"/photos/b.jpg"); },
                [] { ResetUploadTaskList(u"/photos/a.jpg"); },
                [] { DeleteUploadTaskList(u"/PHOTOS/C.JPG "); }};
    }
    std::string dir, list, journal;
};

TEST_F(UploadListJournal, AKillAtAnyByteLeavesTheListOfBeforeOrAfterEachChange) {
    // What the file holds after each change when every change is written whole.
    Queue();
    std::vector<std::string> expected = {ReadBytes(list)};
    for (auto& change : Changes()) {
        change();
        expected.push_back(ReadBytes(list));
    }
    const std::string original = expected.front();

    // The same changes from the worker's thread: one record each, the file untouched, and a
    // kill before the run could fold them. Then the journal is cut at `cut` bytes, as a kill
    // in the middle of an append leaves it, and the program starts again.
    std::vector<std::size_t> ends;
    auto workerRun = [&] {
        DropUploadListForTesting();
        WriteBytes(list, original);
        ends.clear();
        UploadListJournalScope scope;
        for (auto& change : Changes()) {
            change();
            ends.push_back(ReadBytes(journal).size());
        }
        EXPECT_EQ(ReadBytes(list), original);
        DropUploadListForTesting();
    };
    workerRun();
    const std::size_t whole = ends.back();
    auto worthCutting = [&](std::size_t cut) {
        // Every byte near a record's end or the header's, and a spread of the rest.
        bool near = cut % 13 == 0 || (cut >= 39 && cut <= 41);
        for (std::size_t end : ends)
            near = near || (cut + 1 >= end && cut <= end + 1);
        return near;
    };
    for (std::size_t cut = 0; cut <= whole; ++cut) {
        if (!worthCutting(cut))
            continue;
        SCOPED_TRACE(cut);
        workerRun();
        ASSERT_EQ(ends.back(), whole);
        WriteBytes(journal, ReadBytes(journal).substr(0, cut));
        std::size_t applied = 0;
        while (applied < ends.size() && ends[applied] <= cut)
            ++applied;
        std::vector<UpInfo> tasks;
        ASSERT_TRUE(ReadUploadTaskList(tasks)); // the next start
        ASSERT_EQ(ReadBytes(list), expected[applied]);
        if (applied > 0) {
            EXPECT_NE(access(journal.c_str(), F_OK), 0); // folded into the file and gone
        }
    }
}

TEST_F(UploadListJournal, DamagedOrForeignJournalIsNotApplied) {
    Queue();
    const std::string original = ReadBytes(list);
    {
        UploadListJournalScope scope;
        for (auto& change : Changes())
            change();
        DropUploadListForTesting();
    }
    std::string damaged = ReadBytes(journal);
    // The second record's payload: header (40 bytes), first frame, then a byte of the next.
    const std::size_t first = 40 + 8 + static_cast<unsigned char>(damaged[40]) +
                              256 * static_cast<unsigned char>(damaged[41]);
    damaged[first + 12] ^= 0x55;
    WriteBytes(journal, damaged);
    std::vector<UpInfo> tasks;
    ASSERT_TRUE(ReadUploadTaskList(tasks));
    ASSERT_EQ(tasks.size(), 3u); // only the first change (a announced) was applied
    EXPECT_EQ(std::u16string(tasks[0].m_tsUpID), u"2147000011");

    // A list file put back from elsewhere (another inode): the journal is someone else's.
    DropUploadListForTesting();
    std::remove(list.c_str());
    WriteBytes(list, original);
    WriteBytes(journal, damaged);
    ASSERT_TRUE(ReadUploadTaskList(tasks));
    EXPECT_EQ(tasks.size(), 3u);
    EXPECT_EQ(tasks[0].m_tsUpID[0], 0);
    EXPECT_EQ(ReadBytes(list), original);
}

TEST_F(UploadListJournal, TheRunsEndWritesTheFileWholeAndOtherChangesStayWhole) {
    Queue();
    {
        UploadListJournalScope scope;
        DeleteUploadTaskList(u"/photos/a.jpg");
        // A change from elsewhere (the window's cancel) writes the file whole, with the
        // worker's change in it.
        std::thread window([] { DeleteUploadTaskList(u"/photos/b.jpg"); });
        window.join();
        std::vector<UpInfo> tasks;
        DropUploadListForTesting();
        ASSERT_TRUE(ReadUploadTaskList(tasks));
        ASSERT_EQ(tasks.size(), 1u);
        DeleteUploadTaskList(u"/photos/c.jpg");
    }
    EXPECT_NE(access(journal.c_str(), F_OK), 0);
    std::vector<UpInfo> tasks;
    DropUploadListForTesting();
    ASSERT_TRUE(ReadUploadTaskList(tasks));
    EXPECT_TRUE(tasks.empty());
    EXPECT_NE(ReadBytes(list).find(std::string("o\0t\0h\0e\0r\0", 10)), std::string::npos);
}

// Names beyond the BMP, with a lone surrogate and with URL special characters: every unit
// reaches the file as it is, is read back, and the journal's records of them replay to the
// bytes a whole write makes.
TEST_F(UploadListJournal, NamesOfEveryKindKeepEveryUnitInTheFileAndTheJournal) {
    const char16_t lone[] = {u'b', 0xDF0A, u'.', u'j', u'p', u'g'};
    const std::u16string names[] = {u"海边🌊.jpg", std::u16string(lone, 6),
                                    u"a b#c%d&e[f]g'h=i;j+k.jpg"};
    std::vector<UpInfo> tasks;
    for (const std::u16string& name : names) {
        UpInfo t = Task("x.jpg");
        t.m_strFileName = name;
        t.m_strFilePath = u"/photos/🌊/" + name;
        t.m_strFilePath2 = t.m_strFilePath;
        tasks.push_back(t);
    }
    ASSERT_TRUE(AddUploadTaskLists(tasks));
    const std::string original = ReadBytes(list);
    for (const std::u16string& unit : {std::u16string(u"/photos/🌊/海边🌊.jpg"),
                                       std::u16string(u"/photos/🌊/") + std::u16string(lone, 6)}) {
        std::string le;
        for (char16_t c : unit)
            le += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
        EXPECT_NE(original.find(le), std::string::npos);
    }
    auto announce = [&] {
        for (std::size_t i = 0; i < tasks.size(); ++i) {
            UpInfo t = tasks[i];
            CopyToFixed(t.m_tsUpID, platform::FromNarrow(std::to_string(500 + i)));
            CopyToFixed(t.m_tcVid, u"9");
            CopyToFixed(t.m_tcUploadIp, u"127.0.0.1");
            t.m_nUploadPort = 8411;
            ASSERT_TRUE(UpdateUploadTaskList(t));
        }
    };
    announce();
    const std::string expected = ReadBytes(list);
    ASSERT_NE(expected, original);

    DropUploadListForTesting();
    WriteBytes(list, original);
    {
        UploadListJournalScope scope;
        announce();
        EXPECT_EQ(ReadBytes(list), original);
        DropUploadListForTesting(); // killed before the run folds its journal
    }
    std::vector<UpInfo> back;
    ASSERT_TRUE(ReadUploadTaskList(back));
    EXPECT_EQ(ReadBytes(list), expected);
    ASSERT_EQ(back.size(), tasks.size());
    for (std::size_t i = 0; i < tasks.size(); ++i) {
        EXPECT_EQ(back[i].m_strFileName, tasks[i].m_strFileName);
        EXPECT_EQ(back[i].m_strFilePath, tasks[i].m_strFilePath);
        EXPECT_EQ(back[i].m_tsUpID.str(), platform::FromNarrow(std::to_string(500 + i)));
    }
}

} // namespace

// A whole library in the list: read back at a start in order, a run's ends journalled and
// replayed after a kill, and the file folded to exactly what a fresh write of the rest makes.
TEST_F(UploadListJournal, ALibraryOfTensOfThousandsStartsAndEndsTasksAfterAKill) {
    constexpr int kTasks = 30000;
    const std::vector<UpInfo> tasks = Library(kTasks);
    ASSERT_TRUE(AddUploadTaskLists(tasks));
    DropUploadListForTesting();

    std::vector<UpInfo> read;
    ASSERT_TRUE(ReadUploadTaskList(read));
    ASSERT_EQ(read.size(), tasks.size());
    EXPECT_EQ(read[12345].m_strFilePath, tasks[12345].m_strFilePath);
    {
        UploadListJournalScope worker;
        for (int i = 0; i < kTasks; i += 10)
            ASSERT_TRUE(DeleteUploadTaskList(tasks[static_cast<std::size_t>(i)].m_strFilePath));
        DropUploadListForTesting(); // killed before the run's end folds the journal
    }
    ASSERT_TRUE(ReadUploadTaskList(read));
    ASSERT_EQ(read.size(), tasks.size() - tasks.size() / 10);
    EXPECT_EQ(read.front().m_strFilePath, tasks[1].m_strFilePath);
    const std::string folded = ReadBytes(list);

    std::vector<UpInfo> rest;
    for (int i = 0; i < kTasks; ++i)
        if (i % 10 != 0)
            rest.push_back(tasks[static_cast<std::size_t>(i)]);
    std::remove(list.c_str());
    DropUploadListForTesting();
    ASSERT_TRUE(AddUploadTaskLists(rest));
    EXPECT_EQ(folded, ReadBytes(list));
}

// A start that replays a journal but cannot write the list file (here: a file size limit
// the list is over and the journal is not) keeps those changes in the next journal, so a
// kill after the next change loses neither.
TEST_F(UploadListJournal, ChangesReplayedButNotWrittenSurviveTheNextJournal) {
    constexpr int kTasks = 2000;
    const std::vector<UpInfo> tasks = Library(kTasks);
    ASSERT_TRUE(AddUploadTaskLists(tasks));
    DropUploadListForTesting();
    std::vector<UpInfo> read;
    ASSERT_TRUE(ReadUploadTaskList(read));
    {
        UploadListJournalScope worker;
        for (int i = 0; i < 10; ++i)
            ASSERT_TRUE(DeleteUploadTaskList(tasks[static_cast<std::size_t>(i)].m_strFilePath));
        DropUploadListForTesting();
    }
    ASSERT_GT(ReadBytes(list).size(), 256u * 1024);

    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 64 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    ASSERT_TRUE(ReadUploadTaskList(read));
    EXPECT_EQ(read.size(), static_cast<std::size_t>(kTasks - 10));
    {
        UploadListJournalScope worker;
        ASSERT_TRUE(DeleteUploadTaskList(tasks[10].m_strFilePath));
        DropUploadListForTesting();
    }
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &old), 0);
    std::signal(SIGXFSZ, oldHandler);

    ASSERT_TRUE(ReadUploadTaskList(read));
    ASSERT_EQ(read.size(), static_cast<std::size_t>(kTasks - 11));
    EXPECT_EQ(read.front().m_strFilePath, tasks[11].m_strFilePath);
    EXPECT_NE(access(journal.c_str(), F_OK), 0); // folded this time
}
