// Each client user of an installer pipe has at most one installation and one
// query running at a time. An unknown user (the token could not be read)
// shares one slot with every other unknown one. Win32-free.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <utility>

namespace ombrix {

class UserSlots {
 public:
  // Takes `user`'s installation or query slot; false when it is taken.
  bool Take(const std::string& user, bool install);
  void Give(const std::string& user, bool install);

 private:
  std::mutex m_lock;
  std::map<std::string, std::pair<int, int>> m_users;  // installations, queries running
};

// A user's slot, held for the scope when it could be taken.
class UserSlot {
 public:
  UserSlot(UserSlots& slots, const std::string& user, bool install)
      : m_slots(slots), m_user(user), m_install(install), m_taken(slots.Take(user, install)) {}
  ~UserSlot() {
    if (m_taken) m_slots.Give(m_user, m_install);
  }
  UserSlot(const UserSlot&) = delete;
  UserSlot& operator=(const UserSlot&) = delete;
  bool taken() const { return m_taken; }

 private:
  UserSlots& m_slots;
  std::string m_user;
  bool m_install;
  bool m_taken;
};

}  // namespace ombrix
