#!/usr/bin/env python3
"""Makes the certificates, keys and signed data files that the signing tests read.

Run once; its output is committed (tests/setup/lib/fixtures/signing). Keys are new on
every run, so running it again changes every file: commit them together. Needs the Python
"cryptography" package, which the tests themselves do not.

The signed files are written here independently of the library: a SHA-1 RSA signature
(PKCS #1 v1.5, bytes reversed as CryptoAPI keeps them) and a serialized certificate store
("CERT" header, one element per certificate, the end element), so that the library's own
signing must agree with this writer byte for byte.
"""
import argparse
import datetime
import os
import struct

from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import padding, rsa
from cryptography.hazmat.primitives.serialization import pkcs7, pkcs12
from cryptography.x509.oid import NameOID

PASSWORD = b"Corvane-2099"
GOOD = (datetime.datetime(2020, 1, 1), datetime.datetime(2099, 12, 31))
OLD = (datetime.datetime(2000, 1, 1), datetime.datetime(2010, 1, 1))
MAGIC = b"QVc("
VERSION = 0x040008FC
HEADER = 493
EXTENSION = 20
RECORD = 32


def new_key():
    return rsa.generate_private_key(public_exponent=65537, key_size=2048)


def name(*attributes):
    return x509.Name([x509.NameAttribute(oid, value) for oid, value in attributes])


def cn(text):
    return name((NameOID.COMMON_NAME, text))


serial = [100]


def certificate(subject, issuer, public, signing_key, dates=GOOD, ca=False):
    serial[0] += 1
    builder = (x509.CertificateBuilder().subject_name(subject).issuer_name(issuer).public_key(public)
               .serial_number(serial[0]).not_valid_before(dates[0]).not_valid_after(dates[1])
               .add_extension(x509.BasicConstraints(ca=ca, path_length=None), critical=True))
    return builder.sign(signing_key, hashes.SHA256())


def der(cert):
    return cert.public_bytes(serialization.Encoding.DER)


def data_file(payload):
    """An unsigned data file: header, header extension, record, payload; its header names its
    own size as the signature-block offset."""
    record_offset = HEADER + EXTENSION
    block_offset = record_offset + RECORD + len(payload)
    header = bytearray(HEADER)
    header[0:24] = MAGIC + struct.pack("<IIIII", VERSION, 7, record_offset, RECORD, block_offset)
    text = b"Corvane signed data, test fixture"
    header[24:24 + len(text)] = text
    extension = bytes(range(1, EXTENSION + 1))
    record = bytearray(RECORD)
    record[0:8] = b"RECORD01"
    record[24:28] = struct.pack("<I", len(payload))
    return bytes(header) + extension + bytes(record) + payload


def serialized_store(certs):
    out = struct.pack("<II", 0, 0x54524543)  # "CERT"
    for cert in certs:
        body = der(cert)
        out += struct.pack("<III", 0x20, 1, len(body)) + body
    return out + struct.pack("<III", 0, 0, 0)


def signed(data, key, certs):
    signature = key.sign(data, padding.PKCS1v15(), hashes.SHA1())[::-1]
    return data + struct.pack("<I", len(signature)) + signature + serialized_store(certs)


def pfx(key, cert):
    encryption = (serialization.PrivateFormat.PKCS12.encryption_builder().kdf_rounds(2048)
                  .key_cert_algorithm(pkcs12.PBES.PBESv1SHA1And3KeyTripleDESCBC)
                  .hmac_hash(hashes.SHA1()).build(PASSWORD))
    return pkcs12.serialize_key_and_certificates(b"signer", key, cert, None, encryption)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", required=True)
    out = parser.parse_args().out
    os.makedirs(out, exist_ok=True)

    def write(file_name, content):
        with open(os.path.join(out, file_name), "wb") as f:
            f.write(content)

    payload = b"The payload of a signed data file.\r\n" * 8
    unsigned = data_file(payload)
    write("unsigned.dat", unsigned)

    root_key, intermediate_key = new_key(), new_key()
    root = certificate(cn("Corvane Test Root"), cn("Corvane Test Root"), root_key.public_key(), root_key, ca=True)
    intermediate = certificate(cn("Corvane Test Intermediate"), root.subject, intermediate_key.public_key(),
                               root_key, ca=True)
    write("root.cer", der(root))
    write("intermediate.cer", der(intermediate))
    # The intermediate's name and issuer with another key: it signed none of its namesake's.
    write("impostor_intermediate.cer", der(certificate(intermediate.subject, root.subject, new_key().public_key(),
                                                      root_key, ca=True)))

    def signer(stem, subject, issuer, issuer_key, chain=(), dates=GOOD, key=None):
        """A signer's certificate (alone, and with the chain it ships with as PKCS #7), its
        key in a PFX, and the data file signed by it with that chain embedded."""
        key = key or new_key()
        cert = certificate(subject, issuer.subject if issuer else subject, key.public_key(),
                           issuer_key or key, dates)
        write(stem + ".cer", der(cert))
        write(stem + ".pfx", pfx(key, cert))
        if chain:
            write(stem + "_chain.p7b", pkcs7.serialize_certificates([cert, *chain], serialization.Encoding.DER))
        write(stem + ".dat", signed(unsigned, key, [cert, *chain]))
        return cert, key

    signer_cert, signer_key = signer(
        "signer", name((NameOID.COMMON_NAME, "Corvane Test Signer"), (NameOID.ORGANIZATION_NAME, "Corvane"),
                       (NameOID.ORGANIZATIONAL_UNIT_NAME, "Laboratory")),
        intermediate, intermediate_key, chain=[intermediate])
    # The same signer with only its own certificate embedded: the library signs to the same bytes.
    write("signer_alone.dat", signed(unsigned, signer_key, [signer_cert]))

    signer("ou_signer", name((NameOID.ORGANIZATION_NAME, "Corvane"),
                             (NameOID.ORGANIZATIONAL_UNIT_NAME, "Corvane Lab Signing")),
           intermediate, intermediate_key, chain=[intermediate])
    signer("crlf_signer", name((NameOID.ORGANIZATION_NAME, "Evil\r\n2.5.4.3=Trusted Corp")),
           intermediate, intermediate_key, chain=[intermediate])

    self_subject = name((NameOID.COMMON_NAME, "Corvane Self Signer"), (NameOID.ORGANIZATION_NAME, "Corvane"))
    signer("self_signed", self_subject, None, None)
    # Same subject, another key: never trusted in the first one's place.
    signer("forged", self_subject, None, None)
    signer("expired_self", cn("Corvane Expired Self Signer"), None, None, dates=OLD)

    old_root_key = new_key()
    old_root = certificate(cn("Corvane Expired Root"), cn("Corvane Expired Root"), old_root_key.public_key(),
                           old_root_key, OLD, ca=True)
    write("expired_root.cer", der(old_root))
    signer("expired_root_signer", cn("Corvane Signer Of An Expired Root"), old_root, old_root_key)

    embedded_key = new_key()
    embedded_root = certificate(cn("Corvane Embedded Root"), cn("Corvane Embedded Root"),
                                embedded_key.public_key(), embedded_key, ca=True)
    write("embedded_root.cer", der(embedded_root))
    signer("embedded_root_signer", cn("Corvane Signer Of An Embedded Root"), embedded_root, embedded_key,
           chain=[embedded_root])

    # A issued by B and B by A: a walk up by names goes round.
    a_key, b_key = new_key(), new_key()
    b_first = certificate(cn("Corvane Cycle B"), cn("Corvane Cycle B"), b_key.public_key(), b_key, ca=True)
    cycle_a = certificate(cn("Corvane Cycle A"), b_first.subject, a_key.public_key(), b_key, ca=True)
    cycle_b = certificate(cn("Corvane Cycle B"), cycle_a.subject, b_key.public_key(), a_key, ca=True)
    signer("cycle_signer", cn("Corvane Signer Of A Cycle"), cycle_a, a_key, chain=[cycle_a, cycle_b])


if __name__ == "__main__":
    main()
