#pragma once
// Placeholder until the verifier lands.
class QObject;
class SignatureVerifier {
public:
    explicit SignatureVerifier(bool, QObject* = nullptr) {}
};
