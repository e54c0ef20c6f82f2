#include "md5.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using bytes = std::vector<unsigned char>;

std::string hex(const unsigned char digest[16])
{
    std::string out;
    char two[3];
    for (int k = 0; k < 16; ++k) {
        std::snprintf(two, sizeof two, "%02x", digest[k]);
        out += two;
    }
    return out;
}

std::string digest_of(const void* data, uint32_t size)
{
    qv::Md5Context context;
    qv::Md5Init(context);
    qv::Md5Update(context, data, size);
    unsigned char digest[16];
    qv::Md5Final(digest, context);
    return hex(digest);
}

std::string digest_of(const bytes& data) { return digest_of(data.data(), static_cast<uint32_t>(data.size())); }

bytes random_bytes(size_t size, uint32_t seed)
{
    std::mt19937 random(seed);
    bytes out(size);
    for (unsigned char& b : out) b = static_cast<unsigned char>(random());
    return out;
}

// The padding as RFC 1321 defines it on the whole message: one 0x80 byte, zero bytes up to
// 56 modulo 64, then the 64-bit bit count least significant byte first.
bytes padding_for(uint64_t message_bytes, uint64_t bit_count)
{
    bytes out{0x80};
    while ((message_bytes + out.size()) % 64 != 56) out.push_back(0);
    for (int k = 0; k < 8; ++k) out.push_back(static_cast<unsigned char>(bit_count >> (8 * k)));
    return out;
}

// The state read as the digest, without Md5Final: right once the padding went in by hand.
std::string state_digest(const qv::Md5Context& context)
{
    EXPECT_EQ(context.count[0] & 0x1ff, 0u) << "the padding ends a block";
    unsigned char digest[16];
    for (int k = 0; k < 16; ++k) digest[k] = static_cast<unsigned char>(context.state[k / 4] >> (8 * (k % 4)));
    return hex(digest);
}

std::string digest_of_padded(const bytes& padded)
{
    qv::Md5Context context;
    qv::Md5Init(context);
    qv::Md5Update(context, padded.data(), static_cast<uint32_t>(padded.size()));
    return state_digest(context);
}

TEST(md5, GivesTheDigestsOfTheRfcTestSuite)
{
    struct Case {
        const char* message;
        const char* digest;
    };
    const Case cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        EXPECT_EQ(digest_of(c.message, static_cast<uint32_t>(std::strlen(c.message))), c.digest);
    }
}

// Every length around the block and padding boundaries: 55 bytes still take their count in
// the same block, 56 need a second one.
TEST(md5, PadsEveryLengthAsTheWholeMessageDefinitionDoes)
{
    const bytes data = random_bytes(200, 1321);
    for (size_t length = 0; length <= data.size(); ++length) {
        SCOPED_TRACE(length);
        const bytes message(data.begin(), data.begin() + length);
        bytes padded = message;
        const bytes padding = padding_for(length, uint64_t(length) * 8);
        padded.insert(padded.end(), padding.begin(), padding.end());
        EXPECT_EQ(digest_of(message), digest_of_padded(padded));
    }
}

TEST(md5, GivesOneDigestForAnySplitOfTheMessage)
{
    const bytes message = random_bytes(5000, 7);
    const std::string whole = digest_of(message);

    // Two pieces, cut at every point of the first blocks.
    for (uint32_t cut = 0; cut <= 200; ++cut) {
        SCOPED_TRACE(cut);
        qv::Md5Context context;
        qv::Md5Init(context);
        qv::Md5Update(context, message.data(), cut);
        qv::Md5Update(context, message.data() + cut, static_cast<uint32_t>(message.size()) - cut);
        unsigned char digest[16];
        qv::Md5Final(digest, context);
        EXPECT_EQ(hex(digest), whole);
    }

    // Many pieces: sizes drawn from the ones next to the block edges, or anything up to 300.
    const uint32_t edges[] = {0, 1, 54, 55, 56, 57, 63, 64, 65, 127, 128, 129};
    for (uint32_t seed = 1; seed <= 50; ++seed) {
        SCOPED_TRACE(seed);
        std::mt19937 random(seed);
        qv::Md5Context context;
        qv::Md5Init(context);
        qv::Md5Update(context, nullptr, 0);
        size_t done = 0;
        while (done < message.size()) {
            uint32_t size = random() % 2 ? edges[random() % std::size(edges)] : random() % 301;
            size = static_cast<uint32_t>(std::min<size_t>(size, message.size() - done));
            qv::Md5Update(context, message.data() + done, size);
            done += size;
        }
        unsigned char digest[16];
        qv::Md5Final(digest, context);
        EXPECT_EQ(hex(digest), whole);
    }
}

// A context whose count is moved up to just below 2^32 bits, keeping its position in the
// block: the count bytes that Md5Final appends must then carry the overflow in their high
// word, as the padding of a message of that length would.
TEST(md5, CarriesTheBitCountIntoTheHighWord)
{
    struct Case {
        const char* name;
        uint32_t buffered;  // bytes in the buffer before the count is moved
        uint32_t base;      // whole blocks of bits added to the low word
        uint32_t high;
        uint32_t more;      // bytes added after the count is moved
    };
    const Case cases[] = {
        {"low word ends exactly at 0", 63, 0xFFFFFE00, 0, 1},
        {"overflow across two blocks", 0, 0xFFFFFE00, 0, 128},
        {"overflow from the middle of a block", 20, 0xFFFFFC00, 0, 300},
        {"high word already counting", 5, 0xFFFFFE00, 7, 100},
        {"one byte short of the overflow", 0, 0xFFFFFE00, 0, 63},
    };
    const bytes data = random_bytes(400, 29);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        qv::Md5Context context;
        qv::Md5Init(context);
        qv::Md5Update(context, data.data(), c.buffered);
        context.count[0] += c.base;
        context.count[1] = c.high;
        const uint32_t low = context.count[0];
        qv::Md5Update(context, data.data() + c.buffered, c.more);

        const uint64_t bits = (uint64_t(c.high) << 32 | low) + uint64_t(c.more) * 8;
        EXPECT_EQ(context.count[0], static_cast<uint32_t>(bits));
        EXPECT_EQ(context.count[1], static_cast<uint32_t>(bits >> 32));

        const uint32_t length = c.buffered + c.more;
        bytes padded(data.begin(), data.begin() + length);
        const bytes padding = padding_for(length, bits);
        padded.insert(padded.end(), padding.begin(), padding.end());
        unsigned char digest[16];
        qv::Md5Final(digest, context);
        EXPECT_EQ(hex(digest), digest_of_padded(padded));
    }
}

// One call of 2^29 bytes or more: the top bits of its byte count reach the high word by the
// shift, not by the carry.
TEST(md5, CountsOneCallOfMoreThanTwoToTheTwentyNineBytes)
{
    const uint32_t size = (1u << 29) + 24;
    // Committed pages read as zero bytes and cost no memory until written.
    void* zeros = VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READONLY);
    // A 32-bit process may lack that much address space in one piece: no fault of the digest.
    if (!zeros) GTEST_SKIP() << "no 512 MiB of address space in one piece: " << GetLastError();
    qv::Md5Context context;
    qv::Md5Init(context);
    qv::Md5Update(context, zeros, size);
    VirtualFree(zeros, 0, MEM_RELEASE);

    const uint64_t bits = uint64_t(size) * 8;
    EXPECT_EQ(context.count[0], static_cast<uint32_t>(bits));
    EXPECT_EQ(context.count[1], static_cast<uint32_t>(bits >> 32));

    qv::Md5Context by_hand = context;
    const bytes padding = padding_for(size, bits);
    qv::Md5Update(by_hand, padding.data(), static_cast<uint32_t>(padding.size()));
    unsigned char digest[16];
    qv::Md5Final(digest, context);
    EXPECT_EQ(hex(digest), state_digest(by_hand));
}

TEST(md5, FinalLeavesTheContextAllZeroAndInitMakesItUsableAgain)
{
    const bytes message = random_bytes(300, 3);
    const unsigned char zero[sizeof(qv::Md5Context)] = {};
    for (uint32_t length : {0u, 5u, 64u, 119u, 300u}) {
        SCOPED_TRACE(length);
        auto digest_in = [&](qv::Md5Context& context, unsigned char digest[16]) {
            qv::Md5Init(context);
            qv::Md5Update(context, message.data(), length);
            context.count[1] = 0x5A5A5A5A;
            qv::Md5Final(digest, context);
        };
        qv::Md5Context context;
        std::memset(&context, 0xA5, sizeof context);
        unsigned char digest[16], again[16];
        digest_in(context, digest);
        EXPECT_EQ(std::memcmp(&context, zero, sizeof context), 0);
        digest_in(context, again);
        EXPECT_EQ(hex(again), hex(digest));
    }
}

}  // namespace
