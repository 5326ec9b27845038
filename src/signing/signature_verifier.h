#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>

// One trusted public key: the trimmed key id (1 to 100 UTF-16 code units, compared exactly and
// case-sensitively) and the raw 32-byte Ed25519 public key.
struct TrustedKey {
    QString keyId;
    QByteArray publicKey;
};

// The trust anchor of the game repair. Holds the set of trusted Ed25519 public keys and verifies
// signed envelopes against it.
//
// The set is filled once, by the constructor, from the trusted key document compiled in as
// ":/config/trusted-keys.json" and, only when development keys are allowed, from the document
// named by the environment variable TAVORIN_LAUNCHER_TRUSTED_KEYS_FILE (its keys stand beside
// the compiled-in ones and replace any with the same id). A document is taken whole or not at
// all. Construction never fails: every problem is logged (critical or warning level) and leaves
// the set smaller, so that later verifications fail with their own message.
//
// Messages handed out are translated with the context "SignatureVerifier"; log lines are not.
// Main thread only.
class SignatureVerifier : public QObject {
    Q_OBJECT

public:
    // An envelope longer than this is refused unread; callers bound their own read of an
    // envelope file at the same size.
    static constexpr qsizetype kMaxEnvelopeBytes = 12582912;
    // The decoded payload may hold at most this many bytes.
    static constexpr qsizetype kMaxPayloadBytes = 8388608;
    // Key ids are at most this many UTF-16 code units long after trimming.
    static constexpr qsizetype kMaxKeyIdLength = 100;

    explicit SignatureVerifier(bool allowDevelopmentKeys, QObject* parent = nullptr);
    ~SignatureVerifier() override;

    // For the publishing tools: a verifier that trusts exactly the keys of `document`, a trusted
    // key document read by the caller, and nothing compiled in. False with `message` set to the
    // reason the document was refused.
    static bool fromTrustedKeyDocument(const QByteArray& document,
                                       std::unique_ptr<SignatureVerifier>& verifier,
                                       QString& message);

    // Checks a signed envelope (the file's bytes exactly as read) against the trusted key set.
    // Empties `payload` and `keyId` first; `message` is written only on failure.
    //
    // True: `payload` holds the decoded payload bytes (not interpreted here), `keyId` the
    // trimmed key id that signed it.
    // False: `payload` is empty and `message` holds one sentence, tested in this order:
    //   "Signed envelope is empty or exceeds its size limit."
    //   "Signed envelope is not valid JSON."
    //   "Signed envelope algorithm or version is not supported."
    //   "Signed envelope key ID is invalid."
    //   "Signed envelope uses an unknown key: <key id>"
    //   "Signed envelope payload or signature is malformed."
    //   "Signed envelope signature is invalid."
    // From the key id test on, `keyId` holds the trimmed key id; before it, it stays empty.
    bool verifyEnvelope(const QByteArray& envelope, QByteArray& payload, QString& keyId,
                        QString& message) const;

    // For the publishing tools, which may hold an envelope before the key that signed it: every
    // test of verifyEnvelope, with its message, except the two that need a trusted key (the key
    // lookup and the signature itself).
    static bool readUnverifiedEnvelope(const QByteArray& envelope, QByteArray& payload,
                                       QString& keyId, QString& message);

    // The ids of the trusted key set, sorted. For diagnostics and tests; the set cannot be
    // changed from outside.
    QStringList trustedKeyIds() const;

private:
    SignatureVerifier() = default;

    // The tests of verifyEnvelope; without `trustedKeys` the lookup and the signature are
    // skipped.
    static bool checkEnvelope(const QByteArray& envelope,
                              const QHash<QString, QByteArray>* trustedKeys, QByteArray& payload,
                              QString& keyId, QString& message);

    // Adds every key of a trusted key document to the set, replacing keys with the same id.
    // False with `message` set, and the set unchanged, when any part of the document is refused.
    bool loadTrustedKeyDocument(const QByteArray& document, QString& message);

    QHash<QString, QByteArray> trustedKeys_;
};
