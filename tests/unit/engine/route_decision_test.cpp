// The route decision over every combination of its eleven conditions, and the
// texts the log shows for it.
#include "engine/route_decision.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

namespace {

// Bit i of `bits` is the i-th condition in declaration order.
RouteConditions FromBits(unsigned bits) {
  auto b = [bits](int i) { return ((bits >> i) & 1) != 0; };
  return RouteConditions{b(0), b(1), b(2), b(3), b(4), b(5), b(6), b(7), b(8), b(9), b(10)};
}

// The conditions whose labels a log line shows, before its "| ".
RouteConditions FromLabels(const std::string& line) {
  // In declaration order.
  static const std::string kLabels =
      " Vista HI MI LI Admin/VI Admin/XP service allow-per-user service-update.cab registered-per-user "
      "registered-per-machine ";
  std::istringstream in(line.substr(0, line.find('|')));
  unsigned bits = 0;
  for (std::string word; in >> word;) {
    const std::size_t at = kLabels.find(" " + word + " ");
    if (at != std::string::npos) bits |= 1u << std::count(kLabels.begin(), kLabels.begin() + at, ' ');
  }
  return FromBits(bits);
}

TEST(RouteDecision, EveryCombinationKeepsTheRulesInvariants) {
  for (unsigned bits = 0; bits < (1u << 11); ++bits) {
    const RouteConditions c = FromBits(bits);
    const RouteSet r = DecideInstallRoute(c);
    SCOPED_TRACE(RouteConditionText(c) + "| " + RouteText(r));
    const int levels = c.highIntegrity + c.mediumIntegrity + c.lowIntegrity;
    const bool contradiction = c.vista ? (c.adminXp || levels != 1) : (c.adminVista || levels != 0);
    // INVALID exactly when the conditions contradict each other, and alone.
    ASSERT_EQ(contradiction, r == kRouteInvalid);
    if (contradiction) continue;
    // The service answering and no per-user registration: the service alone.
    const bool toService = c.service && !c.registeredPerUser;
    ASSERT_EQ(toService ? kRouteService : 0, r & (kRouteService | kRouteInvalid));
    if (toService) continue;
    // The service's own update goes nowhere else; per user only where allowed;
    // no user-mode installers before Vista; never both in-process scopes; a
    // high-integrity process installs for the machine itself.
    ASSERT_TRUE(!c.serviceUpdate || r == 0);
    ASSERT_TRUE(c.perUserAllowed || !(r & kRouteLocalUser));
    ASSERT_TRUE(c.vista || !(r & (kRouteExternalProcessHi | kRouteExternalProcessMi)));
    ASSERT_NE(kRouteLocalUser | kRouteLocalMachine, r & (kRouteLocalUser | kRouteLocalMachine));
    ASSERT_TRUE(!(c.vista && c.highIntegrity && !c.serviceUpdate) || r == kRouteLocalMachine);
    ASSERT_TRUE(!(r & kRouteExternalProcessMi) || (c.lowIntegrity && c.perUserAllowed));
  }
}

TEST(RouteDecision, TheNamedSituationsAndTheirLogTexts) {
  for (const std::string line : {
           // Medium integrity, split-token administrator; then registered per user.
           "Vista MI Admin/VI allow-per-user| EXTERNAL_PROCESS_HI",
           "Vista MI Admin/VI registered-per-user allow-per-user| LOCAL_USER",
           "Vista MI allow-per-user| LOCAL_USER EXTERNAL_PROCESS_HI",
           "Vista LI allow-per-user| EXTERNAL_PROCESS_HI EXTERNAL_PROCESS_MI",
           "Vista LI registered-per-machine allow-per-user| EXTERNAL_PROCESS_MI",
           "Vista MI registered-per-machine allow-per-system| NONE",
           "Vista LI service allow-per-user| SERVICE",
           "Vista HI Admin/VI service registered-per-user allow-per-system| LOCAL_MACHINE",
           "Vista HI Admin/VI service-update.cab allow-per-system| NONE",
           "XP Admin/XP registered-per-user allow-per-user| LOCAL_USER",
           "XP allow-per-system| NONE",
           "XP HI Admin/XP allow-per-user| INVALID",
       }) {
    const RouteConditions c = FromLabels(line);
    EXPECT_EQ(line, RouteConditionText(c) + "| " + RouteText(DecideInstallRoute(c)));
  }
  EXPECT_EQ("LOCAL_MACHINE LOCAL_USER SERVICE EXTERNAL_PROCESS_HI EXTERNAL_PROCESS_MI INVALID", RouteText(0x3F));
  // "service:" in any case; the service's own update exactly, in any case.
  EXPECT_TRUE(IsServiceClass("SERVICE:x") && IsServiceUpdateClass("SERVICE:norvane networks component installer"));
  EXPECT_FALSE(IsServiceClass("service") || IsServiceClass("{service:}") || IsServiceClass(nullptr) ||
               IsServiceUpdateClass("Service:Norvane Networks Component Installer ") || IsServiceUpdateClass(nullptr));
}

}  // namespace
