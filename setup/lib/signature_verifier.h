// setup's thin layer over CryptoAPI and certificate stores: holders for its handles, hashing in
// a verify-only context (no key container is ever made), signatures checked and made, keys
// and certificates imported, stores opened and saved, and the system's trust of a signed
// file. Nothing here raises: failures are results, with the error kept where there is room.
#pragma once

#include "handle.h"
#include "zString.h"

#include <windows.h>
#include <wincrypt.h>

#include <array>
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace qv {

namespace handle_holder {
void close_crypt_key(HCRYPTKEY key) noexcept;
void close_cert_context(PCCERT_CONTEXT context) noexcept;
}  // namespace handle_holder

struct cert_store_traits {
    using type = HCERTSTORE;
    static type invalid() noexcept { return nullptr; }
    static void close(type h) noexcept { CertCloseStore(h, 0); }
};
struct crypt_provider_traits {
    using type = HCRYPTPROV;
    static type invalid() noexcept { return 0; }
    static void close(type h) noexcept { CryptReleaseContext(h, 0); }
};
struct crypt_hash_traits {
    using type = HCRYPTHASH;
    static type invalid() noexcept { return 0; }
    static void close(type h) noexcept { CryptDestroyHash(h); }
};
struct crypt_key_traits {
    using type = HCRYPTKEY;
    static type invalid() noexcept { return 0; }
    static void close(type h) noexcept { handle_holder::close_crypt_key(h); }
};
struct crypt_msg_traits {
    using type = HCRYPTMSG;
    static type invalid() noexcept { return nullptr; }
    static void close(type h) noexcept { CryptMsgClose(h); }
};
// Each holder owns one reference: it takes a duplicate when it shares a context.
struct cert_context_traits {
    using type = PCCERT_CONTEXT;
    static type invalid() noexcept { return nullptr; }
    static void close(type h) noexcept { handle_holder::close_cert_context(h); }
};

struct cert_chain_traits {
    using type = PCCERT_CHAIN_CONTEXT;
    static type invalid() noexcept { return nullptr; }
    static void close(type h) noexcept { CertFreeCertificateChain(h); }
};

using cert_store = handle<cert_store_traits>;
using cert_chain = handle<cert_chain_traits>;
using crypt_provider = handle<crypt_provider_traits>;
using crypt_hash = handle<crypt_hash_traits>;
using crypt_key = handle<crypt_key_traits>;
using crypt_msg = handle<crypt_msg_traits>;
using cert_context = handle<cert_context_traits>;

constexpr DWORD certificate_encoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// "sha1" 1, "sha256" or "sha2" 2, else 0, without regard to case.
int HashAlgorithmByName(const zString& name);
// 1 CALG_SHA1, 2 CALG_SHA_256, else 0.
ALG_ID HashAlgorithmId(int kind) noexcept;
// The providers tried in turn for an algorithm: the three RSA providers for SHA-1 and MD5, the
// AES provider for SHA-256 (the others have no SHA-256).
std::vector<zString> DefaultProviders(ALG_ID algorithm);

// A hash in a verify-only context of one provider of a list; an empty list is the system's
// default provider.
class hash_context {
public:
    explicit hash_context(ALG_ID algorithm, std::vector<zString> providers);
    hash_context(const hash_context&) = delete;
    hash_context& operator=(const hash_context&) = delete;
    virtual ~hash_context() = default;

    // Acquires provider `index` of the list and an empty hash in it; keys of the previous
    // provider go.
    bool start(size_t index = 0);
    // The next provider of the list, when there is one.
    bool next_provider();
    bool hash_data(const void* bytes, DWORD count);
    bool hash_value(std::vector<BYTE>& out);
    bool set_hash_value(const std::vector<BYTE>& value);

    DWORD last_error() const noexcept { return lastError_; }
    HCRYPTPROV provider() const noexcept { return provider_.get(); }
    HCRYPTHASH hash() const noexcept { return hash_.get(); }
    ALG_ID algorithm() const noexcept { return algorithm_; }

protected:
    // Keeps GetLastError() (or `code` when it gives none) and answers false.
    bool fail(DWORD code = 0) noexcept;
    virtual void provider_changed() noexcept {}

    crypt_provider provider_;
    crypt_hash hash_;

private:
    std::vector<zString> providers_;
    size_t current_ = 0;
    ALG_ID algorithm_;
    DWORD lastError_ = 0;
};

// The certificate store, signer certificate, public key and signature of a signed file, or
// the certificates and private key that sign one.
class signature_verifier : public hash_context {
public:
    explicit signature_verifier(ALG_ID algorithm = CALG_SHA1);
    signature_verifier(ALG_ID algorithm, std::vector<zString> providers);

    // The block that follows the signed bytes: a 4-byte length n, n bytes of signature, then
    // a serialized store of exactly its certificates. False when it yields no signature,
    // signer or key.
    bool load_signature_block(const BYTE* block, size_t size);
    // A certificate file: one DER certificate, PKCS #7 certificates or a serialized store.
    bool load_certificate_file(const zString& path);
    // The private key of a password-protected PFX file, as this context's signature key.
    bool import_pfx_key(const zString& path, const zString& password);
    // The signer's public key, trying the providers of the list while no private key is held.
    bool import_signer_key();

    // The private key held is the signer certificate's own.
    bool key_matches_signer();
    bool verify();
    // The signature of the held hash with the private key, checked against the signer's
    // public key so a key of another certificate never signs; then the block: length,
    // signature and (with_store) the store's certificates.
    bool sign_block(std::vector<BYTE>& block, bool with_store = true);

    PCCERT_CONTEXT signer() const noexcept { return signer_.get(); }
    HCERTSTORE store() const noexcept { return store_.get(); }
    const std::vector<BYTE>& signature() const noexcept { return signature_; }

private:
    void provider_changed() noexcept override;
    bool take_store(cert_store store);

    cert_store store_;
    cert_context signer_;
    cert_context second_;  // the certificate the private key came with
    crypt_key publicKey_;
    crypt_key privateKey_;
    std::vector<BYTE> signature_;
};

// The "ROOT" and "CA" stores a chain is checked against; null: the system's.
struct chain_stores {
    HCERTSTORE root = nullptr;
    HCERTSTORE ca = nullptr;
};

// The certificates of a serialized store that holds them alone, each element exactly one
// DER certificate, closed by the end element at its last byte; false for anything else.
bool SerializedCertificates(const BYTE* bytes, size_t size, std::vector<std::pair<const BYTE*, DWORD>>& out);
// The parts of a certificate outside its signed part say what the signed part says: the
// signature's algorithm as its own, and a signature of whole bytes.
bool CertificateEncodingStrict(PCCERT_CONTEXT certificate) noexcept;
// The first certificate of the store, in store order, that issues no other certificate of it.
cert_context PickSignerCertificate(HCERTSTORE store);
// SHA-1 of the certificate's encoded bytes, computed here: a hash property can be forged.
bool CertificateSha1(PCCERT_CONTEXT certificate, std::array<BYTE, 20>& hash);
bool SameCertificate(PCCERT_CONTEXT a, PCCERT_CONTEXT b) noexcept;  // the same encoded bytes
// The certificate with the same bytes in `store`, found by its hash.
cert_context FindSameCertificate(HCERTSTORE store, PCCERT_CONTEXT certificate);
// Whether `issuer`'s key verifies the signature over `subject`.
bool SignedBy(PCCERT_CONTEXT subject, PCCERT_CONTEXT issuer) noexcept;
bool CertificateTimeValid(PCCERT_CONTEXT certificate) noexcept;
// Names equal, its own key verifies it and its dates are good.
bool SelfSigned(PCCERT_CONTEXT certificate) noexcept;
// The candidates CertGetIssuerCertificateFromStore gives for `subject`, in turn.
std::vector<cert_context> IssuerCandidates(HCERTSTORE store, PCCERT_CONTEXT subject);
size_t CertificateCount(HCERTSTORE store);

cert_store OpenSystemCertStore(const wchar_t* name);
// "User" or "Machine", and the store's name there.
cert_store OpenLocationCertStore(const zString& location, const zString& name);
cert_store OpenMemoryCertStore();
// A serialized store of certificates alone (as SerializedCertificates), in memory.
cert_store OpenSerializedCertStore(const BYTE* bytes, size_t size);
cert_store OpenCertificateFile(const zString& path);
// A PFX file read whole; its keys exportable. Wine keeps a PFX's key in a key container
// of the user's: `keep_containers` false removes the containers the import made.
cert_store ImportPfxStore(const zString& path, const zString& password, bool keep_containers = false);
// The store's certificates alone, without their properties.
cert_store CopyCertificates(HCERTSTORE store);
bool AddCertificate(HCERTSTORE store, PCCERT_CONTEXT certificate, DWORD disposition);
bool SaveSerializedStore(HCERTSTORE store, std::vector<BYTE>& out);
// The key containers of the default provider of a type, by name.
std::vector<std::string> KeyContainers(DWORD provider_type = PROV_RSA_FULL);

// The issuers of a certificate, from "CA" or else "Root", added to `target` up to a root;
// 0, 0x8009202B when an issuer is outside its dates, or the add's error.
DWORD CompleteIssuers(PCCERT_CONTEXT certificate, HCERTSTORE target, const chain_stores* stores = nullptr);

// The system's chain for a certificate, with `additional` searched as well (null: none).
cert_chain BuildCertificateChain(PCCERT_CONTEXT certificate, HCERTSTORE additional);
// A PKCS #7 signed message in a file (a certificates-only one included): its certificates,
// and the message for CryptMsgGetParam.
cert_store ReadSignedMessage(const zString& path, crypt_msg& message);
// The number of signers of a message; false when the message says nothing.
bool SignedMessageSignerCount(HCRYPTMSG message, DWORD& count);

// CertNameToStrW of a name in the given form.
zString CertificateNameText(const CERT_NAME_BLOB& name, DWORD form);
// The value of the first attribute of `oid` in the name; false when there is none.
bool CertificateNameAttribute(const CERT_NAME_BLOB& name, const char* oid, zString& value);

crypt_key ImportKeyBlob(HCRYPTPROV provider, const std::vector<BYTE>& blob, DWORD flags = 0);
bool ExportKeyBlob(HCRYPTKEY key, DWORD blob_type, std::vector<BYTE>& out);
crypt_key DeriveKey(HCRYPTPROV provider, ALG_ID algorithm, HCRYPTHASH hash, DWORD flags = 0);

// WinVerifyTrust's answer for a signed file: no window, `ui_choice` (WTD_UI_*), no revocation.
LONG VerifyFileTrust(const zString& path, DWORD ui_choice);

}  // namespace qv
