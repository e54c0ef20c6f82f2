#include "signature_verifier.h"

#include "text_files.h"

#include <softpub.h>
#include <wintrust.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

namespace qv {

namespace {

// A signed file's block holds its signer and chain: more is not a certificate file's work.
constexpr size_t max_block_certificates = 64;
// IssuerCandidates' bound: a store of many certificates with one name is no chain.
constexpr size_t max_candidates = 32;
constexpr size_t max_issuer_depth = 16;

DWORD ProviderType(ALG_ID algorithm) noexcept
{
    return algorithm == CALG_SHA_256 || algorithm == CALG_SHA_384 || algorithm == CALG_SHA_512 ? PROV_RSA_AES
                                                                                                  : PROV_RSA_FULL;
}

DWORD LastErrorOr(DWORD code) noexcept
{
    const DWORD error = GetLastError();
    return error ? error : code;
}

// Wine keeps a PFX's key in a container of the user's whatever the flags: the containers an
// import made, and only those, go again.
void RemoveContainersNotIn(const std::vector<std::string>& before)
{
    for (const std::string& name : KeyContainers()) {
        if (std::find(before.begin(), before.end(), name) != before.end()) continue;
        HCRYPTPROV gone = 0;
        CryptAcquireContextA(&gone, name.c_str(), nullptr, PROV_RSA_FULL, CRYPT_DELETEKEYSET);
    }
}

// The private key that came with a certificate of a PFX store, as a key blob.
bool ExportPrivateKey(PCCERT_CONTEXT certificate, std::vector<BYTE>& blob)
{
    CERT_KEY_CONTEXT held{};
    DWORD size = sizeof held;
    HCRYPTPROV provider = 0;
    DWORD spec = 0;
    crypt_provider acquired;
    if (CertGetCertificateContextProperty(certificate, CERT_KEY_CONTEXT_PROP_ID, &held, &size)) {
        provider = held.hCryptProv;
        spec = held.dwKeySpec;
    } else {
        BOOL mustFree = FALSE;
        if (!CryptAcquireCertificatePrivateKey(certificate, CRYPT_ACQUIRE_SILENT_FLAG, nullptr, &provider, &spec, &mustFree))
            return false;
        if (mustFree) acquired.reset(provider);
    }
    crypt_key key;
    if (!CryptGetUserKey(provider, spec, key.put())) return false;
    return ExportKeyBlob(key.get(), PRIVATEKEYBLOB, blob);
}

void Wipe(std::vector<BYTE>& bytes) noexcept
{
    if (!bytes.empty()) SecureZeroMemory(bytes.data(), bytes.size());
    bytes.clear();
}

}  // namespace

namespace handle_holder {
void close_crypt_key(HCRYPTKEY key) noexcept { CryptDestroyKey(key); }
void close_cert_context(PCCERT_CONTEXT context) noexcept { CertFreeCertificateContext(context); }
}  // namespace handle_holder

int HashAlgorithmByName(const zString& name)
{
    if (_wcsicmp(name.c_str(), L"sha1") == 0) return 1;
    if (_wcsicmp(name.c_str(), L"sha256") == 0 || _wcsicmp(name.c_str(), L"sha2") == 0) return 2;
    return 0;
}

ALG_ID HashAlgorithmId(int kind) noexcept
{
    return kind == 1 ? CALG_SHA1 : kind == 2 ? CALG_SHA_256 : 0;
}

std::vector<zString> DefaultProviders(ALG_ID algorithm)
{
    if (ProviderType(algorithm) == PROV_RSA_AES) return {zString(MS_ENH_RSA_AES_PROV_W)};
    return {zString(MS_DEF_PROV_W), zString(MS_ENHANCED_PROV_W), zString(MS_STRONG_PROV_W)};
}

hash_context::hash_context(ALG_ID algorithm, std::vector<zString> providers)
    : providers_(std::move(providers)), algorithm_(algorithm)
{
}

bool hash_context::fail(DWORD code) noexcept
{
    lastError_ = code ? code : LastErrorOr(static_cast<DWORD>(NTE_FAIL));
    return false;
}

bool hash_context::start(size_t index)
{
    hash_.reset();
    provider_changed();
    provider_.reset();
    if (index > 0 && index >= providers_.size()) return fail(NTE_PROV_DLL_NOT_FOUND);
    current_ = index;
    const wchar_t* name = providers_.empty() ? nullptr : providers_[index].c_str();
    if (!CryptAcquireContextW(provider_.put(), nullptr, name, ProviderType(algorithm_), CRYPT_VERIFYCONTEXT | CRYPT_SILENT))
        return fail();
    if (!CryptCreateHash(provider_.get(), algorithm_, 0, 0, hash_.put())) return fail();
    return true;
}

bool hash_context::next_provider()
{
    if (current_ + 1 >= providers_.size()) return fail(NTE_PROV_DLL_NOT_FOUND);
    return start(current_ + 1);
}

bool hash_context::hash_data(const void* bytes, DWORD count)
{
    if (!hash_) return fail(NTE_BAD_HASH);
    if (count == 0) return true;
    return CryptHashData(hash_.get(), static_cast<const BYTE*>(bytes), count, 0) || fail();
}

bool hash_context::hash_value(std::vector<BYTE>& out)
{
    DWORD size = 0;
    if (!hash_ || !CryptGetHashParam(hash_.get(), HP_HASHVAL, nullptr, &size, 0)) return fail(NTE_BAD_HASH);
    out.resize(size);
    if (!CryptGetHashParam(hash_.get(), HP_HASHVAL, out.data(), &size, 0)) return fail();
    out.resize(size);
    return true;
}

bool hash_context::set_hash_value(const std::vector<BYTE>& value)
{
    if (!hash_) return fail(NTE_BAD_HASH);
    DWORD size = 0, length = sizeof size;
    if (!CryptGetHashParam(hash_.get(), HP_HASHSIZE, reinterpret_cast<BYTE*>(&size), &length, 0)) return fail();
    if (value.size() != size) return fail(NTE_BAD_LEN);
    return CryptSetHashParam(hash_.get(), HP_HASHVAL, value.data(), 0) || fail();
}

signature_verifier::signature_verifier(ALG_ID algorithm) : signature_verifier(algorithm, DefaultProviders(algorithm)) {}

signature_verifier::signature_verifier(ALG_ID algorithm, std::vector<zString> providers)
    : hash_context(algorithm, std::move(providers))
{
}

void signature_verifier::provider_changed() noexcept
{
    publicKey_.reset();
    privateKey_.reset();
}

bool signature_verifier::take_store(cert_store store)
{
    if (!store) return fail(CRYPT_E_NOT_FOUND);
    store_ = std::move(store);
    signer_ = PickSignerCertificate(store_.get());
    if (!signer_) return fail(CRYPT_E_NOT_FOUND);
    return import_signer_key();
}

bool signature_verifier::load_signature_block(const BYTE* block, size_t size)
{
    signature_.clear();
    signer_.reset();
    store_.reset();
    // A fresh context and hash: the verifier may have checked another file before.
    if (!start()) return false;
    DWORD length = 0;
    if (size < sizeof length) return fail(NTE_BAD_SIGNATURE);
    std::memcpy(&length, block, sizeof length);
    if (length == 0 || length > size - sizeof length) return fail(NTE_BAD_SIGNATURE);
    const BYTE* stored = block + sizeof length + length;
    const size_t storedSize = size - sizeof length - length;
    // Certificates alone, each exactly its encoding, and the end: a byte of the block that
    // changed nothing of what is checked would still be a changed file.
    std::vector<std::pair<const BYTE*, DWORD>> certificates;
    if (!SerializedCertificates(stored, storedSize, certificates) || certificates.empty()
        || certificates.size() > max_block_certificates)
        return fail(NTE_BAD_SIGNATURE);
    cert_store store = OpenSerializedCertStore(stored, storedSize);
    if (!store || CertificateCount(store.get()) != certificates.size()) return fail(NTE_BAD_SIGNATURE);
    for (PCCERT_CONTEXT each = nullptr; (each = CertEnumCertificatesInStore(store.get(), each)) != nullptr;) {
        if (!CertificateEncodingStrict(each)) {
            CertFreeCertificateContext(each);
            return fail(NTE_BAD_SIGNATURE);
        }
    }
    signature_.assign(block + sizeof length, stored);
    if (!take_store(std::move(store))) {
        signature_.clear();
        return false;
    }
    return true;
}

bool signature_verifier::load_certificate_file(const zString& path)
{
    const cert_store file = OpenCertificateFile(path);
    if (!file) return fail();
    return take_store(CopyCertificates(file.get()));
}

bool signature_verifier::import_pfx_key(const zString& path, const zString& password)
{
    privateKey_.reset();
    second_.reset();
    if (!provider_ && !start()) return false;
    const std::vector<std::string> before = KeyContainers();
    std::vector<BYTE> blob;
    {
        cert_store pfx = ImportPfxStore(path, password, true);
        if (!pfx) {
            const DWORD error = GetLastError();
            RemoveContainersNotIn(before);
            return fail(error);
        }
        for (PCCERT_CONTEXT each = nullptr; (each = CertEnumCertificatesInStore(pfx.get(), each)) != nullptr;) {
            if (ExportPrivateKey(each, blob)) {
                second_.reset(CertDuplicateCertificateContext(each));
                CertFreeCertificateContext(each);
                break;
            }
        }
    }
    RemoveContainersNotIn(before);
    if (blob.size() < sizeof(BLOBHEADER)) return fail(static_cast<DWORD>(NTE_NO_KEY));
    // A PFX's RSA key comes as an exchange key; signing asks for the signature key.
    reinterpret_cast<BLOBHEADER*>(blob.data())->aiKeyAlg = CALG_RSA_SIGN;
    DWORD error = 0;
    while (!(privateKey_ = ImportKeyBlob(provider_.get(), blob))) {
        error = LastErrorOr(static_cast<DWORD>(NTE_BAD_KEY));
        if (!next_provider()) break;
    }
    Wipe(blob);
    return privateKey_ || fail(error);
}

bool signature_verifier::import_signer_key()
{
    publicKey_.reset();
    if (!signer_) return fail(CRYPT_E_NOT_FOUND);
    if (!provider_ && !start()) return false;
    for (;;) {
        // As a signature key: the base provider takes no exchange key of 2048 bits.
        if (CryptImportPublicKeyInfoEx(provider_.get(), X509_ASN_ENCODING,
                                       &signer_.get()->pCertInfo->SubjectPublicKeyInfo, CALG_RSA_SIGN, 0, nullptr,
                                       publicKey_.put()))
            return true;
        const DWORD error = GetLastError();
        // Another provider would lose the private key, which lives in this one.
        if (privateKey_ || !next_provider()) {
            SetLastError(error);
            return fail();
        }
    }
}

bool signature_verifier::key_matches_signer()
{
    std::vector<BYTE> mine, signers;
    if (!privateKey_ || !publicKey_) return fail(static_cast<DWORD>(NTE_NO_KEY));
    if (!ExportKeyBlob(privateKey_.get(), PUBLICKEYBLOB, mine) || !ExportKeyBlob(publicKey_.get(), PUBLICKEYBLOB, signers))
        return fail();
    // The blob header names the key's use, which differs: the modulus and exponent decide.
    if (mine.size() != signers.size() || mine.size() < sizeof(BLOBHEADER)
        || std::memcmp(mine.data() + sizeof(BLOBHEADER), signers.data() + sizeof(BLOBHEADER),
                       mine.size() - sizeof(BLOBHEADER)) != 0)
        return fail(static_cast<DWORD>(NTE_BAD_PUBLIC_KEY));
    return true;
}

bool signature_verifier::verify()
{
    if (!hash_ || !publicKey_ || signature_.empty()) return fail(NTE_BAD_SIGNATURE);
    return CryptVerifySignatureW(hash_.get(), signature_.data(), static_cast<DWORD>(signature_.size()), publicKey_.get(),
                                 nullptr, 0)
           || fail();
}

bool signature_verifier::sign_block(std::vector<BYTE>& block, bool with_store)
{
    block.clear();
    if (!hash_ || !privateKey_ || !publicKey_) return fail(NTE_NO_KEY);
    DWORD length = 0;
    if (!CryptSignHashW(hash_.get(), AT_SIGNATURE, nullptr, 0, nullptr, &length)) return fail();
    std::vector<BYTE> signature(length);
    if (!CryptSignHashW(hash_.get(), AT_SIGNATURE, nullptr, 0, signature.data(), &length)) return fail();
    signature.resize(length);
    signature_ = signature;
    if (!verify()) return false;
    std::vector<BYTE> stored;
    if (with_store && !SaveSerializedStore(store_.get(), stored)) return fail();
    block.resize(sizeof length);
    std::memcpy(block.data(), &length, sizeof length);
    block.insert(block.end(), signature.begin(), signature.end());
    block.insert(block.end(), stored.begin(), stored.end());
    return true;
}

bool SerializedCertificates(const BYTE* bytes, size_t size, std::vector<std::pair<const BYTE*, DWORD>>& out)
{
    constexpr DWORD store_magic = 0x54524543;  // "CERT"
    constexpr DWORD certificate_element = 0x20;
    out.clear();
    const auto field = [&](size_t at) {
        DWORD value;
        std::memcpy(&value, bytes + at, sizeof value);
        return value;
    };
    if (size < 8 || field(0) != 0 || field(4) != store_magic) return false;
    size_t at = 8;
    while (size - at >= 12) {
        const DWORD id = field(at), encoding = field(at + 4), length = field(at + 8);
        at += 12;
        if (id == 0) return encoding == 0 && length == 0 && at == size;
        if (id != certificate_element || encoding != X509_ASN_ENCODING || length > size - at) return false;
        // A DER SEQUENCE filling the element exactly.
        const BYTE* der = bytes + at;
        if (length < 2 || der[0] != 0x30) return false;
        size_t header = 2, content = der[1];
        if (der[1] & 0x80) {
            const size_t digits = der[1] & 0x7F;
            if (digits == 0 || digits > 3 || length < 2 + digits) return false;
            content = 0;
            for (size_t i = 0; i < digits; ++i) content = content << 8 | der[2 + i];
            header += digits;
        }
        if (header + content != length) return false;
        out.emplace_back(der, length);
        at += length;
    }
    return false;
}

bool CertificateEncodingStrict(PCCERT_CONTEXT certificate) noexcept
{
    CERT_SIGNED_CONTENT_INFO* signed_content = nullptr;
    DWORD size = 0;
    if (!certificate
        || !CryptDecodeObjectEx(X509_ASN_ENCODING, X509_CERT, certificate->pbCertEncoded, certificate->cbCertEncoded,
                                CRYPT_DECODE_ALLOC_FLAG, nullptr, &signed_content, &size))
        return false;
    const local_memory owned(static_cast<HLOCAL>(signed_content));
    const CRYPT_ALGORITHM_IDENTIFIER& outer = signed_content->SignatureAlgorithm;
    const CRYPT_ALGORITHM_IDENTIFIER& inner = certificate->pCertInfo->SignatureAlgorithm;
    return signed_content->Signature.cUnusedBits == 0 && outer.pszObjId && inner.pszObjId
           && std::strcmp(outer.pszObjId, inner.pszObjId) == 0 && outer.Parameters.cbData == inner.Parameters.cbData
           && (outer.Parameters.cbData == 0
               || std::memcmp(outer.Parameters.pbData, inner.Parameters.pbData, outer.Parameters.cbData) == 0);
}

cert_context PickSignerCertificate(HCERTSTORE store)
{
    std::vector<cert_context> all;
    for (PCCERT_CONTEXT each = nullptr; (each = CertEnumCertificatesInStore(store, each)) != nullptr;)
        all.emplace_back(CertDuplicateCertificateContext(each));
    for (const cert_context& candidate : all) {
        const bool issuesAnother = std::any_of(all.begin(), all.end(), [&](const cert_context& other) {
            return !SameCertificate(other.get(), candidate.get())
                   && CertCompareCertificateName(X509_ASN_ENCODING, &other.get()->pCertInfo->Issuer,
                                                 &candidate.get()->pCertInfo->Subject);
        });
        if (!issuesAnother) return cert_context(CertDuplicateCertificateContext(candidate.get()));
    }
    return {};
}

bool CertificateSha1(PCCERT_CONTEXT certificate, std::array<BYTE, 20>& hash)
{
    DWORD size = static_cast<DWORD>(hash.size());
    return certificate
           && CryptHashCertificate(0, CALG_SHA1, 0, certificate->pbCertEncoded, certificate->cbCertEncoded, hash.data(),
                                   &size)
           && size == hash.size();
}

bool SameCertificate(PCCERT_CONTEXT a, PCCERT_CONTEXT b) noexcept
{
    return a && b && a->cbCertEncoded == b->cbCertEncoded
           && std::memcmp(a->pbCertEncoded, b->pbCertEncoded, a->cbCertEncoded) == 0;
}

cert_context FindSameCertificate(HCERTSTORE store, PCCERT_CONTEXT certificate)
{
    std::array<BYTE, 20> hash;
    if (!store || !CertificateSha1(certificate, hash)) return {};
    CRYPT_HASH_BLOB blob{static_cast<DWORD>(hash.size()), hash.data()};
    for (PCCERT_CONTEXT found = nullptr;
         (found = CertFindCertificateInStore(store, certificate_encoding, 0, CERT_FIND_SHA1_HASH, &blob, found)) != nullptr;) {
        // The store's hash may be a stored property: only the bytes decide.
        if (SameCertificate(found, certificate)) return cert_context(found);
    }
    return {};
}

bool SignedBy(PCCERT_CONTEXT subject, PCCERT_CONTEXT issuer) noexcept
{
    return subject && issuer
           && CryptVerifyCertificateSignatureEx(0, X509_ASN_ENCODING, CRYPT_VERIFY_CERT_SIGN_SUBJECT_CERT,
                                                const_cast<CERT_CONTEXT*>(subject), CRYPT_VERIFY_CERT_SIGN_ISSUER_CERT,
                                                const_cast<CERT_CONTEXT*>(issuer), 0, nullptr);
}

bool CertificateTimeValid(PCCERT_CONTEXT certificate) noexcept
{
    return certificate && CertVerifyTimeValidity(nullptr, certificate->pCertInfo) == 0;
}

bool SelfSigned(PCCERT_CONTEXT certificate) noexcept
{
    return certificate
           && CertCompareCertificateName(X509_ASN_ENCODING, &certificate->pCertInfo->Issuer,
                                         &certificate->pCertInfo->Subject)
           && SignedBy(certificate, certificate) && CertificateTimeValid(certificate);
}

std::vector<cert_context> IssuerCandidates(HCERTSTORE store, PCCERT_CONTEXT subject)
{
    std::vector<cert_context> out;
    if (!store || !subject) return out;
    PCCERT_CONTEXT previous = nullptr;
    while (out.size() < max_candidates) {
        DWORD flags = 0;
        // Frees `previous`; the list holds its own duplicates.
        previous = CertGetIssuerCertificateFromStore(store, subject, previous, &flags);
        if (!previous) break;
        out.emplace_back(CertDuplicateCertificateContext(previous));
    }
    if (previous) CertFreeCertificateContext(previous);
    return out;
}

size_t CertificateCount(HCERTSTORE store)
{
    size_t count = 0;
    for (PCCERT_CONTEXT each = nullptr; store && (each = CertEnumCertificatesInStore(store, each)) != nullptr;) ++count;
    return count;
}

cert_store OpenSystemCertStore(const wchar_t* name)
{
    return cert_store(CertOpenSystemStoreW(0, name));
}

cert_store OpenLocationCertStore(const zString& location, const zString& name)
{
    DWORD where = 0;
    if (_wcsicmp(location.c_str(), L"User") == 0) {
        where = CERT_SYSTEM_STORE_CURRENT_USER;
    } else if (_wcsicmp(location.c_str(), L"Machine") == 0) {
        where = CERT_SYSTEM_STORE_LOCAL_MACHINE;
    } else {
        SetLastError(ERROR_INVALID_PARAMETER);
        return {};
    }
    return cert_store(CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, where | CERT_STORE_OPEN_EXISTING_FLAG, name.c_str()));
}

cert_store OpenMemoryCertStore()
{
    return cert_store(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr));
}

cert_store OpenSerializedCertStore(const BYTE* bytes, size_t size)
{
    // Read here: Wine's own reader frees a context twice on a certificate that does not decode.
    std::vector<std::pair<const BYTE*, DWORD>> certificates;
    if (!SerializedCertificates(bytes, size, certificates)) {
        SetLastError(static_cast<DWORD>(CRYPT_E_FILE_ERROR));
        return {};
    }
    cert_store store = OpenMemoryCertStore();
    for (const auto& [der, length] : certificates) {
        if (!store
            || !CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING, der, length, CERT_STORE_ADD_ALWAYS, nullptr))
            return {};
    }
    return store;
}

cert_store OpenCertificateFile(const zString& path)
{
    return cert_store(CertOpenStore(CERT_STORE_PROV_FILENAME_W, certificate_encoding, 0,
                                    CERT_STORE_OPEN_EXISTING_FLAG | CERT_STORE_READONLY_FLAG, path.c_str()));
}

cert_store ImportPfxStore(const zString& path, const zString& password, bool keep_containers)
{
    std::vector<unsigned char> bytes;
    if (const DWORD error = ReadFileBytes(path, bytes); error != 0) {
        SetLastError(error);
        return {};
    }
    const std::vector<std::string> before = keep_containers ? std::vector<std::string>() : KeyContainers();
    CRYPT_DATA_BLOB blob{static_cast<DWORD>(bytes.size()), bytes.data()};
    SetLastError(0);
    cert_store store(PFXImportCertStore(&blob, password.c_str(), CRYPT_EXPORTABLE | PKCS12_NO_PERSIST_KEY));
    // A wrong password gives no store and no error.
    const DWORD error = store ? 0 : LastErrorOr(ERROR_INVALID_PASSWORD);
    if (!keep_containers) RemoveContainersNotIn(before);
    if (!store) SetLastError(error);
    return store;
}

cert_store CopyCertificates(HCERTSTORE store)
{
    cert_store copy = OpenMemoryCertStore();
    if (!copy) return copy;
    for (PCCERT_CONTEXT each = nullptr; store && (each = CertEnumCertificatesInStore(store, each)) != nullptr;) {
        if (!CertAddEncodedCertificateToStore(copy.get(), X509_ASN_ENCODING, each->pbCertEncoded, each->cbCertEncoded,
                                              CERT_STORE_ADD_ALWAYS, nullptr)) {
            const DWORD error = GetLastError();
            CertFreeCertificateContext(each);
            SetLastError(error);
            return {};
        }
    }
    return copy;
}

bool AddCertificate(HCERTSTORE store, PCCERT_CONTEXT certificate, DWORD disposition)
{
    // The bytes alone: properties of a certificate from a file are not to be carried over.
    if (CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, certificate->pbCertEncoded,
                                         certificate->cbCertEncoded, disposition, nullptr))
        return true;
    return GetLastError() == static_cast<DWORD>(CRYPT_E_EXISTS);
}

bool SaveSerializedStore(HCERTSTORE store, std::vector<BYTE>& out)
{
    CRYPT_DATA_BLOB blob{0, nullptr};
    if (!CertSaveStore(store, certificate_encoding, CERT_STORE_SAVE_AS_STORE, CERT_STORE_SAVE_TO_MEMORY, &blob, 0))
        return false;
    out.resize(blob.cbData);
    blob.pbData = out.data();
    if (!CertSaveStore(store, certificate_encoding, CERT_STORE_SAVE_AS_STORE, CERT_STORE_SAVE_TO_MEMORY, &blob, 0))
        return false;
    out.resize(blob.cbData);
    return true;
}

std::vector<std::string> KeyContainers(DWORD provider_type)
{
    std::vector<std::string> names;
    crypt_provider provider;
    if (!CryptAcquireContextW(provider.put(), nullptr, nullptr, provider_type, CRYPT_VERIFYCONTEXT | CRYPT_SILENT))
        return names;
    char name[1024];
    for (DWORD flags = CRYPT_FIRST;; flags = CRYPT_NEXT) {
        DWORD size = sizeof name;
        if (!CryptGetProvParam(provider.get(), PP_ENUMCONTAINERS, reinterpret_cast<BYTE*>(name), &size, flags)) break;
        names.emplace_back(name, strnlen(name, size));
    }
    return names;
}

DWORD CompleteIssuers(PCCERT_CONTEXT certificate, HCERTSTORE target, const chain_stores* stores)
{
    cert_store systemCa, systemRoot;
    HCERTSTORE ca = stores ? stores->ca : nullptr, root = stores ? stores->root : nullptr;
    if (!ca) ca = (systemCa = OpenSystemCertStore(L"CA")).get();
    if (!root) root = (systemRoot = OpenSystemCertStore(L"Root")).get();
    cert_context current(CertDuplicateCertificateContext(certificate));
    for (size_t depth = 0; depth < max_issuer_depth; ++depth) {
        if (CertCompareCertificateName(X509_ASN_ENCODING, &current.get()->pCertInfo->Issuer,
                                       &current.get()->pCertInfo->Subject))
            break;
        cert_context issuer;
        for (HCERTSTORE store : {ca, root}) {
            for (cert_context& candidate : IssuerCandidates(store, current.get())) {
                if (!SignedBy(current.get(), candidate.get())) continue;
                // The issuer's own dates: the lookup's time flag looks at the subject's.
                if (!CertificateTimeValid(candidate.get())) return 0x8009202B;
                issuer = std::move(candidate);
                break;
            }
            if (issuer) break;
        }
        if (!issuer) break;
        if (!AddCertificate(target, issuer.get(), CERT_STORE_ADD_NEWER)) return GetLastError();
        current = std::move(issuer);
    }
    return 0;
}

cert_chain BuildCertificateChain(PCCERT_CONTEXT certificate, HCERTSTORE additional)
{
    CERT_CHAIN_PARA parameters{};
    parameters.cbSize = sizeof parameters;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    if (!CertGetCertificateChain(nullptr, certificate, nullptr, additional, &parameters, 0, nullptr, &chain)) return {};
    return cert_chain(chain);
}

cert_store ReadSignedMessage(const zString& path, crypt_msg& message)
{
    HCERTSTORE store = nullptr;
    HCRYPTMSG read = nullptr;
    if (!CryptQueryObject(CERT_QUERY_OBJECT_FILE, path.c_str(),
                          CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED | CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED,
                          CERT_QUERY_FORMAT_FLAG_ALL, 0, nullptr, nullptr, nullptr, &store, &read, nullptr))
        return {};
    message.reset(read);
    return cert_store(store);
}

bool SignedMessageSignerCount(HCRYPTMSG message, DWORD& count)
{
    DWORD size = sizeof count;
    return message && CryptMsgGetParam(message, CMSG_SIGNER_COUNT_PARAM, 0, &count, &size);
}

zString CertificateNameText(const CERT_NAME_BLOB& name, DWORD form)
{
    CERT_NAME_BLOB copy = name;
    const DWORD length = CertNameToStrW(certificate_encoding, &copy, form, nullptr, 0);
    if (length <= 1) return zString();
    std::wstring text(length, L'\0');
    CertNameToStrW(certificate_encoding, &copy, form, text.data(), length);
    text.resize(wcsnlen(text.c_str(), length));
    return zString(text.c_str());
}

bool CertificateNameAttribute(const CERT_NAME_BLOB& name, const char* oid, zString& value)
{
    CERT_NAME_INFO* info = nullptr;
    DWORD size = 0;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_NAME, name.pbData, name.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr,
                             &info, &size))
        return false;
    const local_memory owned(static_cast<HLOCAL>(info));
    for (DWORD r = 0; r < info->cRDN; ++r) {
        const CERT_RDN& rdn = info->rgRDN[r];
        for (DWORD a = 0; a < rdn.cRDNAttr; ++a) {
            CERT_RDN_ATTR& attribute = rdn.rgRDNAttr[a];
            if (!attribute.pszObjId || std::strcmp(attribute.pszObjId, oid) != 0) continue;
            const DWORD length = CertRDNValueToStrW(attribute.dwValueType, &attribute.Value, nullptr, 0);
            std::wstring text(length ? length : 1, L'\0');
            CertRDNValueToStrW(attribute.dwValueType, &attribute.Value, text.data(), static_cast<DWORD>(text.size()));
            text.resize(wcsnlen(text.c_str(), text.size()));
            value = zString(text.c_str());
            return true;
        }
    }
    return false;
}

crypt_key ImportKeyBlob(HCRYPTPROV provider, const std::vector<BYTE>& blob, DWORD flags)
{
    crypt_key key;
    if (!CryptImportKey(provider, blob.data(), static_cast<DWORD>(blob.size()), 0, flags, key.put())) return {};
    return key;
}

bool ExportKeyBlob(HCRYPTKEY key, DWORD blob_type, std::vector<BYTE>& out)
{
    DWORD size = 0;
    if (!CryptExportKey(key, 0, blob_type, 0, nullptr, &size)) return false;
    out.resize(size);
    if (!CryptExportKey(key, 0, blob_type, 0, out.data(), &size)) {
        Wipe(out);
        return false;
    }
    out.resize(size);
    return true;
}

crypt_key DeriveKey(HCRYPTPROV provider, ALG_ID algorithm, HCRYPTHASH hash, DWORD flags)
{
    crypt_key key;
    if (!CryptDeriveKey(provider, algorithm, hash, flags, key.put())) return {};
    return key;
}

LONG VerifyFileTrust(const zString& path, DWORD ui_choice)
{
    WINTRUST_FILE_INFO file{};
    file.cbStruct = sizeof file;
    file.pcwszFilePath = path.c_str();
    WINTRUST_DATA data{};
    data.cbStruct = sizeof data;
    data.dwUIChoice = ui_choice;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_IGNORE;
    data.dwProvFlags = WTD_SAFER_FLAG;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    return WinVerifyTrust(nullptr, &action, &data);
}

}  // namespace qv
