#pragma once
// What posix_spawn takes, for the tests that start programs: an environment and argument arrays.

#include <map>
#include <string>
#include <vector>

extern char** environ;

namespace zendrik::testing {

// The environment of this process with the `extra` variables set on top (replacing same names).
inline std::vector<std::string> MergedEnvironment(const std::map<std::string, std::string>& extra) {
    std::vector<std::string> merged;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text(*entry);
        if (extra.count(text.substr(0, text.find('='))) == 0) {
            merged.push_back(text);
        }
    }
    for (const auto& [name, value] : extra) {
        merged.push_back(name + "=" + value);
    }
    return merged;
}

// A null-terminated array of pointers into `texts`, valid while `texts` lives unchanged.
inline std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

}  // namespace zendrik::testing
