// vdat mount: the archive's tree (MountTree) served through libfuse's low-level interface on its
// multi-threaded loop. Everything here is the kernel's side of the conversation: requests go to
// the tree's handlers and their answers back, with how long the kernel may keep them.
#define FUSE_USE_VERSION 312
#include "Commands.h"

#include "EntryNames.h"
#include "MountTree.h"
#include "TerminalSinks.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fuse_lowlevel.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {
// How long the kernel may trust a name or attributes before asking again: a change to the
// archive shows within this, plus the tree's own check interval.
constexpr double kTimeout = 1.0;

// The write end of the pipe on which the background process tells the command that the mount
// answers requests; -1 in the foreground or once told.
int gReady = -1;

MountTree& Tree(fuse_req_t req) {
    return *static_cast<MountTree*>(fuse_req_userdata(req));
}

// Whether the kernel opens files without asking (an open answered ENOSYS once): every file read
// then costs one request instead of three, and reads name the node instead of an open file.
bool gNoOpen = false;

void Init(void*, fuse_conn_info* conn) {
    // Listings carry every name's attributes, so walking a tree asks no lookup per name.
    if (conn->capable & FUSE_CAP_READDIRPLUS) {
        conn->want |= FUSE_CAP_READDIRPLUS;
        conn->want &= ~FUSE_CAP_READDIRPLUS_AUTO;
    }
    gNoOpen = (conn->capable & FUSE_CAP_NO_OPEN_SUPPORT) != 0;
    if (gReady < 0)
        return;
    const char byte = 1;
    [[maybe_unused]] const ssize_t told = ::write(gReady, &byte, 1);
    ::close(gReady);
    gReady = -1;
    // Detached from now on: nobody reads our messages.
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) {
        ::dup2(null, STDERR_FILENO);
        ::close(null);
    }
}

void Lookup(fuse_req_t req, fuse_ino_t parent, const char* name) {
    fuse_entry_param e{};
    if (const int error = Tree(req).Lookup(parent, name, e.attr)) {
        fuse_reply_err(req, error);
        return;
    }
    e.ino = e.attr.st_ino;
    e.attr_timeout = kTimeout;
    e.entry_timeout = kTimeout;
    if (fuse_reply_entry(req, &e) != 0)
        Tree(req).Forget(e.ino, 1); // the kernel never got it
}

void Forget(fuse_req_t req, fuse_ino_t ino, std::uint64_t lookups) {
    Tree(req).Forget(ino, lookups);
    fuse_reply_none(req);
}

void ForgetMany(fuse_req_t req, std::size_t count, fuse_forget_data* forgets) {
    for (std::size_t i = 0; i < count; ++i)
        Tree(req).Forget(forgets[i].ino, forgets[i].nlookup);
    fuse_reply_none(req);
}

void GetAttributes(fuse_req_t req, fuse_ino_t ino, fuse_file_info*) {
    struct stat st;
    if (const int error = Tree(req).GetAttributes(ino, st))
        fuse_reply_err(req, error);
    else
        fuse_reply_attr(req, &st, kTimeout);
}

void OpenFolder(fuse_req_t req, fuse_ino_t ino, fuse_file_info* fi) {
    std::uint64_t handle = 0;
    if (const int error = Tree(req).OpenFolder(ino, handle)) {
        fuse_reply_err(req, error);
        return;
    }
    fi->fh = handle;
    if (fuse_reply_open(req, fi) != 0)
        Tree(req).ReleaseFolder(handle);
}

void List(fuse_req_t req, std::size_t size, off_t offset, fuse_file_info* fi, bool plus) {
    std::vector<char> reply(size);
    std::size_t used = 0;
    std::string name;
    const int error = Tree(req).ReadFolder(
        fi->fh, std::uint64_t(offset), plus,
        [&](std::string_view shown, const struct stat& st, std::uint64_t next) {
            name.assign(shown);
            std::size_t need = 0;
            if (plus) {
                fuse_entry_param e{};
                e.ino = st.st_ino;
                e.attr = st;
                e.attr_timeout = kTimeout;
                e.entry_timeout = kTimeout;
                need = fuse_add_direntry_plus(req, reply.data() + used, size - used, name.c_str(),
                                              &e, off_t(next));
            } else {
                need = fuse_add_direntry(req, reply.data() + used, size - used, name.c_str(), &st,
                                         off_t(next));
            }
            if (need > size - used)
                return false;
            used += need;
            return true;
        });
    if (error)
        fuse_reply_err(req, error);
    else
        fuse_reply_buf(req, reply.data(), used);
}

void ReadFolder(fuse_req_t req, fuse_ino_t, std::size_t size, off_t offset, fuse_file_info* fi) {
    List(req, size, offset, fi, false);
}

void ReadFolderPlus(fuse_req_t req, fuse_ino_t, std::size_t size, off_t offset,
                    fuse_file_info* fi) {
    List(req, size, offset, fi, true);
}

void ReleaseFolder(fuse_req_t req, fuse_ino_t, fuse_file_info* fi) {
    Tree(req).ReleaseFolder(fi->fh);
    fuse_reply_err(req, 0);
}

void OpenFile(fuse_req_t req, fuse_ino_t ino, fuse_file_info* fi) {
    if ((fi->flags & O_ACCMODE) != O_RDONLY) {
        fuse_reply_err(req, EROFS);
        return;
    }
    if (gNoOpen) {
        fuse_reply_err(req, ENOSYS);
        return;
    }
    std::uint64_t handle = 0;
    if (const int error = Tree(req).OpenFile(ino, handle)) {
        fuse_reply_err(req, error);
        return;
    }
    fi->fh = handle;
    // A node's bytes never change (a changed archive gives new nodes): what the kernel cached
    // stays good.
    fi->keep_cache = 1;
    if (fuse_reply_open(req, fi) != 0)
        Tree(req).ReleaseFile(handle);
}

void Read(fuse_req_t req, fuse_ino_t ino, std::size_t size, off_t offset, fuse_file_info* fi) {
    const auto reply = [req](const unsigned char* data, std::size_t length) {
        fuse_reply_buf(req, reinterpret_cast<const char*>(data), length);
    };
    const int error = fi->fh ? Tree(req).Read(fi->fh, std::uint64_t(offset), size, reply)
                             : Tree(req).ReadNode(ino, std::uint64_t(offset), size, reply);
    if (error)
        fuse_reply_err(req, error);
}

void ReleaseFile(fuse_req_t req, fuse_ino_t, fuse_file_info* fi) {
    if (fi->fh)
        Tree(req).ReleaseFile(fi->fh);
    fuse_reply_err(req, 0);
}

// libfuse's option syntax: a comma separates options and a backslash escapes.
std::string Escaped(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == ',' || c == '\\')
            out.push_back('\\');
        out.push_back(c);
    }
    return out;
}

// Serves until the file system is unmounted (or a signal asks to): 0 when it ended so.
int Serve(fuse_session* session) {
    fuse_loop_config* config = fuse_loop_cfg_create();
    if (!config)
        return -ENOMEM;
    fuse_loop_cfg_set_clone_fd(config, 0);
    const int status = fuse_session_loop_mt(session, config);
    fuse_loop_cfg_destroy(config);
    // A signal (Ctrl-C in the foreground, SIGTERM) is the way to stop serving: not a failure.
    return status == SIGINT || status == SIGTERM || status == SIGHUP ? 0 : status;
}
} // namespace

int RunMount(const Options& options) {
    const std::string& path = options.archive;
    const std::string& mountpoint = options.operands.at(0);
    NameReader charset;
    if (!OpenCharset(charset, options.charset))
        return kExitUsage;

    // The archive is found again by its folder and name, whatever the current folder becomes.
    const std::size_t slash = path.rfind('/');
    const std::string folderPath = slash == std::string::npos ? "."
                                   : slash == 0               ? "/"
                                                              : path.substr(0, slash);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty())
        name = "."; // a folder: refused as one
    const int folder = ::open(folderPath.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) {
        PrintProblem(path, {.what = ArchiveFailure::CannotOpen, .error = errno}, path);
        return kExitFailed;
    }
    MountTree tree({.owner = ::getuid(), .group = ::getgid()});
    if (charset.IsCodePage())
        tree.ReadNamesWith(&charset);
    tree.OnRefusal(
        [](const MountRefusal& refusal) { PrintLine(refusal.name, "not shown", refusal.reason); });
    ArchiveProblem problem;
    const bool opened = tree.Open(folder, name, problem);
    ::close(folder);
    if (problem.what != ArchiveFailure::None)
        PrintProblem(path, problem, path);
    if (!opened)
        return kExitFailed;

    struct stat st;
    const bool found = ::stat(mountpoint.c_str(), &st) == 0;
    if (!found || !S_ISDIR(st.st_mode)) {
        PrintLine(mountpoint, "cannot mount here", std::strerror(found ? ENOTDIR : errno));
        return kExitFailed;
    }

    fuse_lowlevel_ops ops{};
    ops.init = Init;
    ops.lookup = Lookup;
    ops.forget = Forget;
    ops.forget_multi = ForgetMany;
    ops.getattr = GetAttributes;
    ops.opendir = OpenFolder;
    ops.readdir = ReadFolder;
    ops.readdirplus = ReadFolderPlus;
    ops.releasedir = ReleaseFolder;
    ops.open = OpenFile;
    ops.read = Read;
    ops.release = ReleaseFile;

    const std::string mountOptions = "ro,default_permissions,subtype=vdat,fsname=" + Escaped(path);
    std::vector<std::string> words = {"vdat", "-o", mountOptions};
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(w.data());
    fuse_args args = FUSE_ARGS_INIT(int(argv.size()), argv.data());
    // libfuse copies the arguments it adds to; they are freed on every way out.
    const std::unique_ptr<fuse_args, void (*)(fuse_args*)> freeArgs(&args, fuse_opt_free_args);
    fuse_session* session = fuse_session_new(&args, &ops, sizeof ops, &tree);
    if (!session || fuse_session_mount(session, mountpoint.c_str()) != 0) {
        // libfuse has said why on stderr.
        PrintLine(mountpoint, "cannot mount the archive here");
        if (session)
            fuse_session_destroy(session);
        return kExitFailed;
    }

    if (!options.foreground) {
        // The command returns once the background process answers the kernel.
        int ready[2];
        if (::pipe2(ready, O_CLOEXEC) != 0) {
            PrintLine(mountpoint, "cannot mount the archive here", std::strerror(errno));
            fuse_session_unmount(session);
            fuse_session_destroy(session);
            return kExitFailed;
        }
        std::fflush(nullptr);
        const pid_t child = ::fork();
        if (child != 0) {
            ::close(ready[1]);
            char byte = 0;
            ssize_t got;
            do {
                got = ::read(ready[0], &byte, 1);
            } while (got < 0 && errno == EINTR);
            if (got == 1)
                ::_exit(kExitOk); // the session is the background process's now
            if (child < 0)
                PrintLine(mountpoint, "cannot mount the archive here", std::strerror(errno));
            fuse_session_unmount(session);
            return kExitFailed;
        }
        ::close(ready[0]);
        gReady = ready[1];
        ::setsid();
        const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
        if (null >= 0) {
            ::dup2(null, STDIN_FILENO);
            ::dup2(null, STDOUT_FILENO);
            ::close(null);
        }
    }
    fuse_set_signal_handlers(session);
    const int status = Serve(session);
    fuse_remove_signal_handlers(session);
    fuse_session_unmount(session);
    fuse_session_destroy(session);
    return status == 0 ? kExitOk : kExitFailed;
}
