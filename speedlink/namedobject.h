#pragma once
// Create-or-open of the files that stand for named objects, with the checks that keep
// another local user's files out. Internal to the speed link and its tools.
#include <string>

enum class TNamedKind { Regular, Fifo };

struct TNamedOpen {
  int Fd = -1;         // -1 when refused
  bool Created = false;
  std::string Why;     // why it was refused, for messages beyond the fixed user text
};

// Opens Directory/Name read+write, creating it with mode 0600 when missing (either start
// order works: a lost creation race opens the winner's file). Never follows a symlink.
// The result must be of Kind, owned by the effective uid and give no group/other access.
TNamedOpen OpenNamedObject(const std::string& Directory, const std::string& Name, TNamedKind Kind);

// Directory + "/" + Name.
std::string NamedObjectPath(const std::string& Directory, const std::string& Name);

// The user's text when the section Name cannot be created or opened.
std::string SectionCannotOpenText(const std::string& Name);
