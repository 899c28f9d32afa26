#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "platform/io/sha256.h"

namespace {

// The FIPS 180-2 examples: empty, one block, two blocks, and a million bytes fed in pieces.
TEST(Sha256, KnownDigests)
{
    EXPECT_EQ(Sha256::HexOf("", 0), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Sha256::HexOf("abc", 3), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    const std::string two = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    EXPECT_EQ(Sha256::HexOf(two.data(), two.size()),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    Sha256 million;
    const std::string piece(5822, 'a');  // a frame's size: pieces that straddle the blocks
    std::size_t left = 1000000;
    for (; left >= piece.size(); left -= piece.size())
        million.add(piece.data(), piece.size());
    million.add(piece.data(), left);
    EXPECT_EQ(million.hex(), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

// A digest read on the way does not end the hash; reset and a moved-from hash start afresh.
TEST(Sha256, DigestMidwayResetAndMove)
{
    Sha256 h;
    h.add("ab", 2);
    EXPECT_EQ(h.hex(), Sha256::HexOf("ab", 2));
    h.add("c", 1);
    EXPECT_EQ(h.hex(), Sha256::HexOf("abc", 3));
    EXPECT_EQ(h.hex(), Sha256::HexOf("abc", 3));  // asking twice changes nothing

    h.reset();
    EXPECT_EQ(h.hex(), Sha256::HexOf("", 0));

    h.add("abc", 3);
    Sha256 moved = std::move(h);
    EXPECT_EQ(moved.hex(), Sha256::HexOf("abc", 3));
    h.add("abc", 3);  // NOLINT(bugprone-use-after-move): a moved-from hash is usable again
    EXPECT_EQ(h.hex(), Sha256::HexOf("abc", 3));
}

}  // namespace
