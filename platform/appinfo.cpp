#include "appinfo.h"

QString ApplicationTitleFromPath(const QString& programPath) {
  return QString::fromStdString(ApplicationTitleFromPath(programPath.toStdString()));
}

QString ExceptionText(std::exception_ptr error) {
  return QString::fromStdString(ExceptionMessage(error));
}
