#pragma once

#include <QString>

class SignatureVerifier;

// The game repair from a plan path to an exit code: 0 on success, otherwise 21 (plan), 22
// (signed manifest), 23 (staging), 24 (recovery) or 25 (transaction), with `message` holding
// the failing step's sentence. On success `message` is untouched.
// The repair steps are not built yet: every run ends with 25 and says so.
int runGameRepair(const QString& planPath, const SignatureVerifier& verifier, QString& message);
