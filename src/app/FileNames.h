// File names between Qt and the settings layer, which takes UTF-8 on Windows (where it
// calls the wide file functions) and the system's own bytes elsewhere.
#pragma once

#include <QFile>
#include <QString>

#include <string>

inline std::string ToFileName(const QString& path) {
#ifdef _WIN32
    return path.toStdString();
#else
    return QFile::encodeName(path).toStdString();
#endif
}

inline QString FromFileName(const std::string& path) {
#ifdef _WIN32
    return QString::fromStdString(path);
#else
    return QFile::decodeName(path.c_str());
#endif
}
