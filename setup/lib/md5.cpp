#include "md5.h"

#include <bit>
#include <cstring>

namespace qv {

namespace {

// Input words are little-endian: on such a machine a word is one plain load.
inline uint32_t word(const unsigned char* block, int index)
{
    const unsigned char* p = block + 4 * index;
    if constexpr (std::endian::native == std::endian::little) {
        uint32_t w;
        std::memcpy(&w, p, 4);
        return w;
    } else {
        return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    }
}

inline void put_word(unsigned char* out, uint32_t w)
{
    out[0] = static_cast<unsigned char>(w);
    out[1] = static_cast<unsigned char>(w >> 8);
    out[2] = static_cast<unsigned char>(w >> 16);
    out[3] = static_cast<unsigned char>(w >> 24);
}

// The four round functions; F and G in forms of one operation fewer than the RFC's, same values.
inline uint32_t F(uint32_t x, uint32_t y, uint32_t z) { return z ^ (x & (y ^ z)); }
inline uint32_t G(uint32_t x, uint32_t y, uint32_t z) { return y ^ (z & (x ^ y)); }
inline uint32_t H(uint32_t x, uint32_t y, uint32_t z) { return x ^ y ^ z; }
inline uint32_t I(uint32_t x, uint32_t y, uint32_t z) { return y ^ (x | ~z); }

// One operation: the message word arrives with its sine constant already added.
template <uint32_t (*Fn)(uint32_t, uint32_t, uint32_t), int Shift>
[[gnu::always_inline]] inline void step(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t input)
{
    a = b + std::rotl(a + Fn(b, c, d) + input, Shift);
}

// Written out in full: no loop or table lookups between the 64 operations.
void transform(uint32_t state[4], const unsigned char* block)
{
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];

    step<F, 7>(a, b, c, d, word(block, 0) + 0xd76aa478);
    step<F, 12>(d, a, b, c, word(block, 1) + 0xe8c7b756);
    step<F, 17>(c, d, a, b, word(block, 2) + 0x242070db);
    step<F, 22>(b, c, d, a, word(block, 3) + 0xc1bdceee);
    step<F, 7>(a, b, c, d, word(block, 4) + 0xf57c0faf);
    step<F, 12>(d, a, b, c, word(block, 5) + 0x4787c62a);
    step<F, 17>(c, d, a, b, word(block, 6) + 0xa8304613);
    step<F, 22>(b, c, d, a, word(block, 7) + 0xfd469501);
    step<F, 7>(a, b, c, d, word(block, 8) + 0x698098d8);
    step<F, 12>(d, a, b, c, word(block, 9) + 0x8b44f7af);
    step<F, 17>(c, d, a, b, word(block, 10) + 0xffff5bb1);
    step<F, 22>(b, c, d, a, word(block, 11) + 0x895cd7be);
    step<F, 7>(a, b, c, d, word(block, 12) + 0x6b901122);
    step<F, 12>(d, a, b, c, word(block, 13) + 0xfd987193);
    step<F, 17>(c, d, a, b, word(block, 14) + 0xa679438e);
    step<F, 22>(b, c, d, a, word(block, 15) + 0x49b40821);

    step<G, 5>(a, b, c, d, word(block, 1) + 0xf61e2562);
    step<G, 9>(d, a, b, c, word(block, 6) + 0xc040b340);
    step<G, 14>(c, d, a, b, word(block, 11) + 0x265e5a51);
    step<G, 20>(b, c, d, a, word(block, 0) + 0xe9b6c7aa);
    step<G, 5>(a, b, c, d, word(block, 5) + 0xd62f105d);
    step<G, 9>(d, a, b, c, word(block, 10) + 0x02441453);
    step<G, 14>(c, d, a, b, word(block, 15) + 0xd8a1e681);
    step<G, 20>(b, c, d, a, word(block, 4) + 0xe7d3fbc8);
    step<G, 5>(a, b, c, d, word(block, 9) + 0x21e1cde6);
    step<G, 9>(d, a, b, c, word(block, 14) + 0xc33707d6);
    step<G, 14>(c, d, a, b, word(block, 3) + 0xf4d50d87);
    step<G, 20>(b, c, d, a, word(block, 8) + 0x455a14ed);
    step<G, 5>(a, b, c, d, word(block, 13) + 0xa9e3e905);
    step<G, 9>(d, a, b, c, word(block, 2) + 0xfcefa3f8);
    step<G, 14>(c, d, a, b, word(block, 7) + 0x676f02d9);
    step<G, 20>(b, c, d, a, word(block, 12) + 0x8d2a4c8a);

    step<H, 4>(a, b, c, d, word(block, 5) + 0xfffa3942);
    step<H, 11>(d, a, b, c, word(block, 8) + 0x8771f681);
    step<H, 16>(c, d, a, b, word(block, 11) + 0x6d9d6122);
    step<H, 23>(b, c, d, a, word(block, 14) + 0xfde5380c);
    step<H, 4>(a, b, c, d, word(block, 1) + 0xa4beea44);
    step<H, 11>(d, a, b, c, word(block, 4) + 0x4bdecfa9);
    step<H, 16>(c, d, a, b, word(block, 7) + 0xf6bb4b60);
    step<H, 23>(b, c, d, a, word(block, 10) + 0xbebfbc70);
    step<H, 4>(a, b, c, d, word(block, 13) + 0x289b7ec6);
    step<H, 11>(d, a, b, c, word(block, 0) + 0xeaa127fa);
    step<H, 16>(c, d, a, b, word(block, 3) + 0xd4ef3085);
    step<H, 23>(b, c, d, a, word(block, 6) + 0x04881d05);
    step<H, 4>(a, b, c, d, word(block, 9) + 0xd9d4d039);
    step<H, 11>(d, a, b, c, word(block, 12) + 0xe6db99e5);
    step<H, 16>(c, d, a, b, word(block, 15) + 0x1fa27cf8);
    step<H, 23>(b, c, d, a, word(block, 2) + 0xc4ac5665);

    step<I, 6>(a, b, c, d, word(block, 0) + 0xf4292244);
    step<I, 10>(d, a, b, c, word(block, 7) + 0x432aff97);
    step<I, 15>(c, d, a, b, word(block, 14) + 0xab9423a7);
    step<I, 21>(b, c, d, a, word(block, 5) + 0xfc93a039);
    step<I, 6>(a, b, c, d, word(block, 12) + 0x655b59c3);
    step<I, 10>(d, a, b, c, word(block, 3) + 0x8f0ccc92);
    step<I, 15>(c, d, a, b, word(block, 10) + 0xffeff47d);
    step<I, 21>(b, c, d, a, word(block, 1) + 0x85845dd1);
    step<I, 6>(a, b, c, d, word(block, 8) + 0x6fa87e4f);
    step<I, 10>(d, a, b, c, word(block, 15) + 0xfe2ce6e0);
    step<I, 15>(c, d, a, b, word(block, 6) + 0xa3014314);
    step<I, 21>(b, c, d, a, word(block, 13) + 0x4e0811a1);
    step<I, 6>(a, b, c, d, word(block, 4) + 0xf7537e82);
    step<I, 10>(d, a, b, c, word(block, 11) + 0xbd3af235);
    step<I, 15>(c, d, a, b, word(block, 2) + 0x2ad7d2bb);
    step<I, 21>(b, c, d, a, word(block, 9) + 0xeb86d391);

    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

}  // namespace

void Md5Init(Md5Context& context)
{
    context.count[0] = context.count[1] = 0;
    context.state[0] = 0x67452301;
    context.state[1] = 0xefcdab89;
    context.state[2] = 0x98badcfe;
    context.state[3] = 0x10325476;
}

void Md5Update(Md5Context& context, const void* bytes, uint32_t count)
{
    if (count == 0) return;  // changes nothing, and bytes may then be null
    const unsigned char* input = static_cast<const unsigned char*>(bytes);
    uint32_t index = (context.count[0] >> 3) & 0x3f;
    // The bit count is 64 bits wide: count << 3 loses the top three bits of count, which
    // go into the high word with the carry of the low one.
    context.count[0] += count << 3;
    if (context.count[0] < (count << 3)) ++context.count[1];
    context.count[1] += count >> 29;

    const uint32_t part = 64 - index;
    uint32_t done = 0;
    if (count >= part) {
        std::memcpy(context.buffer + index, input, part);
        transform(context.state, context.buffer);
        done = part;
        for (; count - done >= 64; done += 64) transform(context.state, input + done);
        index = 0;
    }
    std::memcpy(context.buffer + index, input + done, count - done);
}

void Md5Final(unsigned char digest[16], Md5Context& context)
{
    unsigned char bits[8];
    put_word(bits, context.count[0]);
    put_word(bits + 4, context.count[1]);
    static const unsigned char padding[64] = {0x80};
    const uint32_t index = (context.count[0] >> 3) & 0x3f;
    Md5Update(context, padding, index < 56 ? 56 - index : 120 - index);
    Md5Update(context, bits, 8);
    for (int k = 0; k < 4; ++k) put_word(digest + 4 * k, context.state[k]);
    // The context may hold message bytes: nothing of it stays behind.
    std::memset(&context, 0, sizeof context);
}

}  // namespace qv
