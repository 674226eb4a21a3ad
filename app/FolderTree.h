// The folder view's records: one per folder at its level, each entry beneath its folder, in
// depth-first order as the tree list wants them. Names are split at '\', the archives' only
// folder separator. Within a folder, its folders come first, then its entries, each in the
// order the directory first names them. Qt-free, so it can be measured on its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

struct FolderRecord {
    std::string_view label; // the folder's or the entry's own name, a view into the name given
    std::int32_t level = 0;
    std::int32_t entry = -1; // the entry's index, or -1 for a folder
};

// names(i) must stay valid as long as the records are used.
std::vector<FolderRecord> BuildFolderTree(std::size_t count,
                                          const std::function<std::string_view(std::size_t)>& name);
