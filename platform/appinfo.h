#pragma once
// What every message box of the program needs: the application's title and the text of an
// error. Shared by the application object and the forms, which cannot see each other.
#include <QString>

#include <exception>

// Title rule: the program file's name without its folder and without everything from its
// first dot on, the first character kept and the rest in lower case ("/x/Korvel.bin" gives
// "Korvel", "KORVEL" gives "Korvel").
QString ApplicationTitleFromPath(const QString& programPath);

// The text an error shows: what() of a std::exception (UTF-8), a fixed Japanese text for
// anything else.
QString ExceptionText(std::exception_ptr error);
