// Signed data files: a 493-byte header, its extension, a record and a payload, followed by a
// signature block (a SHA-1 signature over all of them and the signer's certificates). Checks
// a file's signature, its signer's chain and whether the user trusts that signer; adds a
// signer to the trusted ones; signs a file. Failures are results and LastFileOpError.
#pragma once

#include "signature_verifier.h"
#include "zString.h"

#include <windows.h>

namespace qv {

constexpr DWORD signed_file_magic = 0x28635651;  // "QVc("
constexpr DWORD signed_file_version = 0x040008FC;
constexpr DWORD signed_file_header_size = 493;
constexpr DWORD max_header_extension = 512;
constexpr DWORD min_record_size = 28;
constexpr DWORD record_payload_length_at = 24;
// The block holds a signature and a few certificates.
constexpr DWORD max_signature_block = 1u << 20;

constexpr DWORD signed_file_not_signed = 0x80042328;
constexpr DWORD signed_file_bad_chain = 0x80042329;
constexpr DWORD signed_file_bad_signature = 0x8004232A;

// Registry key below HKEY_CURRENT_USER whose certificate store holds the trusted signers.
extern const wchar_t trusted_signers_key[];

struct SignedFileResult {
    bool is_signed = false;
    bool trusted = false;
    DWORD result = 0;
    zString issuer;
    zString subject;
    signature_verifier verifier;
};

struct signed_file_layout {
    DWORD record_offset = 0;
    DWORD record_size = 0;
    DWORD block_offset = 0;
};

// 13 for a wrong magic or version, else 0 and the header's offsets.
DWORD ReadSignedFileHeader(const BYTE* header, signed_file_layout& layout) noexcept;
// 13 unless the header extension, record and block lie inside the file as they must.
DWORD CheckSignedFileLayout(const signed_file_layout& layout, ULONGLONG file_size) noexcept;
// What the header alone decides, with every offset checked against the file: 0, 13 for a
// wrong magic or version or a layout outside the file, or signed_file_not_signed.
DWORD CheckSignedFileHeader(const BYTE* header, ULONGLONG file_size, signed_file_layout& layout) noexcept;
// The payload must end where the block starts: 0 or 13.
DWORD CheckSignedFilePayload(const signed_file_layout& layout, DWORD payload_length) noexcept;

// 0 the chain is good, 1 a certificate of it is outside its dates, 2 no chain. Issuers come
// from `stores` (the system's "ROOT" and "CA" where null), then from the signer's own store.
int CheckSignerChain(PCCERT_CONTEXT signer, HCERTSTORE embedded, bool time_test, const chain_stores* stores = nullptr);
// The common name, else the organisational unit, organisation or e-mail address, else the
// whole name; at most 1023 characters.
zString SignerDisplayName(const CERT_NAME_BLOB& name);

// True when the signature and the chain are good; `trusted` is reported apart.
bool VerifySignedFile(const zString& path, SignedFileResult* result = nullptr, const chain_stores* stores = nullptr);
// After a good VerifySignedFile: the signer joins the trusted signers (already there is fine).
bool TrustSigner(SignedFileResult& result);
// Appends a signature block to a data file whose header names its size as the block's
// offset. The key file is a password-protected PFX; the certificate file a DER certificate
// or PKCS #7 certificates (the signer and its chain). 0 signed; 2 the data file does not
// read or is not a data file to sign; 3 signing or writing failed (the file is as it was);
// 4 the key does not import or is not the certificate's; 5 the certificate file; 6 no
// chain or no hash; 7 a certificate of the chain is outside its dates.
int SignDataFile(const zString& data_file, const zString& certificate_file, const zString& key_file,
                 const zString& password, const chain_stores* stores = nullptr);

// The write of the signature block; WriteFile but in tests.
extern BOOL(WINAPI* SignatureBlockWrite)(HANDLE file, LPCVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED overlapped);

}  // namespace qv
