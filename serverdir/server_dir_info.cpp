#include "serverdir/server_dir_info.h"

#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "app/global_var.h"
#include "base/log.h"
#include "base/xml.h"
#include "platform/files.h"
#include "serverdir/safe_name.h"

namespace {

constexpr const char16_t* kFileName = u"ServerDirInfo.xml";
constexpr const char16_t* kRootElement = u"ServerUserDir";
constexpr const char16_t* kFolderElement = u"BootDir";
// Folders below this depth are left out: the file must stay readable, and the parser refuses
// deeper nesting. Counted from the root folder's children; two elements (the document's
// and the root folder's) enclose them.
constexpr int kMaxDepth = kMaxXmlDepth - 2;

std::u16string Decimal(int v) {
    std::string s = std::to_string(v);
    return std::u16string(s.begin(), s.end());
}

XmlNode* AppendFolder(XmlNode& parent, const char16_t* name, const std::u16string& fid,
                      const std::u16string& parenterid) {
    auto el = std::make_unique<XmlNode>();
    el->name = kFolderElement;
    el->AppendAttr(CreateAttr(u"name", name));
    el->AppendAttr(CreateAttr(u"fid", fid.c_str()));
    el->AppendAttr(CreateAttr(u"parenterid", parenterid.c_str()));
    return parent.AppendChild(std::move(el));
}

// Replaces whatever stands at `dir` with a new, empty directory.
bool RenewDir(const std::u16string& dir) {
    CGlobalVar::DeletePath(dir.c_str());
    return platform::CreateDir(dir);
}

// The root folder's directory sits beside the file; it must never take the file's name.
std::u16string SafeRootDirName(std::u16string_view name) {
    std::u16string safe = SafeDiskName(name);
    if (safe == kFileName)
        return u"%53" + safe.substr(1); // "%53" is "S"
    return safe;
}

class TreeWriter {
public:
    explicit TreeWriter(const std::vector<ServerFolder>& folders) : m_folders(folders) {
        for (std::size_t i = 0; i < folders.size(); ++i)
            m_children[folders[i].parenterid].push_back(i);
    }

    // Adds the sub-folders of `parentFid`; false when a directory could not be created,
    // which ends this level (the caller goes on with its own next folder).
    bool AddChildren(int parentFid, XmlNode& parentEl, const std::u16string& parentDir, int depth) {
        if (depth == 0)
            m_visited.insert(parentFid);
        auto it = m_children.find(parentFid);
        if (it == m_children.end())
            return true;
        if (depth >= kMaxDepth) {
            LogError(u"ServerDirInfo.xml: the folders below fid %d are deeper than %d levels and "
                     u"are left out",
                     parentFid, kMaxDepth);
            return true;
        }
        for (std::size_t index : it->second) {
            const ServerFolder& f = m_folders[index];
            // A fid met before means the list is not a tree; one visit per fid ends it.
            if (!m_visited.insert(f.fid).second)
                continue;
            XmlNode* el = AppendFolder(parentEl, f.name, Decimal(f.fid), Decimal(f.parenterid));
            std::u16string dir = parentDir + u"/" + SafeDiskName(f.name);
            if (!el || !RenewDir(dir))
                return false;
            AddChildren(f.fid, *el, dir, depth + 1);
        }
        return true;
    }

private:
    const std::vector<ServerFolder>& m_folders;
    std::unordered_map<int, std::vector<std::size_t>> m_children; // list order kept
    std::unordered_set<int> m_visited;
};

// Makes "lib" and "lib/tmp" below the install root when the installation lacks them.
void EnsureCacheRoot() {
    platform::CreateDir(CGlobalVar::m_strInstallRoot + u"lib");
    platform::CreateDir(ServerCacheRoot());
}

} // namespace

std::u16string ServerCacheRoot() {
    return CGlobalVar::m_strInstallRoot + u"lib/tmp";
}

std::u16string ServerDirInfoPath() {
    return ServerCacheRoot() + u"/" + kFileName;
}

int WriteServerDirInfo(const std::vector<ServerFolder>& folders) {
    if (folders.empty())
        return 1;
    const ServerFolder* root = nullptr;
    for (const ServerFolder& f : folders) {
        if (f.fid == 0 && f.parenterid == -1) {
            root = &f;
            break;
        }
    }
    if (!root)
        return 1;
    // Without an install root every path below would be relative to whatever the current
    // directory happens to be.
    if (CGlobalVar::m_strInstallRoot.empty())
        return 0;

    const std::u16string file = ServerDirInfoPath();
    CGlobalVar::DeletePath(file.c_str());

    XmlNode doc;
    doc.name = kRootElement;
    XmlNode* rootEl = AppendFolder(doc, root->name, u"0", u"-1");

    EnsureCacheRoot();
    const std::u16string rootDir = ServerCacheRoot() + u"/" + SafeRootDirName(root->name);
    if (!rootEl || !RenewDir(rootDir))
        return 0;

    TreeWriter(folders).AddChildren(0, *rootEl, rootDir, 0);
    SaveFile(WriteXml(doc, DefaultWriteOptions), file);
    return 1;
}

std::u16string ServerFolderCacheDir(const ITreeView* tree, TreeItemHandle item) {
    if (!tree || !item)
        return {};
    // The same walk as the item's tree path, over the names as they are on disk.
    class DiskNames : public ITreeView {
    public:
        explicit DiskNames(const ITreeView& inner) : m_inner(inner) {}
        std::u16string GetItemText(TreeItemHandle it) const override {
            std::u16string text = m_inner.GetItemText(it);
            return m_inner.GetParentItem(it) ? SafeDiskName(text) : SafeRootDirName(text);
        }
        TreeItemHandle GetParentItem(TreeItemHandle it) const override {
            return m_inner.GetParentItem(it);
        }

    private:
        const ITreeView& m_inner;
    };
    DiskNames names(*tree);
    return ServerCacheRoot() + u"/" + CGlobalVar::GetTreeItemPath(&names, item);
}
