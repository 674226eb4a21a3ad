// vdat: the command-line companion of the extractor, for scripts, headless machines and
// archives too large to click through.
#include "Commands.h"
#include "Options.h"

int main(int argc, char** argv) {
    Options options;
    if (const int status = ParseOptions(argc, argv, options); status >= 0)
        return status;
    switch (options.command) {
    case Command::Info:
        return RunInfo(options);
    case Command::List:
        return RunList(options);
    case Command::Test:
        return RunTest(options);
    case Command::Extract:
        return RunExtract(options);
    case Command::Create:
        return RunCreate(options);
    case Command::Add:
        return RunAdd(options);
    case Command::Delete:
        return RunDelete(options);
    case Command::Rename:
        return RunRename(options);
    case Command::Compact:
        return RunCompact(options);
    }
    return kExitUsage;
}
