#pragma once
// korvel-mailbox mpris: sets the Rate of MPRIS media players on the session D-Bus to each
// factor korvel publishes.
#include <string>

struct TMprisOptions {
  // Empty: any player. Otherwise org.mpris.MediaPlayer2.<Player>, with or without an
  // instance suffix (".instance<pid>").
  std::string Player;
  bool All = false;      // every matching player instead of one
  bool Verbose = false;  // print each rate set
};

// Runs until SIGTERM or SIGINT (status 0). Raises ESpeedLinkError when the mailbox cannot
// be opened or is not this user's.
int CmdMpris(const std::string& Dir, const TMprisOptions& Options);
