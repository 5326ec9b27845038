#pragma once

#include <QByteArray>
#include <QString>

// Decodes base64url text strictly: only A-Z a-z 0-9 "-" "_"; "=" padding may be left out, and
// where present it is one or two "=" at the very end of a text whose length is a multiple of 4.
// Any other character ("+", "/", white space, non-ASCII included) or misplaced padding gives an
// empty result, as do empty text and a text whose length leaves a lone last character. The caller
// checks the decoded length.
QByteArray decodeStrictBase64Url(const QString& text);
