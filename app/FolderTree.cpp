// Building the folder view's records; see FolderTree.h.
#include "FolderTree.h"

#include <string>
#include <unordered_map>

namespace {
struct Folder {
    std::string_view name;
    std::vector<std::uint32_t> folders; // child folders, by first appearance
    std::vector<std::uint32_t> entries;
};

// Folders by parent and name: one map for the whole tree, keyed by the parent's number and the
// name, so a folder of thousands of folders costs no map of its own.
struct FolderKey {
    std::uint32_t parent;
    std::string_view name;
    bool operator==(const FolderKey&) const = default;
};
struct FolderKeyHash {
    std::size_t operator()(const FolderKey& key) const {
        return std::hash<std::string_view>()(key.name) * 31 + key.parent;
    }
};
} // namespace

std::vector<FolderRecord>
BuildFolderTree(std::size_t count, const std::function<std::string_view(std::size_t)>& name) {
    std::vector<Folder> folders(1); // 0 is the root, which gets no record
    std::unordered_map<FolderKey, std::uint32_t, FolderKeyHash> byName;
    for (std::size_t i = 0; i < count; ++i) {
        const std::string_view full = name(i);
        std::uint32_t folder = 0;
        std::size_t start = 0;
        for (std::size_t end = full.find('\\'); end != std::string_view::npos;
             start = end + 1, end = full.find('\\', start)) {
            const FolderKey key{folder, full.substr(start, end - start)};
            const auto [at, added] = byName.try_emplace(key, std::uint32_t(folders.size()));
            if (added) {
                folders[folder].folders.push_back(at->second);
                folders.push_back(Folder{key.name, {}, {}});
            }
            folder = at->second;
        }
        folders[folder].entries.push_back(std::uint32_t(i));
    }

    std::vector<FolderRecord> records;
    records.reserve(count + folders.size());
    // Depth-first without recursion: a name of 127 '\' is 127 levels.
    struct Step {
        std::uint32_t folder;
        std::size_t next; // the next child folder to visit
    };
    std::vector<Step> stack{{0, 0}};
    while (!stack.empty()) {
        Step& step = stack.back();
        const Folder& folder = folders[step.folder];
        const auto level = std::int32_t(stack.size() - 1);
        if (step.next < folder.folders.size()) {
            const std::uint32_t child = folder.folders[step.next++];
            records.push_back({folders[child].name, level, -1});
            stack.push_back({child, 0});
            continue;
        }
        for (const std::uint32_t entry : folder.entries) {
            const std::string_view full = name(entry);
            const std::size_t slash = full.rfind('\\');
            records.push_back({slash == std::string_view::npos ? full : full.substr(slash + 1),
                               level, std::int32_t(entry)});
        }
        stack.pop_back();
    }
    return records;
}
