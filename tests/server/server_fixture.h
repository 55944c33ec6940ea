// A server driven as a host drives it: initialised with a notification
// manager whose every post is recorded, on a fresh ID counter.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "nametree/name_server.h"

namespace nametree {

// The protected steps, named through a derived class as it may name them.
struct CNameServerTestAccess {
  struct Exposed : CNameServer {
    using CNameServer::GetNextObjectCount;
    using CNameServer::RemoveInvalidChars;
  };
  static CString RemoveInvalidChars(const CNameServer& s, CString text) {
    return (s.*&Exposed::RemoveInvalidChars)(std::move(text));
  }
  static int GetNextObjectCount(CNameServer& s, std::uint32_t id, CString base, bool reset) {
    return (s.*&Exposed::GetNextObjectCount)(id, std::move(base), reset);
  }
  static std::vector<CNameContainer*> Tops(const CNameServer& s) { return s.GetTopLevelContainers(); }
};

namespace test {

using Results = std::vector<HRESULT>;
using Ids = std::vector<std::uint32_t>;

struct Posted {
  CString name;
  std::uint32_t containerID, nameID;
  CString oldName, newName;
  bool operator==(const Posted&) const = default;
};

class ServerTest : public ::testing::Test {
 protected:
  ServerTest() {
    CNameContainer::SetLastIssuedNameID(0);
    manager.Subscribe([this](const CNotification& n) {
      const CNotificationPayload& p = *n.Payload();
      EXPECT_EQ(n.Sender(), &server);
      EXPECT_EQ(p.reserved1 | p.reserved2, 0u);
      posted.push_back({n.Name(), p.containerID, p.nameID, p.oldName, p.newName});
    });
    EXPECT_EQ(server.Initialize(&manager), S_OK);
  }

  // Enters a name without any check, to set a scene.
  std::uint32_t Put(std::uint32_t container, const CString& text) {
    std::uint32_t id = 0;
    EXPECT_EQ(server.AddName(id, container, text, kAllowLeadingUnderscore, false), S_OK);
    return id;
  }

  CNotificationManager manager;
  CNameServer server;
  std::vector<Posted> posted;
};

}  // namespace test
}  // namespace nametree
