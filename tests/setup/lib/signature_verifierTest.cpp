#include "signature_verifier.h"

#include "SigningSupport.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(SignatureVerifier, LoadsTheBlockOfASignedFile)
{
    const bytes file = read_back(signing_fixture(L"signer_alone.dat"));
    DWORD blockOffset;
    std::memcpy(&blockOffset, file.data() + 20, 4);
    qv::signature_verifier verifier;
    ASSERT_TRUE(verifier.load_signature_block(file.data() + blockOffset, file.size() - blockOffset)) << std::hex << verifier.last_error();
    ASSERT_TRUE(verifier.hash_data(file.data(), blockOffset)) << std::hex << verifier.last_error();
    EXPECT_TRUE(verifier.verify()) << std::hex << verifier.last_error();
}

}  // namespace
