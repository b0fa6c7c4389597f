#pragma once
// Reference-counted interfaces of the speed link: the lock (ISynchronize) and the auto-reset
// event (IAutomaticEvent), their identifiers, a small owning reference, and the errors the
// link raises.
//
// The interfaces are laid out like the binary interfaces they stand for: three reference
// counting slots first, then the operations in a fixed order. They have no virtual
// destructor on purpose (it would add slots); an object ends through Release.
#include <atomic>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>

struct TInterfaceID {
  uint32_t D1;
  uint16_t D2;
  uint16_t D3;
  uint8_t D4[8];
  friend bool operator==(const TInterfaceID&, const TInterfaceID&) = default;
};

// {00000000-0000-0000-C000-000000000046}: the identifier every reference-counted interface answers.
inline constexpr TInterfaceID IID_IRefCounted{0x00000000, 0x0000, 0x0000,
                                              {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// {9C1798A6-7A7E-4E2E-87F1-00348DB4228A}
inline constexpr TInterfaceID IID_ISynchronize{0x9C1798A6, 0x7A7E, 0x4E2E,
                                               {0x87, 0xF1, 0x00, 0x34, 0x8D, 0xB4, 0x22, 0x8A}};
// {DC0B2584-B3E0-433C-97EE-E4787D34500D}
inline constexpr TInterfaceID IID_IAutomaticEvent{0xDC0B2584, 0xB3E0, 0x433C,
                                                  {0x97, 0xEE, 0xE4, 0x78, 0x7D, 0x34, 0x50, 0x0D}};

inline constexpr int32_t kQueryOk = 0;
inline constexpr int32_t kQueryNoInterface = static_cast<int32_t>(0x80004002u);

// The three reference-counting slots every interface of the link starts with.
struct IRefCounted {
  virtual int32_t QueryInterface(const TInterfaceID& Iid, void** Obj) = 0;
  virtual uint32_t AddRef() = 0;
  virtual uint32_t Release() = 0;

protected:
  ~IRefCounted() = default;
};

// Wait without a time limit, as a millisecond argument.
inline constexpr uint32_t kInfinite = 0xFFFFFFFFu;

struct ISynchronize : IRefCounted {
  // Waits up to Milliseconds (kInfinite: no limit); true when the lock was obtained.
  virtual bool TryEnter(uint32_t Milliseconds) = 0;
  virtual void Enter() = 0;
  virtual void Leave() = 0;

protected:
  ~ISynchronize() = default;
};

struct IAutomaticEvent : IRefCounted {
  virtual bool Signal() = 0;
  virtual void Reset() = 0;
  virtual bool Wait() = 0;
  virtual bool WaitFor(uint32_t Milliseconds) = 0;

protected:
  ~IAutomaticEvent() = default;
};

// Owning reference to a reference-counted interface: AddRef on taking, Release on dropping.
template <class T>
class TInterfaceRef {
public:
  TInterfaceRef() = default;
  explicit TInterfaceRef(T* Obj) : FObj(Obj) {
    if (FObj) FObj->AddRef();
  }
  TInterfaceRef(const TInterfaceRef& Other) : TInterfaceRef(Other.FObj) {}
  TInterfaceRef(TInterfaceRef&& Other) noexcept : FObj(std::exchange(Other.FObj, nullptr)) {}
  TInterfaceRef& operator=(TInterfaceRef Other) noexcept {
    std::swap(FObj, Other.FObj);
    return *this;
  }
  ~TInterfaceRef() {
    if (FObj) FObj->Release();
  }
  T* get() const { return FObj; }
  T* operator->() const { return FObj; }
  T& operator*() const { return *FObj; }
  explicit operator bool() const { return FObj != nullptr; }

private:
  T* FObj = nullptr;
};

// General error of the link; what() is the text the user sees, Detail() says what the
// system reported (empty when nothing more is known).
class ESpeedLinkError : public std::runtime_error {
public:
  explicit ESpeedLinkError(const std::string& Message, std::string Detail = {})
      : std::runtime_error(Message), FDetail(std::move(Detail)) {}
  const std::string& Detail() const noexcept { return FDetail; }
  // The message as the user sees it: the text, then the detail on a second line.
  std::string FullText() const { return FDetail.empty() ? what() : what() + ("\n" + FDetail); }

private:
  std::string FDetail;
};

// A write past the end of a shared section: a kind of its own (an access violation in the
// making), so callers that handle the general error do not swallow it by accident.
class ESharedMemoryOutOfBounds : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};
