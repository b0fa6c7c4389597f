#pragma once
// Checks the speed link's tests share: the error an action raises, and whether another
// thread gets a lock.
#include "synchronize.h"

#include <functional>
#include <string>
#include <thread>

struct TLinkError {
  std::string What, Detail;
};

// The speed link error F raised, its text and its detail; "(no error)" when it raised none.
inline TLinkError ErrorOf(const std::function<void()>& F) {
  try {
    F();
  } catch (const ESpeedLinkError& E) {
    return {E.what(), E.Detail()};
  }
  return {"(no error)", {}};
}

// Whether another thread gets the lock within Ms, leaving it again (on the owner's thread
// the lock would be re-entered).
inline bool OtherThreadGets(ISynchronize& Lock, uint32_t Ms = 0) {
  bool Got = false;
  std::thread([&] {
    Got = Lock.TryEnter(Ms);
    if (Got) Lock.Leave();
  }).join();
  return Got;
}
