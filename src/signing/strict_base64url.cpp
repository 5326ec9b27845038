#include "strict_base64url.h"

QByteArray decodeStrictBase64Url(const QString& text) {
    // A lone last character holds 6 bits, no byte: no encoder writes one, and Qt's decoder drops
    // it, so the same bytes would pass under texts with any character added.
    if (text.size() % 4 == 1) {
        return QByteArray();
    }
    // UTF-8 rather than Latin-1: a character outside Latin-1 would become "?" there, while in
    // UTF-8 every non-ASCII character becomes bytes that the decoder refuses outright.
    const QByteArray::FromBase64Result result = QByteArray::fromBase64Encoding(
        text.toUtf8(), QByteArray::Base64UrlEncoding | QByteArray::AbortOnBase64DecodingErrors);
    if (result.decodingStatus != QByteArray::Base64DecodingStatus::Ok) {
        return QByteArray();
    }
    return result.decoded;
}
