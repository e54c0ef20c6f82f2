#include "signed_data_file.h"

#include "file.h"
#include "file_system.h"
#include "win32_exception.h"

#include <array>
#include <cstring>
#include <vector>

namespace qv {

const wchar_t trusted_signers_key[] = L"SOFTWARE\\Corvane\\Cryptography\\Trust";

BOOL(WINAPI* SignatureBlockWrite)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED) = WriteFile;

namespace {

constexpr size_t max_chain_depth = 8;
constexpr DWORD display_name_limit = 1023;
constexpr DWORD read_chunk = 64 * 1024;

DWORD Field(const BYTE* header, size_t at) noexcept
{
    DWORD value;
    std::memcpy(&value, header + at, sizeof value);
    return value;
}

struct chain_walk {
    HCERTSTORE root;
    HCERTSTORE ca;
    HCERTSTORE embedded;
    bool timeTest;
    std::vector<std::array<BYTE, 20>> visited;

    bool valid(PCCERT_CONTEXT certificate) const noexcept { return !timeTest || CertificateTimeValid(certificate); }

    int check(PCCERT_CONTEXT subject, size_t depth)
    {
        if (!valid(subject)) return 1;
        std::array<BYTE, 20> hash;
        if (depth > max_chain_depth || !CertificateSha1(subject, hash)) return 2;
        for (const auto& seen : visited)
            if (seen == hash) return 2;
        visited.push_back(hash);
        // Only the signer's own certificate ends its chain by signing itself; a root that
        // came with the file is no root.
        if (depth == 0
            && CertCompareCertificateName(X509_ASN_ENCODING, &subject->pCertInfo->Issuer, &subject->pCertInfo->Subject)
            && SignedBy(subject, subject))
            return 0;
        int noted = 2;
        for (const cert_context& candidate : IssuerCandidates(root, subject)) {
            if (!SignedBy(subject, candidate.get())) continue;
            if (!valid(candidate.get())) {
                noted = 1;
                continue;
            }
            return 0;
        }
        // An intermediate counts only when it leads up to a root.
        for (const cert_context& candidate : IssuerCandidates(ca, subject)) {
            if (!SignedBy(subject, candidate.get())) continue;
            const int above = check(candidate.get(), depth + 1);
            if (above == 0) return 0;
            if (above == 1) noted = 1;
        }
        for (const cert_context& candidate : IssuerCandidates(embedded, subject)) {
            if (!SignedBy(subject, candidate.get())) continue;
            if (!valid(candidate.get())) return 1;
            const int above = check(candidate.get(), depth + 1);
            if (above == 0) return 0;
            if (above == 1) noted = 1;
        }
        return noted;
    }
};

// Hashes `length` bytes from the file's position; the first `head.size()` of them are kept.
bool HashSpan(file& source, hash_context& hash, ULONGLONG length, std::vector<BYTE>* head = nullptr)
{
    std::vector<BYTE> buffer(static_cast<size_t>(length < read_chunk ? length : read_chunk));
    size_t kept = 0;
    while (length > 0) {
        const DWORD want = static_cast<DWORD>(length < read_chunk ? length : read_chunk);
        const DWORD got = source.read(buffer.data(), want);
        if (got != want) {
            SetLastError(ERROR_INVALID_DATA);
            return false;
        }
        if (head && kept < head->size()) {
            const size_t take = std::min<size_t>(head->size() - kept, got);
            std::memcpy(head->data() + kept, buffer.data(), take);
            kept += take;
        }
        if (!hash.hash_data(buffer.data(), got)) return false;
        length -= got;
    }
    return true;
}

void Seek(file& source, ULONGLONG offset)
{
    LONG high = static_cast<LONG>(offset >> 32);
    source.seek(static_cast<LONG>(offset & 0xFFFFFFFFu), FILE_BEGIN, &high);
}

ULONGLONG FileSize(file& source)
{
    DWORD high = 0;
    const DWORD low = source.size(&high);
    return (static_cast<ULONGLONG>(high) << 32) | low;
}

// The header from the file's start, and the file's size; 0 or 13 for a file shorter than it.
DWORD ReadHeader(file& source, BYTE (&header)[signed_file_header_size], ULONGLONG& size)
{
    size = FileSize(source);
    Seek(source, 0);
    if (size < signed_file_header_size || source.read(header, signed_file_header_size) != signed_file_header_size)
        return ERROR_INVALID_DATA;
    return 0;
}

// The payload's length from the record, which must end the payload at the block: 0 or 13.
DWORD ReadPayloadLength(file& source, const signed_file_layout& layout, DWORD& length)
{
    BYTE field[4];
    Seek(source, static_cast<ULONGLONG>(layout.record_offset) + record_payload_length_at);
    if (source.read(field, sizeof field) != sizeof field) return ERROR_INVALID_DATA;
    length = Field(field, 0);
    return CheckSignedFilePayload(layout, length);
}

zString CutName(const zString& name)
{
    if (name.size() <= display_name_limit) return name;
    return zString(std::wstring(name.c_str(), display_name_limit).c_str());
}

// The header, its extension, the record and the payload hashed, the block loaded; 0 or the
// result code.
DWORD CheckFile(file& source, SignedFileResult& out, const chain_stores* stores)
{
    BYTE header[signed_file_header_size];
    ULONGLONG size = 0;
    if (const DWORD read = ReadHeader(source, header, size); read != 0) return read;
    signed_file_layout layout;
    const DWORD checked = CheckSignedFileHeader(header, size, layout);
    out.is_signed = Field(header, 20) != size;
    if (checked != 0) return checked;

    // The payload's length before the block: every offset is checked before the block is read.
    DWORD payloadLength = 0;
    if (const DWORD payload = ReadPayloadLength(source, layout, payloadLength); payload != 0) return payload;

    const ULONGLONG blockSize = size - layout.block_offset;
    std::vector<BYTE> block(static_cast<size_t>(blockSize));
    Seek(source, layout.block_offset);
    if (source.read(block.data(), static_cast<DWORD>(blockSize)) != blockSize) return ERROR_INVALID_DATA;
    signature_verifier& verifier = out.verifier;
    if (!verifier.load_signature_block(block.data(), block.size())) return signed_file_bad_signature;

    if (!verifier.hash_data(header, signed_file_header_size)) return signed_file_bad_signature;
    Seek(source, signed_file_header_size);
    std::vector<BYTE> record(min_record_size);
    if (!HashSpan(source, verifier, layout.record_offset - signed_file_header_size)
        || !HashSpan(source, verifier, layout.record_size, &record) || Field(record.data(), record_payload_length_at) != payloadLength
        || !HashSpan(source, verifier, payloadLength))
        return ERROR_INVALID_DATA;

    if (CheckSignerChain(verifier.signer(), verifier.store(), true, stores) != 0) return signed_file_bad_chain;
    if (!verifier.verify()) return signed_file_bad_signature;
    return 0;
}

bool SignerTrusted(PCCERT_CONTEXT signer)
{
    registry_key key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, trusted_signers_key, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return false;
    const cert_store trusted(CertOpenStore(CERT_STORE_PROV_REG, certificate_encoding, 0,
                                           CERT_STORE_OPEN_EXISTING_FLAG | CERT_STORE_READONLY_FLAG, key.get()));
    // The exact certificate: another key under the same name is another signer.
    return trusted && FindSameCertificate(trusted.get(), signer);
}

int SignFailure(int result, const zString& path, DWORD error)
{
    SetLastFileOpError(error ? error : ERROR_INVALID_DATA);
    RecordFailedPath(path);
    return result;
}

bool WriteBlock(HANDLE handle, const std::vector<BYTE>& block)
{
    size_t done = 0;
    while (done < block.size()) {
        DWORD wrote = 0;
        if (!SignatureBlockWrite(handle, block.data() + done, static_cast<DWORD>(block.size() - done), &wrote, nullptr))
            return false;
        if (wrote == 0) {
            SetLastError(ERROR_WRITE_FAULT);
            return false;
        }
        done += wrote;
    }
    return true;
}

}  // namespace

DWORD ReadSignedFileHeader(const BYTE* header, signed_file_layout& layout) noexcept
{
    if (Field(header, 0) != signed_file_magic || Field(header, 4) != signed_file_version) return ERROR_INVALID_DATA;
    layout.record_offset = Field(header, 12);
    layout.record_size = Field(header, 16);
    layout.block_offset = Field(header, 20);
    return 0;
}

DWORD CheckSignedFileLayout(const signed_file_layout& layout, ULONGLONG file_size) noexcept
{
    if (layout.block_offset > file_size || file_size - layout.block_offset > max_signature_block)
        return ERROR_INVALID_DATA;
    if (layout.record_offset < signed_file_header_size
        || layout.record_offset - signed_file_header_size > max_header_extension || layout.record_size < min_record_size)
        return ERROR_INVALID_DATA;
    if (static_cast<ULONGLONG>(layout.record_offset) + layout.record_size > layout.block_offset) return ERROR_INVALID_DATA;
    return 0;
}

DWORD CheckSignedFileHeader(const BYTE* header, ULONGLONG file_size, signed_file_layout& layout) noexcept
{
    if (const DWORD read = ReadSignedFileHeader(header, layout); read != 0) return read;
    if (layout.block_offset == file_size) return signed_file_not_signed;
    return CheckSignedFileLayout(layout, file_size);
}

DWORD CheckSignedFilePayload(const signed_file_layout& layout, DWORD payload_length) noexcept
{
    const ULONGLONG end = static_cast<ULONGLONG>(layout.record_offset) + layout.record_size + payload_length;
    return end == layout.block_offset ? 0 : ERROR_INVALID_DATA;
}

int CheckSignerChain(PCCERT_CONTEXT signer, HCERTSTORE embedded, bool time_test, const chain_stores* stores)
{
    if (!signer) return 2;
    cert_store systemRoot, systemCa;
    HCERTSTORE root = stores ? stores->root : nullptr, ca = stores ? stores->ca : nullptr;
    if (!root && !(root = (systemRoot = OpenSystemCertStore(L"ROOT")).get())) return 2;
    if (!ca) ca = (systemCa = OpenSystemCertStore(L"CA")).get();
    chain_walk walk{root, ca, embedded, time_test, {}};
    return walk.check(signer, 0);
}

zString SignerDisplayName(const CERT_NAME_BLOB& name)
{
    static const char* const preferred[] = {"2.5.4.3", "2.5.4.11", "2.5.4.10", "1.2.840.113549.1.9.1"};
    zString value;
    for (const char* oid : preferred)
        if (CertificateNameAttribute(name, oid, value)) return CutName(value);
    return CutName(CertificateNameText(name, CERT_OID_NAME_STR | CERT_NAME_STR_CRLF_FLAG | CERT_NAME_STR_NO_QUOTING_FLAG));
}

bool VerifySignedFile(const zString& path, SignedFileResult* result, const chain_stores* stores)
{
    SignedFileResult own;
    SignedFileResult& out = result ? *result : own;
    out.is_signed = false;
    out.trusted = false;
    out.result = 0;
    out.issuer = zString();
    out.subject = zString();

    file source;
    DWORD code = source.open(path, GENERIC_READ, FILE_SHARE_READ, FILE_ATTRIBUTE_NORMAL, OPEN_EXISTING);
    if (code == 0) {
        try {
            code = CheckFile(source, out, stores);
        } catch (...) {
            code = static_cast<DWORD>(E_FAIL);
        }
    }
    if (code != 0) {
        out.result = code;
        SetLastFileOpError(code);
        return false;
    }
    out.trusted = SignerTrusted(out.verifier.signer());
    out.issuer = SignerDisplayName(out.verifier.signer()->pCertInfo->Issuer);
    out.subject = SignerDisplayName(out.verifier.signer()->pCertInfo->Subject);
    return true;
}

bool TrustSigner(SignedFileResult& result)
{
    if (result.result != 0 || !result.verifier.signer()) {
        SetLastFileOpError(ERROR_INVALID_PARAMETER);
        return false;
    }
    registry_key key;
    if (const LONG made = RegCreateKeyExW(HKEY_CURRENT_USER, trusted_signers_key, 0, nullptr, 0,
                                          KEY_READ | KEY_WRITE, nullptr, key.put(), nullptr);
        made != ERROR_SUCCESS) {
        SetLastFileOpError(made);
        return false;
    }
    const cert_store trusted(CertOpenStore(CERT_STORE_PROV_REG, certificate_encoding, 0, 0, key.get()));
    if (!trusted) {
        CaptureLastError();
        return false;
    }
    // The add's answer, and the store's commit: a close has nothing to say.
    if (!AddCertificate(trusted.get(), result.verifier.signer(), CERT_STORE_ADD_NEWER)
        || !CertControlStore(trusted.get(), 0, CERT_STORE_CTRL_COMMIT, nullptr)) {
        CaptureLastError();
        return false;
    }
    return true;
}

int SignDataFile(const zString& data_file, const zString& certificate_file, const zString& key_file,
                 const zString& password, const chain_stores* stores)
{
    // One open for the whole signing: nobody writes the file between its hash and its block.
    file data;
    if (const DWORD error =
            data.open(data_file, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, FILE_ATTRIBUTE_NORMAL, OPEN_EXISTING);
        error != 0)
        return SignFailure(2, data_file, error);
    if (data.is_internet()) return SignFailure(2, data_file, ERROR_NOT_SUPPORTED);
    ULONGLONG size = 0;
    try {
        BYTE header[signed_file_header_size];
        signed_file_layout layout;
        DWORD payloadLength = 0;
        if (const DWORD read = ReadHeader(data, header, size); read != 0) return SignFailure(2, data_file, read);
        if (const DWORD read = ReadSignedFileHeader(header, layout); read != 0) return SignFailure(2, data_file, read);
        if (layout.block_offset < size) return SignFailure(2, data_file, ERROR_ALREADY_EXISTS);  // it has a block
        if (layout.block_offset != size || CheckSignedFileLayout(layout, size) != 0
            || ReadPayloadLength(data, layout, payloadLength) != 0)
            return SignFailure(2, data_file, ERROR_INVALID_DATA);
    } catch (const win32_exception& e) {
        return SignFailure(2, data_file, e.error());
    }

    signature_verifier verifier;
    if (!verifier.import_pfx_key(key_file, password)) return SignFailure(4, key_file, verifier.last_error());
    if (!verifier.load_certificate_file(certificate_file))
        return SignFailure(5, certificate_file, verifier.last_error());
    if (!verifier.key_matches_signer()) return SignFailure(4, key_file, verifier.last_error());
    switch (CheckSignerChain(verifier.signer(), verifier.store(), true, stores)) {
    case 0: break;
    case 1: return SignFailure(7, certificate_file, static_cast<DWORD>(CERT_E_EXPIRED));
    default: return SignFailure(6, certificate_file, static_cast<DWORD>(CERT_E_CHAINING));
    }

    try {
        Seek(data, 0);
        if (!HashSpan(data, verifier, size)) return SignFailure(6, certificate_file, verifier.last_error());
    } catch (const win32_exception& e) {
        return SignFailure(2, data_file, e.error());
    }
    std::vector<BYTE> block;
    if (!verifier.sign_block(block)) return SignFailure(3, data_file, verifier.last_error());

    const HANDLE handle = data.native_handle();
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(size);
    if (!SetFilePointerEx(handle, end, nullptr, FILE_BEGIN) || !WriteBlock(handle, block)) {
        const DWORD error = GetLastError();
        // Back to its old size: half a block would make the file neither signed nor unsigned.
        SetFilePointerEx(handle, end, nullptr, FILE_BEGIN);
        SetEndOfFile(handle);
        return SignFailure(3, data_file, error);
    }
    return 0;
}

}  // namespace qv
