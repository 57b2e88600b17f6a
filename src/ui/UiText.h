#pragma once

#include <QFile>
#include <QString>
#include <string>
#include <string_view>

namespace kelvane {

// The engine's texts are UTF-8.
inline QString ToQString(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// File names travel as the file system's own bytes, which need not be UTF-8.
inline std::string ToFileName(const QString& path) {
    return QFile::encodeName(path).toStdString();
}
inline QString FromFileName(const std::string& name) {
    return QFile::decodeName(QByteArray(name.data(), static_cast<qsizetype>(name.size())));
}

} // namespace kelvane
