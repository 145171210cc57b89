// Reader sessions through the shared library's C functions against virtual readers served
// in-process over virtual HID sockets, pseudo-terminals and UDP on loopback.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "sim/tag_field.h"
#include "tests/session/virtual_readers.h"
#include "zendrik/zendrik_session.h"

namespace zendrik::testing {
namespace {

using std::chrono::milliseconds;

// The virtual readers answer inventory rounds this late, so that a running inventory reads
// a few hundred tags a second rather than as many as the processor allows.
constexpr milliseconds kRoundTime{5};
// Generous bounds for waiting on a real clock: they only end a test that would hang.
constexpr int32_t kEventWaitMs = 5000;

struct Handle {
    zendrik_reader* reader = nullptr;
    ~Handle() { zendrik_reader_close(reader); }
};

zendrik_reader* Open(const std::string& address, const char* name = nullptr, uint32_t flags = 0) {
    zendrik_open_options options;
    zendrik_open_options_init(&options);
    options.name = name;
    options.flags = flags;
    zendrik_reader* reader = nullptr;
    EXPECT_EQ(zendrik_reader_open(address.c_str(), &options, &reader), ZENDRIK_OK) << address;
    return reader;
}

std::string Json(const zendrik_event& event) {
    char text[512];
    size_t length = 0;
    EXPECT_EQ(zendrik_event_json(&event, text, sizeof text, &length), ZENDRIK_OK);
    return std::string(text, length);
}

// Takes events until one of `kind` arrives (or the wait bound passes); returns all taken.
std::vector<zendrik_event> TakeUntil(zendrik_reader* reader, int32_t kind) {
    std::vector<zendrik_event> taken;
    const auto end = std::chrono::steady_clock::now() + milliseconds{kEventWaitMs};
    while (std::chrono::steady_clock::now() < end) {
        zendrik_event event{};
        if (zendrik_next_event(reader, &event, sizeof event, 100) != ZENDRIK_OK) {
            continue;
        }
        taken.push_back(event);
        if (event.kind == kind) {
            break;
        }
    }
    return taken;
}

bool Holds(const std::vector<zendrik_event>& events, int32_t kind) {
    return std::any_of(events.begin(), events.end(),
                       [kind](const zendrik_event& e) { return e.kind == kind; });
}

struct Stream {
    std::vector<zendrik_event> events;
    int32_t end = ZENDRIK_OK;
};

// Takes every event of a reader until its inventory has been stopped and the queue is empty.
void Consume(zendrik_reader* reader, Stream& stream) {
    for (;;) {
        zendrik_event event{};
        const int32_t result = zendrik_next_event(reader, &event, sizeof event, -1);
        if (result != ZENDRIK_OK) {
            stream.end = result;
            return;
        }
        stream.events.push_back(event);
    }
}

// The threads of this process by id, each with the signals it blocks (the SigBlk line of its status).
std::map<std::string, uint64_t> BlockedSignalsByThread() {
    std::map<std::string, uint64_t> blocked;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream status(task.path() / "status");
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("SigBlk:", 0) == 0) {
                blocked[task.path().filename().string()] = std::stoull(line.substr(7), nullptr, 16);
            }
        }
    }
    return blocked;
}

uint64_t SignalBit(int signal) {
    return uint64_t{1} << (signal - 1);
}

TEST(SessionSim, SeveralReadersReadAtOnceEachStreamWholeAndItsOwn) {
    struct Setup {
        Transport transport;
        uint8_t kind;
    };
    const std::vector<Setup> setups{
        {Transport::kUsb, 0}, {Transport::kUsb, 2}, {Transport::kUdp, 1}, {Transport::kSerial, 0}};
    std::vector<std::unique_ptr<VirtualReader>> served;
    std::vector<Handle> handles(setups.size());
    for (std::size_t i = 0; i < setups.size(); ++i) {
        served.push_back(
            std::make_unique<VirtualReader>(setups[i].transport, setups[i].kind, uint8_t(0x10 + i)));
        served[i]->reader().set_round_time(kRoundTime);
        // Two tags of its own per reader; their last EPC byte names the reader.
        served[i]->reader().AddTag(sim::SampleEpc(unsigned(0x100 * (i + 1) + 1)));
        served[i]->reader().AddTag(sim::SampleEpc(unsigned(0x100 * (i + 1) + 2)));
        handles[i].reader = Open(served[i]->address());
        ASSERT_NE(handles[i].reader, nullptr);
    }
    std::vector<Stream> streams(setups.size());
    std::vector<std::thread> consumers;
    for (std::size_t i = 0; i < setups.size(); ++i) {
        ASSERT_EQ(zendrik_inventory_start(handles[i].reader, nullptr, nullptr, nullptr), ZENDRIK_OK);
        consumers.emplace_back(Consume, handles[i].reader, std::ref(streams[i]));
    }
    std::this_thread::sleep_for(milliseconds{400});
    for (const Handle& handle : handles) {
        EXPECT_EQ(zendrik_inventory_stop(handle.reader), ZENDRIK_OK);
    }
    for (std::thread& consumer : consumers) {
        consumer.join();
    }

    for (std::size_t i = 0; i < setups.size(); ++i) {
        const Stream& stream = streams[i];
        const std::string id = served[i]->id();
        EXPECT_EQ(zendrik_reader_id(handles[i].reader), id);
        EXPECT_EQ(stream.end, ZENDRIK_ERR_NOT_RUNNING) << id;
        ASSERT_GE(stream.events.size(), 10u) << id;
        EXPECT_EQ(stream.events[0].kind, ZENDRIK_EVENT_LINK_UP) << id << ": the stream begins with the link";
        const std::vector<std::vector<uint8_t>> own = served[i]->tags();
        std::map<std::string, uint64_t> reads;
        for (std::size_t n = 0; n < stream.events.size(); ++n) {
            const zendrik_event& event = stream.events[n];
            EXPECT_EQ(event.seq, n + 1) << id << ": numbered from 1 without gaps";
            EXPECT_EQ(event.reader, id);
            if (n == 0) {
                continue;
            }
            ASSERT_TRUE(event.kind == ZENDRIK_EVENT_READ || event.kind == ZENDRIK_EVENT_ARRIVED)
                << Json(event);
            const std::vector<uint8_t> epc(event.epc, event.epc + event.epc_length);
            EXPECT_NE(std::find(own.begin(), own.end(), epc), own.end()) << id << ": another reader's tag";
            if (event.kind == ZENDRIK_EVENT_READ) {
                const std::string key(epc.begin(), epc.end());
                EXPECT_EQ(event.count, ++reads[key]) << Json(event);
                // Kind 2 sends neither antenna nor signal strength.
                EXPECT_EQ(event.antenna < 0, setups[i].kind == 2) << Json(event);
                EXPECT_EQ(event.rssi < 0, setups[i].kind == 2) << Json(event);
            }
        }
        EXPECT_EQ(reads.size(), 2u) << id;
        EXPECT_EQ(zendrik_inventory_dropped(handles[i].reader), 0u);
    }
}

TEST(SessionSim, AReaderUnpluggedMidInventoryIsLostAndRestoredAndReadingGoesOn) {
    VirtualReader served(Transport::kUsb, 0, 0x21);
    served.reader().set_round_time(kRoundTime);
    served.reader().AddTag(sim::SampleEpc(0x2101));
    Handle handle{Open(served.address(), "gate")};
    ASSERT_EQ(zendrik_inventory_start(handle.reader, nullptr, nullptr, nullptr), ZENDRIK_OK);
    ASSERT_TRUE(Holds(TakeUntil(handle.reader, ZENDRIK_EVENT_READ), ZENDRIK_EVENT_READ));

    served.Unplug();
    const std::vector<zendrik_event> beforeLoss = TakeUntil(handle.reader, ZENDRIK_EVENT_LINK_LOST);
    ASSERT_TRUE(Holds(beforeLoss, ZENDRIK_EVENT_LINK_LOST));
    EXPECT_EQ(beforeLoss.back().error, ZENDRIK_ERR_NOT_REACHED);
    EXPECT_EQ(
        Json(beforeLoss.back()).find(R"("error":"the reader could not be reached")") != std::string::npos,
        true);

    served.Plug();
    const std::vector<zendrik_event> restoring = TakeUntil(handle.reader, ZENDRIK_EVENT_LINK_RESTORED);
    ASSERT_TRUE(Holds(restoring, ZENDRIK_EVENT_LINK_RESTORED));
    const std::vector<zendrik_event> after = TakeUntil(handle.reader, ZENDRIK_EVENT_READ);
    ASSERT_TRUE(Holds(after, ZENDRIK_EVENT_READ));
    EXPECT_STREQ(after.back().reader, "gate");
    EXPECT_EQ(zendrik_inventory_stop(handle.reader), ZENDRIK_OK);
}

TEST(SessionSim, AnAbsentReaderOpensByNameAndConnectsWhenItComes) {
    sim::TempDir directory;
    const std::string path = directory.path() + "/later.sock";
    zendrik_reader* unnamed = nullptr;
    EXPECT_EQ(zendrik_reader_open(("usb:" + path).c_str(), nullptr, &unnamed), ZENDRIK_ERR_NO_USB_READER);
    EXPECT_EQ(unnamed, nullptr);

    Handle handle{Open("usb:" + path, "later", ZENDRIK_OPEN_ABSENT_OK)};
    ASSERT_NE(handle.reader, nullptr);
    ASSERT_EQ(zendrik_inventory_start(handle.reader, nullptr, nullptr, nullptr), ZENDRIK_OK);
    zendrik_event first{};
    ASSERT_EQ(zendrik_next_event(handle.reader, &first, sizeof first, kEventWaitMs), ZENDRIK_OK);
    EXPECT_EQ(first.kind, ZENDRIK_EVENT_LINK_LOST);
    EXPECT_EQ(first.seq, 1u);
    EXPECT_EQ(first.error, ZENDRIK_ERR_NO_USB_READER);

    sim::Reader reader;
    const sim::HidSocketServer server([&](std::span<const uint8_t> r) { return reader.Answer(r); }, path);
    const std::vector<zendrik_event> restoring = TakeUntil(handle.reader, ZENDRIK_EVENT_LINK_RESTORED);
    ASSERT_TRUE(Holds(restoring, ZENDRIK_EVENT_LINK_RESTORED));
    EXPECT_EQ(restoring.back().seq, 2u);
    EXPECT_EQ(zendrik_inventory_stop(handle.reader), ZENDRIK_OK);
}

// What a callback saw of the calls it must not make, and whether one ran after stop returned.
struct CallbackProbe {
    zendrik_reader* reader = nullptr;
    std::atomic<int> calls{0};
    std::atomic<bool> stopped{false};
    std::atomic<bool> calledAfterStop{false};
    std::map<std::string, int32_t> results;  // read once the inventory thread has been joined
    std::atomic<bool> askedOnce{false};
    std::atomic<int32_t> stopResult{ZENDRIK_ERR_NOT_RUNNING};
};

void ProbeCallback(const zendrik_event* event, void* context) {
    auto* probe = static_cast<CallbackProbe*>(context);
    if (probe->stopped) {
        probe->calledAfterStop = true;
    }
    ++probe->calls;
    if (event->kind != ZENDRIK_EVENT_READ || probe->askedOnce.exchange(true)) {
        return;
    }
    zendrik_settings settings{};
    settings.size = sizeof settings;
    zendrik_event next{};
    zendrik_reader_info info{};
    info.size = sizeof info;
    probe->results["read_settings"] = zendrik_reader_read_settings(probe->reader, &settings);
    probe->results["info"] = zendrik_reader_info_get(probe->reader, &info);
    probe->results["next_event"] = zendrik_next_event(probe->reader, &next, sizeof next, 0);
    probe->results["read_tag"] = zendrik_reader_read_tag(probe->reader, &next, sizeof next);
    probe->results["start"] = zendrik_inventory_start(probe->reader, nullptr, nullptr, nullptr);
    probe->results["close"] = zendrik_reader_close(probe->reader);
}

TEST(SessionSim, CallbacksMayNotBlockAndNoneRunsAfterStop) {
    VirtualReader served(Transport::kUsb, 0, 0x31);
    served.reader().set_round_time(milliseconds{1});
    served.reader().AddTag(sim::SampleEpc(0x3101));
    Handle handle{Open(served.address())};
    CallbackProbe probe;
    probe.reader = handle.reader;
    ASSERT_EQ(zendrik_inventory_start(handle.reader, nullptr, ProbeCallback, &probe), ZENDRIK_OK);
    zendrik_event event{};
    // Events go to the callback: waiting for them in the queue would be in vain.
    EXPECT_EQ(zendrik_next_event(handle.reader, &event, sizeof event, 0), ZENDRIK_ERR_BUSY);
    while (probe.calls < 20) {
        std::this_thread::sleep_for(milliseconds{5});
    }
    EXPECT_EQ(zendrik_inventory_stop(handle.reader), ZENDRIK_OK);
    probe.stopped = true;
    std::this_thread::sleep_for(milliseconds{50});
    EXPECT_FALSE(probe.calledAfterStop);
    const std::map<std::string, int32_t> refused{
        {"read_settings", ZENDRIK_ERR_IN_CALLBACK}, {"info", ZENDRIK_ERR_IN_CALLBACK},
        {"next_event", ZENDRIK_ERR_IN_CALLBACK},    {"read_tag", ZENDRIK_ERR_IN_CALLBACK},
        {"start", ZENDRIK_ERR_IN_CALLBACK},         {"close", ZENDRIK_ERR_IN_CALLBACK},
    };
    EXPECT_EQ(probe.results, refused);
    // The callback had every event from its start; the queue kept what came before.
    ASSERT_EQ(zendrik_next_event(handle.reader, &event, sizeof event, 0), ZENDRIK_OK);
    EXPECT_EQ(event.kind, ZENDRIK_EVENT_LINK_UP);
    EXPECT_EQ(zendrik_next_event(handle.reader, &event, sizeof event, 0), ZENDRIK_ERR_NOT_RUNNING);
}

void StopFromInside(const zendrik_event*, void* context) {
    auto* probe = static_cast<CallbackProbe*>(context);
    if (probe->calls == 0) {
        probe->stopResult = zendrik_inventory_stop(probe->reader);
    }
    ++probe->calls;
}

TEST(SessionSim, AStopFromTheCallbackTakesEffectWhenItReturns) {
    VirtualReader served(Transport::kUdp, 1, 0x32);
    served.reader().set_round_time(milliseconds{1});
    served.reader().AddTag(sim::SampleEpc(0x3201));
    Handle handle{Open(served.address())};
    CallbackProbe probe;
    probe.reader = handle.reader;
    ASSERT_EQ(zendrik_inventory_start(handle.reader, nullptr, StopFromInside, &probe), ZENDRIK_OK);
    while (probe.calls == 0) {
        std::this_thread::sleep_for(milliseconds{5});
    }
    std::this_thread::sleep_for(milliseconds{100});
    EXPECT_EQ(probe.calls, 1) << "the arrived event's callback stopped the inventory";
    EXPECT_EQ(probe.stopResult, ZENDRIK_OK);
    // The inventory can be started again; its numbers go on after the link-up queued at open and
    // the one event delivered.
    ASSERT_EQ(zendrik_inventory_start(handle.reader, nullptr, nullptr, nullptr), ZENDRIK_OK);
    zendrik_event event{};
    ASSERT_EQ(zendrik_next_event(handle.reader, &event, sizeof event, kEventWaitMs), ZENDRIK_OK);
    EXPECT_EQ(event.kind, ZENDRIK_EVENT_LINK_UP);
    ASSERT_EQ(zendrik_next_event(handle.reader, &event, sizeof event, kEventWaitMs), ZENDRIK_OK);
    EXPECT_EQ(event.seq, 3u);
    EXPECT_EQ(zendrik_inventory_stop(handle.reader), ZENDRIK_OK);
}

TEST(SessionSim, IdentitySettingsAndSingleReadsOnTheReadersOwnLink) {
    VirtualReader served(Transport::kSerial, 1, 0x41);
    Handle handle{Open(served.address(), "bench")};
    zendrik_reader* reader = handle.reader;
    EXPECT_STREQ(zendrik_reader_id(reader), "bench");
    EXPECT_EQ(zendrik_reader_address(reader), served.address());

    zendrik_reader_info info{};
    info.size = sizeof info;
    ASSERT_EQ(zendrik_reader_info_get(reader, &info), ZENDRIK_OK);
    EXPECT_EQ(info.kind, 1);
    EXPECT_EQ(info.serial, served.id());
    EXPECT_GT(std::strlen(info.version), 0u);

    zendrik_settings settings{};
    settings.size = sizeof settings;
    ASSERT_EQ(zendrik_reader_read_settings(reader, &settings), ZENDRIK_OK);
    const sim::ReaderSettings truth = served.reader().settings();
    EXPECT_EQ(settings.power, truth.outputPower);
    EXPECT_EQ(settings.wiegand_format, truth.wiegandFormat);
    EXPECT_EQ(settings.output[1], truth.wgOutBytes[1]);

    // Values outside the tool's ranges for kind 1 are refused before anything is written.
    zendrik_settings tooStrong = settings;
    tooStrong.power = 30;
    served.reader().ClearRequests();
    EXPECT_EQ(zendrik_reader_write_settings(reader, &tooStrong), ZENDRIK_ERR_INVALID_ARGUMENT);
    EXPECT_TRUE(served.reader().requests().empty());
    zendrik_settings changed = settings;
    changed.power = 20;
    changed.buzzer = 0;
    ASSERT_EQ(zendrik_reader_write_settings(reader, &changed), ZENDRIK_OK);
    EXPECT_EQ(served.reader().settings().outputPower, 20);
    EXPECT_EQ(served.reader().settings().buzzer, 0);

    struct Assignment {
        std::vector<const char*> texts;
        int32_t result;
        std::string message;  // part of it
    };
    const std::vector<Assignment> assignments{
        {{"power=22", "buzzer=on"}, ZENDRIK_OK, ""},
        {{"power=27"}, ZENDRIK_ERR_INVALID_ARGUMENT, "power must be a number from 18 to 26"},
        {{"colour=red"}, ZENDRIK_ERR_INVALID_ARGUMENT, "unknown setting \"colour\""},
        {{}, ZENDRIK_ERR_INVALID_ARGUMENT, "nothing to set"},
    };
    for (const Assignment& a : assignments) {
        char message[256] = "untouched";
        EXPECT_EQ(zendrik_reader_configure(reader, a.texts.data(), a.texts.size(), message, sizeof message),
                  a.result);
        EXPECT_NE(std::string(message).find(a.message), std::string::npos) << message;
    }
    EXPECT_EQ(served.reader().settings().outputPower, 22);
    // A write the reader refuses ends the change there and says so.
    served.reader().FailCommand(0xEC, sim::Fault::Status(201));
    const char* buzzerOff[] = {"buzzer=off"};
    char message[256];
    EXPECT_EQ(zendrik_reader_configure(reader, buzzerOff, 1, message, sizeof message), ZENDRIK_ERR_STATUS);
    EXPECT_STREQ(
        message,
        "writing the buzzer failed: the reader refused the command or did not answer; the writes before "
        "it were made");
    served.reader().ClearFaults();

    ASSERT_EQ(zendrik_reader_factory_default(reader), ZENDRIK_OK);
    EXPECT_EQ(served.reader().settings().outputPower, 26);

    zendrik_event event{};
    EXPECT_EQ(zendrik_reader_read_tag(reader, &event, sizeof event), ZENDRIK_NO_TAG);
    served.reader().AddTag(sim::SampleEpc(0x4101));
    ASSERT_EQ(zendrik_reader_read_tag(reader, &event, sizeof event), ZENDRIK_OK);
    EXPECT_EQ(event.kind, ZENDRIK_EVENT_READ);
    EXPECT_EQ(std::vector<uint8_t>(event.epc, event.epc + event.epc_length), sim::SampleEpc(0x4101));
    EXPECT_STREQ(event.card, "00016641");  // Wiegand 26 of EPC bytes 9..11: 00 41 01
    EXPECT_EQ(event.count, 1u);
    EXPECT_EQ(event.seq, 0u) << "a single read is no part of the stream";
    EXPECT_EQ(event.antenna, 1);
    uint8_t ids[251];
    size_t length = 0;
    ASSERT_EQ(zendrik_reader_read_tag_list(reader, ids, sizeof ids, &length), ZENDRIK_OK);
    EXPECT_EQ(std::vector<uint8_t>(ids, ids + length), sim::SampleEpc(0x4101));
    EXPECT_EQ(zendrik_reader_read_tag_list(reader, ids, 4, &length), ZENDRIK_ERR_TOO_SMALL);
    EXPECT_EQ(length, 12u);

    // While an inventory runs, single reads are refused, and the other calls take their turn.
    ASSERT_EQ(zendrik_inventory_start(reader, nullptr, nullptr, nullptr), ZENDRIK_OK);
    EXPECT_EQ(zendrik_reader_read_tag(reader, &event, sizeof event), ZENDRIK_ERR_BUSY);
    EXPECT_EQ(zendrik_inventory_start(reader, nullptr, nullptr, nullptr), ZENDRIK_ERR_BUSY);
    EXPECT_EQ(zendrik_reader_info_get(reader, &info), ZENDRIK_OK);
    EXPECT_EQ(zendrik_inventory_stop(reader), ZENDRIK_OK);
}

// Takes events until the completion of request `id` (or the wait bound passes); returns all taken.
std::vector<zendrik_event> TakeUntilCompleted(zendrik_reader* reader, uint64_t id) {
    std::vector<zendrik_event> taken;
    const auto end = std::chrono::steady_clock::now() + milliseconds{kEventWaitMs};
    while (std::chrono::steady_clock::now() < end) {
        zendrik_event batch[16];
        size_t got = 0;
        if (zendrik_next_events(reader, batch, sizeof batch[0], std::size(batch), &got, 100) != ZENDRIK_OK) {
            continue;
        }
        taken.insert(taken.end(), batch, batch + got);
        if (std::any_of(batch, batch + got, [id](const zendrik_event& e) {
                return e.kind == ZENDRIK_EVENT_COMPLETED && e.request_id == id;
            })) {
            break;
        }
    }
    return taken;
}

TEST(SessionSim, ARequestSubmittedDuringASlowRoundReturnsAtOnceAndCompletesBetweenRounds) {
    constexpr milliseconds kSlowRound{400};
    VirtualReader served(Transport::kUsb, 0, 0x61);
    served.reader().set_round_time(kSlowRound);
    served.reader().AddTag(sim::SampleEpc(0x6101));
    Handle handle{Open(served.address())};
    zendrik_reader* reader = handle.reader;
    ASSERT_EQ(zendrik_inventory_start(reader, nullptr, nullptr, nullptr), ZENDRIK_OK);
    const std::vector<zendrik_event> first = TakeUntil(reader, ZENDRIK_EVENT_READ);
    ASSERT_TRUE(Holds(first, ZENDRIK_EVENT_READ));
    EXPECT_GE(first.back().round_us, 400'000u) << "a read says how long its round took";

    // A tag in the field: each read ends a round and the next begins at once, 400 ms long. The
    // reader has had the round under way asked once it has one more tag read than reads came.
    const auto reads = std::count_if(first.begin(), first.end(),
                                     [](const zendrik_event& e) { return e.kind == ZENDRIK_EVENT_READ; });
    std::optional<std::chrono::steady_clock::time_point> roundUnderWay;
    while (!roundUnderWay) {
        std::vector<std::chrono::steady_clock::time_point> rounds;
        for (const sim::LoggedRequest& logged : served.reader().requests()) {
            if (logged.request.command == 0xF6) {
                rounds.push_back(logged.received);
            }
        }
        if (rounds.size() > static_cast<std::size_t>(reads)) {
            roundUnderWay = rounds[static_cast<std::size_t>(reads)];
        } else {
            std::this_thread::sleep_for(milliseconds{1});
        }
    }
    zendrik_request request;
    zendrik_request_init(&request, ZENDRIK_REQUEST_INFO);
    uint64_t infoId = 0;
    ASSERT_EQ(zendrik_reader_submit(reader, &request, &infoId), ZENDRIK_OK);
    const auto submitted = std::chrono::steady_clock::now();
    zendrik_request_init(&request, ZENDRIK_REQUEST_PLAN_CHANGE);
    const char* change[] = {"power=20"};
    request.assignments = change;
    request.assignment_count = 1;
    uint64_t planId = 0;
    ASSERT_EQ(zendrik_reader_submit(reader, &request, &planId), ZENDRIK_OK);
    EXPECT_EQ(planId, infoId + 1);
    // The queue takes its capacity and refuses the next without waiting.
    zendrik_request_init(&request, ZENDRIK_REQUEST_INFO);
    for (int more = 2; more < ZENDRIK_REQUEST_QUEUE_CAPACITY; ++more) {
        ASSERT_EQ(zendrik_reader_submit(reader, &request, nullptr), ZENDRIK_OK);
    }
    EXPECT_EQ(zendrik_reader_submit(reader, &request, nullptr), ZENDRIK_ERR_QUEUE_FULL);
    zendrik_request_init(&request, 99);
    EXPECT_EQ(zendrik_reader_submit(reader, &request, nullptr), ZENDRIK_ERR_INVALID_ARGUMENT);

    const std::vector<zendrik_event> taken = TakeUntilCompleted(reader, planId);
    const auto info = std::find_if(taken.begin(), taken.end(), [&](const zendrik_event& e) {
        return e.kind == ZENDRIK_EVENT_COMPLETED && e.request_id == infoId;
    });
    ASSERT_NE(info, taken.end());
    EXPECT_EQ(info->request, ZENDRIK_REQUEST_INFO);
    EXPECT_EQ(info->result, ZENDRIK_OK);
    EXPECT_EQ(info->info.serial, served.id());
    EXPECT_EQ(info->info.kind, 0);
    EXPECT_NE(std::string(info->json).find(R"("serial":")" + served.id() + "\""), std::string::npos)
        << info->json;
    // The round under way when the request came ended first, with its read, in the same stream.
    EXPECT_TRUE(std::any_of(taken.begin(), info,
                            [](const zendrik_event& e) { return e.kind == ZENDRIK_EVENT_READ; }));
    for (auto e = taken.begin(); e + 1 < taken.end(); ++e) {
        EXPECT_EQ(e->seq + 1, (e + 1)->seq);
    }
    const zendrik_event& plan = *std::find_if(taken.begin(), taken.end(), [&](const zendrik_event& e) {
        return e.kind == ZENDRIK_EVENT_COMPLETED && e.request_id == planId;
    });
    EXPECT_EQ(plan.result, ZENDRIK_OK) << plan.message;
    EXPECT_STREQ(plan.json, R"({"power":{"want":20,"have":33}})");
    EXPECT_EQ(served.reader().settings().outputPower, 33) << "a plan writes nothing";

    // On the reader's side: submit had returned while that round was still being read, and the
    // identity was asked only once its reply had gone out.
    std::optional<std::chrono::steady_clock::time_point> identityAsked;
    for (const sim::LoggedRequest& logged : served.reader().requests()) {
        if (logged.request.command != 0xF6 && logged.received > submitted && !identityAsked) {
            identityAsked = logged.received;
        }
    }
    ASSERT_TRUE(identityAsked);
    EXPECT_LT(submitted, *roundUnderWay + kSlowRound) << "submit waited for the round";
    EXPECT_GE(*identityAsked, *roundUnderWay + kSlowRound) << "the request cut into the round";
    EXPECT_EQ(zendrik_inventory_stop(reader), ZENDRIK_OK);
}

extern "C" int zendrik_v1_caller_run(const char* address, char* report, size_t size);

// A program's signals reach its own threads: the threads a reader handle starts block every signal
// a program handles, and opening one leaves the caller's own mask as it was. The reader's thread
// carries its name, for top -H and ps -L.
TEST(SessionSim, TheThreadsOfAHandleBlockEverySignalAndTheCallersMaskStays) {
    VirtualReader served(Transport::kUsb, 0, 0x61);
    sigset_t before;
    ASSERT_EQ(pthread_sigmask(SIG_SETMASK, nullptr, &before), 0);
    const std::map<std::string, uint64_t> existing = BlockedSignalsByThread();
    Handle handle{Open(served.address())};
    ASSERT_EQ(zendrik_inventory_start(handle.reader, nullptr, nullptr, nullptr), ZENDRIK_OK);
    TakeUntil(handle.reader, ZENDRIK_EVENT_LINK_UP);
    int started = 0;
    int named = 0;
    for (const auto& [thread, blocked] : BlockedSignalsByThread()) {
        if (existing.count(thread) != 0) {
            continue;
        }
        ++started;
        std::string name;
        std::getline(std::ifstream("/proc/self/task/" + thread + "/comm"), name);
        named += name == "zendrik-reader" ? 1 : 0;
        for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGPIPE, SIGALRM,
                                 SIGCHLD, SIGWINCH, SIGRTMIN + 2, SIGRTMAX}) {
            EXPECT_NE(blocked & SignalBit(signal), 0u) << "thread " << thread << ", signal " << signal;
        }
    }
    EXPECT_GE(started, 1) << "the handle reads on a thread of its own";
    EXPECT_EQ(named, 1) << "the reader's thread is named";
    sigset_t after;
    ASSERT_EQ(pthread_sigmask(SIG_SETMASK, nullptr, &after), 0);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGUSR1}) {
        EXPECT_EQ(sigismember(&after, signal), sigismember(&before, signal)) << signal;
    }
}

TEST(SessionApi, ACallerBuiltAgainstTheFirstReleasesHeaderWorksAndNothingIsWrittenPastItsStructs) {
    VirtualReader served(Transport::kUsb, 0, 0x62);
    served.reader().set_round_time(kRoundTime);
    served.reader().AddTag(sim::SampleEpc(0x6201));
    char report[256];
    EXPECT_EQ(zendrik_v1_caller_run(served.address().c_str(), report, sizeof report), 0) << report;
}

TEST(SessionApi, RefusesWhatItCannotTakeBeforeAnyIo) {
    zendrik_reader* reader = nullptr;
    char why[64] = "";
    EXPECT_EQ(zendrik_address_check("udp:10.0.0.1", why, sizeof why), ZENDRIK_ERR_BAD_ADDRESS);
    EXPECT_STREQ(why, "reader \"10.0.0.1\" is not HOST:PORT");
    char tiny[8] = "";
    EXPECT_EQ(zendrik_address_check("nfc", tiny, sizeof tiny), ZENDRIK_ERR_BAD_ADDRESS);
    EXPECT_STREQ(tiny, "unknown");
    EXPECT_EQ(zendrik_address_check("usb", nullptr, 0), ZENDRIK_OK);
    EXPECT_EQ(zendrik_reader_open("udp:10.0.0.1", nullptr, &reader), ZENDRIK_ERR_BAD_ADDRESS);

    zendrik_open_options options;
    zendrik_open_options_init(&options);
    options.flags = ZENDRIK_OPEN_ABSENT_OK;  // without a name
    EXPECT_EQ(zendrik_reader_open("usb", &options, &reader), ZENDRIK_ERR_INVALID_ARGUMENT);
    options.name = "new\nline";
    EXPECT_EQ(zendrik_reader_open("usb", &options, &reader), ZENDRIK_ERR_INVALID_ARGUMENT);
    options.name = "ok";
    options.flags = 1u << 7;  // a flag this library does not know
    EXPECT_EQ(zendrik_reader_open("usb", &options, &reader), ZENDRIK_ERR_INVALID_ARGUMENT);
    options.flags = 0;
    options.size = offsetof(zendrik_open_options, flags);  // older than the first release's
    EXPECT_EQ(zendrik_reader_open("usb", &options, &reader), ZENDRIK_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(zendrik_reader_open(nullptr, nullptr, &reader), ZENDRIK_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(reader, nullptr);
    EXPECT_EQ(zendrik_reader_close(nullptr), ZENDRIK_OK);
    EXPECT_EQ(zendrik_reader_event_fd(nullptr), -1);

    zendrik_event event{};
    event.kind = ZENDRIK_EVENT_LINK_RESTORED;
    std::strcpy(event.reader, "r");
    const std::string json =
        R"({"event":"link-restored","reader":"r","seq":0,"time":"1970-01-01T00:00:00.000Z","error":null})";
    size_t length = 0;
    EXPECT_EQ(zendrik_event_json(&event, nullptr, 0, &length), ZENDRIK_ERR_TOO_SMALL);
    EXPECT_EQ(length, json.size());
    std::vector<char> exact(json.size() + 1);
    EXPECT_EQ(zendrik_event_json(&event, exact.data(), json.size(), &length), ZENDRIK_ERR_TOO_SMALL);
    EXPECT_EQ(zendrik_event_json(&event, exact.data(), exact.size(), nullptr), ZENDRIK_OK);
    EXPECT_EQ(exact.data(), json);
    EXPECT_EQ(zendrik_event_json(&event, nullptr, 5, &length), ZENDRIK_ERR_INVALID_ARGUMENT);
    event.kind = 0;
    EXPECT_EQ(zendrik_event_json(&event, exact.data(), exact.size(), &length), ZENDRIK_ERR_INVALID_ARGUMENT);
    EXPECT_STREQ(zendrik_event_kind_name(ZENDRIK_EVENT_DEPARTED), "departed");
    EXPECT_STREQ(zendrik_event_kind_name(99), "unknown");

    EXPECT_STREQ(zendrik_result_text(ZENDRIK_ERR_NO_USB_READER), "no USB reader was found");
    EXPECT_STREQ(zendrik_result_text(ZENDRIK_ERR_BAD_ADDRESS), "the reader address does not parse");
    EXPECT_STREQ(zendrik_result_text(12345), "unknown result");
    const std::pair<int32_t, int32_t> kinds[] = {
        {ZENDRIK_OK, ZENDRIK_RESULT_KIND_OK},
        {ZENDRIK_NO_TAG, ZENDRIK_RESULT_KIND_OK},
        {ZENDRIK_ERR_NO_START_BYTE, ZENDRIK_RESULT_KIND_TRANSPORT},
        {ZENDRIK_ERR_UDP_NO_REPLY, ZENDRIK_RESULT_KIND_TRANSPORT},
        {ZENDRIK_ERR_STATUS, ZENDRIK_RESULT_KIND_REFUSED},
        {ZENDRIK_ERR_VERIFY, ZENDRIK_RESULT_KIND_REFUSED},
        {ZENDRIK_ERR_TOO_SMALL, ZENDRIK_RESULT_KIND_BAD_ARGUMENT},
        {ZENDRIK_ERR_QUEUE_FULL, ZENDRIK_RESULT_KIND_STATE},
        {12345, ZENDRIK_RESULT_KIND_UNKNOWN},
    };
    for (const auto& [code, kind] : kinds) {
        EXPECT_EQ(zendrik_result_kind(code), kind) << code;
    }

    zendrik_settings settings{};
    settings.size = sizeof settings;
    settings.power = 20;
    settings.wiegand_format = 0x26;
    EXPECT_EQ(zendrik_settings_json(&settings, 0, nullptr, 0, &length), ZENDRIK_ERR_TOO_SMALL);
    std::string text(length + 1, '\0');
    ASSERT_EQ(zendrik_settings_json(&settings, 0, text.data(), text.size(), &length), ZENDRIK_OK);
    EXPECT_NE(text.find(R"("power": 20)"), std::string::npos) << text;
    settings.size = 4;
    EXPECT_EQ(zendrik_settings_json(&settings, 0, text.data(), text.size(), &length),
              ZENDRIK_ERR_INVALID_ARGUMENT);
}

}  // namespace
}  // namespace zendrik::testing
