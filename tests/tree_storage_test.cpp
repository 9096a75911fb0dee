#include "toolkit/tree_storage.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using toolkit::storage::Blocks;
using toolkit::storage::KeyIndex;
using toolkit::storage::Texts;

TEST(TreeStorage, BlocksKeepWhatTheyHoldInPlaceAsTheyGrow)
{
    Blocks<int, 4> blocks; // 16 to a block
    blocks.push_back(7);
    const int *first = &blocks[0];
    for (int i = 1; i < 1000; ++i)
        blocks.push_back(i * 3);
    EXPECT_EQ(&blocks[0], first) << "nothing moved";
    ASSERT_EQ(blocks.size(), 1000u);
    EXPECT_EQ(blocks[0], 7);
    EXPECT_EQ(blocks[15], 45);
    EXPECT_EQ(blocks[16], 48);
    EXPECT_EQ(blocks[999], 2997);
    blocks.clear();
    EXPECT_TRUE(blocks.empty());
    EXPECT_EQ(blocks.bytes(), 0u);
}

TEST(TreeStorage, TextsReadBackWhateverWasReplacedAroundThem)
{
    Texts texts;
    const std::string big(3u << 20, 'x'); // more than a block: a block of its own
    std::vector<Texts::Place> spans{texts.append("one"), texts.append(big), texts.append("three"),
                                    texts.append(""), texts.append("€ ünïcode")};
    EXPECT_EQ(spans[3], Texts::kEmpty);
    spans[0] = texts.replace(spans[0], "on");                   // shorter, not last: in place
    spans[2] = texts.replace(spans[2], "three and more");       // last in its block: grows in place
    spans[3] = texts.replace(spans[3], "was empty");
    spans[1] = texts.replace(spans[1], big + "y");              // the long text typed into
    spans[4] = texts.replace(spans[4], "");
    EXPECT_EQ(texts.view(spans[0]), "on");
    EXPECT_EQ(texts.view(spans[1]), big + "y");
    EXPECT_EQ(texts.view(spans[2]), "three and more");
    EXPECT_EQ(texts.view(spans[3]), "was empty");
    EXPECT_EQ(texts.view(spans[4]), "");
}

TEST(TreeStorage, TextsOfEverySizeReplaceEachOtherWithoutTouchingTheirNeighbours)
{
    // Sizes on both sides of where the stored size takes another byte, and
    // one long enough for a block of its own.
    const std::size_t sizes[] = {1, 127, 128, 129, 16383, 16384, 300000, 0, 5};
    Texts texts;
    Texts::Place before = texts.append("before");
    Texts::Place middle = texts.append("x");
    Texts::Place after = texts.append("after");
    Texts::Place last = texts.append("y");
    for (const std::size_t from : sizes) {
        for (const std::size_t to : sizes) {
            const std::string a(from, 'a');
            const std::string b(to, static_cast<char>('b' + to % 7));
            middle = texts.replace(texts.replace(middle, a), b);
            last = texts.replace(texts.replace(last, a), b);
            ASSERT_EQ(texts.view(middle), b) << from << " to " << to;
            ASSERT_EQ(texts.view(last), b) << from << " to " << to;
            ASSERT_EQ(texts.view(before), "before");
            ASSERT_EQ(texts.view(after), "after");
        }
    }
}

TEST(TreeStorage, TypingIntoTextsDoesNotPileUpCopies)
{
    Texts texts;
    Texts::Place shortText = texts.append("a");
    Texts::Place longText = texts.append(std::string(2u << 20, 'b'));
    std::string typed = "a";
    std::string typedLong(2u << 20, 'b');
    for (int key = 0; key < 2000; ++key) {
        typed += 'k';
        typedLong += 'k';
        shortText = texts.replace(shortText, typed);
        longText = texts.replace(longText, typedLong);
    }
    EXPECT_EQ(texts.view(shortText), typed);
    EXPECT_EQ(texts.view(longText), typedLong);
    // One block of small texts and the long text's own, with room to spare.
    EXPECT_LE(texts.bytes(), (1u << 20) + (typedLong.size() + 5) * 5 / 4 + 1);
}

TEST(TreeStorage, KeyIndexFindsEveryKeyOfAnyPattern)
{
    struct Case {
        const char *name;
        std::uint64_t (*key)(int);
    };
    const Case cases[] = {
        {"consecutive numbers", [](int i) { return (std::uint64_t(i) << 16) | 'K'; }},
        {"two suffixes of each number", [](int i) { return (std::uint64_t(i / 2) << 16) | (i % 2 ? 'S' : 'K'); }},
        {"negative numbers", [](int i) { return (std::uint64_t(-i - 1) << 16) | 'K'; }},
        {"far apart", [](int i) { return (std::uint64_t(i) << 36) | 'K'; }},
        {"a far number before the near ones",
         [](int i) { return (std::uint64_t(i == 0 ? 60000 : i - 1) << 16) | 'K'; }},
        {"five suffixes", [](int i) { return (std::uint64_t(i / 5) << 16) | ('A' + i % 5); }},
    };
    for (const Case &c : cases) {
        std::vector<std::uint64_t> keys;
        auto keyOf = [&keys](int id) { return keys[static_cast<std::size_t>(id)]; };
        KeyIndex<decltype(keyOf)> index(keyOf);
        for (int i = 0; i < 50000; ++i) {
            keys.push_back(c.key(i));
            ASSERT_EQ(index.find(keys.back()), -1) << c.name << " " << i;
            index.insert(keys.back(), i);
        }
        for (int i = 0; i < 50000; i += 7)
            ASSERT_EQ(index.find(c.key(i)), i) << c.name;
        EXPECT_EQ(index.find((std::uint64_t(123456789) << 16) | 'Q'), -1) << c.name;
        EXPECT_LE(index.bytes(), 4u * 4 * 50000) << c.name << ": four bytes a key, at most a quarter used";
        index.clear();
        EXPECT_EQ(index.find(c.key(0)), -1) << c.name;
    }
}

} // namespace
