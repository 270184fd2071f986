// The route decision over every combination of its eleven conditions, and the
// texts the log shows for it.
#include "engine/route_decision.h"

#include <gtest/gtest.h>

namespace {

RouteConditions FromBits(unsigned bits) {
  RouteConditions c;
  bool* fields[] = {
      &c.vista,   &c.highIntegrity,  &c.mediumIntegrity, &c.lowIntegrity,      &c.adminVista,          &c.adminXp,
      &c.service, &c.perUserAllowed, &c.serviceUpdate,   &c.registeredPerUser, &c.registeredPerMachine};
  for (unsigned i = 0; i < 11; ++i) *fields[i] = (bits >> i) & 1;
  return c;
}

TEST(RouteDecision, EveryCombinationKeepsTheRulesInvariants) {
  for (unsigned bits = 0; bits < (1u << 11); ++bits) {
    const RouteConditions c = FromBits(bits);
    const RouteSet r = DecideInstallRoute(c);
    SCOPED_TRACE(RouteConditionText(c) + " | " + RouteText(r));
    const int levels = c.highIntegrity + c.mediumIntegrity + c.lowIntegrity;
    const bool contradiction = c.vista ? (c.adminXp || levels != 1) : (c.adminVista || levels != 0);
    // INVALID exactly when the conditions contradict each other, and alone.
    EXPECT_EQ(contradiction, r == kRouteInvalid);
    EXPECT_EQ(0, r & ~0x3F);
    if (contradiction) continue;
    EXPECT_EQ(0, r & kRouteInvalid);
    // The service answering and no per-user registration: the service alone.
    if (c.service && !c.registeredPerUser) {
      EXPECT_EQ(kRouteService, r);
      continue;
    }
    EXPECT_EQ(0, r & kRouteService);
    // The service's own update goes nowhere but to the service.
    if (c.serviceUpdate) {
      EXPECT_EQ(0, r);
    }
    // Per user only where allowed; no user-mode installers before Vista.
    if (!c.perUserAllowed) {
      EXPECT_EQ(0, r & kRouteLocalUser);
    }
    if (!c.vista) {
      EXPECT_EQ(0, r & (kRouteExternalProcessHi | kRouteExternalProcessMi));
    }
    // Never both in-process scopes; a high-integrity process installs for the
    // machine itself.
    EXPECT_NE(kRouteLocalUser | kRouteLocalMachine, r & (kRouteLocalUser | kRouteLocalMachine));
    if (c.vista && c.highIntegrity && !c.serviceUpdate) {
      EXPECT_EQ(kRouteLocalMachine, r);
    }
    // Before Vista a registration per user keeps the installation with the user.
    if (c.registeredPerUser && !c.vista) {
      EXPECT_EQ(0, r & kRouteLocalMachine);
    }
    // The medium-integrity installer only for a low-integrity process.
    if (r & kRouteExternalProcessMi) {
      EXPECT_TRUE(c.lowIntegrity && c.perUserAllowed);
    }
  }
}

TEST(RouteDecision, TheNamedSituations) {
  struct Case {
    const char* conditions;  // the log's condition text
    const char* routes;
  };
  auto make = [](std::initializer_list<bool RouteConditions::*> set) {
    RouteConditions c;
    for (auto field : set) c.*field = true;
    return c;
  };
  using C = RouteConditions;
  const struct {
    RouteConditions c;
    Case expected;
  } cases[] = {
      // Windows 7, medium integrity, split-token administrator, not registered.
      {make({&C::vista, &C::mediumIntegrity, &C::adminVista, &C::perUserAllowed}),
       {"Vista MI Admin/VI allow-per-user", "EXTERNAL_PROCESS_HI"}},
      // The same, registered per user: the direct per-user install.
      {make({&C::vista, &C::mediumIntegrity, &C::adminVista, &C::registeredPerUser, &C::perUserAllowed}),
       {"Vista MI Admin/VI registered-per-user allow-per-user", "LOCAL_USER"}},
      {make({&C::vista, &C::mediumIntegrity, &C::perUserAllowed}),
       {"Vista MI allow-per-user", "LOCAL_USER EXTERNAL_PROCESS_HI"}},
      {make({&C::vista, &C::lowIntegrity, &C::perUserAllowed}),
       {"Vista LI allow-per-user", "EXTERNAL_PROCESS_HI EXTERNAL_PROCESS_MI"}},
      {make({&C::vista, &C::lowIntegrity, &C::registeredPerMachine, &C::perUserAllowed}),
       {"Vista LI registered-per-machine allow-per-user", "EXTERNAL_PROCESS_MI"}},
      // A standard user and a service class registered per machine: no route.
      {make({&C::vista, &C::mediumIntegrity, &C::registeredPerMachine}),
       {"Vista MI registered-per-machine allow-per-system", "NONE"}},
      {make({&C::vista, &C::mediumIntegrity}), {"Vista MI allow-per-system", "EXTERNAL_PROCESS_HI"}},
      // The service answering, whatever the integrity level.
      {make({&C::vista, &C::lowIntegrity, &C::service, &C::perUserAllowed}),
       {"Vista LI service allow-per-user", "SERVICE"}},
      {make({&C::vista, &C::highIntegrity, &C::adminVista, &C::service, &C::registeredPerUser}),
       {"Vista HI Admin/VI service registered-per-user allow-per-system", "LOCAL_MACHINE"}},
      // The service's own update: to the service, or nowhere.
      {make({&C::vista, &C::highIntegrity, &C::adminVista, &C::service, &C::serviceUpdate}),
       {"Vista HI Admin/VI service service-update.cab allow-per-system", "SERVICE"}},
      {make({&C::vista, &C::highIntegrity, &C::adminVista, &C::serviceUpdate}),
       {"Vista HI Admin/VI service-update.cab allow-per-system", "NONE"}},
      // Before Vista.
      {make({&C::adminXp, &C::perUserAllowed}), {"XP Admin/XP allow-per-user", "LOCAL_MACHINE"}},
      {make({&C::adminXp, &C::registeredPerUser, &C::perUserAllowed}),
       {"XP Admin/XP registered-per-user allow-per-user", "LOCAL_USER"}},
      {make({&C::perUserAllowed}), {"XP allow-per-user", "LOCAL_USER"}},
      {make({}), {"XP allow-per-system", "NONE"}},
      // Contradictions: an integrity level before Vista, none or two on Vista.
      {make({&C::highIntegrity, &C::adminXp, &C::perUserAllowed}), {"XP HI Admin/XP allow-per-user", "INVALID"}},
      {make({&C::vista, &C::perUserAllowed}), {"Vista allow-per-user", "INVALID"}},
      {make({&C::vista, &C::highIntegrity, &C::mediumIntegrity}), {"Vista HI MI allow-per-system", "INVALID"}},
  };
  for (const auto& k : cases) {
    EXPECT_EQ(k.expected.conditions, RouteConditionText(k.c));
    EXPECT_EQ(k.expected.routes, RouteText(DecideInstallRoute(k.c))) << k.expected.conditions;
  }
  EXPECT_EQ("LOCAL_MACHINE LOCAL_USER SERVICE EXTERNAL_PROCESS_HI EXTERNAL_PROCESS_MI INVALID", RouteText(0x3F));
}

TEST(RouteDecision, ServiceClassesInAnyCase) {
  for (const char* id : {"service:x", "SERVICE:", "Service:Norvane Networks Component Installer"})
    EXPECT_TRUE(IsServiceClass(id)) << id;
  for (const char* id : {"", "service", "{service:}", static_cast<const char*>(nullptr)})
    EXPECT_FALSE(IsServiceClass(id));
  EXPECT_TRUE(IsServiceUpdateClass("SERVICE:norvane networks component installer"));
  for (const char* id :
       {"Service:Norvane Networks Component Installer ", "Service:Norvane", "", static_cast<const char*>(nullptr)})
    EXPECT_FALSE(IsServiceUpdateClass(id));
}

}  // namespace
