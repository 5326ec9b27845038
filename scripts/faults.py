"""Planted faults for the mutation-testing campaign.

scripts/plant-faults.py plants the faults of FAULTS one at a time (each replaces the one exact
text "old" of one product file with "new"), builds, and runs the tests. Every fault here is a
realistic bug that still compiles; each should make at least one test fail, and one that
survives marks a gap in the tests.

Each entry: id, area (repair, update, app, os, fileutil, signing, publish), file (relative to
the repository root, built on Linux), old (occurs exactly once in file), new, what. The ids
that start with "known-" are the weak spots named in advance.
"""

FAULTS = [
    # ---------------------------------------------------------------- known weak spots
    {
        "id": "known-01",
        "area": "update",
        "file": "src/update/launcher_update.cpp",
        "old": "for (auto entry = entries.crbegin(); entry != entries.crend(); ++entry) {",
        "new": "for (auto entry = entries.cbegin(); entry != entries.cend(); ++entry) {",
        "what": "update rollback undoes the entries forwards instead of in reverse",
    },
    {
        "id": "known-02",
        "area": "update",
        "file": "src/update/launcher_update.cpp",
        "old": "it goes as an entry.\n        removePathIfPresent(copyPath, files_);",
        "new": "it goes as an entry.",
        "what": "a stale <path>.tavorin-new beside a launcher file is not removed before the copy",
    },
    {
        "id": "known-03",
        "area": "os",
        "file": "src/platform/directory_posix.cpp",
        "old": "    if (::fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {\n"
               "        return fail(error);\n"
               "    }\n"
               "    if (S_ISDIR(st.st_mode)) {\n"
               "        const int child = ::openat(parent, name, kDirectoryFlags);",
        "new": "    if (::fstatat(parent, name, &st, 0) != 0) {\n"
               "        return fail(error);\n"
               "    }\n"
               "    if (S_ISDIR(st.st_mode)) {\n"
               "        const int child = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);",
        "what": "removing an entry counts a link to a directory as a directory and empties its target",
    },
    {
        "id": "known-04",
        "area": "repair",
        "file": "src/repair/repair_plan.cpp",
        "old": "listed.size() > kMaxFiles)",
        "new": "listed.size() > kMaxFiles + 1)",
        "what": "repair plan file count limit off by one (20001 files accepted)",
    },
    {
        "id": "known-05",
        "area": "repair",
        "file": "src/repair/repair_plan.cpp",
        "old": "planInfo.isRelative() || entryTypeOf(planInfo.filePath()) != platform::EntryType::File",
        "new": "planInfo.isRelative() || !planInfo.isFile()",
        "what": "a repair plan file that is a link is accepted as the plan path",
    },
    {
        "id": "known-06",
        "area": "repair",
        "file": "src/repair/repair_plan.cpp",
        "old": "plan.generation < 1 || listed.isEmpty()",
        "new": "plan.generation < 0 || listed.isEmpty()",
        "what": "repair plan of generation 0 accepted",
    },
    {
        "id": "known-07",
        "area": "repair",
        "file": "src/repair/repair_plan.cpp",
        "old": "if (type != platform::EntryType::Missing && type != platform::EntryType::Directory) {",
        "new": "if (type != platform::EntryType::Missing && type != platform::EntryType::Directory &&\n"
               "            type != platform::EntryType::Link) {",
        "what": "an installation root reached through a link is accepted",
    },
    {
        "id": "known-08",
        "area": "repair",
        "file": "src/repair/repair_plan.cpp",
        "old": "        document.value(QStringLiteral(\"channel\")).toString() != plan.channel ||\n",
        "new": "",
        "what": "a signed manifest whose channel differs from the plan's is accepted",
    },
    {
        "id": "known-09",
        "area": "repair",
        "file": "src/repair/repair_recovery.cpp",
        "old": "if (!files.syncFileSystem(plan.installationRoot) || !files.remove(journalPath)) {",
        "new": "if (!files.remove(journalPath)) {",
        "what": "recovery removes the journal before the undo is made durable (sync skipped)",
    },
    {
        "id": "known-10",
        "area": "repair",
        "file": "src/repair/repair_recovery.cpp",
        "old": "!backup.startsWith(QLatin1String(\".tavorin-backup/\")) || files.hasLinkAlong(root, target) ||",
        "new": "!backup.startsWith(QLatin1String(\".tavorin-backup/\")) ||",
        "what": "recovery does not refuse a journal target behind a link",
    },
    {
        "id": "known-11",
        "area": "repair",
        "file": "src/repair/repair_transaction.cpp",
        "old": "if (files.flushDirectory(plan.installationRoot)) {",
        "new": "if (files.flushDirectory(plan.installationRoot) || true) {",
        "what": "backups deleted although the flush of the journal's removal failed",
    },
    {
        "id": "known-12",
        "area": "update",
        "file": "src/update/delta_plan.cpp",
        "old": "if (!replaced.contains(QStringLiteral(\"clientlauncher.exe\")) ||\n"
               "        !replaced.contains(QStringLiteral(\"launcherupdater.exe\"))) {",
        "new": "if (!replaced.contains(QStringLiteral(\"clientlauncher.exe\"))) {",
        "what": "a delta plan that does not replace LauncherUpdater.exe is accepted",
    },
    {
        "id": "known-13",
        "area": "update",
        "file": "src/update/launcher_start.cpp",
        "old": "return platform::regularFileStamp(ackPath, &now) && (!stoodBefore || now != before);",
        "new": "return platform::regularFileStamp(ackPath, &now) && now.size > 0 &&\n"
               "           (!stoodBefore || now != before);",
        "what": "an empty acknowledgement file is not counted as an acknowledgement",
    },
    {
        "id": "known-14",
        "area": "update",
        "file": "src/update/launcher_start.cpp",
        "old": "constexpr int kPolls = 150;",
        "new": "constexpr int kPolls = 25;",
        "what": "acknowledgement polling cut short (2.5 s: a launcher acknowledging after 3 s is missed)",
    },
    {
        "id": "known-15",
        "area": "update",
        "file": "src/update/package_checks.cpp",
        "old": "        if (!verifyUpdateFile(installRoot, file, files, message)) {",
        "new": "        if (false && !verifyUpdateFile(installRoot, file, files, message)) {",
        "what": "the delta's final result check no longer verifies the installed files",
    },
    {
        "id": "known-16",
        "area": "os",
        "file": "src/platform/platform_posix.cpp",
        "old": "::fchmod(out, st.st_mode & 0755)",
        "new": "::fchmod(out, st.st_mode & 07755)",
        "what": "a copy of a 06755 file keeps its setuid/setgid bits",
    },
    {
        "id": "known-17",
        "area": "os",
        "file": "src/platform/platform_posix.cpp",
        "old": "::unlink(path.c_str());\n        *error = windowsErrorFromErrno(failure);",
        "new": "*error = windowsErrorFromErrno(failure);",
        "what": "a new file whose write or copy failed (file size limit hit) is left behind",
    },
    {
        "id": "known-18",
        "area": "os",
        "file": "src/platform/platform_posix.cpp",
        "old": "        if (directory.empty()) {\n"
               "            continue;\n"
               "        }\n"
               "        const std::string candidate = directory + \"/\" + name;",
        "new": "        const std::string candidate =\n"
               "            directory.empty() ? std::string(name) : directory + \"/\" + name;",
        "what": "an empty PATH entry makes the pkexec search look in the current directory",
    },
    {
        "id": "known-19",
        "area": "os",
        "file": "src/platform/platform_posix.cpp",
        "old": "short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;",
        "new": "short flags = POSIX_SPAWN_SETSIGDEF;",
        "what": "a started child inherits this process's blocked signal mask",
    },
    {
        "id": "known-20",
        "area": "publish",
        "file": "tools/publish/stage_repair.cpp",
        "old": "if (planBytes.size() > kMaxPlanBytes) {",
        "new": "if (planBytes.size() > kMaxPlanBytes + 1) {",
        "what": "stage-repair accepts a plan 1 byte over the updater's cap",
    },
    {
        "id": "known-21",
        "area": "publish",
        "file": "tools/publish/stage_repair.cpp",
        "old": "if (hasSymbolicLinkAlong(plan.installationRoot, path)) {",
        "new": "if (false && hasSymbolicLinkAlong(plan.installationRoot, path)) {",
        "what": "stage-repair follows a link inside the installation",
    },
    {
        "id": "known-22",
        "area": "publish",
        "file": "tools/publish/stage_repair.cpp",
        "old": "if (hasSymbolicLinkAlong(QFileInfo(build).absoluteFilePath(), path)) {",
        "new": "if (false && hasSymbolicLinkAlong(QFileInfo(build).absoluteFilePath(), path)) {",
        "what": "stage-repair follows a link inside the build",
    },
    {
        "id": "known-23",
        "area": "publish",
        "file": "tools/publish/keygen.cpp",
        "old": "        systemFileOperations().remove(QFileInfo(privateKeyPath).absoluteFilePath());\n",
        "new": "",
        "what": "keygen leaves the private key behind when the key document cannot be written",
    },
    {
        "id": "known-24",
        "area": "publish",
        "file": "tools/publish/signing.cpp",
        "old": "trimmed.size() <= SignatureVerifier::kMaxKeyIdLength",
        "new": "trimmed.size() <= SignatureVerifier::kMaxKeyIdLength + 1",
        "what": "the publisher accepts a key id of 101 characters",
    },
    {
        "id": "known-25",
        "area": "publish",
        "file": "tools/publish/launcher_package.cpp",
        "old": "const bool goes = kept == newKinds.cend() || (kept.value() && !entry.directory);",
        "new": "const bool goes = kept == newKinds.cend();",
        "what": "delta: a file of the old launcher that is a directory in the new one is not removed",
    },
    {
        "id": "known-26",
        "area": "publish",
        "file": "tools/publish/tool_files.cpp",
        "old": "if (!files.syncFileSystem(temporary_) || !files.rename(temporary_, path_)) {",
        "new": "if (!files.rename(temporary_, path_) || !files.syncFileSystem(path_)) {",
        "what": "output directory renamed into place before its copies are flushed",
    },
    {
        "id": "known-27",
        "area": "publish",
        "file": "tools/publish/tool_files.cpp",
        "old": "        systemFileOperations().removeTree(temporary_);\n",
        "new": "",
        "what": "a partial output directory is left behind when a write fails",
    },

    # ---------------------------------------------------------------- repair
    {
        "id": "repair-01",
        "area": "repair",
        "file": "src/repair/repair_transaction.cpp",
        "old": "        applied.append(entry);\n"
               "        if (!replaceWithVerifiedCopy(plan, entry, files, message)) {\n"
               "            return false;\n"
               "        }\n",
        "new": "        if (!replaceWithVerifiedCopy(plan, entry, files, message)) {\n"
               "            return false;\n"
               "        }\n"
               "        applied.append(entry);\n",
        "what": "an entry whose copy fails is not rolled back (its original stays in the backup)",
    },
    {
        "id": "repair-02",
        "area": "repair",
        "file": "src/repair/repair_transaction.cpp",
        "old": "        digestsEqual(files.hashSha256(copyPath, hashMessage), expected.sha256) &&\n",
        "new": "",
        "what": "a repaired copy is moved into place without checking its hash",
    },
    {
        "id": "repair-03",
        "area": "repair",
        "file": "src/repair/repair_transaction.cpp",
        "old": "    if (!files.syncFileSystem(plan.installationRoot)) {",
        "new": "    if (false) {",
        "what": "repair commit removes the journal without syncing the new files first",
    },
    {
        "id": "repair-04",
        "area": "repair",
        "file": "src/repair/repair_recovery.cpp",
        "old": "(!restore && files.exists(targetPath) && !files.remove(targetPath))) {",
        "new": "false) {",
        "what": "recovery leaves a new file in place where there was no original",
    },

    # ---------------------------------------------------------------- update
    {
        "id": "update-01",
        "area": "update",
        "file": "src/update/launcher_update.cpp",
        "old": "            copyIsAsExpected(entry.path, copyPath) &&\n",
        "new": "",
        "what": "an installed launcher copy is not hashed before it goes into place",
    },
    {
        "id": "update-02",
        "area": "update",
        "file": "src/update/update_checks.cpp",
        "old": "if (request.elevated && !released) {",
        "new": "if (false && !released) {",
        "what": "an elevated update without a signed release manifest is accepted",
    },
    {
        "id": "update-03",
        "area": "update",
        "file": "src/update/package_checks.cpp",
        "old": "expected = replaced.contains(folded) && !seen.contains(folded);",
        "new": "expected = replaced.contains(folded);",
        "what": "delta staging holding two names equal after case folding is accepted",
    },
    {
        "id": "update-04",
        "area": "update",
        "file": "src/update/package_checks.cpp",
        "old": "bool stays = !directory && files.exists(path);",
        "new": "bool stays = !directory && files.regularFileSize(path) >= 0;",
        "what": "a link left at a path the delta removes passes the result check",
    },
    {
        "id": "update-05",
        "area": "update",
        "file": "src/update/package_checks.cpp",
        "old": "found.size() >= kMaxPackageFiles",
        "new": "found.size() > kMaxPackageFiles",
        "what": "full package file count limit off by one (20001 files accepted)",
    },
    {
        "id": "update-06",
        "area": "update",
        "file": "src/update/launcher_update.cpp",
        "old": "if (!files_.syncFileSystem(request_.installRoot)) {",
        "new": "if (false) {",
        "what": "the launcher is started without syncing the installed files (sync skipped)",
    },
    {
        "id": "update-07",
        "area": "update",
        "file": "src/update/launcher_update.cpp",
        "old": "        if (dropLast) {",
        "new": "        if (false) {",
        "what": "a path whose backup failed is still undone, deleting its original",
    },
    {
        "id": "update-08",
        "area": "update",
        "file": "src/update/launcher_update.cpp",
        "old": "if (files.hasLinkAlong(installRoot, directoryOf(entry->path))) {",
        "new": "if (false) {",
        "what": "rollback works through a directory swapped for a link",
    },

    # ---------------------------------------------------------------- entry/app
    {
        "id": "app-01",
        "area": "app",
        "file": "src/app/command_line.cpp",
        "old": "return update.deltaPlan.isEmpty() == update.fromVersion.isEmpty();",
        "new": "return true;",
        "what": "a delta plan without --from-version (or the reverse) is accepted",
    },
    {
        "id": "app-02",
        "area": "app",
        "file": "src/app/entry.cpp",
        "old": "    writeRepairResult(files, planPath, code, message);\n",
        "new": "",
        "what": "the repair run writes no result file",
    },
    {
        "id": "app-03",
        "area": "app",
        "file": "src/app/entry.cpp",
        "old": "if (!waitForParentProcess(update.parentPid)) {",
        "new": "if (false && !waitForParentProcess(update.parentPid)) {",
        "what": "the update does not wait for the launcher to end",
    },
    {
        "id": "app-04",
        "area": "app",
        "file": "src/app/parent_process.cpp",
        "old": "return openError == platform::kErrorInvalidParameter;",
        "new": "return openError == platform::kErrorInvalidParameter ||\n"
               "                   openError == platform::kErrorAccessDenied;",
        "what": "a parent that cannot be opened for lack of rights is taken as ended",
    },
    {
        "id": "app-05",
        "area": "app",
        "file": "src/app/failure_log.cpp",
        "old": "if (length < message.size() && message.at(length - 1).isHighSurrogate()) {",
        "new": "if (false) {",
        "what": "a reported message is cut inside a surrogate pair",
    },
    {
        "id": "app-06",
        "area": "app",
        "file": "src/app/failure_log.cpp",
        "old": "category == QChar::Separator_Line || category == QChar::Separator_Paragraph",
        "new": "category == QChar::Separator_Paragraph",
        "what": "a line separator (U+2028) in a message is not escaped in the log",
    },
    {
        "id": "app-07",
        "area": "app",
        "file": "src/app/write_probe.cpp",
        "old": "accessDenied = error == platform::kErrorAccessDenied;",
        "new": "accessDenied = false;",
        "what": "the write probe never reports access denied (no elevated copy is started)",
    },

    # ---------------------------------------------------------------- OS layer (POSIX)
    {
        "id": "os-01",
        "area": "os",
        "file": "src/platform/platform_posix.cpp",
        "old": "if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {",
        "new": "if (::flock(fd, LOCK_SH | LOCK_NB) != 0) {",
        "what": "the installation lock is shared, so two runs both get it",
    },
    {
        "id": "os-02",
        "area": "os",
        "file": "src/platform/platform_posix.cpp",
        "old": "to.c_str(), RENAME_NOREPLACE) == 0) {",
        "new": "to.c_str(), 0) == 0) {",
        "what": "renameNoReplace replaces what stands at the new name",
    },
    {
        "id": "os-03",
        "area": "os",
        "file": "src/platform/platform_posix.cpp",
        "old": "::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {\n        return -1;",
        "new": "::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {\n        return -1;",
        "what": "regularFileSize follows a link to a file",
    },
    {
        "id": "os-04",
        "area": "os",
        "file": "src/platform/platform_posix.cpp",
        "old": "ownerOnly ? 0600 : 0644);",
        "new": "ownerOnly ? 0644 : 0644);",
        "what": "an owner-only new file (a private key) is created readable by others",
    },
    {
        "id": "os-05",
        "area": "os",
        "file": "src/platform/directory_posix.cpp",
        "old": "::fstatat(fdOf(directory), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {",
        "new": "::fstatat(fdOf(directory), name.c_str(), &st, 0) != 0) {",
        "what": "entryTypeAt follows a link and reports its target's type",
    },
    {
        "id": "os-06",
        "area": "os",
        "file": "src/platform/platform_posix.cpp",
        "old": "    ::posix_spawn_file_actions_addclosefrom_np(&actions, 3);\n",
        "new": "",
        "what": "a started child inherits this process's open descriptors",
    },

    # ---------------------------------------------------------------- fileutil
    {
        "id": "fileutil-01",
        "area": "fileutil",
        "file": "src/fileutil/path_rules.cpp",
        "old": "path.size() > kMaxRelativePathLength",
        "new": "path.size() > kMaxRelativePathLength + 1",
        "what": "relative path length limit off by one (1025 characters accepted)",
    },
    {
        "id": "fileutil-02",
        "area": "fileutil",
        "file": "src/fileutil/retrying_file_operations.cpp",
        "old": "const int pause = std::min(next, kPauseBudgetMs - paused);",
        "new": "const int pause = next;",
        "what": "the retries of a held file pause past their budget (the last pause is not cut)",
    },
    {
        "id": "fileutil-03",
        "area": "fileutil",
        "file": "src/fileutil/capped_read.cpp",
        "old": "if (size <= 0 || size > cap) {",
        "new": "if (size <= 0 || size > cap + 1) {",
        "what": "a capped read accepts a file 1 byte over its cap",
    },
    {
        "id": "fileutil-04",
        "area": "fileutil",
        "file": "src/fileutil/symlink_guard.cpp",
        "old": "if (entryTypeOf(cleanRoot) == platform::EntryType::Link) {",
        "new": "if (false) {",
        "what": "a link at the root itself is not counted by hasSymbolicLinkAlong",
    },
    {
        "id": "fileutil-05",
        "area": "fileutil",
        "file": "src/fileutil/manifest_file.cpp",
        "old": "file.sha256.size() == 32 && QString::fromLatin1(file.sha256.toHex()) == digest;",
        "new": "file.sha256.size() == 32;",
        "what": "a manifest digest in upper case or with skipped characters is accepted",
    },

    # ---------------------------------------------------------------- signing
    {
        "id": "signing-01",
        "area": "signing",
        "file": "src/signing/envelope_verification.cpp",
        "old": "keyId.size() > kMaxKeyIdLength) {",
        "new": "keyId.size() > kMaxKeyIdLength + 1) {",
        "what": "an envelope key id of 101 characters is accepted",
    },
    {
        "id": "signing-02",
        "area": "signing",
        "file": "src/signing/signature_verifier.cpp",
        "old": "key.publicKey.size() != kPublicKeyBytes || repeated) {",
        "new": "key.publicKey.size() != kPublicKeyBytes) {",
        "what": "a trusted key document naming one key id twice is accepted",
    },
    {
        "id": "signing-03",
        "area": "signing",
        "file": "src/signing/strict_base64url.cpp",
        "old": "if (text.size() % 4 == 1) {",
        "new": "if (text.size() % 4 == 5) {",
        "what": "base64url text with a lone last character is accepted",
    },
    {
        "id": "signing-04",
        "area": "signing",
        "file": "src/signing/envelope_verification.cpp",
        "old": "root.value(QLatin1String(\"envelopeVersion\")).toInt(0) != 1 ||",
        "new": "root.value(QLatin1String(\"envelopeVersion\")).toInt(0) < 1 ||",
        "what": "an envelope of a later version (2) is accepted",
    },

    # ---------------------------------------------------------------- publisher tool
    {
        "id": "publish-01",
        "area": "publish",
        "file": "tools/publish/tree_walk.cpp",
        "old": "if (++files > kMaxTreeFiles) {",
        "new": "if (++files > kMaxTreeFiles + 1) {",
        "what": "tree walk file count limit off by one (20001 files accepted)",
    },
    {
        "id": "publish-02",
        "area": "publish",
        "file": "tools/publish/keygen.cpp",
        "old": "static_cast<std::size_t>(pem.size()), &error, true)) {",
        "new": "static_cast<std::size_t>(pem.size()), &error, false)) {",
        "what": "keygen writes the private key readable by others",
    },
    {
        "id": "publish-03",
        "area": "publish",
        "file": "tools/publish/launcher_package.cpp",
        "old": "const bool executable = file.path == kExecutables[0] || file.path == kExecutables[1];",
        "new": "const bool executable = file.path == kExecutables[0];",
        "what": "delta does not always replace LauncherUpdater.exe",
    },
]
