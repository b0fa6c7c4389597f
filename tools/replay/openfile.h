#pragma once
// Opening the recording, one implementation per platform (openfile_posix.cpp,
// openfile_win.cpp).
#include <cstdio>
#include <string>

// The file at Path opened for binary reading, when it is a regular file: the header parse
// seeks, so a pipe or a device will not do. Null otherwise, with the reason in Error.
std::FILE* OpenRegularFile(const char* Path, std::string& Error);
