// vdat: the command-line companion of the extractor, for scripts, headless machines and
// archives too large to click through.
#include "Commands.h"
#include "Options.h"

int main(int argc, char** argv) {
    Options options;
    if (const int status = ParseOptions(argc, argv, options); status >= 0)
        return status;
    return RunCommand(options);
}
