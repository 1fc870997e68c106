#pragma once

// Texts from the server, the method library and the user are bytes of a
// single-byte character set. Every byte maps to one character in Latin-1, so
// bytes shown this way come back unchanged when nothing was edited.

#include <QByteArray>
#include <QString>

#include <string>

inline QString latin1Text(const std::string& bytes)
{
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

// Characters outside Latin-1 that the user typed become '?'.
inline std::string latin1Bytes(const QString& text)
{
    const QByteArray bytes = text.toLatin1();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}
