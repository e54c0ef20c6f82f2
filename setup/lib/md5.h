// The MD5 message digest of RFC 1321, computed incrementally over a context record.
#pragma once

#include <cstdint>

namespace qv {

struct Md5Context {
    uint32_t state[4];
    uint32_t count[2];  // message bits, low word first
    unsigned char buffer[64];
};

void Md5Init(Md5Context& context);
void Md5Update(Md5Context& context, const void* bytes, uint32_t count);
// Writes the 16-byte digest, then wipes the context: initialise it again before reuse.
void Md5Final(unsigned char digest[16], Md5Context& context);

}  // namespace qv
