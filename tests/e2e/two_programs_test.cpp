// Two programs reading different settings of one USB reader at the same time. The virtual reader
// hands every reply to every open connection, as hidraw does, so without the device lock each
// program would take the other's replies.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "zendrik/zendrik.h"
#include "sim/reader_settings.h"
#include "tests/e2e/served_reader.h"

extern char** environ;

namespace zendrik::e2e {
namespace {

constexpr uint8_t kWorkMode = 1;
constexpr uint8_t kTriggerTime = 9;
constexpr const char* kCallsPerProgram = "100";

// Starts the client program with ZENDRIK_HID_SOCKET inherited; its process id, or -1.
pid_t StartClient(const char* setting, uint8_t expected) {
    std::string expectedText = std::to_string(expected);
    std::vector<char*> argv{const_cast<char*>(ZENDRIK_USB_GETTER_CLIENT), const_cast<char*>(setting),
                            expectedText.data(), const_cast<char*>(kCallsPerProgram), nullptr};
    pid_t pid = -1;
    return ::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0 ? pid : -1;
}

int ExitStatus(pid_t pid) {
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

TEST(TwoPrograms, TakeTurnsOnOneUsbReader) {
    ServedReader served(LinkKind::kUsb);
    ASSERT_TRUE(served.reader().ModifySettings([](sim::ReaderSettings& settings) {
        settings.workMode = kWorkMode;
        settings.triggerTime = kTriggerTime;
    }));
    ASSERT_EQ(served.Connect(), ZENDRIK_OK);  // names the reader's socket in the environment
    const pid_t first = StartClient("work-mode", kWorkMode);
    const pid_t second = StartClient("trigger-time", kTriggerTime);
    ASSERT_GT(first, 0);
    ASSERT_GT(second, 0);
    EXPECT_EQ(ExitStatus(first), 0) << "calls of the first program with a wrong result";
    EXPECT_EQ(ExitStatus(second), 0) << "calls of the second program with a wrong result";
}

}  // namespace
}  // namespace zendrik::e2e
