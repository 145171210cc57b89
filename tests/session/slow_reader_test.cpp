// Readers that take their time over an inventory round (up to a second), on every link: while an
// inventory runs, identity and settings asked from other threads are answered between two rounds,
// every answer right and none refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "sim/tag_field.h"
#include "tests/session/virtual_readers.h"
#include "zendrik/zendrik_session.h"

namespace zendrik::testing {
namespace {

using std::chrono::milliseconds;

struct Case {
    Transport transport;
    milliseconds roundTime;
};

// Identity and settings are each asked from threads of their own, as often as fits in about the
// same time at every round time (each answer waits for the round it falls in), and never fewer than
// a few times, so that asks meet rounds at different points.
constexpr int kMostAsks = 20;
constexpr int kFewestAsks = 3;
constexpr milliseconds kAskingTime{3000};

int Asks(milliseconds roundTime) {
    if (roundTime.count() == 0) {
        return kMostAsks;
    }
    return std::clamp(static_cast<int>(kAskingTime / roundTime), kFewestAsks, kMostAsks);
}

std::string Name(const Case& c) {
    const char* link = c.transport == Transport::kUsb      ? "usb"
                       : c.transport == Transport::kSerial ? "serial"
                                                           : "udp";
    return std::string(link) + " " + std::to_string(c.roundTime.count()) + " ms";
}

struct Tally {
    std::atomic<int> right{0};
    std::vector<std::string> wrong;  // written by the asking thread of its kind only
};

// Asks for the identity `asks` times, each answer checked against the reader's own.
void AskIdentity(zendrik_reader* reader, const VirtualReader& served, int asks, Tally& tally) {
    for (int i = 0; i < asks; ++i) {
        zendrik_reader_info info;
        zendrik_reader_info_init(&info);
        const int32_t result = zendrik_reader_info_get(reader, &info);
        if (result == ZENDRIK_OK && info.serial == served.id() &&
            std::string(info.version) == "ZR-UHF-S V2.3.1") {
            ++tally.right;
        } else {
            tally.wrong.push_back("info " + std::to_string(result) + " " + info.version + " " + info.serial);
        }
    }
}

void AskSettings(zendrik_reader* reader, const sim::ReaderSettings& truth, int asks, Tally& tally) {
    for (int i = 0; i < asks; ++i) {
        zendrik_settings settings;
        zendrik_settings_init(&settings);
        const int32_t result = zendrik_reader_read_settings(reader, &settings);
        if (result == ZENDRIK_OK && settings.power == truth.outputPower &&
            settings.wiegand_format == truth.wiegandFormat && settings.output[1] == truth.wgOutBytes[1]) {
            ++tally.right;
        } else {
            tally.wrong.push_back("settings " + std::to_string(result) + " power " +
                                  std::to_string(settings.power));
        }
    }
}

// Every case at once, each on threads of its own: the waits are the readers', so they overlap.
TEST(SlowReaders, AnsweredBetweenRoundsOnEveryLinkWhileTheInventoryRuns) {
    std::vector<Case> cases;
    for (const Transport transport : {Transport::kUsb, Transport::kSerial, Transport::kUdp}) {
        for (const milliseconds roundTime :
             {milliseconds{0}, milliseconds{350}, milliseconds{500}, milliseconds{1000}}) {
            cases.push_back({transport, roundTime});
        }
    }
    struct Run {
        std::unique_ptr<VirtualReader> served;
        zendrik_reader* reader = nullptr;
        Tally identity;
        Tally settings;
        std::atomic<uint64_t> reads{0};
    };
    std::vector<Run> runs(cases.size());
    std::vector<std::thread> threads;
    std::atomic<bool> done{false};
    for (std::size_t i = 0; i < cases.size(); ++i) {
        Run& run = runs[i];
        run.served = std::make_unique<VirtualReader>(cases[i].transport, 0, uint8_t(0x70 + i));
        run.served->reader().set_round_time(cases[i].roundTime);
        run.served->reader().AddTag(sim::SampleEpc(unsigned(0x7000 + i)));
        ASSERT_EQ(zendrik_reader_open(run.served->address().c_str(), nullptr, &run.reader), ZENDRIK_OK)
            << Name(cases[i]);
        ASSERT_EQ(zendrik_inventory_start(run.reader, nullptr, nullptr, nullptr), ZENDRIK_OK);
        const sim::ReaderSettings truth = run.served->reader().settings();
        const int asks = Asks(cases[i].roundTime);
        threads.emplace_back(AskIdentity, run.reader, std::cref(*run.served), asks, std::ref(run.identity));
        threads.emplace_back(AskSettings, run.reader, truth, asks, std::ref(run.settings));
        threads.emplace_back([&run, &done] {
            zendrik_event events[64];
            while (!done) {
                size_t got = 0;
                if (zendrik_next_events(run.reader, events, sizeof events[0], std::size(events), &got, 100) ==
                    ZENDRIK_OK) {
                    for (std::size_t e = 0; e < got; ++e) {
                        run.reads += events[e].kind == ZENDRIK_EVENT_READ ? 1 : 0;
                    }
                }
            }
        });
    }
    for (std::size_t t = 0; t < threads.size(); ++t) {
        if (t % 3 != 2) {
            threads[t].join();  // the asking threads
        }
    }
    done = true;
    for (std::size_t t = 2; t < threads.size(); t += 3) {
        threads[t].join();
    }
    for (std::size_t i = 0; i < cases.size(); ++i) {
        Run& run = runs[i];
        EXPECT_EQ(run.identity.right, Asks(cases[i].roundTime))
            << Name(cases[i]) << ": " << ::testing::PrintToString(run.identity.wrong);
        EXPECT_EQ(run.settings.right, Asks(cases[i].roundTime))
            << Name(cases[i]) << ": " << ::testing::PrintToString(run.settings.wrong);
        EXPECT_GT(run.reads, 0u) << Name(cases[i]) << ": the inventory read on";
        EXPECT_EQ(zendrik_reader_close(run.reader), ZENDRIK_OK);
    }
}

}  // namespace
}  // namespace zendrik::testing
