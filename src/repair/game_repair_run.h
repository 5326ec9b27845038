#pragma once

#include <QString>

class FileOperations;
class SignatureVerifier;

// The game repair from a plan path to an exit code: 0 on success, otherwise 21 (plan), 22
// (signed manifest), 23 (staging), 24 (recovery of an interrupted repair) or 25 (transaction),
// with `message` holding the failing step's sentence. On success `message` is untouched.
// A refused plan or manifest leaves any journal of an earlier repair alone; recovery runs before
// staging verification, so an interrupted repair is undone even when the new staging is bad.
// Every file is read and written through `files`.
int runGameRepair(const QString& planPath, const SignatureVerifier& verifier, FileOperations& files,
                  QString& message);
