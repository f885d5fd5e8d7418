#include "platform/administrator.h"

#include <grp.h>
#include <unistd.h>

#include <algorithm>

namespace kvplatform {

bool IsAdministratorMember(uid_t uid, const std::vector<gid_t>& groups, const std::vector<gid_t>& adminGroups) {
  if (uid == 0) return true;
  for (gid_t g : groups) {
    if (std::find(adminGroups.begin(), adminGroups.end(), g) != adminGroups.end()) return true;
  }
  return false;
}

std::vector<gid_t> AdministratorGroupIds() {
  std::vector<gid_t> ids;
  for (const char* name : {"sudo", "wheel", "admin"}) {
    struct group entry;
    struct group* found = nullptr;
    std::vector<char> buffer(16384);
    if (::getgrnam_r(name, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
      ids.push_back(found->gr_gid);
    }
  }
  return ids;
}

bool SystemAdministratorTest::IsUserAdministrator() {
  std::vector<gid_t> groups;
  groups.push_back(::getgid());
  int count = ::getgroups(0, nullptr);
  if (count > 0) {
    std::vector<gid_t> supplementary(static_cast<size_t>(count));
    count = ::getgroups(count, supplementary.data());
    if (count > 0) groups.insert(groups.end(), supplementary.begin(), supplementary.begin() + count);
  }
  return IsAdministratorMember(::getuid(), groups, AdministratorGroupIds());
}

}  // namespace kvplatform
