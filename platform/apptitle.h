#pragma once
// What every message box of the program needs, for any front end: the application's title
// and the text of an error. UTF-8 in and out.
#include <exception>
#include <string>

// Title rule: the program file's name without its folder and without everything from its
// first dot on, the first character kept and the rest in lower case ("/x/Korvel.bin" gives
// "Korvel", "KORVEL" gives "Korvel"). Folders end at '/', on Windows also at '\\' and at a
// drive's ':'.
std::string ApplicationTitleFromPath(const std::string& programPath);

// The text an error shows: what() of a std::exception, a fixed Japanese text for anything
// else.
std::string ExceptionMessage(std::exception_ptr error);
