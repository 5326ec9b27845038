#pragma once

#include <QByteArray>
#include <QString>

// The signed envelope that SignatureVerifier::verifyEnvelope reads, as the publishing tools
// write it: "envelopeVersion" 1, "algorithm" "Ed25519", the key id, and the payload and its
// 64-byte signature as unpadded base64url text. Indented JSON, members in ascending order.
QByteArray composeSignedEnvelope(const QString& keyId, const QByteArray& payload,
                                 const QByteArray& signature);
