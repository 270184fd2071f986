#include "engine/route_decision.h"

#include <cctype>
#include <cstring>

namespace {

bool EqualNoCase(const char* a, const char* b, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
    if (!a[i]) return true;
  }
  return true;
}

}  // namespace

RouteSet DecideInstallRoute(bool V, bool HI, bool MI, bool LI, bool AV, bool AX, bool S, bool P, bool U, bool RU,
                            bool RM) {
  const bool registered = RM || RU;
  if (V) {
    if (AX || (int(HI) + int(MI) + int(LI)) != 1) return kRouteInvalid;
  } else if (AV || LI || MI || HI) {
    return kRouteInvalid;
  }
  if (S && !RU) return kRouteService;
  if (U) return 0;
  if (!V) {
    if (AX && !RU) return kRouteLocalMachine;
    return P ? kRouteLocalUser : 0;
  }
  if (HI) return kRouteLocalMachine;
  if (AV && !RU) return kRouteExternalProcessHi;
  if (P && LI)
    return registered ? RouteSet(kRouteExternalProcessMi) : RouteSet(kRouteExternalProcessMi | kRouteExternalProcessHi);
  if (P && MI) return registered ? RouteSet(kRouteLocalUser) : RouteSet(kRouteLocalUser | kRouteExternalProcessHi);
  if (!P) return registered ? RouteSet(0) : RouteSet(kRouteExternalProcessHi);
  return 0;
}

RouteSet DecideInstallRoute(const RouteConditions& c) {
  return DecideInstallRoute(c.vista, c.highIntegrity, c.mediumIntegrity, c.lowIntegrity, c.adminVista, c.adminXp,
                            c.service, c.perUserAllowed, c.serviceUpdate, c.registeredPerUser, c.registeredPerMachine);
}

std::string RouteConditionText(const RouteConditions& c) {
  std::string text = c.vista ? "Vista " : "XP ";
  if (c.highIntegrity) text += "HI ";
  if (c.mediumIntegrity) text += "MI ";
  if (c.lowIntegrity) text += "LI ";
  if (c.adminXp) text += "Admin/XP ";
  if (c.adminVista) text += "Admin/VI ";
  if (c.service) text += "service ";
  if (c.serviceUpdate) text += "service-update.cab ";
  if (c.registeredPerUser) text += "registered-per-user ";
  if (c.registeredPerMachine) text += "registered-per-machine ";
  text += c.perUserAllowed ? "allow-per-user" : "allow-per-system";
  return text;
}

std::string RouteText(RouteSet routes) {
  static const struct {
    RouteSet bit;
    const char* name;
  } kNames[] = {{kRouteLocalMachine, "LOCAL_MACHINE"},
                {kRouteLocalUser, "LOCAL_USER"},
                {kRouteService, "SERVICE"},
                {kRouteExternalProcessHi, "EXTERNAL_PROCESS_HI"},
                {kRouteExternalProcessMi, "EXTERNAL_PROCESS_MI"},
                {kRouteInvalid, "INVALID"}};
  std::string text;
  for (const auto& n : kNames) {
    if (!(routes & n.bit)) continue;
    if (!text.empty()) text += ' ';
    text += n.name;
  }
  return text.empty() ? "NONE" : text;
}

bool IsServiceUpdateClass(const char* classId) {
  static const char kServiceUpdate[] = "Service:Norvane Networks Component Installer";
  return classId && std::strlen(classId) == sizeof kServiceUpdate - 1 &&
         EqualNoCase(classId, kServiceUpdate, sizeof kServiceUpdate - 1);
}

bool IsServiceClass(const char* classId) {
  return classId && std::strlen(classId) >= 8 && EqualNoCase(classId, "service:", 8);
}
