// The bundled sample archive: it must be exactly what its recipe makes today, and it must show
// what it is there to show (every file type, stored and packed entries, nested folders).
#include "Process.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <set>

namespace {

TEST(SampleArchive, MatchesItsRecipeByteForByte) {
    TempDir dir;
    const std::string fresh = dir / "sample.dat";
    const ProcessResult r = RunProcess({MAKE_SAMPLE_BINARY, fresh});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string made = ReadFile(fresh);
    const std::string bundled = ReadFile(VDAT_SAMPLE_ARCHIVE);
    if (made != bundled) {
        std::size_t at = 0;
        while (at < made.size() && at < bundled.size() && made[at] == bundled[at])
            ++at;
        FAIL() << "examples/sample.dat differs from what make_sample writes now (sizes "
               << bundled.size() << " and " << made.size() << ", first difference at byte " << at
               << "); regenerate it with make_sample";
    }
}

TEST(SampleArchive, ShowsEveryFileTypeAndExtractsCleanly) {
    const ProcessResult list = RunProcess({VDAT_BINARY, "list", VDAT_SAMPLE_ARCHIVE});
    ASSERT_EQ(list.exitCode, 0) << list.err;
    std::set<std::string> types;
    bool stored = false, packed = false, nested = false;
    std::size_t start = 0;
    while (start < list.out.size()) {
        const std::size_t end = list.out.find('\n', start);
        const std::string line = list.out.substr(start, end - start);
        start = end + 1;
        const std::size_t tab1 = line.find('\t'), tab2 = line.rfind('\t');
        ASSERT_NE(tab1, tab2) << line;
        types.insert(line.substr(tab2 + 1));
        const std::string sizes = line.substr(tab1 + 1, tab2 - tab1 - 1);
        (sizes.rfind("0 [", 0) == 0 ? stored : packed) = true;
        nested = nested || std::count(line.begin(), line.begin() + tab1, '\\') >= 2;
    }
    EXPECT_EQ(types, (std::set<std::string>{"mp3", "gdb", "pcx", "tga", "png", "bmp", "wav", "bsp",
                                            "mdl", "txt", "unk", "apd"}));
    EXPECT_TRUE(stored && packed && nested);

    const ProcessResult test = RunProcess({VDAT_BINARY, "test", VDAT_SAMPLE_ARCHIVE});
    EXPECT_EQ(test.exitCode, 0) << test.err;
}

} // namespace
