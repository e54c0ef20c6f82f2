#include "signed_data_file.h"

#include "SigningSupport.h"
#include "ScratchFolder.h"
#include "file_system.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr DWORD not_signed = qv::signed_file_not_signed;
constexpr DWORD bad_chain = qv::signed_file_bad_chain;
constexpr DWORD bad_signature = qv::signed_file_bad_signature;

std::string narrow(const zString& text)
{
    return text.narrow();
}

void put32(bytes& file, size_t at, DWORD value)
{
    std::memcpy(file.data() + at, &value, sizeof value);
}

DWORD get32(const bytes& file, size_t at)
{
    DWORD value;
    std::memcpy(&value, file.data() + at, sizeof value);
    return value;
}

// The outcome of VerifySignedFile on bytes written to a file of the case's own.
struct outcome {
    bool ok;
    DWORD code;
    bool is_signed;
};

outcome verify_bytes(const scratch_folder& folder, const bytes& content, const qv::chain_stores* stores)
{
    const std::wstring path = folder.write(L"data.dat", content);
    qv::SignedFileResult result;
    const bool ok = qv::VerifySignedFile(path.c_str(), &result, stores);
    return {ok, result.result, result.is_signed};
}

TEST(SignedFileVerify, FilesOfEachSignerAsTable)
{
    const empty_trusted_signers trust;
    const test_chain_stores test;
    struct Row {
        const wchar_t* file;
        bool system_stores;
        bool ok;
        DWORD code;
        bool is_signed;
        const char* subject;
        const char* issuer;
    } rows[] = {
        {L"signer.dat", false, true, 0, true, "Corvane Test Signer", "Corvane Test Intermediate"},
        // The intermediate comes from "CA" when the file does not carry it.
        {L"signer_alone.dat", false, true, 0, true, "Corvane Test Signer", "Corvane Test Intermediate"},
        {L"ou_signer.dat", false, true, 0, true, "Corvane Lab Signing", "Corvane Test Intermediate"},
        // No common name: the organisation's value, line break and all, is the name.
        {L"crlf_signer.dat", false, true, 0, true, "Evil\r\n2.5.4.3=Trusted Corp", "Corvane Test Intermediate"},
        {L"self_signed.dat", false, true, 0, true, "Corvane Self Signer", "Corvane Self Signer"},
        {L"forged.dat", false, true, 0, true, "Corvane Self Signer", "Corvane Self Signer"},
        {L"expired_self.dat", false, false, bad_chain, true, "", ""},
        {L"expired_root_signer.dat", false, false, bad_chain, true, "", ""},
        {L"embedded_root_signer.dat", false, false, bad_chain, true, "", ""},
        {L"cycle_signer.dat", false, false, bad_chain, true, "", ""},
        {L"unsigned.dat", false, false, not_signed, false, "", ""},
        {L"no_such_file.dat", false, false, ERROR_FILE_NOT_FOUND, false, "", ""},
        // The machine's own roots know nothing of the tests' root.
        {L"signer.dat", true, false, bad_chain, true, "", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << std::string(row.file, row.file + wcslen(row.file))
                                        << (row.system_stores ? " (system stores)" : ""));
        qv::SignedFileResult result;
        qv::SetLastFileOpError(0);
        const bool ok =
            qv::VerifySignedFile(signing_fixture(row.file).c_str(), &result, row.system_stores ? nullptr : test.get());
        EXPECT_EQ(ok, row.ok);
        EXPECT_EQ(result.result, row.code);
        EXPECT_EQ(result.is_signed, row.is_signed);
        EXPECT_FALSE(result.trusted);
        EXPECT_EQ(narrow(result.subject), row.subject);
        EXPECT_EQ(narrow(result.issuer), row.issuer);
        if (!row.ok) { EXPECT_EQ(qv::LastFileOpError(), row.code); }
    }
    // Without a record of the caller's the answer is the same.
    EXPECT_TRUE(qv::VerifySignedFile(signing_fixture(L"signer.dat").c_str(), nullptr, test.get()));
    EXPECT_FALSE(qv::VerifySignedFile(signing_fixture(L"cycle_signer.dat").c_str(), nullptr, test.get()));
    EXPECT_EQ(qv::LastFileOpError(), bad_chain);
}

// One record checks file after file: each check starts from a fresh hash.
TEST(SignedFileVerify, OneRecordChecksSeveralFiles)
{
    const test_chain_stores test;
    qv::SignedFileResult result;
    for (const wchar_t* file : {L"signer.dat", L"ou_signer.dat", L"unsigned.dat", L"signer_alone.dat"}) {
        SCOPED_TRACE(testing::Message() << std::string(file, file + wcslen(file)));
        EXPECT_EQ(qv::VerifySignedFile(signing_fixture(file).c_str(), &result, test.get()),
                  std::wstring(file) != L"unsigned.dat");
    }
}

// Each byte of a signed file changed in turn: the file never verifies, and the code says
// where the change is.
TEST(SignedFileVerify, EveryChangedByteFails)
{
    const test_chain_stores test;
    const scratch_folder folder(L"signed_flips");
    const bytes original = read_back(signing_fixture(L"signer_alone.dat"));
    ASSERT_FALSE(original.empty());
    const size_t recordOffset = get32(original, 12), blockOffset = get32(original, 20);
    for (size_t at = 0; at < original.size(); ++at) {
        bytes changed = original;
        changed[at] ^= 0x20;
        const outcome got = verify_bytes(folder, changed, test.get());
        SCOPED_TRACE(testing::Message() << "byte " << at << " code 0x" << std::hex << got.code);
        EXPECT_FALSE(got.ok);
        const bool offsets = (at >= 12 && at < 24) || (at >= recordOffset + 24 && at < recordOffset + 28);
        if (at < 8) {
            EXPECT_EQ(got.code, static_cast<DWORD>(ERROR_INVALID_DATA));
        } else if (offsets) {
            EXPECT_TRUE(got.code == ERROR_INVALID_DATA || got.code == bad_signature);
        } else if (at < blockOffset + 4 + 256) {
            EXPECT_EQ(got.code, bad_signature);
        } else {
            // The certificate: its issuer's signature over it fails, or it no longer reads.
            EXPECT_TRUE(got.code == bad_signature || got.code == bad_chain);
        }
    }
}

TEST(SignedFileVerify, TruncationsAndBadOffsetsRefused)
{
    const test_chain_stores test;
    const scratch_folder folder(L"signed_cuts");
    const bytes original = read_back(signing_fixture(L"signer_alone.dat"));
    ASSERT_FALSE(original.empty());
    const size_t blockOffset = get32(original, 20);
    for (size_t size = 0; size < original.size(); ++size) {
        SCOPED_TRACE(testing::Message() << "cut to " << size);
        const outcome got = verify_bytes(folder, bytes(original.begin(), original.begin() + size), test.get());
        ASSERT_FALSE(got.ok);
        const DWORD expected = size < blockOffset ? ERROR_INVALID_DATA : size == blockOffset ? not_signed : bad_signature;
        EXPECT_EQ(got.code, expected);
    }

    const DWORD recordOffset = get32(original, 12), recordSize = get32(original, 16);
    struct Row {
        const char* name;
        size_t at;
        DWORD value;
        DWORD code;
        bool is_signed;
    } rows[] = {
        {"record offset inside the header", 12, 492, ERROR_INVALID_DATA, true},
        {"header extension of 513 bytes", 12, 493 + 513, ERROR_INVALID_DATA, true},
        {"record offset past the end", 12, 0xFFFFFF00u, ERROR_INVALID_DATA, true},
        {"record of 27 bytes", 16, 27, ERROR_INVALID_DATA, true},
        {"record past the block", 16, 0x7FFFFFFFu, ERROR_INVALID_DATA, true},
        // 32-bit arithmetic would wrap the record's end to a place inside the file.
        {"record size wrapping round 4 GiB", 16, 0u - recordOffset + 600, ERROR_INVALID_DATA, true},
        {"block past the end", 20, static_cast<DWORD>(original.size() + 1), ERROR_INVALID_DATA, true},
        {"block offset at its largest", 20, 0xFFFFFFFFu, ERROR_INVALID_DATA, true},
        {"block at the payload's start", 20, recordOffset + recordSize, ERROR_INVALID_DATA, true},
        {"payload past the block", recordOffset + 24, 0xFFFFFFFFu, ERROR_INVALID_DATA, true},
        {"payload one byte short", recordOffset + 24, get32(original, recordOffset + 24) - 1, ERROR_INVALID_DATA, true},
        {"another format version", 4, 0x040008FD, ERROR_INVALID_DATA, true},
        {"another magic", 0, 0x28635652, ERROR_INVALID_DATA, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        bytes changed = original;
        put32(changed, row.at, row.value);
        const outcome got = verify_bytes(folder, changed, test.get());
        EXPECT_FALSE(got.ok);
        EXPECT_EQ(got.code, row.code);
        EXPECT_EQ(got.is_signed, row.is_signed);
    }
}

TEST(SignedFileVerify, BlocksThatYieldNoSignerFailAtOnce)
{
    const test_chain_stores test;
    const scratch_folder folder(L"signed_blocks");
    const bytes original = read_back(signing_fixture(L"signer_alone.dat"));
    const size_t blockOffset = get32(original, 20);
    const bytes head(original.begin(), original.begin() + static_cast<std::ptrdiff_t>(blockOffset));
    const bytes signature(original.begin() + static_cast<std::ptrdiff_t>(blockOffset + 4),
                          original.begin() + static_cast<std::ptrdiff_t>(blockOffset + 4 + 256));
    const bytes store(original.begin() + static_cast<std::ptrdiff_t>(blockOffset + 4 + 256), original.end());
    const auto block = [&](DWORD length, const bytes& sig, const bytes& rest) {
        bytes out = head;
        out.resize(out.size() + 4);
        put32(out, blockOffset, length);
        out.insert(out.end(), sig.begin(), sig.end());
        out.insert(out.end(), rest.begin(), rest.end());
        return out;
    };
    bytes trailing = store;
    trailing.push_back(0);
    const bytes noEnd(store.begin(), store.end() - 12);
    // The certificate's signed part claims more than the certificate holds.
    bytes brokenInside = store;
    brokenInside[8 + 12 + 6] ^= 0x04;
    struct Row {
        const char* name;
        bytes file;
    } rows[] = {
        {"a length alone", block(256, {}, {})},
        {"a length of 0", block(0, signature, store)},
        {"a length past the block", block(0xFFFFFFFFu, signature, store)},
        {"no certificates", block(256, signature, {})},
        {"a store with a byte after its end", block(256, signature, trailing)},
        {"a store without its end", block(256, signature, noEnd)},
        {"a certificate that does not decode", block(256, signature, brokenInside)},
        {"the store in place of the signature", block(static_cast<DWORD>(store.size()), store, {})},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const outcome got = verify_bytes(folder, row.file, test.get());
        EXPECT_FALSE(got.ok);
        EXPECT_EQ(got.code, bad_signature);
        EXPECT_TRUE(got.is_signed);
    }
    EXPECT_TRUE(verify_bytes(folder, block(256, signature, store), test.get()).ok);
}

TEST(SignedFileTrust, OnlyTheCertificateTrustedIsTrusted)
{
    const empty_trusted_signers trust;
    const test_chain_stores test;
    const auto check = [&](const wchar_t* file) {
        qv::SignedFileResult result;
        EXPECT_TRUE(qv::VerifySignedFile(signing_fixture(file).c_str(), &result, test.get()));
        return result.trusted;
    };
    EXPECT_FALSE(check(L"self_signed.dat"));

    qv::SignedFileResult failed;
    EXPECT_FALSE(qv::VerifySignedFile(signing_fixture(L"cycle_signer.dat").c_str(), &failed, test.get()));
    EXPECT_FALSE(qv::TrustSigner(failed));

    qv::SignedFileResult self;
    ASSERT_TRUE(qv::VerifySignedFile(signing_fixture(L"self_signed.dat").c_str(), &self, test.get()));
    EXPECT_TRUE(qv::TrustSigner(self));
    EXPECT_TRUE(check(L"self_signed.dat"));
    // Trusting a signer already trusted is no failure.
    EXPECT_TRUE(qv::TrustSigner(self));
    EXPECT_TRUE(check(L"self_signed.dat"));
    // The same subject with another key is another signer.
    EXPECT_FALSE(check(L"forged.dat"));
    EXPECT_FALSE(check(L"signer.dat"));

    qv::SignedFileResult signer;
    ASSERT_TRUE(qv::VerifySignedFile(signing_fixture(L"signer.dat").c_str(), &signer, test.get()));
    EXPECT_TRUE(qv::TrustSigner(signer));
    EXPECT_TRUE(check(L"signer.dat"));
    EXPECT_TRUE(check(L"signer_alone.dat"));
    EXPECT_TRUE(check(L"self_signed.dat"));
    EXPECT_FALSE(check(L"ou_signer.dat"));
}

// The chain walk on its own: which stores hold what, with the time test on and off.
TEST(SignerChain, StoresAsTable)
{
    struct Row {
        const char* name;
        const wchar_t* signer;
        std::initializer_list<const wchar_t*> embedded;
        std::initializer_list<const wchar_t*> root;
        std::initializer_list<const wchar_t*> ca;
        bool time_test;
        int expected;
    } rows[] = {
        {"intermediate in CA", L"signer.cer", {L"signer.cer"}, {L"root.cer"}, {L"intermediate.cer"}, true, 0},
        {"intermediate in the file", L"signer.cer", {L"signer.cer", L"intermediate.cer"}, {L"root.cer"}, {}, true, 0},
        {"no intermediate", L"signer.cer", {L"signer.cer"}, {L"root.cer"}, {}, true, 2},
        {"an intermediate that leads to no root", L"signer.cer", {L"signer.cer"}, {}, {L"intermediate.cer"}, true, 2},
        {"the intermediate's name with another key", L"signer.cer", {L"signer.cer"}, {L"root.cer"},
         {L"impostor_intermediate.cer"}, true, 2},
        {"the impostor passed over for the real one", L"signer.cer", {L"signer.cer"}, {L"root.cer"},
         {L"impostor_intermediate.cer", L"intermediate.cer"}, true, 0},
        {"an impostor in the file", L"signer.cer", {L"signer.cer", L"impostor_intermediate.cer"}, {L"root.cer"}, {},
         true, 2},
        {"a self-signed signer", L"self_signed.cer", {L"self_signed.cer"}, {}, {}, true, 0},
        {"a self-signed signer out of its dates", L"expired_self.cer", {L"expired_self.cer"}, {}, {}, true, 1},
        {"the same without the time test", L"expired_self.cer", {L"expired_self.cer"}, {}, {}, false, 0},
        {"a root out of its dates", L"expired_root_signer.cer", {L"expired_root_signer.cer"}, {L"expired_root.cer"}, {},
         true, 1},
        {"the same without the time test", L"expired_root_signer.cer", {L"expired_root_signer.cer"},
         {L"expired_root.cer"}, {}, false, 0},
        {"a root out of its dates in CA", L"expired_root_signer.cer", {L"expired_root_signer.cer"}, {},
         {L"expired_root.cer"}, true, 1},
        {"a root out of its dates in the file", L"expired_root_signer.cer",
         {L"expired_root_signer.cer", L"expired_root.cer"}, {}, {}, true, 1},
        {"a root that came with the file", L"embedded_root_signer.cer",
         {L"embedded_root_signer.cer", L"embedded_root.cer"}, {L"root.cer"}, {L"intermediate.cer"}, true, 2},
        {"the same root in ROOT too", L"embedded_root_signer.cer", {L"embedded_root_signer.cer", L"embedded_root.cer"},
         {L"embedded_root.cer"}, {}, true, 0},
        {"a cycle of names", L"cycle_signer.cer", {L"cycle_signer.cer"}, {}, {}, true, 2},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const qv::cert_store embedded = store_of(row.embedded), root = store_of(row.root), ca = store_of(row.ca);
        const qv::chain_stores stores{root.get(), ca.get()};
        const qv::cert_context signer = load_certificate(row.signer);
        ASSERT_TRUE(signer);
        EXPECT_EQ(qv::CheckSignerChain(signer.get(), embedded.get(), row.time_test, &stores), row.expected);
    }
}

TEST(SignerChain, CycleAndEmbeddedRootFromTheirFiles)
{
    const qv::cert_store empty = qv::OpenMemoryCertStore();
    const qv::chain_stores stores{empty.get(), empty.get()};
    for (const wchar_t* chain : {L"cycle_signer_chain.p7b", L"embedded_root_signer_chain.p7b"}) {
        SCOPED_TRACE(testing::Message() << std::string(chain, chain + wcslen(chain)));
        const qv::cert_store file = qv::OpenCertificateFile(signing_fixture(chain).c_str());
        ASSERT_TRUE(file);
        const qv::cert_context signer = qv::PickSignerCertificate(file.get());
        ASSERT_TRUE(signer);
        EXPECT_EQ(qv::CheckSignerChain(signer.get(), file.get(), true, &stores), 2);
    }
}

TEST(SignerNames, DisplayNamesAsTable)
{
    const auto encoded = [](const wchar_t* x500) {
        DWORD size = 0;
        CertStrToNameW(X509_ASN_ENCODING, x500, CERT_X500_NAME_STR, nullptr, nullptr, &size, nullptr);
        bytes out(size);
        CertStrToNameW(X509_ASN_ENCODING, x500, CERT_X500_NAME_STR, nullptr, out.data(), &size, nullptr);
        out.resize(size);
        return out;
    };
    const std::wstring longName = L"CN=" + std::wstring(2000, L'n');
    struct Row {
        const char* name;
        std::wstring x500;
        std::string expected;
    } rows[] = {
        {"common name first", L"O=Corvane, OU=Lab, CN=Signer", "Signer"},
        {"organisational unit before organisation", L"O=Corvane, OU=Lab", "Lab"},
        {"organisation", L"C=DE, O=Corvane", "Corvane"},
        {"e-mail address", L"C=DE, E=lab@corvane.example", "lab@corvane.example"},
        {"none of them: the whole name", L"C=DE, L=Bonn", "2.5.4.6=DE\r\n2.5.4.7=Bonn"},
        {"the first common name of two", L"CN=First, CN=Second", "First"},
        {"cut to 1023 characters", longName, std::string(1023, 'n')},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        bytes name = encoded(row.x500.c_str());
        ASSERT_FALSE(name.empty());
        const CERT_NAME_BLOB blob{static_cast<DWORD>(name.size()), name.data()};
        EXPECT_EQ(narrow(qv::SignerDisplayName(blob)), row.expected);
    }
}

// A copy of a fixture in the case's folder, to be signed.
std::wstring copy_of(const scratch_folder& folder, const wchar_t* fixture, const wchar_t* name = L"data.dat")
{
    return folder.write(name, read_back(signing_fixture(fixture)));
}

TEST(SignDataFile, SignsToTheBytesOfAnIndependentSigner)
{
    const test_chain_stores test;
    const scratch_folder folder(L"sign_bytes");
    struct Row {
        const wchar_t* certificates;
        const wchar_t* same_as;
    } rows[] = {
        {L"signer.cer", L"signer_alone.dat"},
        {L"signer_chain.p7b", nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << std::string(row.certificates, row.certificates + wcslen(row.certificates)));
        const std::wstring data = copy_of(folder, L"unsigned.dat");
        ASSERT_EQ(qv::SignDataFile(data.c_str(), signing_fixture(row.certificates).c_str(),
                                   signing_fixture(L"signer.pfx").c_str(), signing_password, test.get()),
                  0);
        if (row.same_as) { EXPECT_EQ(read_back(data), read_back(signing_fixture(row.same_as))); }
        qv::SignedFileResult result;
        EXPECT_TRUE(qv::VerifySignedFile(data.c_str(), &result, test.get()));
        EXPECT_EQ(narrow(result.subject), "Corvane Test Signer");
        // Both certificates of the chain went into the block.
        EXPECT_EQ(qv::CertificateCount(result.verifier.store()), row.same_as ? 1u : 2u);
    }
}

// Every refusal leaves the data file as it was, and names the file at fault.
TEST(SignDataFile, RefusalsLeaveTheFileAsItWas)
{
    const test_chain_stores test;
    const scratch_folder folder(L"sign_refusals");
    const qv::cert_store emptyStore = qv::OpenMemoryCertStore();
    const qv::chain_stores noRoots{emptyStore.get(), emptyStore.get()};
    const std::wstring garbage = folder.write(L"garbage.cer", bytes(300, 0x5A));
    bytes notData = read_back(signing_fixture(L"unsigned.dat"));
    notData[0] = 'X';
    const std::wstring notDataFile = folder.write(L"not_data.dat", notData);
    struct Row {
        const char* name;
        const wchar_t* data;  // a fixture copied first, or a path as it stands
        bool copy;
        std::wstring certificates;
        std::wstring key;
        const wchar_t* password;
        const qv::chain_stores* stores;
        int expected;
        char failed;  // 'd' data, 'c' certificate, 'k' key file
    } rows[] = {
        {"no data file", L"missing.dat", false, signing_fixture(L"signer.cer"), signing_fixture(L"signer.pfx"),
         signing_password, test.get(), 2, 'd'},
        {"a file signed already", L"signer.dat", true, signing_fixture(L"signer.cer"), signing_fixture(L"signer.pfx"),
         signing_password, test.get(), 2, 'd'},
        {"not a data file", nullptr, false, signing_fixture(L"signer.cer"), signing_fixture(L"signer.pfx"),
         signing_password, test.get(), 2, 'd'},
        {"a wrong password", L"unsigned.dat", true, signing_fixture(L"signer.cer"), signing_fixture(L"signer.pfx"),
         L"wrong", test.get(), 4, 'k'},
        {"no key file", L"unsigned.dat", true, signing_fixture(L"signer.cer"), signing_fixture(L"missing.pfx"),
         signing_password, test.get(), 4, 'k'},
        {"a key file that is no PFX", L"unsigned.dat", true, signing_fixture(L"signer.cer"),
         signing_fixture(L"signer.cer"), signing_password, test.get(), 4, 'k'},
        {"the key of another certificate", L"unsigned.dat", true, signing_fixture(L"signer.cer"),
         signing_fixture(L"ou_signer.pfx"), signing_password, test.get(), 4, 'k'},
        {"no certificate file", L"unsigned.dat", true, signing_fixture(L"missing.cer"), signing_fixture(L"signer.pfx"),
         signing_password, test.get(), 5, 'c'},
        {"a certificate file of garbage", L"unsigned.dat", true, garbage, signing_fixture(L"signer.pfx"),
         signing_password, test.get(), 5, 'c'},
        {"no chain", L"unsigned.dat", true, signing_fixture(L"signer.cer"), signing_fixture(L"signer.pfx"),
         signing_password, &noRoots, 6, 'c'},
        {"an embedded root", L"unsigned.dat", true, signing_fixture(L"embedded_root_signer_chain.p7b"),
         signing_fixture(L"embedded_root_signer.pfx"), signing_password, test.get(), 6, 'c'},
        {"a root out of its dates", L"unsigned.dat", true, signing_fixture(L"expired_root_signer.cer"),
         signing_fixture(L"expired_root_signer.pfx"), signing_password, test.get(), 7, 'c'},
        {"a signer out of its dates", L"unsigned.dat", true, signing_fixture(L"expired_self.cer"),
         signing_fixture(L"expired_self.pfx"), signing_password, test.get(), 7, 'c'},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::wstring data = !row.data ? notDataFile : row.copy ? copy_of(folder, row.data) : folder.join(row.data);
        const bytes before = read_back(data);
        EXPECT_EQ(qv::SignDataFile(data.c_str(), row.certificates.c_str(), row.key.c_str(), row.password, row.stores),
                  row.expected);
        EXPECT_NE(qv::LastFileOpError(), 0u);
        const std::wstring& failed = row.failed == 'd' ? data : row.failed == 'c' ? row.certificates : row.key;
        EXPECT_EQ(qv::LastFailedPath().str(), failed);
        EXPECT_EQ(read_back(data), before);
        EXPECT_EQ(exists(data), !before.empty());
    }
}

BOOL WINAPI write_half_then_fail(HANDLE file, LPCVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED)
{
    WriteFile(file, buffer, count / 2, done, nullptr);
    SetLastError(ERROR_DISK_FULL);
    return FALSE;
}

BOOL WINAPI write_nothing(HANDLE, LPCVOID, DWORD, LPDWORD done, LPOVERLAPPED)
{
    *done = 0;
    SetLastError(ERROR_WRITE_FAULT);
    return FALSE;
}

TEST(SignDataFile, AFailedWriteTakesTheFileBackToItsSize)
{
    const test_chain_stores test;
    const scratch_folder folder(L"sign_write");
    for (auto write : {write_half_then_fail, write_nothing}) {
        const std::wstring data = copy_of(folder, L"unsigned.dat");
        const bytes before = read_back(data);
        {
            const auto kept = qv::SignatureBlockWrite;
            qv::SignatureBlockWrite = write;
            EXPECT_EQ(qv::SignDataFile(data.c_str(), signing_fixture(L"signer.cer").c_str(),
                                       signing_fixture(L"signer.pfx").c_str(), signing_password, test.get()),
                      3);
            qv::SignatureBlockWrite = kept;
        }
        EXPECT_EQ(read_back(data), before);
        // And it signs once the writes go through.
        EXPECT_EQ(qv::SignDataFile(data.c_str(), signing_fixture(L"signer.cer").c_str(),
                                   signing_fixture(L"signer.pfx").c_str(), signing_password, test.get()),
                  0);
        EXPECT_TRUE(qv::VerifySignedFile(data.c_str(), nullptr, test.get()));
    }
}

// Hashes, checks and signings make no key container, and the PFX's container goes again.
TEST(SignDataFile, LeavesNoKeyContainerBehind)
{
    const test_chain_stores test;
    const scratch_folder folder(L"sign_containers");
    const std::vector<std::string> before = qv::KeyContainers();
    for (int i = 0; i < 100; ++i) {
        SCOPED_TRACE(i);
        ASSERT_TRUE(qv::VerifySignedFile(signing_fixture(L"signer.dat").c_str(), nullptr, test.get()));
        if (i % 10 == 0) {
            const std::wstring data = copy_of(folder, L"unsigned.dat");
            ASSERT_EQ(qv::SignDataFile(data.c_str(), signing_fixture(L"signer.cer").c_str(),
                                       signing_fixture(L"signer.pfx").c_str(), signing_password, test.get()),
                      0);
            const std::wstring other = copy_of(folder, L"unsigned.dat", L"other.dat");
            EXPECT_EQ(qv::SignDataFile(other.c_str(), signing_fixture(L"signer.cer").c_str(),
                                       signing_fixture(L"signer.pfx").c_str(), L"wrong", test.get()),
                      4);
        }
    }
    EXPECT_EQ(qv::KeyContainers(), before);
}

// The end of the signer's certificate, the first of a signed file's block.
size_t signer_end(const bytes& file)
{
    const size_t block = get32(file, 20), store = block + 4 + get32(file, block);
    return store + 8 + 12 + get32(file, store + 8 + 8);
}

// Where a mutated file first differs from its seed, for a failure's message.
std::string difference(const bytes& seed, const bytes& content)
{
    size_t at = 0;
    while (at < seed.size() && at < content.size() && seed[at] == content[at]) ++at;
    return "sizes " + std::to_string(seed.size()) + " and " + std::to_string(content.size()) + ", first difference at "
           + std::to_string(at);
}

// Mutated signed files, seeded: a check never crashes or hangs, and only the file as it was
// verifies.
TEST(SignedFileMutation, OnlyTheFileAsSignedVerifies)
{
    const test_chain_stores test;
    const scratch_folder folder(L"signed_mutation");
    const bytes seeds[] = {read_back(signing_fixture(L"signer.dat")), read_back(signing_fixture(L"signer_alone.dat")),
                           read_back(signing_fixture(L"cycle_signer.dat"))};
    const std::set<bytes> verifying = {seeds[0], seeds[1]};
    std::mt19937 random(20261211);
    const auto below = [&](size_t n) { return n ? static_cast<size_t>(random() % n) : 0; };
    const DWORD hostile[] = {0, 1, 27, 28, 492, 493, 1005, 1006, 0x7FFFFFFF, 0x80000000u, 0xFFFFFFFFu, 0xFFFFFFFEu};
    constexpr int count = 4000;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    int done = 0, verified = 0;
    for (; done < count && std::chrono::steady_clock::now() < deadline; ++done) {
        const bytes& seed = seeds[below(std::size(seeds))];
        bytes content = seed;
        for (size_t edits = 1 + below(3); edits > 0; --edits) {
            switch (below(7)) {
            case 0:
                if (!content.empty()) content[below(content.size())] ^= static_cast<unsigned char>(1u << below(8));
                break;
            case 1:  // a header or record field set to a hostile or nearby value
                if (content.size() >= 600) {
                    const size_t at = below(2) ? 12 + 4 * below(3) : get32(seed, 12) + 24;
                    const DWORD value = below(2) ? hostile[below(std::size(hostile))]
                                                 : get32(content, at) + static_cast<DWORD>(below(9)) - 4;
                    put32(content, at, value);
                }
                break;
            case 2: content.resize(below(content.size() + 1)); break;
            case 3: content.insert(content.begin() + static_cast<std::ptrdiff_t>(below(content.size() + 1)),
                                   static_cast<unsigned char>(below(256)));
                break;
            case 4:
                if (!content.empty())
                    content.erase(content.begin() + static_cast<std::ptrdiff_t>(below(content.size())));
                break;
            case 5: {  // a piece of the file again at its end
                const size_t from = below(content.size() + 1);
                content.insert(content.end(), content.begin() + static_cast<std::ptrdiff_t>(from),
                               content.begin() + static_cast<std::ptrdiff_t>(std::min(content.size(), from + below(512))));
                break;
            }
            default:  // the signature's length
                if (content.size() > 4 && content.size() >= 493) {
                    const size_t at = get32(seed, 20);
                    if (at + 4 <= content.size()) put32(content, at, hostile[below(std::size(hostile))]);
                }
                break;
            }
        }
        SCOPED_TRACE(testing::Message() << "mutation " << done);
        const outcome got = verify_bytes(folder, content, test.get());
        if (verifying.count(content) == 1) {
            ASSERT_TRUE(got.ok);
        } else if (got.ok) {
            // Only a changed certificate of the chain that a store of the tests holds as well
            // may go unseen, as it is not needed: all before it is as signed.
            ASSERT_TRUE(verifying.count(seed) == 1 && content.size() == seed.size()
                        && std::equal(seed.begin(), seed.begin() + static_cast<std::ptrdiff_t>(signer_end(seed)),
                                      content.begin()))
                << difference(seed, content);
        }
        if (!got.ok) { ASSERT_NE(got.code, 0u); }
        verified += got.ok;
    }
    RecordProperty("mutations", done);
    RecordProperty("verified", verified);
}

}  // namespace
