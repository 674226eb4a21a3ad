// vdat's command line, the GNU way: a command, then options and operands in any order, `--`
// ending the options, and each command's own usage on `vdat COMMAND --help`.
#pragma once

#include <string>
#include <vector>

enum class Command { Info, List, Test, Extract, Create, Add, Delete, Rename, Compact, Mount };

struct Options;
// The workers -j asks for, or one per processor.
unsigned Workers(const Options& options);

struct Options {
    Command command = Command::Info;
    std::string archive;
    // NAME patterns (extract, delete), PATHs (create, add), OLD and NEW (rename), MOUNTPOINT
    std::vector<std::string> operands;
    std::string directory = "."; // -C: where to extract to, or what to create or add from
    unsigned jobs = 0;           // 0: one per processor
    std::vector<std::string> excludes;
    bool toStdout = false;
    bool keepOld = false;
    bool hidden = false; // extract: write names with a part beginning with '.'
    bool verbose = false;
    bool quiet = false;
    bool longList = false; // list -l; info -l adds the unused bytes
    bool json = false;
    bool nullEnded = false;
    std::string charset; // empty: names as stored
    int level = 6;       // zlib level for create and add
    bool store = false;
    bool dereference = false;
    bool noWait = false;     // a change gives up at once when another one holds the archive
    bool foreground = false; // mount: serve in this process until unmounted
};

// Fills options from argv; returns -1 when the command is to run, or else the exit status the
// program ends with (0 after a help or version text, 2 after a usage error, already told).
int ParseOptions(int argc, char** argv, Options& options);
