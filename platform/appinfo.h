#pragma once
// apptitle.h for the Qt front end: the application's title and an error's text as QString.
#include "apptitle.h"

#include <QString>

#include <exception>

QString ApplicationTitleFromPath(const QString& programPath);
QString ExceptionText(std::exception_ptr error);
