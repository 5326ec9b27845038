#pragma once

#include <QByteArray>
#include <QString>
#include <memory>

class SignatureVerifier;

// A key id the updater can hold: 1 to 100 characters once trimmed.
bool validKeyId(const QString& keyId);

// Signs `payload` with the private key in the file `privateKeyPath` into the signed envelope that
// the updater reads, under `keyId`, and checks that the signature made verifies. `verifier`
// receives a verifier that trusts that key alone, as an updater built with it would. False with
// `message` set.
bool signPayload(const QString& privateKeyPath, const QString& keyId, const QByteArray& payload,
                 QByteArray& envelope, std::unique_ptr<SignatureVerifier>& verifier,
                 QString& message);

// A verifier that trusts no key: for reading what holds no signature.
std::unique_ptr<SignatureVerifier> verifierTrustingNothing();
