// Turning a stored entry name into a path beneath the destination folder. Backslash is the only
// folder separator; names that could leave the destination are refused.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct EntryPath {
    std::string relative;                // folders joined with '/', then the file name
    std::vector<std::size_t> folderEnds; // relative.substr(0, end) is each folder, outermost first

    std::string_view Folder(std::size_t i) const {
        return std::string_view(relative).substr(0, folderEnds[i]);
    }
    // The i-th folder's own name, without the folders around it.
    std::string_view FolderName(std::size_t i) const {
        const std::size_t start = i == 0 ? 0 : folderEnds[i - 1] + 1;
        return std::string_view(relative).substr(start, folderEnds[i] - start);
    }
    // The file's own name, after the last folder.
    std::string_view FileName() const {
        return std::string_view(relative).substr(folderEnds.empty() ? 0 : folderEnds.back() + 1);
    }
    // Whether any part begins with '.': a dotfile or a folder such as .ssh.
    bool IsHidden() const;
};

// A byte of a stored name as it is written on disk: '/' would open a folder here, so it is '_'.
constexpr char OnDisk(char c) {
    return c == '/' ? '_' : c;
}

// False for a name that could lead outside the destination: an empty name, or one with an
// empty, "." or ".." part or a drive prefix ("C:").
bool IsSafeEntryName(std::string_view name);

// Refuses an empty name and any name with an empty, "." or ".." part or a drive prefix ("C:").
// A forward slash inside a part becomes '_': it must not open a folder on this system.
std::optional<EntryPath> ParseEntryPath(std::string_view name);
