#include <cstdio>

#include "cli/subcommands.h"

namespace zendrik::cli {

int Report(const std::string& message, int status) {
    std::fprintf(stderr, "zendrik: %s\n", message.c_str());
    return status;
}

}  // namespace zendrik::cli
