// Program-wide values and the file operations used across the program. Every member is
// static; nothing is passed around.
//
// The account values and paths are written only on the user-interface thread (start-up,
// login, logout); workers only read them. The current-upload path is guarded by the
// upload queue's lock. The upload control flag is the one value both sides write.
#pragma once

#include "app/tree_view.h"

#include <atomic>
#include <cstdint>
#include <string>

class CGlobalVar {
public:
    CGlobalVar() = delete;

    // Account values.
    static std::u16string m_strAccount;  // as typed at login, trimmed
    static std::u16string m_strPassword; // as typed at login, trimmed
    static std::u16string m_strUid;
    static std::u16string m_strToken;
    static std::u16string m_strNick;
    static std::u16string m_strHeadface; // avatar address
    static std::string m_strUidA;        // user id bytes
    static std::string m_strTokenA;      // token bytes
    static int m_nTotalSpace;
    static int m_nUsedSpace;

    // Upload state.
    static std::u16string m_strCurUploadPath; // file the upload worker is sending
    static std::u16string m_strNetDirPath;    // chosen server folder of new upload tasks
    // 0 run, 1 cancel the transfer in progress, 2 pause it; read and written whole.
    static std::atomic<int> m_nUploadCtrl;

    // Paths set at start-up (see app/program_paths.h).
    static std::u16string m_strInstallRoot; // ends in "/"
    static std::u16string m_strLocalConfigPath;
    static std::u16string m_strUploadListPath;
    static std::u16string m_strSkinPath;

    // Logout: every account value, both storage values, the current-upload path, the
    // chosen server folder and the upload control flag go back to empty or 0. The paths
    // stay; the settings store keeps its bytes until the next login.
    static void ClearUserState();

    // Reads the file's length into `length` and returns 0. Null path: 87, `length`
    // untouched. Otherwise the system error code, also logged and left as the last error;
    // `length` is then left as the caller set it. A folder's length is 0.
    static int GetFileLength(const char16_t* path, std::int64_t* length);

    // Makes `source` writable and copies it over any existing `destination`. False for a
    // null argument or a failed copy (a file onto itself included).
    static bool CopyFileForce(const char16_t* source, const char16_t* destination);

    // Deletes a file, or a folder with everything below it, without asking. Links are
    // removed as links. False for a null or empty path, "/", or a failure.
    static bool DeletePath(const char16_t* path);

    // The texts of `item` and its ancestors, the top-most first, joined with "/". Empty for
    // a null item or tree.
    static std::u16string GetTreeItemPath(const ITreeView* tree, TreeItemHandle item);

    // True when at least one other process runs under the program's file name.
    static bool IsAlreadyRunning();
};

// The program's own file name, as the single-instance test looks for it.
inline constexpr const char16_t* kProgramFileName = u"QumoClient";
