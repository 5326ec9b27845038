#pragma once

#include <QByteArray>
#include <QString>

// A new Ed25519 key pair: the private key as unencrypted PKCS#8 PEM text and the raw 32-byte
// public key. False when the random source or OpenSSL fails.
bool generateEd25519Key(QByteArray& privateKeyPem, QByteArray& publicKey);

// Signs all of `data` (pure Ed25519, as the updater verifies) with the private key in
// `privateKeyPem`, and gives the key's public half. False with `message` set when the text is
// not an unencrypted PKCS#8 PEM Ed25519 private key; it never prompts for a passphrase.
bool signEd25519(const QByteArray& privateKeyPem, const QByteArray& data, QByteArray& signature,
                 QByteArray& publicKey, QString& message);

// Overwrites a secret in memory before its buffer is freed.
void wipeSecret(QByteArray& secret);
