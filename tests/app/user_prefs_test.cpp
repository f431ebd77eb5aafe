// The preferences file: what it writes reads back the same, and a hand-edited file with bad
// lines keeps the good values and the earlier ones for the rest.
#include <gtest/gtest.h>

#include <cstdlib>

#include "app/user_prefs.h"
#include "platform/codepage.h"

TEST(UserPrefs, RoundTripAndBadLines) {
    char tmpl[] = "/tmp/qumo_prefs_XXXXXX";
    const std::string dir = mkdtemp(tmpl);
    const std::u16string path = platform::FromNarrow(dir + "/qumoclient-prefs.conf");

    EXPECT_EQ(prefs::LoadPrefs(path), prefs::UserPrefs{}); // missing file: the defaults
    const prefs::UserPrefs p{8, 2048, true, false};
    ASSERT_TRUE(prefs::SavePrefs(path, p));
    EXPECT_EQ(prefs::LoadPrefs(path), p);

    prefs::UserPrefs q;
    std::string warnings;
    prefs::ParsePrefsText("; comment\r\ntransfers = 9\nbandwidth_cap_kbps=512\r\n"
                          "tray_while_uploading = maybe\ncolour = blue\nnotify_when_done\n",
                          q, warnings);
    EXPECT_EQ(q, (prefs::UserPrefs{3, 512, false, true}));
    EXPECT_EQ(warnings, "line 2: bad value, kept transfers\n"
                        "line 4: bad value, kept tray_while_uploading\n"
                        "line 5: unknown key skipped\n"
                        "line 6: bad value, kept notify_when_done\n");
    EXPECT_EQ(std::system(("rm -rf " + dir).c_str()), 0);
}
