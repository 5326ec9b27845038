#include "command_line.h"

#include <QList>
#include <algorithm>

#include "console.h"

namespace {

struct Switch {
    const char* name;
    const char* value;
    const char* help;
    bool required;
};

struct Command {
    const char* name;
    const char* summary;
    const char* description;
    QList<Switch> switches;
    const char* operand;  // the one operand it takes, or null
    int (*run)(const Arguments&);
};

const QList<Command>& commands() {
    static const QList<Command> table = {
        {"keygen",
         "make an Ed25519 key pair and trust its public key",
         "Makes a new Ed25519 key pair. The private key goes to a new file (PKCS#8 PEM, mode\n"
         "0600 where the system has modes); an existing file is never overwritten. The public\n"
         "key goes into the trusted key document under the key id: a new document, or one more\n"
         "key in an existing one. Build LauncherUpdater with that document as TRUSTED_KEYS_FILE\n"
         "to trust the key.",
         {{"--key-id", "ID", "the id the key is trusted under (1 to 100 characters)", true},
          {"--private-key", "KEY.pem", "the new private key file", true},
          {"--trusted-keys", "KEYS.json", "the trusted key document to create or add to", true}},
         nullptr,
         keygenCommand},
        {"manifest",
         "describe a game build in a game manifest",
         "Walks a game build and writes its game manifest: the ids, the channel, the generation\n"
         "and every file's path, size and SHA-256. Refuses what the updater would refuse: links,\n"
         "names Windows cannot hold, names that differ only in letter case, more than 20000\n"
         "files.",
         {{"--build", "DIR", "the game build", true},
          {"--manifest-id", "ID", "the manifest's id", true},
          {"--game-id", "ID", "the game's id", true},
          {"--channel", "stable|preview", "the release channel", true},
          {"--generation", "N", "the build's generation, from 1 up", true},
          {"--output", "MANIFEST.json", "the manifest to write", true}},
         nullptr,
         manifestCommand},
        {"sign",
         "wrap a file into a signed envelope",
         "Signs a payload (up to 8388608 bytes, such as a game manifest) with an Ed25519 private\n"
         "key and writes the signed envelope that the updater verifies.",
         {{"--payload", "FILE", "the bytes to sign", true},
          {"--private-key", "KEY.pem", "the private key (PKCS#8 PEM, unencrypted)", true},
          {"--key-id", "ID", "the id the key is trusted under", true},
          {"--output", "ENVELOPE.json", "the envelope to write", true}},
         nullptr,
         signCommand},
        {"verify",
         "check a signed envelope against trusted keys",
         "Checks a signed envelope (a game manifest's or a launcher release's) as the updater\n"
         "does and prints the id of the key that signed it, or the updater's reason for refusing\n"
         "it.",
         {{"--trusted-keys", "KEYS.json", "the trusted key document", true}},
         "ENVELOPE.json",
         verifyCommand},
        {"stage-repair",
         "stage the repair of a damaged installation",
         "Compares an installation with the signed manifest (sizes, then digests) and stages the\n"
         "repair of every damaged or missing file: a new directory with plan.json,\n"
         "manifest.envelope.json and files/, copied from a clean build. Prints every staged path;\n"
         "when nothing needs repair, says so and creates nothing. Without --trusted-keys the\n"
         "envelope's signature is not checked, but everything else about it is.",
         {{"--installation", "DIR", "the installation to repair", true},
          {"--build", "DIR", "a clean build that matches the manifest", true},
          {"--envelope", "ENVELOPE.json", "the signed game manifest", true},
          {"--trusted-keys", "KEYS.json", "check the envelope's signature against these keys",
           false},
          {"--output", "STAGING_DIR", "the staging directory to create", true}},
         nullptr,
         stageRepairCommand},
        {"delta",
         "stage a launcher delta update",
         "Compares two launcher directories and writes a staged delta: the plan\n"
         "launcher-update-plan.json (the whole new inventory, what is replaced, what is removed)\n"
         "and the changed and added files, with both launcher executables always among them.\n"
         "With --private-key and --key-id, also the signed release "
         "launcher-release.envelope.json,\n"
         "which an elevated updater requires. Give the output to the updater as --staged-root,\n"
         "with --delta-plan and --from-version.",
         {{"--from", "OLD_DIR", "the installed launcher", true},
          {"--to", "NEW_DIR", "the new launcher", true},
          {"--from-version", "V", "the installed launcher's version", true},
          {"--version", "V", "the new launcher's version", true},
          {"--output", "DIR", "the staged root to create", true},
          {"--private-key", "KEY.pem", "sign the release with this key (with --key-id)", false},
          {"--key-id", "ID", "the id the key is trusted under", false}},
         nullptr,
         deltaCommand},
        {"full",
         "stage a full launcher package",
         "Stages an exact copy of a launcher directory as a full package, after checking it as\n"
         "the updater will: no links, no hidden files, names Windows can hold, at most 20000\n"
         "files and 2147483648 bytes, ClientLauncher.exe and LauncherUpdater.exe at the top.\n"
         "With --private-key, --key-id and --version, also the signed release\n"
         "launcher-release.envelope.json, which an elevated updater requires.",
         {{"--to", "NEW_DIR", "the new launcher", true},
          {"--output", "DIR", "the staged root to create", true},
          {"--private-key", "KEY.pem", "sign the release with this key (with --key-id)", false},
          {"--key-id", "ID", "the id the key is trusted under", false},
          {"--version", "V", "the release's version, given to the updater as --version", false}},
         nullptr,
         fullCommand},
    };
    return table;
}

const Command* findCommand(const QString& name) {
    for (const Command& command : commands()) {
        if (name == QLatin1String(command.name)) {
            return &command;
        }
    }
    return nullptr;
}

QString switchColumn(const QString& text) {
    return QStringLiteral("  %1").arg(text, -28);
}

QString synopsis(const Command& command) {
    QStringList parts{QStringLiteral("launcher-publish"), QLatin1String(command.name)};
    for (const Switch& option : command.switches) {
        const QString text =
            QStringLiteral("%1 %2").arg(QLatin1String(option.name), QLatin1String(option.value));
        parts.append(option.required ? text : QLatin1Char('[') + text + QLatin1Char(']'));
    }
    if (command.operand != nullptr) {
        parts.append(QLatin1String(command.operand));
    }
    return parts.join(QLatin1Char(' '));
}

void printCommandHelp(const Command& command) {
    QStringList lines{QStringLiteral("Usage: ") + synopsis(command), QString(),
                      QLatin1String(command.description), QString(), QStringLiteral("Switches:")};
    for (const Switch& option : command.switches) {
        lines.append(switchColumn(QStringLiteral("%1 %2").arg(QLatin1String(option.name),
                                                              QLatin1String(option.value))) +
                     QLatin1String(option.help));
    }
    lines.append(switchColumn(QStringLiteral("--help")) + QStringLiteral("show this help"));
    printOut(lines.join(QLatin1Char('\n')));
}

QString toolUsage() {
    QStringList lines{
        QStringLiteral("Usage: launcher-publish COMMAND [SWITCHES]"), QString(),
        QStringLiteral("Makes what LauncherUpdater takes: keys, signed game manifests, repair\n"
                       "stagings and launcher packages, checked with the updater's own rules."),
        QString(), QStringLiteral("Commands:")};
    for (const Command& command : commands()) {
        lines.append(QStringLiteral("  %1").arg(QLatin1String(command.name), -16) +
                     QLatin1String(command.summary));
    }
    lines.append(QString());
    lines.append(
        QStringLiteral("Run 'launcher-publish COMMAND --help' for its switches.\n"
                       "Exit status: 0 done, 1 input refused, 2 usage error."));
    return lines.join(QLatin1Char('\n'));
}

// Fills `arguments` from what follows the command name; false with `problem` set on a usage
// error, true with `help` set when the help was asked for.
bool parseSwitches(const Command& command, const QStringList& given, Arguments& arguments,
                   bool& help, QString& problem) {
    for (qsizetype i = 0; i < given.size(); ++i) {
        const QString& argument = given.at(i);
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            help = true;
            return true;
        }
        if (!argument.startsWith(QLatin1Char('-')) || argument == QLatin1String("-")) {
            if (command.operand == nullptr || !arguments.operands.isEmpty()) {
                problem = QStringLiteral("unexpected argument '%1'.").arg(argument);
                return false;
            }
            arguments.operands.append(argument);
            continue;
        }
        const qsizetype equals = argument.indexOf(QLatin1Char('='));
        const QString name = equals < 0 ? argument : argument.left(equals);
        const auto known = std::find_if(
            command.switches.cbegin(), command.switches.cend(),
            [&name](const Switch& option) { return name == QLatin1String(option.name); });
        if (known == command.switches.cend()) {
            problem = QStringLiteral("unknown switch '%1'.").arg(name);
            return false;
        }
        if (arguments.values.contains(name)) {
            problem = QStringLiteral("switch %1 is given twice.").arg(name);
            return false;
        }
        if (equals >= 0) {
            arguments.values.insert(name, argument.mid(equals + 1));
        } else if (i + 1 < given.size()) {
            arguments.values.insert(name, given.at(++i));
        } else {
            problem = QStringLiteral("switch %1 needs a value.").arg(name);
            return false;
        }
    }
    for (const Switch& option : command.switches) {
        if (option.required && !arguments.values.contains(QLatin1String(option.name))) {
            problem = QStringLiteral("missing switch %1 %2.")
                          .arg(QLatin1String(option.name), QLatin1String(option.value));
            return false;
        }
    }
    if (command.operand != nullptr && arguments.operands.isEmpty()) {
        problem = QStringLiteral("missing %1.").arg(QLatin1String(command.operand));
        return false;
    }
    return true;
}

}  // namespace

int refuse(const Arguments& arguments, const QString& message) {
    printError(QStringLiteral("launcher-publish %1: %2").arg(arguments.command, message));
    return kRefused;
}

int usageError(const Arguments& arguments, const QString& message) {
    printError(QStringLiteral("launcher-publish %1: %2\nTry 'launcher-publish %1 --help'.")
                   .arg(arguments.command, message));
    return kUsageError;
}

int runPublishTool(const QStringList& given) {
    if (given.isEmpty()) {
        printError(toolUsage());
        return kUsageError;
    }
    if (given.first() == QLatin1String("--help") || given.first() == QLatin1String("-h")) {
        printOut(toolUsage());
        return kSucceeded;
    }
    const Command* command = findCommand(given.first());
    if (command == nullptr) {
        printError(QStringLiteral("launcher-publish: unknown command '%1'.\nTry "
                                  "'launcher-publish --help'.")
                       .arg(given.first()));
        return kUsageError;
    }
    Arguments arguments;
    arguments.command = given.first();
    bool help = false;
    QString problem;
    if (!parseSwitches(*command, given.mid(1), arguments, help, problem)) {
        return usageError(arguments, problem);
    }
    if (help) {
        printCommandHelp(*command);
        return kSucceeded;
    }
    return command->run(arguments);
}
