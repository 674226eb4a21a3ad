// PackedTexts: a row's texts in one block must behave like an array of byte strings.
#include "PackedTexts.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> contents(const PackedTexts& texts) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < texts.size(); ++i)
        out.emplace_back(texts[i]);
    return out;
}

using Strings = std::vector<std::string>;

TEST(PackedTexts, StartsWithTheLabelAndEmptyTexts) {
    EXPECT_EQ(contents(PackedTexts(3, "label")), (Strings{"label", "", ""}));
    EXPECT_EQ(contents(PackedTexts(0, "x")), (Strings{"x"})); // a label always has a place
    EXPECT_EQ(PackedTexts().size(), 0u);
    EXPECT_EQ(PackedTexts(2, "a")[7], ""); // past the end reads empty
}

TEST(PackedTexts, SetInsertResizeKeepTheOtherTexts) {
    PackedTexts texts(3, "first");
    texts.set(1, "second");
    texts.set(2, "third");
    texts.set(1, "2"); // shorter, in the middle
    EXPECT_EQ(contents(texts), (Strings{"first", "2", "third"}));
    texts.set(4, "grown");
    EXPECT_EQ(contents(texts), (Strings{"first", "2", "third", "", "grown"}));
    texts.insert(0, "new0");
    texts.insert(99, "last"); // clamped to the end
    EXPECT_EQ(contents(texts), (Strings{"new0", "first", "2", "third", "", "grown", "last"}));
    texts.resize(2);
    EXPECT_EQ(contents(texts), (Strings{"new0", "first"}));
    // A text taken from the block itself survives the block being rebuilt.
    texts.set(1, texts[0]);
    EXPECT_EQ(contents(texts), (Strings{"new0", "new0"}));
    texts.clear();
    EXPECT_EQ(texts.size(), 0u);
}

TEST(PackedTexts, HoldsAnyBytesAndCopiesDeeply) {
    const std::string raw("a\0b\xff\xe9", 5);
    PackedTexts original(2, raw);
    PackedTexts copy = original;
    copy.set(0, "changed");
    EXPECT_EQ(std::string(original[0]), raw);
    EXPECT_EQ(copy[0], "changed");
    PackedTexts moved = std::move(copy);
    EXPECT_EQ(moved[0], "changed");
    copy = original; // a moved-from value can be assigned again
    EXPECT_EQ(std::string(copy[0]), raw);
    EXPECT_GT(original.blockBytes(), raw.size());
}

} // namespace
