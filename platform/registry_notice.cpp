// The store's messages for the user, the same on every platform: added by the store or a
// caller, handed out once.
#include "registry.h"

void TRegistry::AddNotice(const std::string& text) {
  if (text.empty()) return;
  if (!Notice.empty()) Notice += "\n\n";
  Notice += text;
  if (OnNotice) OnNotice();
}

std::string TRegistry::TakeNotice() {
  std::string n;
  n.swap(Notice);
  return n;
}
