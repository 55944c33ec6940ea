#include "nametree/notification.h"

#include <stdexcept>

namespace nametree {

CNotification::CNotification(const CNotificationPayload* payload, const CNameServer* sender,
                             CString name)
    : payload_(payload), sender_(sender), name_(std::move(name)) {
  if (name_.empty() || !sender_) throw std::invalid_argument("notification needs a name and a sender");
}

CNotification::~CNotification() = default;

CNotificationManager::~CNotificationManager() = default;

CNotificationManager::Token CNotificationManager::Subscribe(Subscriber subscriber) {
  Token t = next_++;
  subscribers_.emplace_back(t, std::move(subscriber));
  return t;
}

void CNotificationManager::Unsubscribe(Token token) {
  std::erase_if(subscribers_, [token](const auto& s) { return s.first == token; });
}

HRESULT CNotificationManager::Post(const CNotification& notification) {
  HRESULT hr = S_OK;
  // A copy, so that a subscriber may unsubscribe while being called.
  auto subscribers = subscribers_;
  for (auto& [token, fn] : subscribers) {
    try {
      fn(notification);
    } catch (...) {
      hr = E_FAIL;
    }
  }
  return hr;
}

}  // namespace nametree
