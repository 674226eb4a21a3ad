// Parsing vdat's options with getopt_long, and the usage texts.
#include "Options.h"

#include "Commands.h"
#include "Version.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <getopt.h>
#include <initializer_list>
#include <thread>

namespace {
const char kOverview[] = R"(Usage: vdat COMMAND [OPTION...] ARCHIVE [NAME...]
  vdat info [-l] ARCHIVE            show the archive's header values
  vdat list [-l|--json] [-0] ARCHIVE
                                    one line per entry: NAME<TAB>PACKED [REAL]<TAB>TYPE
  vdat extract [-C DIR] [-j N] [-x PATTERN] [-O] [-k] [-v] [-q] ARCHIVE [NAME...]
                                    write all entries (or those matching NAME) beneath DIR
  vdat test ARCHIVE                 read and inflate every entry without writing
  vdat create [-C DIR] [-j N] [-1..-9|--store] [-h] [-v] [-q] ARCHIVE [PATH...]
                                    write a new archive from the files under DIR
  vdat add [-C DIR] [-j N] [-1..-9|--store] [-h] [-v] [-q] ARCHIVE PATH...
                                    add files to the archive, or replace its entries
  vdat delete [-q] ARCHIVE NAME...  take the entries matching NAME out of the archive
  vdat rename ARCHIVE OLD NEW       give entry OLD the name NEW
  vdat compact [-q] ARCHIVE         write the archive again without its unused bytes
  vdat mount [-f] ARCHIVE MOUNTPOINT
                                    show the archive as a read-only folder at MOUNTPOINT
  vdat --help | --version
  vdat COMMAND --help               that command's options

Options may come before or after the archive; `--` ends them. Names are shown with control
characters as \xHH; --charset=CP (list, extract, test, mount) reads stored names in code
page CP. add, delete, rename and compact wait for another change to the archive to end
(--no-wait: fail at once).

Exit status:
  0  all done
  1  the archive could not be opened or is cut short, or an entry was refused, damaged
     or not written, or a NAME matched no entry, or create or a change refused or failed
  2  usage error
)";

const char kInfoUsage[] = R"(Usage: vdat info [OPTION...] ARCHIVE
Prints the archive's header values as the window's "Info" box shows them. Nothing is printed
on stdout when the archive cannot be opened.
  -l, --long        also the bytes of the file that nothing refers to (Unused Bytes)
)";

const char kListUsage[] = R"(Usage: vdat list [OPTION...] ARCHIVE
One line per entry, in directory order: NAME<TAB>PACKED [REAL]<TAB>TYPE, control characters in
NAME shown as \xHH.
  -l, --long        NAME<TAB>OFFSET<TAB>PACKED<TAB>REAL<TAB>stored|packed<TAB>TYPE
      --json        one JSON array of objects: name (the Latin-1 reading of the stored bytes),
                    offset, packed, real, type
  -0, --null        each name unescaped and ended by NUL (nothing else); with -l, the name
                    ends with NUL and its other columns follow, tab-separated, to a newline
      --charset=CP  show names read in code page CP (e.g. CP1252) as UTF-8
)";

const char kTestUsage[] = R"(Usage: vdat test [OPTION...] ARCHIVE
Reads and inflates every entry as extract would, without writing; names each damaged one.
      --charset=CP  show names read in code page CP as UTF-8
)";

const char kExtractUsage[] = R"(Usage: vdat extract [OPTION...] ARCHIVE [NAME...]
Writes all entries, or those a NAME matches, beneath DIR. A NAME is a pattern (*, ?, [...])
matched against the whole stored name, '/' and '\' alike, '*' crossing folders; a folder's name
selects everything under it.
  -C, --directory=DIR   write beneath DIR (default: the current folder; made if missing)
  -j, --jobs=N          N entries at a time (default: one per processor)
  -x, --exclude=PATTERN leave out the entries PATTERN matches (may be repeated)
  -O, --to-stdout       write the selected entries' data to stdout, in directory order
  -k, --keep-old-files  leave existing files alone; such entries count as kept
      --hidden          also write entries with a part that begins with '.' (refused by
                        default: .bashrc or .ssh\authorized_keys would change a home folder)
  -v, --verbose         name each entry as it is written (on stderr)
  -q, --quiet           no progress bar and no summary
      --charset=CP      read stored names in code page CP (e.g. CP1252, CP1251) and write the
                        files under their UTF-8 names
)";

const char kCreateUsage[] = R"(Usage: vdat create [OPTION...] ARCHIVE [PATH...]
Writes a new archive from the files under DIR (default: everything in it), named relative to
DIR with '\' between folders, in byte order of the names. Each file is zlib-compressed, or
stored when that does not make it smaller. The archive is written under a temporary name and
takes ARCHIVE's place only once complete.
  -C, --directory=DIR   take the files from DIR (default: the current folder)
  -j, --jobs=N          compress N files at a time (default: one per processor)
  -1 .. -9              zlib level (default 6)
      --store           store every file without compression
  -h, --dereference     follow symbolic links (by default they are skipped with a note)
  -v, --verbose         name each file as it is added (on stderr)
  -q, --quiet           no summary
)";

const char kAddUsage[] = R"(Usage: vdat add [OPTION...] ARCHIVE PATH...
Adds the files under DIR that the PATHs name, named as create names them. A name the archive
holds already replaces that entry in its place (every entry of that name becomes the one new
entry); new names follow the others in byte order. The archive is changed where it lies: the
new data and directory go after its last byte in use and the header switches to them last, so
an interrupted change leaves the archive as it was.
  -C, --directory=DIR   take the files from DIR (default: the current folder)
  -j, --jobs=N          compress N files at a time (default: one per processor)
  -1 .. -9              zlib level (default 6)
      --store           store every file without compression
  -h, --dereference     follow symbolic links (by default they are skipped with a note)
  -v, --verbose         name each file as it is added (on stderr)
  -q, --quiet           no summary
      --no-wait         fail at once when another change to the archive is under way
)";

const char kDeleteUsage[] = R"(Usage: vdat delete [OPTION...] ARCHIVE NAME...
Takes the entries a NAME matches out of the archive's directory (patterns as extract's). A NAME
that matches nothing is named and nothing is changed. The bytes of the entries stay in the file
until compact.
  -q, --quiet           no summary
      --no-wait         fail at once when another change to the archive is under way
)";

const char kRenameUsage[] = R"(Usage: vdat rename [OPTION...] ARCHIVE OLD NEW
Gives the entry named OLD ('/' or '\' between folders) the name NEW; every entry of that name
when there are several.
      --no-wait         fail at once when another change to the archive is under way
)";

const char kCompactUsage[] = R"(Usage: vdat compact [OPTION...] ARCHIVE
Writes the archive again without the bytes no entry uses, copying each entry's bytes as they are
stored. The new archive is written under a temporary name and takes ARCHIVE's place, with its
mode (and owner, where the user may keep it), once complete.
  -q, --quiet           no summary
      --no-wait         fail at once when another change to the archive is under way
)";

const char kMountUsage[] = R"(Usage: vdat mount [OPTION...] ARCHIVE MOUNTPOINT
Shows the archive as a read-only folder at MOUNTPOINT (FUSE), names as extract writes them;
names extract refuses are left out and named once. Returns once the folder is ready and serves
it in the background until fusermount3 unmounts it (see vdat(1)). The archive
changed on disk is read again at the next lookup (looked at once a second at most).
  -f, --foreground      serve in this process until unmounted; Ctrl-C unmounts
      --charset=CP      read stored names in code page CP and show them in UTF-8
)";

int UsageError(const char* command, const std::string& what) {
    std::fprintf(stderr, "vdat: %s\nTry 'vdat %s%s--help'.\n", what.c_str(), command,
                 *command ? " " : "");
    return kExitUsage;
}

enum LongOnly { kJson = 256, kCharset, kStore, kHidden, kNoWait, kHelp };

struct CommandSpec {
    const char* name;
    Command command;
    const char* shortOptions; // leading ':' so a missing value is told apart
    const char* usage;
    std::size_t fewest, most; // operands after the archive: NAMEs, PATHs, OLD NEW
    const char* missing;      // what a command short of operands needs
};

constexpr std::size_t kAny = std::size_t(-1);

const CommandSpec kCommands[] = {
    {"info", Command::Info, ":l", kInfoUsage, 0, 0, nullptr},
    {"list", Command::List, ":l0", kListUsage, 0, 0, nullptr},
    {"test", Command::Test, ":", kTestUsage, 0, 0, nullptr},
    {"extract", Command::Extract, ":C:j:x:Okvq", kExtractUsage, 0, kAny, nullptr},
    {"create", Command::Create, ":C:j:123456789hvq", kCreateUsage, 0, kAny, nullptr},
    {"add", Command::Add, ":C:j:123456789hvq", kAddUsage, 1, kAny, "a PATH"},
    {"delete", Command::Delete, ":q", kDeleteUsage, 1, kAny, "a NAME"},
    {"rename", Command::Rename, ":", kRenameUsage, 2, 2, "OLD and NEW"},
    {"compact", Command::Compact, ":q", kCompactUsage, 0, 0, nullptr},
    {"mount", Command::Mount, ":f", kMountUsage, 1, 1, "a MOUNTPOINT"},
};

const option kLongOptions[] = {
    {"help", no_argument, nullptr, kHelp},
    {"long", no_argument, nullptr, 'l'},
    {"json", no_argument, nullptr, kJson},
    {"null", no_argument, nullptr, '0'},
    {"charset", required_argument, nullptr, kCharset},
    {"directory", required_argument, nullptr, 'C'},
    {"jobs", required_argument, nullptr, 'j'},
    {"exclude", required_argument, nullptr, 'x'},
    {"to-stdout", no_argument, nullptr, 'O'},
    {"keep-old-files", no_argument, nullptr, 'k'},
    {"verbose", no_argument, nullptr, 'v'},
    {"quiet", no_argument, nullptr, 'q'},
    {"store", no_argument, nullptr, kStore},
    {"hidden", no_argument, nullptr, kHidden},
    {"dereference", no_argument, nullptr, 'h'},
    {"no-wait", no_argument, nullptr, kNoWait},
    {"foreground", no_argument, nullptr, 'f'},
    {nullptr, 0, nullptr, 0},
};

// Which long options each command takes: getopt_long knows only one table.
bool Accepts(Command command, int option) {
    const auto among = [command](std::initializer_list<Command> commands) {
        return std::find(commands.begin(), commands.end(), command) != commands.end();
    };
    using enum Command;
    switch (option) {
    case kHelp:
        return true;
    case 'l':
        return among({List, Info});
    case kJson:
    case '0':
        return command == List;
    case kCharset:
        return among({List, Test, Extract, Mount});
    case 'f':
        return among({Mount});
    case 'C':
    case 'j':
    case 'v':
        return among({Extract, Create, Add});
    case 'q':
        return among({Extract, Create, Add, Delete, Compact});
    case 'x':
    case 'O':
    case 'k':
    case kHidden:
        return command == Extract;
    case kStore:
    case 'h':
        return among({Create, Add});
    case kNoWait:
        return among({Add, Delete, Rename, Compact});
    default:
        return option >= '1' && option <= '9' && among({Create, Add});
    }
}
} // namespace

int ParseOptions(int argc, char** argv, Options& options) {
    if (argc < 2)
        return UsageError("", "no command given");
    const std::string first = argv[1];
    if (first == "--help" || first == "-h") {
        // The overview, then every command's options in full.
        std::fputs(kOverview, stdout);
        for (const CommandSpec& c : kCommands) {
            std::fputs("\n", stdout);
            std::fputs(c.usage, stdout);
        }
        return kExitOk;
    }
    if (first == "--version") {
        std::printf("vdat %s\n", kVdatVersion);
        return kExitOk;
    }
    const CommandSpec* chosen = nullptr;
    for (const CommandSpec& c : kCommands)
        if (first == c.name)
            chosen = &c;
    if (!chosen) {
        if (first.size() > 1 && first[0] == '-')
            return UsageError("", "unknown option '" + first + "'");
        return UsageError("", "unknown command '" + first + "'");
    }
    options.command = chosen->command;

    // The command takes argv[0]'s place, so getopt_long sees its options only.
    const int count = argc - 1;
    char** args = argv + 1;
    opterr = 0;
    optind = 0; // getopt_long starts afresh: a program may parse more than one command line
    for (;;) {
        int index = -1;
        const int c = getopt_long(count, args, chosen->shortOptions, kLongOptions, &index);
        if (c == -1)
            break;
        const std::string given = optind - 1 < count ? args[optind - 1] : "";
        if (c == '?') {
            const std::string name =
                optopt && optopt < 256 ? std::string("-") + char(optopt) : given;
            return UsageError(chosen->name, "unknown option '" + name + "'");
        }
        if (c == ':') {
            const std::string name = given.rfind("--", 0) == 0 ? given.substr(0, given.find('='))
                                                               : std::string("-") + char(optopt);
            return UsageError(chosen->name, "option '" + name + "' needs a value");
        }
        if (!Accepts(chosen->command, c)) {
            const std::string name = index >= 0 ? std::string("--") + kLongOptions[index].name
                                                : std::string("-") + char(c);
            return UsageError(chosen->name, "unknown option '" + name + "'");
        }
        switch (c) {
        case kHelp:
            std::fputs(chosen->usage, stdout);
            return kExitOk;
        case 'l':
            options.longList = true;
            break;
        case kJson:
            options.json = true;
            break;
        case '0':
            options.nullEnded = true;
            break;
        case kCharset:
            options.charset = optarg;
            if (options.charset.empty())
                return UsageError(chosen->name, "--charset needs a code page");
            break;
        case 'C':
            options.directory = optarg;
            if (options.directory.empty())
                return UsageError(chosen->name, "-C needs a folder");
            break;
        case 'j': {
            char* end = nullptr;
            const long n = std::strtol(optarg, &end, 10);
            if (!*optarg || *end != '\0' || n < 1 || n > 256)
                return UsageError(chosen->name, "-j needs a number from 1 to 256");
            options.jobs = unsigned(n);
            break;
        }
        case 'x':
            options.excludes.push_back(optarg);
            break;
        case 'O':
            options.toStdout = true;
            break;
        case 'k':
            options.keepOld = true;
            break;
        case 'v':
            options.verbose = true;
            break;
        case 'q':
            options.quiet = true;
            break;
        case kStore:
            options.store = true;
            break;
        case kHidden:
            options.hidden = true;
            break;
        case 'h':
            options.dereference = true;
            break;
        case kNoWait:
            options.noWait = true;
            break;
        case 'f':
            options.foreground = true;
            break;
        default:
            options.level = c - '0';
            break;
        }
    }
    if (options.json && (options.longList || options.nullEnded))
        return UsageError(chosen->name, "--json goes with neither -l nor -0");

    if (optind >= count)
        return UsageError(chosen->name, std::string("'") + chosen->name + "' needs an ARCHIVE");
    options.archive = args[optind++];
    if (options.archive.empty())
        return UsageError(chosen->name, "the ARCHIVE name is empty");
    for (; optind < count; ++optind)
        options.operands.push_back(args[optind]);
    if (chosen->command == Command::Mount && options.operands.size() != 1)
        return UsageError(chosen->name, "'mount' takes an ARCHIVE and a MOUNTPOINT");
    if (chosen->most == 0 && !options.operands.empty())
        return UsageError(chosen->name,
                          std::string("'") + chosen->name + "' takes exactly one ARCHIVE");
    if (options.operands.size() < chosen->fewest || options.operands.size() > chosen->most)
        return UsageError(chosen->name,
                          std::string("'") + chosen->name + "' needs " + chosen->missing);
    return -1;
}

unsigned Workers(const Options& options) {
    return options.jobs ? options.jobs : std::max(1u, std::thread::hardware_concurrency());
}
