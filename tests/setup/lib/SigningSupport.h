// What the signing tests share: the committed certificates, keys and signed files
// (tools/signing_fixtures.py made them), and root and intermediate stores of the tests' own,
// so that no case changes the prefix's system stores.
#pragma once

#include "FileSupport.h"
#include "signature_verifier.h"
#include "signed_data_file.h"

#include <windows.h>

#include <initializer_list>
#include <string>

inline const wchar_t signing_password[] = L"Corvane-2099";

inline std::wstring signing_fixture(const std::wstring& name)
{
    return L"fixtures\\signing\\" + name;
}

inline qv::cert_context load_certificate(const std::wstring& name)
{
    const bytes der = read_back(signing_fixture(name));
    return qv::cert_context(
        CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size())));
}

inline qv::cert_store store_of(std::initializer_list<const wchar_t*> names)
{
    qv::cert_store store = qv::OpenMemoryCertStore();
    for (const wchar_t* name : names) {
        const qv::cert_context certificate = load_certificate(name);
        CertAddCertificateContextToStore(store.get(), certificate.get(), CERT_STORE_ADD_ALWAYS, nullptr);
    }
    return store;
}

// "ROOT" holds the test root and the expired root; "CA" the intermediate.
struct test_chain_stores {
    qv::cert_store root = store_of({L"root.cer", L"expired_root.cer"});
    qv::cert_store ca = store_of({L"intermediate.cer"});
    qv::chain_stores stores{root.get(), ca.get()};
    const qv::chain_stores* get() const { return &stores; }
};

// The user's trusted signers, empty while the case runs and removed when it ends. The
// cases that hold it take the lock corvane-trust.
class empty_trusted_signers {
public:
    empty_trusted_signers() { RegDeleteTreeW(HKEY_CURRENT_USER, qv::trusted_signers_key); }
    ~empty_trusted_signers() { RegDeleteTreeW(HKEY_CURRENT_USER, qv::trusted_signers_key); }
    empty_trusted_signers(const empty_trusted_signers&) = delete;
    empty_trusted_signers& operator=(const empty_trusted_signers&) = delete;
};
