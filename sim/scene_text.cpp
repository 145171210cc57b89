#include "sim/scene_text.h"

#include <charconv>
#include <optional>
#include <sstream>
#include <vector>

#include "sim/hex_bytes.h"

namespace zendrik::sim {
namespace {

constexpr std::string_view kRssiPrefix = "rssi=";
constexpr unsigned kMaxRssi = 0xFF;
constexpr char kCommentStart = '#';

std::vector<std::string> Words(std::string_view line) {
    std::istringstream stream{std::string(line)};
    std::vector<std::string> words;
    for (std::string word; stream >> word;) {
        words.push_back(word);
    }
    return words;
}

// A whole word of decimal digits, nothing else.
template <typename Number>
std::optional<Number> DecimalWord(std::string_view word) {
    Number value{};
    const char* end = word.data() + word.size();
    const auto [stop, error] = std::from_chars(word.data(), end, value);
    if (word.empty() || word.front() == '-' || error != std::errc() || stop != end) {
        return std::nullopt;
    }
    return value;
}

// The step of one line that is no comment, or the words for what is wrong with it.
struct LineStep {
    SceneStep step;
    std::string error;
};

LineStep Refuse(std::string error) {
    return {{}, std::move(error)};
}

LineStep TagStep(SceneStep step, const std::vector<std::string>& words) {
    const bool enter = step.action == SceneAction::kEnter;
    const std::size_t most = enter ? 4 : 3;
    if (words.size() < 3) {
        return Refuse("expected an EPC after " + words[1]);
    }
    if (words.size() > most) {
        return Refuse("unexpected " + words[most]);
    }
    const std::optional<std::vector<uint8_t>> epc = ParseHexBytes(words[2]);
    if (!epc || epc->empty() || epc->size() > kMaxEpcSize) {
        return Refuse("expected an EPC of 1 to " + std::to_string(kMaxEpcSize) + " bytes of hex, got " +
                      words[2]);
    }
    step.epc = *epc;
    if (words.size() == 4) {
        const std::string_view word = words[3];
        const std::optional<unsigned> rssi = word.starts_with(kRssiPrefix)
                                                 ? DecimalWord<unsigned>(word.substr(kRssiPrefix.size()))
                                                 : std::nullopt;
        if (!rssi || *rssi > kMaxRssi) {
            return Refuse("expected rssi=N with N from 0 to 255, got " + words[3]);
        }
        step.rssi = static_cast<uint8_t>(*rssi);
    }
    return {step, {}};
}

LineStep ParseLine(const std::vector<std::string>& words) {
    const std::optional<int64_t> at = DecimalWord<int64_t>(words[0]);
    if (!at) {
        return Refuse("expected a time in milliseconds, got " + words[0]);
    }
    if (words.size() < 2) {
        return Refuse("expected enter, leave or loop after the time");
    }
    SceneStep step;
    step.atMs = *at;
    if (words[1] == "loop") {
        if (words.size() > 2) {
            return Refuse("unexpected " + words[2]);
        }
        if (*at == 0) {
            return Refuse("a loop at time 0 would never end");
        }
        step.action = SceneAction::kLoop;
        return {step, {}};
    }
    if (words[1] == "enter" || words[1] == "leave") {
        step.action = words[1] == "enter" ? SceneAction::kEnter : SceneAction::kLeave;
        return TagStep(step, words);
    }
    return Refuse("expected enter, leave or loop, got " + words[1]);
}

// Where the time order of the scene is broken by `step`, the words for it.
std::string OrderError(const std::vector<SceneStep>& steps, const SceneStep& step) {
    if (steps.empty()) {
        return {};
    }
    if (steps.back().action == SceneAction::kLoop) {
        return "nothing may follow the loop";
    }
    if (step.atMs < steps.back().atMs) {
        return "time " + std::to_string(step.atMs) + " is before the previous line's " +
               std::to_string(steps.back().atMs);
    }
    return {};
}

}  // namespace

SceneText ParseScene(std::string_view text, std::string_view name) {
    SceneText scene;
    std::istringstream lines{std::string(text)};
    unsigned number = 0;
    for (std::string line; std::getline(lines, line);) {
        ++number;
        const std::vector<std::string> words = Words(line);
        if (words.empty() || words[0].front() == kCommentStart) {
            continue;
        }
        LineStep parsed = ParseLine(words);
        if (parsed.error.empty()) {
            parsed.error = OrderError(scene.steps, parsed.step);
        }
        if (!parsed.error.empty()) {
            return {{}, std::string(name) + ":" + std::to_string(number) + ": " + parsed.error};
        }
        scene.steps.push_back(std::move(parsed.step));
    }
    return scene;
}

}  // namespace zendrik::sim
