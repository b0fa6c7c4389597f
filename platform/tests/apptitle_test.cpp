// The application's title from the program's path. On Windows folders also end at '\\' and
// at a drive's ':', so a row has a title for each side (nullptr: not checked there).
#include "apptitle.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#define ON_THIS_PLATFORM(windows, other) windows
#else
#include "appinfo.h"
#define ON_THIS_PLATFORM(windows, other) other
#endif

TEST(ApplicationTitle, FileNameWithoutFolderAndExtensionFirstLetterKept) {
  const struct {
    const char *Path, *Title;
  } cases[] = {
      {"/usr/bin/korvel", "korvel"},
      {"build/bin/KORVEL.real.exe", "Korvel"},
      {"./x", "x"},
      {"korvel.exe", "korvel"},
      {"C:\\Program Files\\Korvel\\KORVEL.EXE",
       ON_THIS_PLATFORM("Korvel", "C:\\program files\\korvel\\korvel")},
      {"D:KORVEL.real.exe", ON_THIS_PLATFORM("Korvel", "D:korvel")},
      // Lower case by the system's table, which elsewhere depends on the locale.
      {"C:/x/ＫＯＲＶＥＬ.exe", ON_THIS_PLATFORM("Ｋｏｒｖｅｌ", nullptr)},
  };
  for (const auto& c : cases) {
    if (!c.Title) continue;
    EXPECT_EQ(ApplicationTitleFromPath(std::string(c.Path)), c.Title) << c.Path;
#ifndef _WIN32  // the toolkit's own overload
    EXPECT_EQ(ApplicationTitleFromPath(QString::fromUtf8(c.Path)), QString::fromUtf8(c.Title));
#endif
  }
}
