#pragma once

#include <QByteArray>

// Pure Ed25519 (RFC 8032, no prehash, no context) through OpenSSL: true only when `signature`
// (64 bytes) is a valid signature of all of `message` under `publicKey` (32 raw bytes). A key or
// signature of the wrong length, a key OpenSSL refuses and any failure inside OpenSSL all give
// false. A new key object and verification context are made for every call.
bool verifyEd25519(const QByteArray& publicKey, const QByteArray& message,
                   const QByteArray& signature);
