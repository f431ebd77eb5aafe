// The file of the account's server folder tree ("ServerDirInfo.xml" in the install root's
// "lib/tmp") and the directory tree beside it that mirrors the folders and caches the
// thumbnails of their files.
//
// Every folder name becomes a directory name through SafeDiskName: a name such as "..",
// "a/b" or one holding a NUL cannot reach outside "lib/tmp". The names written to the
// file and shown in the trees are the server's own.
#pragma once

#include <string>
#include <vector>

#include "app/tree_view.h"
#include "net/api_calls.h"
#include "serverdir/server_tree_view.h"

// "<install root>lib/tmp" (no trailing "/"), where the file and the cache live.
std::u16string ServerCacheRoot();
// "<install root>lib/tmp/ServerDirInfo.xml".
std::u16string ServerDirInfoPath();

// Writes the file and rebuilds the cache directories from the flat folder list of the
// folder list call. 1: done, or nothing to do (empty list, no root folder: the disk is not
// touched); 0: the root folder's directory could not be created (no file is written).
// A folder whose directory cannot be created stays in the file, but neither its children
// nor its later siblings are written. A list that is not a tree cannot make this loop:
// every fid is visited once.
int WriteServerDirInfo(const std::vector<ServerFolder>& folders);

// Fills an empty tree view from the file at `path`: one item per element below the root
// element, text from "name", item data from "fid" (read like wcstol in base 10; missing
// or not a number: 0), children below their parent in file order.
void LoadServerDirTree(IServerTreeView* tree, const char16_t* path);

// The cache directory of a server folder shown as `item` in a tree loaded from the file:
// ServerCacheRoot() + "/" + the item's path in the tree with every name made safe.
// Empty for a null tree or item.
std::u16string ServerFolderCacheDir(const ITreeView* tree, TreeItemHandle item);
