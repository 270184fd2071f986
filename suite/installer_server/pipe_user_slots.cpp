#include "installer_server/pipe_user_slots.h"

namespace ombrix {

bool UserSlots::Take(const std::string& user, bool install) {
  std::lock_guard<std::mutex> lock(m_lock);
  auto& load = m_users[user];
  int& running = install ? load.first : load.second;
  if (running != 0) return false;
  ++running;
  return true;
}

void UserSlots::Give(const std::string& user, bool install) {
  std::lock_guard<std::mutex> lock(m_lock);
  const auto found = m_users.find(user);
  if (found == m_users.end()) return;
  int& running = install ? found->second.first : found->second.second;
  if (running > 0) --running;
  if (found->second.first == 0 && found->second.second == 0) m_users.erase(found);
}

}  // namespace ombrix
