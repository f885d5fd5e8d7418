// The administrator test: may this user run the certificate utility?
//
// A user is an administrator when it is root or a member, through its primary
// group or a supplementary group, of one of the groups "sudo", "wheel" or
// "admin". Membership counts, not whether the process runs with raised
// rights at the moment.
#ifndef KVCATOOL_PLATFORM_ADMINISTRATOR_H
#define KVCATOOL_PLATFORM_ADMINISTRATOR_H

#include <sys/types.h>

#include <vector>

namespace kvplatform {

class AdministratorTest {
 public:
  virtual ~AdministratorTest() = default;
  virtual bool IsUserAdministrator() = 0;
};

// The test for the real user of this process.
class SystemAdministratorTest : public AdministratorTest {
 public:
  bool IsUserAdministrator() override;
};

// The rule itself: |uid| 0, or any of |groups| (primary and supplementary)
// among |adminGroups|.
bool IsAdministratorMember(uid_t uid, const std::vector<gid_t>& groups, const std::vector<gid_t>& adminGroups);

// The ids of the groups "sudo", "wheel" and "admin" that exist here.
std::vector<gid_t> AdministratorGroupIds();

}  // namespace kvplatform

#endif
