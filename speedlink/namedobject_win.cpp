// Names of the kernel objects on Windows: the bare name for the program, or a test's
// prefix before it. OpenNamedObject has no counterpart here: the kernel keeps the objects.
#include "namedobject.h"

#include <algorithm>

std::string NamedObjectPath(const std::string& Directory, const std::string& Name) {
  if (Directory.empty()) return Name;
  std::string Prefix = Directory;
  std::replace(Prefix.begin(), Prefix.end(), '\\', '/');  // a backslash would name a namespace
  return Prefix + "/" + Name;
}
