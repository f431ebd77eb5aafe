// Shared pieces of the server folder tests: an install root in a temporary folder, an
// in-memory tree view and a snapshot of everything on disk below a folder.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/global_var.h"
#include "net/api_calls.h"
#include "platform/codepage.h"
#include "serverdir/server_tree_view.h"
#include "tests/app/app_test_util.h"

namespace sdtest {

namespace fs = std::filesystem;

// A temporary program folder (root/bin) whose parent is the install root.
class InstallRoot {
public:
    InstallRoot() {
        CGlobalVar::m_strInstallRoot = platform::FromNarrow(folder.root.string()) + u"/";
        fs::create_directories(folder.root / "lib" / "tmp");
    }
    ~InstallRoot() { CGlobalVar::m_strInstallRoot.clear(); }
    fs::path Tmp() const { return folder.root / "lib" / "tmp"; }
    fs::path Root() const { return folder.root; }
    std::string LogText() const { return folder.LogText(); }

    apptest::ProgramFolder folder;
};

inline ServerFolder Folder(const std::u16string& name, int fid, int parent) {
    ServerFolder f;
    std::size_t n = std::min<std::size_t>(name.size(), 259);
    for (std::size_t i = 0; i < n; ++i)
        f.name[i] = name[i];
    f.fid = fid;
    f.parenterid = parent;
    return f;
}

// A tree view held in memory; an item's handle is its node.
class FakeTree : public IServerTreeView {
public:
    struct Node {
        std::u16string text;
        std::intptr_t data = 0;
        const Node* parent = nullptr;
        std::vector<const Node*> children;
    };

    TreeItemHandle InsertItem(TreeItemHandle parent, const std::u16string& text,
                              std::intptr_t data) override {
        auto node = std::make_unique<Node>();
        node->text = text;
        node->data = data;
        node->parent = static_cast<const Node*>(parent);
        Node* raw = node.get();
        if (parent)
            const_cast<Node*>(node->parent)->children.push_back(raw);
        else
            top.push_back(raw);
        nodes.push_back(std::move(node));
        return raw;
    }
    std::u16string GetItemText(TreeItemHandle item) const override {
        return static_cast<const Node*>(item)->text;
    }
    TreeItemHandle GetParentItem(TreeItemHandle item) const override {
        return static_cast<const Node*>(item)->parent;
    }

    // The tree as indented lines "name=fid", two spaces per level.
    std::string Outline() const {
        std::string out;
        for (const Node* n : top)
            Outline(n, 0, out);
        return out;
    }
    const Node* FindByData(std::intptr_t data) const {
        for (const auto& n : nodes)
            if (n->data == data)
                return n.get();
        return nullptr;
    }

    std::vector<const Node*> top;
    std::vector<std::unique_ptr<Node>> nodes;

private:
    static void Outline(const Node* n, int depth, std::string& out) {
        out += std::string(static_cast<std::size_t>(depth) * 2, ' ') + platform::ToNarrow(n->text) +
               "=" + std::to_string(n->data) + "\n";
        for (const Node* c : n->children)
            Outline(c, depth + 1, out);
    }
};

// Every entry below `dir` (not following links): relative path -> "d", "l:<target>" or
// "f:<content>".
inline std::map<std::string, std::string> Snapshot(const fs::path& dir) {
    std::map<std::string, std::string> out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dir, ec);
         it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const fs::path& p = it->path();
        std::string rel = fs::relative(p, dir).string();
        if (it->is_symlink())
            out[rel] = "l:" + fs::read_symlink(p).string();
        else if (it->is_directory())
            out[rel] = "d";
        else
            out[rel] = "f:" + apptest::ReadBytes(p);
    }
    return out;
}

// The names directly inside `dir`, sorted.
inline std::vector<std::string> Names(const fs::path& dir) {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec))
        out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

// UTF-16LE bytes of a text.
inline std::string Utf16Le(const std::u16string& text) {
    std::string out;
    for (char16_t c : text) {
        out += static_cast<char>(c & 0xFF);
        out += static_cast<char>(c >> 8);
    }
    return out;
}

// What SaveFile puts in front of every document.
inline std::string SavedDocument(const std::u16string& body) {
    return std::string("\xFF\xFE", 2) +
           Utf16Le(u"<?xml version=\"1.0\" encoding=\"UTF-16\"?>" + body);
}

} // namespace sdtest
