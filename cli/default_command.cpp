// zendrik default: the tool's Factory Default sequence for the reader's kind.
#include <zendrik.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <functional>
#include <memory>

#include "cli/reader_session.h"
#include "cli/reader_settings.h"
#include "cli/result_words.h"
#include "cli/subcommands.h"

namespace zendrik::cli {
namespace {

// The values the tool writes after the reader's own factory reset.
constexpr uint8_t kDefaultAddress = 1;
constexpr uint8_t kDefaultWiegandInterval = 2;  // 200 ms
constexpr uint8_t kDefaultTriggerTime = 3;      // seconds
constexpr uint8_t kDefaultWiegandFormat = 0x26;
constexpr uint8_t kDefaultWorkMode = 0;  // always read

// Frequency plans: the whole band the reader is on (kinds 0 and 1), all 63 channels (kind 2).
constexpr int32_t kBandRegion = 4;
constexpr int32_t kChannelRegion = 5;
constexpr int32_t kFccFirstKhz = 902000;
constexpr int32_t kFccLastKhz = 928000;
constexpr uint8_t kFccSpan = 52;
constexpr int32_t kEtsiFirstKhz = 865000;
constexpr int32_t kEtsiLastKhz = 868000;
constexpr uint8_t kEtsiSpan = 6;
constexpr int32_t kFirstChannel = 1;
constexpr int32_t kLastChannel = 63;

// The highest power of each reader kind.
constexpr uint8_t kKind0Power = 33;
constexpr uint8_t kKind1Power = 26;
constexpr uint8_t kKind2Power = 63;

struct Step {
    std::string name;
    std::function<int32_t()> write;
};

int32_t RestoreBand() {
    uint8_t region = 0;
    int32_t first = 0;
    int32_t second = 0;
    int32_t step = 0;
    uint8_t span = 0;
    // The band stays the one the reader is on, so the plan must be read first.
    if (const int32_t read = UhfGetFrequencyRegion(kReaderAddress, &region, &first, &second, &step, &span);
        read != ZENDRIK_OK) {
        return read;
    }
    if (first >= kFccFirstKhz) {
        return UhfSetFrequencyRegion(kReaderAddress, kBandRegion, kFccFirstKhz, kFccLastKhz, kBandStepKhz,
                                     kFccSpan);
    }
    return UhfSetFrequencyRegion(kReaderAddress, kBandRegion, kEtsiFirstKhz, kEtsiLastKhz, kBandStepKhz,
                                 kEtsiSpan);
}

std::vector<Step> FactorySteps(uint8_t kind) {
    std::vector<Step> steps{
        {"factory reset", [] { return UhfFactoryDefault(kReaderAddress); }},
        {"address", [] { return UhfSetAddress(kReaderAddress, kDefaultAddress); }},
        {"Wiegand output interval",
         [] { return UhfSetWgIntervalTime(kReaderAddress, kDefaultWiegandInterval); }},
        {"trigger time", [] { return UhfSetTriggerTime(kReaderAddress, kDefaultTriggerTime); }},
        {"Wiegand format", [] { return UhfSetWeigand(kReaderAddress, kDefaultWiegandFormat); }},
        {"work mode", [] { return UhfSetWorkMode(kReaderAddress, kDefaultWorkMode); }},
    };
    switch (kind) {
        case 0:
        case 1: {
            const uint8_t power = kind == 0 ? kKind0Power : kKind1Power;
            steps.push_back({"frequency plan", RestoreBand});
            steps.push_back({"output power", [power] { return UhfSetOutPower(kReaderAddress, power); }});
            break;
        }
        case kChannelReaderKind:
            steps.push_back({"frequency plan", [] {
                                 return UhfSetFrequencyRegion(kReaderAddress, kChannelRegion, kFirstChannel,
                                                              kLastChannel, 0, 0);
                             }});
            steps.push_back({"output power", [] { return UhfSetOutPower(kReaderAddress, kKind2Power); }});
            break;
        default:
            // The tool knows no frequency plan or power for other kinds and leaves them alone.
            break;
    }
    return steps;
}

// Every step is tried, as the tool does, but unlike the tool each failure is reported.
int RunDefault(const LinkOptions& link) {
    ReaderSession session;
    std::string failure;
    if (session.Connect(link, failure) != ZENDRIK_OK) {
        return Report(failure);
    }
    int status = kExitOk;
    for (const Step& step : FactorySteps(session.kind())) {
        if (const int32_t result = step.write(); result != ZENDRIK_OK) {
            status = Report("restoring the " + step.name + " failed: " + ResultWords(result));
        }
    }
    if (status == kExitOk) {
        std::printf("factory defaults restored (reader kind %u); the reader's address is now %u\n",
                    unsigned{session.kind()}, unsigned{kDefaultAddress});
    }
    return status;
}

}  // namespace

Subcommand AddDefaultCommand(CLI::App& program, const LinkOptions& link) {
    CLI::App* app = program.add_subcommand(
        "default",
        "Restore the factory defaults the way the configuration tool does: the reader's own factory reset, "
        "then address 1, Wiegand output interval 2 (200 ms), trigger time 3 s, Wiegand 26 and work mode "
        "always; then by reader kind the whole frequency band it is on (kinds 0 and 1) or channels 1-63 "
        "(kind 2), and the highest output power (33, 26 or 63).");
    app->footer(kLinkOptionsNote);
    return {app, [&link] { return RunDefault(link); }};
}

}  // namespace zendrik::cli
