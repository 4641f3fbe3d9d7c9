#include "host/qt/qt_text.h"

#include <QFile>

namespace host {

QString toQString(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string fromQString(const QString& text) {
    return text.toUtf8().toStdString();
}

std::string pathFromQString(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

}  // namespace host
