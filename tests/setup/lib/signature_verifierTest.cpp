#include "signature_verifier.h"

#include "SigningSupport.h"

#include <gtest/gtest.h>

#include <softpub.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string hex(const std::vector<BYTE>& value)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (const BYTE b : value) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

std::string subject_of(PCCERT_CONTEXT certificate)
{
    zString name;
    if (!certificate || !qv::CertificateNameAttribute(certificate->pCertInfo->Subject, szOID_COMMON_NAME, name)) return "";
    return name.narrow();
}

TEST(HashAlgorithms, ByNameAsTable)
{
    struct Row {
        const wchar_t* name;
        int kind;
        ALG_ID id;
    } rows[] = {
        {L"sha1", 1, CALG_SHA1}, {L"SHA1", 1, CALG_SHA1},     {L"sha256", 2, CALG_SHA_256}, {L"Sha2", 2, CALG_SHA_256},
        {L"md5", 0, 0},          {L"sha-1", 0, 0},            {L"", 0, 0},                  {L"sha2566", 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << std::string(row.name, row.name + wcslen(row.name)));
        EXPECT_EQ(qv::HashAlgorithmByName(row.name), row.kind);
        EXPECT_EQ(qv::HashAlgorithmId(row.kind), row.id);
    }
}

TEST(HashContext, DigestsOfKnownTextInEachProvider)
{
    struct Row {
        const char* name;
        ALG_ID algorithm;
        std::vector<zString> providers;
        const char* digest;
    } rows[] = {
        {"SHA-1, the default list", CALG_SHA1, qv::DefaultProviders(CALG_SHA1), "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {"SHA-1, the system's provider", CALG_SHA1, {}, "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {"SHA-256, the default list", CALG_SHA_256, qv::DefaultProviders(CALG_SHA_256),
         "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"SHA-256, the system's provider", CALG_SHA_256, {},
         "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"MD5", CALG_MD5, qv::DefaultProviders(CALG_MD5), "900150983cd24fb0d6963f7d28e17f72"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        qv::hash_context hash(row.algorithm, row.providers);
        ASSERT_TRUE(hash.start()) << std::hex << hash.last_error();
        ASSERT_TRUE(hash.hash_data("a", 1));
        ASSERT_TRUE(hash.hash_data("", 0));
        ASSERT_TRUE(hash.hash_data("bc", 2));
        std::vector<BYTE> digest;
        ASSERT_TRUE(hash.hash_value(digest));
        EXPECT_EQ(hex(digest), row.digest);
    }
}

TEST(HashContext, ValuesSetAndProvidersTriedInTurn)
{
    qv::hash_context hash(CALG_SHA1, {zString(L"No Such Provider"), zString(MS_ENHANCED_PROV_W)});
    EXPECT_FALSE(hash.hash_data("x", 1));
    EXPECT_FALSE(hash.start());
    EXPECT_NE(hash.last_error(), 0u);
    ASSERT_TRUE(hash.next_provider());
    EXPECT_FALSE(hash.next_provider());
    EXPECT_EQ(hash.last_error(), static_cast<DWORD>(NTE_PROV_DLL_NOT_FOUND));
    ASSERT_TRUE(hash.start(1));

    const std::vector<BYTE> value(20, 0xA5);
    EXPECT_FALSE(hash.set_hash_value(std::vector<BYTE>(16, 1)));
    EXPECT_EQ(hash.last_error(), static_cast<DWORD>(NTE_BAD_LEN));
    ASSERT_TRUE(hash.set_hash_value(value));
    std::vector<BYTE> read;
    ASSERT_TRUE(hash.hash_value(read));
    EXPECT_EQ(read, value);
}

// Signed with a PFX's key, checked from the block alone.
TEST(SignatureVerifier, SignsAndChecksThroughTheBlock)
{
    const std::vector<std::string> containers = qv::KeyContainers();
    std::vector<BYTE> block;
    {
        qv::signature_verifier signing;
        ASSERT_TRUE(signing.import_pfx_key(signing_fixture(L"signer.pfx").c_str(), signing_password))
            << std::hex << signing.last_error();
        ASSERT_TRUE(signing.load_certificate_file(signing_fixture(L"signer_chain.p7b").c_str()));
        EXPECT_EQ(subject_of(signing.signer()), "Corvane Test Signer");
        ASSERT_TRUE(signing.key_matches_signer());
        ASSERT_TRUE(signing.hash_data("payload", 7));
        ASSERT_TRUE(signing.sign_block(block)) << std::hex << signing.last_error();
        std::vector<BYTE> bare;
        qv::signature_verifier again;
        ASSERT_TRUE(again.import_pfx_key(signing_fixture(L"signer.pfx").c_str(), signing_password));
        ASSERT_TRUE(again.load_certificate_file(signing_fixture(L"signer.cer").c_str()));
        ASSERT_TRUE(again.hash_data("payload", 7));
        ASSERT_TRUE(again.sign_block(bare, false));
        EXPECT_EQ(bare.size(), 4u + 256u);
    }
    EXPECT_EQ(qv::KeyContainers(), containers);

    for (const char* text : {"payload", "payloaD"}) {
        SCOPED_TRACE(text);
        qv::signature_verifier checking;
        ASSERT_TRUE(checking.load_signature_block(block.data(), block.size()));
        EXPECT_EQ(qv::CertificateCount(checking.store()), 2u);
        EXPECT_EQ(subject_of(checking.signer()), "Corvane Test Signer");
        ASSERT_TRUE(checking.hash_data(text, 7));
        EXPECT_EQ(checking.verify(), std::strcmp(text, "payload") == 0);
    }
}

TEST(SignatureVerifier, KeysThatDoNotImportOrDoNotMatch)
{
    qv::signature_verifier wrong;
    EXPECT_FALSE(wrong.import_pfx_key(signing_fixture(L"signer.pfx").c_str(), L"Corvane-2098"));
    EXPECT_EQ(wrong.last_error(), static_cast<DWORD>(ERROR_INVALID_PASSWORD));
    EXPECT_FALSE(wrong.import_pfx_key(signing_fixture(L"missing.pfx").c_str(), signing_password));
    EXPECT_EQ(wrong.last_error(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    qv::signature_verifier other;
    ASSERT_TRUE(other.import_pfx_key(signing_fixture(L"ou_signer.pfx").c_str(), signing_password));
    ASSERT_TRUE(other.load_certificate_file(signing_fixture(L"signer.cer").c_str()));
    EXPECT_FALSE(other.key_matches_signer());
    EXPECT_EQ(other.last_error(), static_cast<DWORD>(NTE_BAD_PUBLIC_KEY));
    // Signing checks its own signature, so a key of another certificate signs nothing.
    ASSERT_TRUE(other.hash_data("x", 1));
    std::vector<BYTE> block;
    EXPECT_FALSE(other.sign_block(block));
    EXPECT_TRUE(block.empty());

    qv::signature_verifier none;
    ASSERT_TRUE(none.start());
    EXPECT_FALSE(none.sign_block(block));
    EXPECT_FALSE(none.verify());
}

bytes serialized(std::initializer_list<const wchar_t*> names)
{
    const qv::cert_store store = store_of(names);
    std::vector<BYTE> out;
    EXPECT_TRUE(qv::SaveSerializedStore(store.get(), out));
    return out;
}

// A serialized store is read only when it holds certificates alone, each exactly its
// encoding, and its end at its last byte.
TEST(SerializedStores, StrictReadingAsTable)
{
    const bytes good = serialized({L"signer.cer", L"intermediate.cer"});
    ASSERT_GT(good.size(), 40u);
    DWORD first;
    std::memcpy(&first, good.data() + 16, 4);
    const auto with = [&](size_t at, BYTE value) {
        bytes out = good;
        out[at] = value;
        return out;
    };
    bytes property = good;
    // A hash property element in front of the first certificate.
    const BYTE element[12 + 20] = {3, 0, 0, 0, 1, 0, 0, 0, 20, 0, 0, 0};
    property.insert(property.begin() + 8, element, element + sizeof element);
    bytes trailing = good;
    trailing.push_back(0);
    struct Row {
        const char* name;
        bytes store;
        size_t certificates;  // 0: refused
    } rows[] = {
        {"two certificates", good, 2},
        {"one certificate", serialized({L"root.cer"}), 1},
        {"no certificates", serialized({}), 0},
        {"another magic", with(4, 'X'), 0},
        {"a property element", property, 0},
        {"a byte after the end", trailing, 0},
        {"no end", bytes(good.begin(), good.end() - 12), 0},
        {"an end of another length", with(good.size() - 4, 1), 0},
        {"an element of another encoding", with(12, 2), 0},
        {"an element longer than the store", with(19, 0x7F), 0},
        {"an element one byte longer than its certificate", with(16, static_cast<BYTE>(first + 1)), 0},
        {"a certificate that is no sequence", with(20, 0x31), 0},
        {"a certificate shorter than its element", with(23, static_cast<BYTE>(good[23] - 1)), 0},
        {"the header alone", bytes(good.begin(), good.begin() + 8), 0},
        {"nothing", bytes(), 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<std::pair<const BYTE*, DWORD>> certificates;
        const bool read = qv::SerializedCertificates(row.store.data(), row.store.size(), certificates);
        EXPECT_EQ(read && !certificates.empty(), row.certificates > 0);
        if (row.certificates > 0) {
            EXPECT_EQ(certificates.size(), row.certificates);
            const qv::cert_store opened = qv::OpenSerializedCertStore(row.store.data(), row.store.size());
            ASSERT_TRUE(opened);
            EXPECT_EQ(qv::CertificateCount(opened.get()), row.certificates);
            // Saved again, the same bytes.
            std::vector<BYTE> again;
            ASSERT_TRUE(qv::SaveSerializedStore(opened.get(), again));
            EXPECT_EQ(again.size(), row.store.size());
        }
    }
}

// Bytes of a certificate outside its signed part that say something else than it does.
TEST(SerializedStores, CertificatesOutsideTheirSignedPartRefused)
{
    const bytes der = read_back(signing_fixture(L"signer.cer"));
    // sha256WithRSAEncryption and its NULL parameters: the last one is the outer one.
    const BYTE algorithm[] = {0x06, 0x09, 0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x01, 0x0b, 0x05, 0x00};
    const auto outer = std::find_end(der.begin(), der.end(), std::begin(algorithm), std::end(algorithm));
    ASSERT_NE(outer, der.end());
    const size_t parameters = static_cast<size_t>(outer - der.begin()) + 11;
    struct Row {
        const char* name;
        size_t at;
        BYTE value;
    } rows[] = {
        {"outer parameters of another tag", parameters, 0x25},
        {"signature with unused bits", parameters + 2 + 4, 0x01},
    };
    const qv::cert_context plain(CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size())));
    EXPECT_TRUE(qv::CertificateEncodingStrict(plain.get()));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        bytes changed = der;
        changed[row.at] = row.value;
        const qv::cert_context certificate(
            CertCreateCertificateContext(X509_ASN_ENCODING, changed.data(), static_cast<DWORD>(changed.size())));
        if (certificate) {
            EXPECT_FALSE(qv::CertificateEncodingStrict(certificate.get()));
        }
    }
    EXPECT_FALSE(qv::CertificateEncodingStrict(nullptr));
}

TEST(CertificateStores, SignerPickedFromAStoreAsTable)
{
    struct Row {
        const char* name;
        std::initializer_list<const wchar_t*> store;
        const char* signer;
    } rows[] = {
        {"signer first", {L"signer.cer", L"intermediate.cer"}, "Corvane Test Signer"},
        {"signer last", {L"root.cer", L"intermediate.cer", L"signer.cer"}, "Corvane Test Signer"},
        {"a root alone", {L"root.cer"}, "Corvane Test Root"},
        {"a cycle below a signer", {L"cycle_signer.cer"}, "Corvane Signer Of A Cycle"},
        {"empty", {}, nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const qv::cert_store store = store_of(row.store);
        const qv::cert_context signer = qv::PickSignerCertificate(store.get());
        if (!row.signer) {
            EXPECT_FALSE(signer);
        } else {
            ASSERT_TRUE(signer);
            EXPECT_EQ(subject_of(signer.get()), row.signer);
        }
    }
    // Two that issue each other leave none.
    const qv::cert_store cycle = qv::OpenCertificateFile(signing_fixture(L"cycle_signer_chain.p7b").c_str());
    ASSERT_EQ(qv::CertificateCount(cycle.get()), 3u);
    EXPECT_EQ(subject_of(qv::PickSignerCertificate(cycle.get()).get()), "Corvane Signer Of A Cycle");
}

// A certificate is found by its own bytes, whatever hash property a store gives another.
TEST(CertificateStores, FoundOnlyByItsOwnBytes)
{
    const qv::cert_store store = store_of({L"self_signed.cer"});
    const qv::cert_context self = load_certificate(L"self_signed.cer"), forged = load_certificate(L"forged.cer");
    EXPECT_TRUE(qv::FindSameCertificate(store.get(), self.get()));
    EXPECT_FALSE(qv::FindSameCertificate(store.get(), forged.get()));

    std::array<BYTE, 20> forgedHash;
    ASSERT_TRUE(qv::CertificateSha1(forged.get(), forgedHash));
    const qv::cert_context held(CertEnumCertificatesInStore(store.get(), nullptr));
    CRYPT_HASH_BLOB blob{20, forgedHash.data()};
    ASSERT_TRUE(CertSetCertificateContextProperty(held.get(), CERT_HASH_PROP_ID, 0, &blob));
    // The store now answers the forged certificate's hash with the genuine one.
    const qv::cert_context byProperty(
        CertFindCertificateInStore(store.get(), qv::certificate_encoding, 0, CERT_FIND_SHA1_HASH, &blob, nullptr));
    EXPECT_TRUE(byProperty);
    EXPECT_FALSE(qv::FindSameCertificate(store.get(), forged.get()));
    EXPECT_FALSE(qv::SameCertificate(self.get(), forged.get()));
    EXPECT_TRUE(qv::SameCertificate(self.get(), held.get()));
}

TEST(CertificateStores, SelfSignedAndSignedByAsTable)
{
    struct Row {
        const wchar_t* subject;
        const wchar_t* issuer;
        bool signed_by;
        bool self_signed;  // the subject's own answer
    } rows[] = {
        {L"signer.cer", L"intermediate.cer", true, false},
        {L"signer.cer", L"impostor_intermediate.cer", false, false},
        {L"intermediate.cer", L"root.cer", true, false},
        {L"root.cer", L"root.cer", true, true},
        {L"self_signed.cer", L"forged.cer", false, true},
        {L"expired_self.cer", L"expired_self.cer", true, false},
        {L"embedded_root.cer", L"embedded_root.cer", true, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << std::string(row.subject, row.subject + wcslen(row.subject)));
        const qv::cert_context subject = load_certificate(row.subject), issuer = load_certificate(row.issuer);
        EXPECT_EQ(qv::SignedBy(subject.get(), issuer.get()), row.signed_by);
        EXPECT_EQ(qv::SelfSigned(subject.get()), row.self_signed);
    }
}

TEST(CertificateStores, IssuersCompletedUpToARoot)
{
    const test_chain_stores test;
    struct Row {
        const wchar_t* certificate;
        DWORD result;
        std::vector<std::string> added;
    } rows[] = {
        {L"signer.cer", 0, {"Corvane Test Intermediate", "Corvane Test Root"}},
        {L"intermediate.cer", 0, {"Corvane Test Root"}},
        {L"self_signed.cer", 0, {}},
        {L"expired_root_signer.cer", 0x8009202B, {}},
        {L"embedded_root_signer.cer", 0, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << std::string(row.certificate, row.certificate + wcslen(row.certificate)));
        const qv::cert_store target = qv::OpenMemoryCertStore();
        const qv::cert_context certificate = load_certificate(row.certificate);
        EXPECT_EQ(qv::CompleteIssuers(certificate.get(), target.get(), test.get()), row.result);
        std::vector<std::string> added;
        for (PCCERT_CONTEXT each = nullptr; (each = CertEnumCertificatesInStore(target.get(), each)) != nullptr;)
            added.push_back(subject_of(each));
        std::sort(added.begin(), added.end());
        EXPECT_EQ(added, row.added);
    }
    // An issuer the target holds already counts as added.
    const qv::cert_store target = store_of({L"intermediate.cer"});
    EXPECT_EQ(qv::CompleteIssuers(load_certificate(L"signer.cer").get(), target.get(), test.get()), 0u);
    EXPECT_EQ(qv::CertificateCount(target.get()), 2u);
}

TEST(CertificateStores, OpenedAndImported)
{
    EXPECT_TRUE(qv::OpenSystemCertStore(L"ROOT"));
    EXPECT_TRUE(qv::OpenLocationCertStore(L"User", L"Root"));
    EXPECT_TRUE(qv::OpenLocationCertStore(L"machine", L"Root"));
    SetLastError(0);
    EXPECT_FALSE(qv::OpenLocationCertStore(L"Elsewhere", L"Root"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    for (const wchar_t* file : {L"root.cer", L"signer_chain.p7b"}) {
        const qv::cert_store store = qv::OpenCertificateFile(signing_fixture(file).c_str());
        EXPECT_TRUE(store);
    }
    EXPECT_FALSE(qv::OpenCertificateFile(signing_fixture(L"missing.cer").c_str()));

    const std::vector<std::string> containers = qv::KeyContainers();
    SetLastError(0);
    EXPECT_FALSE(qv::ImportPfxStore(signing_fixture(L"signer.pfx").c_str(), L"wrong"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PASSWORD));
    const qv::cert_store pfx = qv::ImportPfxStore(signing_fixture(L"signer.pfx").c_str(), signing_password);
    ASSERT_TRUE(pfx);
    EXPECT_EQ(qv::CertificateCount(pfx.get()), 1u);
    EXPECT_EQ(qv::KeyContainers(), containers);
}

TEST(CryptoWrappers, ChainsAndSignedMessages)
{
    const qv::cert_store additional = store_of({L"intermediate.cer", L"root.cer"});
    const qv::cert_context signer = load_certificate(L"signer.cer");
    const qv::cert_chain chain = qv::BuildCertificateChain(signer.get(), additional.get());
    ASSERT_TRUE(chain);
    ASSERT_GE(chain.get()->cChain, 1u);
    const CERT_SIMPLE_CHAIN& simple = *chain.get()->rgpChain[0];
    ASSERT_EQ(simple.cElement, 3u);
    EXPECT_TRUE(qv::SameCertificate(simple.rgpElement[0]->pCertContext, signer.get()));
    EXPECT_EQ(subject_of(simple.rgpElement[2]->pCertContext), "Corvane Test Root");
    // The tests' root is none of the system's.
    EXPECT_NE(chain.get()->TrustStatus.dwErrorStatus & CERT_TRUST_IS_UNTRUSTED_ROOT, 0u);

    qv::crypt_msg message;
    const qv::cert_store certificates = qv::ReadSignedMessage(signing_fixture(L"signer_chain.p7b").c_str(), message);
    ASSERT_TRUE(certificates);
    EXPECT_EQ(qv::CertificateCount(certificates.get()), 2u);
    DWORD signers = 99;
    ASSERT_TRUE(qv::SignedMessageSignerCount(message.get(), signers));
    EXPECT_EQ(signers, 0u);
    qv::crypt_msg none;
    EXPECT_FALSE(qv::ReadSignedMessage(signing_fixture(L"root.cer").c_str(), none));
    EXPECT_FALSE(qv::SignedMessageSignerCount(none.get(), signers));
}

TEST(CryptoWrappers, KeysDerivedExportedAndImported)
{
    qv::hash_context hash(CALG_SHA1, qv::DefaultProviders(CALG_SHA1));
    ASSERT_TRUE(hash.start(1));
    ASSERT_TRUE(hash.hash_data("password", 8));
    const qv::crypt_key derived = qv::DeriveKey(hash.provider(), CALG_RC4, hash.hash(), CRYPT_EXPORTABLE);
    ASSERT_TRUE(derived);
    EXPECT_FALSE(qv::DeriveKey(hash.provider(), 0x1234, hash.hash()));

    qv::crypt_key pair;
    ASSERT_TRUE(CryptGenKey(hash.provider(), AT_SIGNATURE, (1024u << 16) | CRYPT_EXPORTABLE, pair.put()));
    std::vector<BYTE> blob;
    ASSERT_TRUE(qv::ExportKeyBlob(pair.get(), PUBLICKEYBLOB, blob));
    EXPECT_TRUE(qv::ImportKeyBlob(hash.provider(), blob));
    EXPECT_FALSE(qv::ImportKeyBlob(hash.provider(), std::vector<BYTE>(8, 0)));
    EXPECT_FALSE(qv::ExportKeyBlob(pair.get(), 0x77, blob));
}

TEST(CryptoWrappers, TrustOfAFileWithoutASignature)
{
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    EXPECT_EQ(qv::VerifyFileTrust(self, WTD_UI_NONE),
              static_cast<LONG>(TRUST_E_NOSIGNATURE));
    EXPECT_NE(qv::VerifyFileTrust(signing_fixture(L"missing.exe").c_str(), WTD_UI_NONE), 0);
}

}  // namespace
