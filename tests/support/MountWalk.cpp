// Walking a mount's tree through its handlers.
#include "MountWalk.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace {
struct Walker {
    MountTree& mount;
    std::size_t step;
    std::uint64_t budget;
    MountWalk& out;
    std::vector<std::string> paths;
    std::vector<MountNode> looked; // every lookup, to be forgotten

    void Break(const std::string& what) {
        if (out.broken.empty())
            out.broken = what;
    }

    void Folder(MountNode node, const std::string& prefix) {
        std::uint64_t handle = 0;
        if (const int error = mount.OpenFolder(node, handle)) {
            Break(prefix + ": folder does not open: " + std::strerror(error));
            return;
        }
        std::vector<std::pair<std::string, struct stat>> names;
        // Two names a reply, as a full reply buffer would cut the listing.
        for (std::uint64_t position = 0;;) {
            std::size_t taken = 0;
            mount.ReadFolder(handle, position, false,
                             [&](std::string_view name, const struct stat& st, std::uint64_t next) {
                                 if (taken == 2)
                                     return false;
                                 ++taken;
                                 names.emplace_back(std::string(name), st);
                                 position = next;
                                 return true;
                             });
            if (taken == 0)
                break;
        }
        mount.ReleaseFolder(handle);
        if (names.size() < 2 || names[0].first != "." || names[1].first != "..")
            Break(prefix + ": listing does not start with . and ..");
        for (std::size_t i = 2; i < names.size(); ++i) {
            const auto& [name, listed] = names[i];
            const std::string path = prefix + name;
            if (i > 2 && !(names[i - 1].first < name))
                Break(path + ": listed out of order or twice");
            struct stat found {};
            if (const int error = mount.Lookup(node, name, found)) {
                Break(path + ": listed but not found: " + std::strerror(error));
                continue;
            }
            looked.push_back(found.st_ino);
            struct stat asked {};
            mount.GetAttributes(found.st_ino, asked);
            if (found.st_ino != listed.st_ino || found.st_mode != listed.st_mode ||
                found.st_size != listed.st_size || asked.st_mode != found.st_mode ||
                asked.st_size != found.st_size || asked.st_ino != found.st_ino)
                Break(path + ": listing, lookup and attributes disagree");
            if (S_ISDIR(found.st_mode)) {
                if ((found.st_mode & 07777) != 0555)
                    Break(path + ": a folder's mode is not 0555");
                paths.push_back(path + "/");
                Folder(found.st_ino, path + "/");
            } else {
                if ((found.st_mode & 07777) != 0444 || !S_ISREG(found.st_mode))
                    Break(path + ": a file's mode is not 0444");
                paths.push_back(path);
                if (budget > 0)
                    File(found.st_ino, path, std::uint64_t(found.st_size));
            }
        }
    }

    void File(MountNode node, const std::string& path, std::uint64_t size) {
        std::uint64_t handle = 0;
        if (const int error = mount.OpenFile(node, handle)) {
            Break(path + ": file does not open: " + std::strerror(error));
            return;
        }
        std::string bytes;
        int failure = 0;
        auto read = [&](std::uint64_t offset, std::string& into) {
            return mount.Read(handle, offset, step, [&](const unsigned char* data, std::size_t n) {
                into.append(reinterpret_cast<const char*>(data), n);
            });
        };
        // At least one read, so an empty file's damage shows too.
        do {
            const std::size_t before = bytes.size();
            failure = read(bytes.size(), bytes);
            if (failure == 0 && bytes.size() == before) {
                if (before < size)
                    Break(path + ": a read inside the file gave nothing");
                break;
            }
        } while (bytes.size() < size && failure == 0);
        std::string again;
        if (failure == 0 && read(0, again) == 0 &&
            again != bytes.substr(0, std::min(step, bytes.size())))
            Break(path + ": reading the start again gives other bytes");
        // Where the kernel opens without asking, reads name the node: the same bytes.
        std::string byNode;
        if (failure == 0 && (mount.ReadNode(node, 0, step,
                                            [&](const unsigned char* data, std::size_t n) {
                                                byNode.append(reinterpret_cast<const char*>(data),
                                                              n);
                                            }) != 0 ||
                             byNode != bytes.substr(0, std::min(step, bytes.size()))))
            Break(path + ": a read by node gives other bytes than one by open file");
        std::string past;
        if (failure == 0 && (read(size, past) != 0 || !past.empty()))
            Break(path + ": a read at the end gives bytes");
        mount.ReleaseFile(handle);
        budget -= std::min<std::uint64_t>(budget, bytes.size());
        if (failure != 0)
            out.failed[path] = failure;
        else
            out.files[path] = std::move(bytes);
    }
};
} // namespace

MountWalk WalkMount(MountTree& mount, std::size_t step, std::uint64_t budget) {
    MountWalk out;
    Walker walker{mount, step, budget, out, {}, {}};
    walker.Folder(kMountRoot, "");
    std::sort(walker.paths.begin(), walker.paths.end());
    for (const std::string& p : walker.paths)
        out.tree += p + "\n";
    struct stat st {};
    // No name in the tree holds a '/': extraction writes it as '_'.
    if (mount.Lookup(kMountRoot, "no/such", st) != ENOENT)
        walker.Break("a name that is not there is found");
    for (const MountNode node : walker.looked)
        mount.Forget(node, 1);
    if (mount.Generations() != 1)
        walker.Break("generations outlive every lookup");
    return out;
}
