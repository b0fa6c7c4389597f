// The application's title from the program's path, on either platform: a row's Windows
// title where folders also end at '\\' and at a drive's ':', its other title where only '/'
// ends them (nullptr: the row does not apply there).
#include "apptitle.h"
#ifndef _WIN32
#include "appinfo.h"
#endif

#include <gtest/gtest.h>

TEST(ApplicationTitle, FileNameWithoutFolderAndExtensionFirstLetterKept) {
  const struct {
    const char* Path;
    const char* Windows;
    const char* Other;
  } cases[] = {
      {"/usr/bin/korvel", "korvel", "korvel"},
      {"build/bin/KORVEL.real.exe", "Korvel", "Korvel"},
      {"./x", "x", "x"},
      {"korvel.exe", "korvel", "korvel"},
      {"C:\\Program Files\\Korvel\\KORVEL.EXE", "Korvel", "C:\\program files\\korvel\\korvel"},
      {"D:KORVEL.real.exe", "Korvel", "D:korvel"},
      {"C:/x/ＫＯＲＶＥＬ.exe", "Ｋｏｒｖｅｌ", nullptr},  // lower case by the system's table
  };
  for (const auto& c : cases) {
#ifdef _WIN32
    const char* title = c.Windows;
#else
    const char* title = c.Other;
#endif
    if (!title) continue;
    EXPECT_EQ(ApplicationTitleFromPath(std::string(c.Path)), title) << c.Path;
#ifndef _WIN32
    EXPECT_EQ(ApplicationTitleFromPath(QString::fromUtf8(c.Path)), QString::fromUtf8(title));
#endif
  }
}
