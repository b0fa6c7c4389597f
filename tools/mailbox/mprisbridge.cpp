// The MPRIS bridge. Everything runs on the Qt event loop of the main thread: the mailbox's
// event FIFO and a signalfd for SIGTERM/SIGINT are watched by socket notifiers, D-Bus calls
// to players are asynchronous, so a player that hangs never holds up the others or the
// mailbox.
//
// Which players are there and what they are doing is tracked from the bus's
// NameOwnerChanged and the players' PropertiesChanged, so a player that appears, restarts
// or starts playing gets the last published factor without waiting for korvel's next
// publish (which may be long: korvel publishes only when its speed rule takes a step).
#include "mprisbridge.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <pthread.h>
#include <stdexcept>
#include <utility>
#include <vector>
#include <sys/signalfd.h>
#include <unistd.h>

#include "mailboxreader.h"

namespace {

const QString kMprisPrefix = QStringLiteral("org.mpris.MediaPlayer2.");
const QString kMprisPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString kPropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kConnectionName = QStringLiteral("korvel-mailbox-mpris");

// How often a missing session bus is tried again, and how often the record is read
// without a signal: each publish wakes only one waiter on the event, so another reader
// (korvel-mailbox watch run by hand) may take a wake-up meant for this one.
constexpr int kRetryBusMs = 1000;
constexpr int kRereadMs = 1000;

std::string Text(double V) {
  char Buf[64];
  auto [End, Ec] = std::to_chars(Buf, Buf + sizeof Buf, V);
  return std::string(Buf, End);
}

void Say(const std::string& Line) {
  std::fprintf(stderr, "korvel-mailbox: %s\n", Line.c_str());
  std::fflush(stderr);
}

// What is known of one player, by its well-known name.
struct TPlayer {
  QString Owner;                 // unique connection name; a new one is a new process
  bool Ready = false;            // its properties have been asked for (answered or not)
  bool Playing = false;
  QString Status;
  std::optional<double> MinRate, MaxRate;
  // It answered a rate with an error: skipped until it changes its PlaybackStatus (some
  // players take a rate only while something is loaded) or restarts. Said once.
  bool Refused = false;
  bool SaidRefusal = false;
  std::optional<double> Applied; // the last rate sent to its process, under any of its names
};

class TMprisBridge : public QObject {
  Q_OBJECT

public:
  TMprisBridge(const std::string& Dir, TMprisOptions Options, int SignalFd)
      : FReader(Dir, true),
        FOptions(std::move(Options)),
        FEventNotifier(FReader.Event().Handle(), QSocketNotifier::Read),
        FSignalNotifier(SignalFd, QSocketNotifier::Read) {
    if (FOptions.Player.rfind(kMprisPrefix.toStdString(), 0) == 0) FOptions.Player.erase(0, kMprisPrefix.size());
    QObject::connect(&FEventNotifier, &QSocketNotifier::activated, this, [this] {
      if (FReader.Event().WaitFor(0)) Take(ReadRecord());
    });
    QObject::connect(&FSignalNotifier, &QSocketNotifier::activated, this, [SignalFd] {
      signalfd_siginfo Info;
      (void)!::read(SignalFd, &Info, sizeof Info);
      QCoreApplication::quit();
    });
    QObject::connect(&FReread, &QTimer::timeout, this, [this] {
      const TMailboxRecord R = ReadRecord();
      if (!(R == FLastRecord)) Take(R);
    });
    QObject::connect(&FBusCheck, &QTimer::timeout, this, &TMprisBridge::CheckBus);
    Take(FReader.Read());  // an error here ends the command before the loop runs
    FReread.start(kRereadMs);
    FBusCheck.start(kRetryBusMs);
    CheckBus();
  }

  ~TMprisBridge() override { QDBusConnection::disconnectFromBus(kConnectionName); }

private slots:
  void OnNameOwnerChanged(const QString& Name, const QString& OldOwner, const QString& NewOwner) {
    if (!Name.startsWith(kMprisPrefix)) return;
    if (!OldOwner.isEmpty()) RemovePlayer(Name);
    if (!NewOwner.isEmpty()) AddPlayer(Name, NewOwner);
  }

  void OnPropertiesChanged(const QDBusMessage& Msg) {
    const QList<QVariant> Args = Msg.arguments();
    if (Args.size() < 2 || Args[0].toString() != kPlayerInterface) return;
    const QVariantMap Changed = qdbus_cast<QVariantMap>(Args[1]);
    const QStringList Invalidated = Args.size() > 2 ? qdbus_cast<QStringList>(Args[2]) : QStringList{};
    const bool AskAgain = Invalidated.contains(QStringLiteral("PlaybackStatus")) ||
                          Invalidated.contains(QStringLiteral("MinimumRate")) ||
                          Invalidated.contains(QStringLiteral("MaximumRate"));
    bool Known = false;
    for (auto& [Name, P] : FPlayers) {  // every name the sender goes by
      if (P.Owner != Msg.service()) continue;
      Known = true;
      if (AskAgain) AskProperties(Name, P.Owner);
      Update(P, Changed);
    }
    if (Known) Refresh();
  }

private:
  QDBusConnection Bus() const { return QDBusConnection(kConnectionName); }

  // An error of the lock cannot pass through Qt's event loop: it ends the bridge with the
  // status of the other commands' errors (the record then reads as unpublished).
  TMailboxRecord ReadRecord() {
    try {
      return FReader.Read();
    } catch (const ESpeedLinkError& E) {
      Say(std::string(E.what()) + (E.Detail().empty() ? "" : "\n") + E.Detail());
      QCoreApplication::exit(2);
      return {};
    }
  }

  // A record becomes the wanted rate only when korvel has published it (flag 1) and it is
  // a rate a player can take: 0 would pause the player, below 0 means play backwards.
  void Take(const TMailboxRecord& R) {
    FLastRecord = R;
    if (R.Flag == 0) {
      FWanted.reset();
      if (FOptions.Verbose) Say("nothing published since korvel started (flag 0)");
      return;
    }
    if (!std::isfinite(R.Speed) || R.Speed <= 0) {
      Say("not passing on speed=" + Text(R.Speed) + ": a playback rate must be a number above 0");
      return;
    }
    FWanted = R.Speed;
    for (auto* P : Targets()) SetRate(*P);
  }

  void CheckBus() {
    if (FConnected) {
      if (Bus().isConnected()) return;
      Say("lost the session bus; retrying");
      FConnected = false;
      FSaidNoBus = true;
      FPlayers.clear();
      QDBusConnection::disconnectFromBus(kConnectionName);
    }
    QDBusConnection C = QDBusConnection::connectToBus(QDBusConnection::SessionBus, kConnectionName);
    if (!C.isConnected()) {
      if (!FSaidNoBus) {
        const QByteArray Address = qgetenv("DBUS_SESSION_BUS_ADDRESS");
        Say("no session bus yet (DBUS_SESSION_BUS_ADDRESS=" + Address.toStdString() +
            "): " + C.lastError().message().toStdString() + "; retrying every " + Text(kRetryBusMs / 1000.0) + " s");
      }
      FSaidNoBus = true;
      QDBusConnection::disconnectFromBus(kConnectionName);
      return;
    }
    FConnected = true;
    FSaidNoBus = false;
    FSaidWaiting = false;
    C.connect(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
              QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameOwnerChanged"), this,
              SLOT(OnNameOwnerChanged(QString, QString, QString)));
    C.connect(QString(), kMprisPath, kPropertiesInterface, QStringLiteral("PropertiesChanged"), this,
              SLOT(OnPropertiesChanged(QDBusMessage)));
    Say("following MPRIS players on the session bus");
    const QStringList Names = C.interface()->registeredServiceNames().value();
    for (const QString& Name : Names) {
      if (!Name.startsWith(kMprisPrefix)) continue;
      const QString Owner = C.interface()->serviceOwner(Name).value();
      if (!Owner.isEmpty()) AddPlayer(Name, Owner);
    }
    SayIfWaiting();
  }

  bool Matches(const QString& Name) const {
    if (FOptions.Player.empty()) return true;
    const QString Want = kMprisPrefix + QString::fromStdString(FOptions.Player);
    return Name == Want || Name.startsWith(Want + QStringLiteral(".instance"));
  }

  void AddPlayer(const QString& Name, const QString& Owner) {
    auto [It, Inserted] = FPlayers.try_emplace(Name);
    if (!Inserted && It->second.Owner == Owner) return;
    It->second = TPlayer{};
    It->second.Owner = Owner;
    for (const auto& [Other, P] : FPlayers)  // a further name of a process already set
      if (Other != Name && P.Owner == Owner) It->second.Applied = P.Applied;
    if (Matches(Name)) Say("found MPRIS player " + Name.toStdString());
    AskProperties(Name, Owner);
  }

  void RemovePlayer(const QString& Name) {
    if (FPlayers.erase(Name) == 0) return;
    if (Matches(Name)) Say("MPRIS player " + Name.toStdString() + " went away");
    FSaidWaiting = false;
    Refresh();
    SayIfWaiting();
  }

  // The player becomes a candidate once it has answered (or failed to answer) GetAll, so
  // the first rate it gets is already clamped to its range.
  void AskProperties(const QString& Name, const QString& Owner) {
    QDBusMessage Call = QDBusMessage::createMethodCall(Name, kMprisPath, kPropertiesInterface, QStringLiteral("GetAll"));
    Call << kPlayerInterface;
    auto* W = new QDBusPendingCallWatcher(Bus().asyncCall(Call), this);
    QObject::connect(W, &QDBusPendingCallWatcher::finished, this, [this, Name, Owner](QDBusPendingCallWatcher* W) {
      W->deleteLater();
      auto It = FPlayers.find(Name);
      if (It == FPlayers.end() || It->second.Owner != Owner) return;  // gone or replaced meanwhile
      QDBusPendingReply<QVariantMap> Reply = *W;
      It->second.Ready = true;
      if (!Reply.isError()) Update(It->second, Reply.value());
      Refresh();
    });
  }

  static void Update(TPlayer& P, const QVariantMap& Props) {
    auto Number = [&](const char* Key, std::optional<double>& Out) {
      const auto It = Props.find(QLatin1String(Key));
      bool Ok = false;
      const double V = It == Props.end() ? 0 : It->toDouble(&Ok);
      if (Ok && std::isfinite(V)) Out = V;
    };
    if (const auto It = Props.find(QStringLiteral("PlaybackStatus")); It != Props.end()) {
      if (It->toString() != P.Status) P.Refused = false;
      P.Status = It->toString();
      P.Playing = P.Status == QStringLiteral("Playing");
    }
    Number("MinimumRate", P.MinRate);
    Number("MaximumRate", P.MaxRate);
  }

  // Every matching player with --all; otherwise the first playing one in name order, else
  // the first one. A player known under two names (some add an instance name to their
  // own) counts once.
  std::vector<TPlayer*> Targets() {
    std::vector<TPlayer*> Candidates;
    for (auto& [Name, P] : FPlayers) {
      if (!P.Ready || P.Refused || !Matches(Name)) continue;
      if (std::none_of(Candidates.begin(), Candidates.end(), [&](TPlayer* C) { return C->Owner == P.Owner; }))
        Candidates.push_back(&P);
    }
    if (FOptions.All || Candidates.empty()) return Candidates;
    const auto Playing = std::find_if(Candidates.begin(), Candidates.end(), [](TPlayer* P) { return P->Playing; });
    return {Playing != Candidates.end() ? *Playing : Candidates.front()};
  }

  // Brings players that became targets (appeared, restarted, started playing) up to the
  // wanted rate.
  void Refresh() {
    if (!FWanted) return;
    for (auto* P : Targets())
      if (P->Applied != Clamped(*P, *FWanted)) SetRate(*P);
  }

  static double Clamped(const TPlayer& P, double Rate) {
    if (P.MinRate && P.MaxRate && *P.MinRate <= *P.MaxRate) return std::clamp(Rate, *P.MinRate, *P.MaxRate);
    if (P.MinRate) Rate = std::max(Rate, *P.MinRate);
    if (P.MaxRate) Rate = std::min(Rate, *P.MaxRate);
    return Rate;
  }

  const QString& NameOf(const TPlayer& P) const {
    for (const auto& [Name, Q] : FPlayers)
      if (&Q == &P) return Name;
    static const QString None;
    return None;
  }

  void SetRate(TPlayer& P) {
    const double Rate = Clamped(P, *FWanted);
    if (!(Rate > 0)) return;  // a player whose range lies at or below 0
    const QString Name = NameOf(P);
    SetApplied(P.Owner, Rate);
    QDBusMessage Call = QDBusMessage::createMethodCall(Name, kMprisPath, kPropertiesInterface, QStringLiteral("Set"));
    Call << kPlayerInterface << QStringLiteral("Rate") << QVariant::fromValue(QDBusVariant(Rate));
    auto* W = new QDBusPendingCallWatcher(Bus().asyncCall(Call), this);
    QObject::connect(W, &QDBusPendingCallWatcher::finished, this, [this, Name, Owner = P.Owner, Rate](QDBusPendingCallWatcher* W) {
      W->deleteLater();
      auto It = FPlayers.find(Name);
      if (It == FPlayers.end() || It->second.Owner != Owner) return;
      if (!W->isError()) {
        if (FOptions.Verbose) {
          std::printf("set Rate=%s on %s\n", Text(Rate).c_str(), Name.toUtf8().constData());
          std::fflush(stdout);
        }
        return;
      }
      // A timeout says nothing about the property; the next publish tries again.
      const QDBusError E = W->error();
      SetApplied(Owner, std::nullopt);
      if (E.type() == QDBusError::NoReply || E.type() == QDBusError::Timeout) return;
      It->second.Refused = true;
      if (!std::exchange(It->second.SaidRefusal, true))
        Say(Name.toStdString() + " refuses to set Rate (" + E.name().toStdString() + ": " +
            E.message().trimmed().toStdString() + "); skipping it");
      Refresh();  // another player may take its place
      SayIfWaiting();
    });
  }

  // What was sent is known for the process, not the name: a process whose second name
  // answers first is set through that one, then counted once under the first (Targets),
  // which must not be set again.
  void SetApplied(const QString& Owner, std::optional<double> Rate) {
    for (auto& [Name, P] : FPlayers)
      if (P.Owner == Owner) P.Applied = Rate;
  }

  void SayIfWaiting() {
    if (FSaidWaiting) return;
    for (const auto& [Name, P] : FPlayers)
      if (!P.Refused && Matches(Name)) return;
    FSaidWaiting = true;
    Say(FOptions.Player.empty() ? std::string("waiting for an MPRIS player to appear")
                                : "waiting for MPRIS player " + (kMprisPrefix + QString::fromStdString(FOptions.Player)).toStdString() +
                                      " to appear");
  }

  TMailboxRecordReader FReader;
  TMprisOptions FOptions;
  QSocketNotifier FEventNotifier;
  QSocketNotifier FSignalNotifier;
  QTimer FReread, FBusCheck;
  TMailboxRecord FLastRecord;
  std::optional<double> FWanted;
  std::map<QString, TPlayer> FPlayers;  // ordered: the bus names' order
  bool FConnected = false, FSaidNoBus = false, FSaidWaiting = false;
};

}  // namespace

int CmdMpris(const std::string& Dir, const TMprisOptions& Options) {
  // Blocked before any thread exists, so every thread (Qt's D-Bus thread too) inherits
  // the mask and the signals arrive only through the signalfd.
  sigset_t Stop;
  sigemptyset(&Stop);
  sigaddset(&Stop, SIGINT);
  sigaddset(&Stop, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &Stop, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
  const int SignalFd = ::signalfd(-1, &Stop, SFD_CLOEXEC | SFD_NONBLOCK);
  if (SignalFd < 0) throw std::runtime_error(std::string("signalfd: ") + std::strerror(errno));

  int Argc = 1;
  char Name[] = "korvel-mailbox";
  char* Argv[] = {Name, nullptr};
  QCoreApplication App(Argc, Argv);
  int Status;
  {
    TMprisBridge Bridge(Dir, Options, SignalFd);
    Status = App.exec();
  }
  ::close(SignalFd);
  return Status;
}

#include "mprisbridge.moc"
