// vdat's command line, the GNU way: a command, then options and operands in any order, `--`
// ending the options, and each command's own usage on `vdat COMMAND --help`.
#pragma once

#include <string>
#include <vector>

enum class Command { Info, List, Test, Extract, Create, Mount };

struct Options {
    Command command = Command::Info;
    std::string archive;
    std::vector<std::string> operands; // NAME patterns (extract), PATHs (create), MOUNTPOINT
    std::string directory = ".";       // -C: where to extract to, or what to create from
    unsigned jobs = 0;                 // 0: one per processor
    std::vector<std::string> excludes;
    bool toStdout = false;
    bool keepOld = false;
    bool hidden = false; // extract: write names with a part beginning with '.'
    bool verbose = false;
    bool quiet = false;
    bool longList = false;
    bool json = false;
    bool nullEnded = false;
    std::string charset; // empty: names as stored
    int level = 6;       // zlib level for create
    bool store = false;
    bool dereference = false;
    bool foreground = false; // mount: serve in this process until unmounted
};

// Fills options from argv; returns -1 when the command is to run, or else the exit status the
// program ends with (0 after a help or version text, 2 after a usage error, already told).
int ParseOptions(int argc, char** argv, Options& options);
