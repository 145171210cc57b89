#include "tests/tool/tool_tests.h"

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace zendrik::tool::testing {
namespace {

constexpr int kExitUsage = 2;

std::map<std::string, ToolTestRun>& Registered() {
    static std::map<std::string, ToolTestRun> tests;
    return tests;
}

}  // namespace

bool RegisterToolTest(const char* name, ToolTestRun run) {
    Registered().emplace(name, std::move(run));
    return true;
}

}  // namespace zendrik::tool::testing

int main(int argc, char** argv) {
    using zendrik::tool::testing::kExitUsage;
    using zendrik::tool::testing::Registered;
    const auto test = argc >= 2 ? Registered().find(argv[1]) : Registered().end();
    if (test == Registered().end()) {
        std::fprintf(stderr, "usage: %s CLASS [Qt Test arguments]; the classes:\n", argv[0]);
        for (const auto& [name, run] : Registered()) {
            std::fprintf(stderr, "  %s\n", name.c_str());
        }
        return kExitUsage;
    }
    // Qt Test sees the program's name and its own arguments, as under the class's own main.
    std::vector<char*> arguments{argv[0]};
    arguments.insert(arguments.end(), argv + 2, argv + argc);
    const int count = static_cast<int>(arguments.size());
    arguments.push_back(nullptr);
    return test->second(count, arguments.data());
}
