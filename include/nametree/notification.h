// The host's notification library, as far as the name server uses it: a
// record posted to a manager, which hands it to its subscribers.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "nametree/export.h"
#include "nametree/types.h"

namespace nametree {

class CNameServer;

struct NAMETREE_API CNotificationPayload {
  std::uint32_t containerID = 0;
  std::uint32_t reserved1 = 0;  // always 0
  std::uint32_t nameID = 0;
  std::uint32_t reserved2 = 0;  // always 0
  CString oldName;
  CString newName;
};

inline constexpr char16_t kNameWasDeleted[] = u"NameWasDeleted";
inline constexpr char16_t kNameChanged[] = u"NameChanged";
inline constexpr char16_t kContainerWasDeleted[] = u"ContainerWasDeleted";

// A record lives only for the duration of one Post call; subscribers copy
// what they want to keep.
class NAMETREE_API CNotification {
 public:
  // Throws std::invalid_argument for an empty name or a null sender.
  CNotification(const CNotificationPayload* payload, const CNameServer* sender, CString name);
  virtual ~CNotification();

  const CNotificationPayload* Payload() const { return payload_; }
  const CNameServer* Sender() const { return sender_; }
  const CString& Name() const { return name_; }

 private:
  const CNotificationPayload* payload_;
  const CNameServer* sender_;
  CString name_;
};

class NAMETREE_API CNotificationManager {
 public:
  using Subscriber = std::function<void(const CNotification&)>;
  using Token = std::uint64_t;

  CNotificationManager() = default;
  CNotificationManager(const CNotificationManager&) = delete;
  CNotificationManager& operator=(const CNotificationManager&) = delete;
  virtual ~CNotificationManager();

  Token Subscribe(Subscriber subscriber);
  void Unsubscribe(Token token);

  // Hands the record to every subscriber in order of subscription. A
  // subscriber that throws does not stop the others; the result is then
  // E_FAIL, otherwise S_OK.
  virtual HRESULT Post(const CNotification& notification);

 private:
  std::vector<std::pair<Token, Subscriber>> subscribers_;
  Token next_ = 1;
};

}  // namespace nametree
