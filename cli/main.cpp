// vdat: the command-line companion of the extractor, for scripts, headless machines and
// archives too large to click through.
#include "Commands.h"
#include "Version.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {
const char kUsage[] = R"(Usage:
  vdat info ARCHIVE                    show the archive's header values
  vdat list ARCHIVE                    one line per entry: NAME<TAB>PACKED [REAL]<TAB>TYPE
  vdat extract ARCHIVE [-C DIR] [-j N] [NAME...]
                                       write all entries (or those named) beneath DIR
                                       (default: the current folder), N at a time
  vdat test ARCHIVE                    read and inflate every entry without writing
  vdat --help | --version

Names are matched as stored; '/' may be used for '\'.

Exit status:
  0  all done
  1  the archive could not be opened or is cut short, or an entry was refused, damaged
     or not written, or a NAME matched no entry
  2  usage error
)";

int UsageError(const char* what) {
    std::fprintf(stderr, "vdat: %s\nTry 'vdat --help'.\n", what);
    return kExitUsage;
}
} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty())
        return UsageError("no command given");
    const std::string& command = args[0];
    if (command == "--help" || command == "-h") {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    if (command == "--version") {
        std::printf("vdat %s\n", kVdatVersion);
        return kExitOk;
    }

    if (command == "info" || command == "list" || command == "test") {
        if (args.size() != 2)
            return UsageError(("'" + command + "' takes exactly one ARCHIVE").c_str());
        if (args[1].size() > 1 && args[1][0] == '-') // an archive named so can be given as ./-x
            return UsageError(("unknown option " + args[1]).c_str());
        if (command == "info")
            return RunInfo(args[1]);
        if (command == "list")
            return RunList(args[1]);
        return RunTest(args[1]);
    }

    if (command == "extract") {
        ExtractOptions options;
        bool optionsDone = false;
        for (std::size_t i = 1; i < args.size(); ++i) {
            const std::string& a = args[i];
            if (!optionsDone && a == "--") {
                optionsDone = true;
            } else if (!optionsDone && (a == "-C" || a == "-j")) {
                if (i + 1 >= args.size())
                    return UsageError((a + " needs a value").c_str());
                const std::string& value = args[++i];
                if (a == "-C") {
                    options.destination = value;
                } else {
                    char* end = nullptr;
                    long n = std::strtol(value.c_str(), &end, 10);
                    if (value.empty() || *end != '\0' || n < 1 || n > 256)
                        return UsageError("-j needs a number from 1 to 256");
                    options.jobs = unsigned(n);
                }
            } else if (!optionsDone && a.size() > 1 && a[0] == '-') {
                return UsageError(("unknown option " + a).c_str());
            } else if (options.archive.empty()) {
                options.archive = a;
            } else {
                options.names.push_back(a);
            }
        }
        if (options.archive.empty())
            return UsageError("'extract' needs an ARCHIVE");
        return RunExtract(options);
    }
    return UsageError(("unknown command '" + command + "'").c_str());
}
