#include "rules/usb_access.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

namespace zendrik::rules {
namespace {

// Whatever the node and the reason, the words name both, the udev rule with where it comes from and
// how to install it, and the group plugdev, which is what a new user on a fresh machine needs.
TEST(UsbAccessWords, NameTheNodeTheReasonTheUdevRuleAndTheGroup) {
    struct Case {
        const char* node;
        int error;
        const char* reason;
    };
    const std::vector<Case> cases{
        {"/dev/hidraw3", EACCES, "Permission denied"},
        {"/dev/hidraw12", EPERM, "Operation not permitted"},
        {"/run/zendrik/reader.sock", ECONNREFUSED, "Connection refused"},
    };
    for (const Case& c : cases) {
        const std::string words = UsbAccessWords(c.node, c.error);
        const std::string opened =
            std::string("its device ") + c.node + " cannot be opened (" + c.reason + ")";
        for (const std::string& part :
             {opened, std::string("70-zendrik.rules"), std::string("/usr/lib/udev/rules.d"),
              std::string("sudo cp packaging/70-zendrik.rules /etc/udev/rules.d/"),
              std::string("udevadm trigger"), std::string("plugdev"), std::string("usermod -aG plugdev")}) {
            EXPECT_NE(words.find(part), std::string::npos) << part << " missing from: " << words;
        }
    }
}

}  // namespace
}  // namespace zendrik::rules
