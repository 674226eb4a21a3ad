// vdat's parts in process: option parsing, NAME patterns and the escaping of names, each as a
// table. What needs a real process (exit status, signals, files, the terminal) is VdatTest's.
#include "Options.h"
#include "Selection.h"
#include "TerminalSinks.h"

#include <fnmatch.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Parses args as `vdat args...` would; the messages it prints are captured and returned.
int Parse(std::vector<std::string> args, Options& options, std::string* err = nullptr) {
    args.insert(args.begin(), "vdat");
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    const int status = ParseOptions(int(args.size()), argv.data(), options);
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_EQ(out, "");
    if (err)
        *err = printed;
    return status;
}

std::string Shown(const std::vector<std::string>& args) {
    std::string shown;
    for (const std::string& a : args)
        shown += a + " ";
    return shown;
}

// The GNU forms: options before or after the archive, attached or apart, `--` ending them.
TEST(VdatOptions, EveryFormGivesTheSameOptions) {
    struct Row {
        std::vector<std::string> args;
        std::string directory;
        unsigned jobs;
    };
    const std::vector<Row> rows = {
        {{"extract", "a.dat", "-C", "out"}, "out", 0},
        {{"extract", "-Cout", "a.dat"}, "out", 0},
        {{"extract", "--directory=out", "a.dat"}, "out", 0},
        {{"extract", "--directory", "out", "-j2", "a.dat"}, "out", 2},
        {{"extract", "-j", "3", "a.dat", "--jobs=1", "-C", "out"}, "out", 1},
        {{"extract", "-C", "out", "--", "a.dat"}, "out", 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(Shown(row.args));
        Options options;
        EXPECT_EQ(Parse(row.args, options), -1);
        EXPECT_EQ(options.command, Command::Extract);
        EXPECT_EQ(options.archive, "a.dat");
        EXPECT_EQ(options.directory, row.directory);
        EXPECT_EQ(options.jobs, row.jobs);
        EXPECT_TRUE(options.operands.empty());
    }
    // After `--` an archive and names may start with '-'.
    Options options;
    EXPECT_EQ(
        Parse({"extract", "-k", "--hidden", "-x", "*.wav", "--", "-m.dat", "-top.txt"}, options),
        -1);
    EXPECT_EQ(options.archive, "-m.dat");
    EXPECT_EQ(options.operands, std::vector<std::string>{"-top.txt"});
    EXPECT_EQ(options.excludes, std::vector<std::string>{"*.wav"});
    EXPECT_TRUE(options.keepOld && options.hidden);

    // The changes take create's options where they share them, and --no-wait.
    Options add;
    EXPECT_EQ(Parse({"add", "-9", "--no-wait", "a.dat", "x", "-Csrc", "--store", "-h"}, add), -1);
    EXPECT_EQ(add.command, Command::Add);
    EXPECT_EQ(add.operands, std::vector<std::string>{"x"});
    EXPECT_EQ(add.directory, "src");
    EXPECT_TRUE(add.level == 9 && add.noWait && add.store && add.dereference);
    Options rename;
    EXPECT_EQ(Parse({"rename", "a.dat", "--", "-old", "new"}, rename), -1);
    EXPECT_EQ(rename.operands, (std::vector<std::string>{"-old", "new"}));
    Options info;
    EXPECT_EQ(Parse({"info", "--long", "a.dat"}, info), -1);
    EXPECT_TRUE(info.longList);
}

// Usage errors: status 2, a message on stderr and nothing on stdout (Parse checks that); an
// unknown option or a missing value is named.
TEST(VdatOptions, UsageErrorsAreTold) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> named = {
        {{"extract", "a.dat", "-Z"}, "vdat: unknown option '-Z'\nTry 'vdat extract --help'.\n"},
        {{"list", "--bogus=1", "a.dat"},
         "vdat: unknown option '--bogus=1'\nTry 'vdat list --help'.\n"},
        {{"info", "--exclude=x", "a.dat"},
         "vdat: unknown option '--exclude'\nTry 'vdat info --help'.\n"},
        {{"extract", "a.dat", "--directory"},
         "vdat: option '--directory' needs a value\nTry 'vdat extract --help'.\n"},
    };
    for (const auto& [args, message] : named) {
        SCOPED_TRACE(Shown(args));
        Options options;
        std::string err;
        EXPECT_EQ(Parse(args, options, &err), 2);
        EXPECT_EQ(err, message);
    }
    const std::vector<std::vector<std::string>> rows = {
        {},
        {"bogus"},
        {"info"},
        {"list"},
        {"test"},
        {"info", "a.dat", "a.dat"},
        {"extract"},
        {"extract", "a.dat", "-C"},
        {"extract", "a.dat", "-x"},
        {"extract", "-C", "out"},
        {"extract", "a.dat", "-j", "0"},
        {"--nonsense"},
        {"info", "--nonsense", "a.dat"},
        {"list", "-h", "a.dat"},
        {"list", "-C", "x", "a.dat"},
        {"list", "--json", "-l", "a.dat"},
        {"list", "--charset", "a.dat"},
        {"test", "-k", "a.dat"},
        {"test", "--hidden", "a.dat"},
        {"extract", "a.dat", "--jobs"},
        {"extract", "a.dat", "--jobs=x"},
        {"extract", "a.dat", "-j300"},
        {"extract", "a.dat", "--store"},
        {"create", "-O", "new.dat"},
        {"create", "-0", "new.dat"},
        {"create", "--hidden", "new.dat"},
        {"create"},
        {"create", "--no-wait", "new.dat"},
        {"info", "--json", "a.dat"},
        {"add", "a.dat"},
        {"add", "-x", "y", "a.dat", "z"},
        {"delete", "a.dat"},
        {"delete", "-C", "d", "a.dat", "x"},
        {"rename", "a.dat", "old"},
        {"rename", "a.dat", "old", "new", "more"},
        {"compact", "a.dat", "x"},
        {"compact", "-9", "a.dat"},
        {"mount", "a.dat"},
        {"mount", "a.dat", "m", "n"},
        {"mount", "-C", "x", "a.dat", "m"},
        {"extract", "-f", "a.dat"},
    };
    for (const auto& args : rows) {
        SCOPED_TRACE(Shown(args));
        Options options;
        std::string err;
        EXPECT_EQ(Parse(args, options, &err), 2);
        EXPECT_NE(err, "");
    }
}

// NAME patterns against the whole stored name, '/' and '\' alike, a folder's name selecting
// what is under it, and --exclude taking entries out again.
TEST(VdatPatterns, ChooseTheEntriesAsDocumented) {
    const std::vector<std::string_view> names = {"textures\\walls\\stone.pcx", "textures\\sky.tga",
                                                 "top.txt"};
    struct Row {
        std::vector<std::string> patterns, excludes;
        std::vector<std::uint32_t> chosen;
    };
    const std::vector<Row> rows = {
        {{"*.tga"}, {}, {1}},        {{"textures"}, {}, {0, 1}},
        {{"textures/"}, {}, {0, 1}}, {{"textures\\w*"}, {}, {0}},
        {{"*/walls"}, {}, {0}},      {{"t?p.txt", "*.pcx"}, {}, {0, 2}},
        {{"[st]*"}, {}, {0, 1, 2}},  {{}, {"*.pcx"}, {1, 2}},
        {{}, {"textures"}, {2}},     {{"textures"}, {"*walls*", "nothing"}, {1}},
        {{"text"}, {}, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(Shown(row.patterns) + "-x " + Shown(row.excludes));
        std::vector<NamePattern> patterns, excludes;
        for (const std::string& p : row.patterns)
            patterns.emplace_back(p);
        for (const std::string& x : row.excludes)
            excludes.emplace_back(x);
        std::vector<bool> matched;
        EXPECT_EQ(SelectNames(names, patterns, excludes, matched), row.chosen);
        EXPECT_EQ(matched.size(), patterns.size());
    }
}

// The matcher is fnmatch's rules in the C locale (no FNM_PATHNAME, no escapes), byte for byte:
// every pattern here against every name gives what fnmatch gives.
TEST(VdatPatterns, MatchAsFnmatchDoesInTheCLocale) {
    // Names as matched: '\\' already read as '/'.
    const char* patterns[] = {"*",
                              "?",
                              "a*b",
                              "*a*b*c",
                              "[abc]*",
                              "[!abc]*",
                              "[^a-c]?",
                              "[]a]*",
                              "[!]]*",
                              "[a-]*",
                              "*[-z]",
                              "[z-a]*",
                              "[[:digit:]]*",
                              "*[[:upper:][:punct:]]*",
                              "[[:alpha:]",
                              "[",
                              "a[",
                              "*[.x.]*",
                              "[[=b=]]*",
                              "*\xe9*",
                              "[\xe0-\xff]*",
                              "**?*",
                              "*.pcx",
                              "e?m1*",
                              "*/x",
                              "[%--]*",
                              "[[:space:][:cntrl:]]*",
                              "[[:xdigit:]][[:lower:]]*",
                              "[[:nosuch:]a]*"};
    const char* names[] = {"",    "a",  "ab",    "axxb",    "abc",      "aXbYc",
                           "]x",  "-",  "z",     "zz",      "9lives",   "A.b",
                           "[",   "a[", "x",     "caf\xe9", "\xf0\xff", "e1m1.bsp",
                           "a/x", "%",  "b.pcx", " \t",     "fa",       "a b/c.pcx"};
    for (const char* pattern : patterns) {
        const NamePattern matcher(pattern);
        std::string whole = pattern;
        for (const char* name : names) {
            SCOPED_TRACE(std::string(pattern) + " vs " + name);
            const bool expected = whole == name ||
                                  fnmatch(whole.c_str(), name, FNM_NOESCAPE) == 0 ||
                                  fnmatch((whole + "/*").c_str(), name, FNM_NOESCAPE) == 0;
            EXPECT_EQ(matcher.Selects(std::string(name)), expected);
        }
    }
}

// What reaches the terminal: controls and bidi overrides as \xHH, byte by byte; the stored
// bytes 0x80-0x9F too, since an 8-bit terminal reads them as controls.
TEST(VdatEscaping, NoNameCanDriveTheTerminal) {
    struct Row {
        bool utf8; // names read in a code page (--charset)
        std::string name, shown;
    };
    const std::vector<Row> rows = {
        {false, "x\ty\x01\x1b[2J\x7f.wav", "x\\x09y\\x01\\x1b[2J\\x7f.wav"},
        {false, "caf\xe9.mp3", "caf\xe9.mp3"},
        {false, "csi\x9b[2J.wav", "csi\\x9b[2J.wav"},
        {false, "c1\xc2\x9b[2J.wav", "c1\\xc2\\x9b[2J.wav"},
        {false, "rlo\xe2\x80\xaevaw.mp3", "rlo\\xe2\\x80\\xaevaw.mp3"},
        {false, "lri\xe2\x81\xa6x.pcx", "lri\\xe2\\x81\\xa6x.pcx"},
        {false, "u\xc3\x9b.pcx", "u\xc3\\x9b.pcx"},
        {true, "u\xc3\x9b.pcx", "u\xc3\x9b.pcx"},
        {true, "csi\xc2\x9b[2J caf\xc3\xa9.wav", "csi\\xc2\\x9b[2J caf\xc3\xa9.wav"},
        {true, "rlo\xe2\x80\xae.mp3 \xe2\x80\xb9", "rlo\\xe2\\x80\\xae.mp3 \xe2\x80\xb9"},
        {true, "bad\x81.txt", "bad\\x81.txt"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.shown);
        SetNamesInUtf8(row.utf8);
        EXPECT_EQ(EscapedName(row.name), row.shown);
    }
    SetNamesInUtf8(false);
}

} // namespace
