// The header-only C++ wrapper against a virtual reader: ownership, errors as exceptions with the
// library's words, time-outs as std::nullopt, callbacks as std::function.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "zendrik/zendrik_session.hpp"
#include "sim/tag_field.h"
#include "tests/session/virtual_readers.h"

namespace zendrik::testing {
namespace {

using namespace std::chrono_literals;

TEST(SessionCpp, WrapsHandlesEventsAndErrors) {
    try {
        check_address("udp:nowhere");
        ADD_FAILURE() << "a bad address must throw";
    } catch (const Error& error) {
        EXPECT_EQ(error.code(), ZENDRIK_ERR_BAD_ADDRESS);
        EXPECT_STREQ(error.what(), "the reader address does not parse: reader \"nowhere\" is not HOST:PORT");
    }
    EXPECT_THROW(Reader::open("serial:COM99"), Error);

    VirtualReader served(Transport::kUsb, 2, 0x51);
    served.reader().set_round_time(2ms);
    served.reader().AddTag(sim::SampleEpc(0x5101));
    Reader reader = Reader::open(served.address());
    EXPECT_EQ(reader.id(), served.id());
    EXPECT_EQ(reader.info().kind, 2);
    const std::optional<Event> single = reader.read_tag();
    ASSERT_TRUE(single);
    EXPECT_EQ(single->epc(), sim::SampleEpc(0x5101));
    EXPECT_FALSE(single->antenna());  // kind 2 sends none
    EXPECT_NE(single->json().find(R"("antenna":null,"rssi":null})"), std::string::npos) << single->json();
    try {
        reader.configure({"power=64"});
        ADD_FAILURE() << "power 64 is beyond kind 2's range";
    } catch (const Error& error) {
        EXPECT_EQ(error.code(), ZENDRIK_ERR_INVALID_ARGUMENT);
        EXPECT_NE(std::string(error.what()).find("power must be a number from 0 to 63"), std::string::npos);
    }

    // Submitted requests come back as completions in the stream, after its link-up; taken in
    // batches.
    const uint64_t info = reader.submit(RequestKind::info);
    const uint64_t refused = reader.submit(RequestKind::configure, {"power=64"});
    std::vector<Event> taken;
    while (taken.empty() || taken.back().request_id() != refused) {
        const std::vector<Event> batch = reader.next_events(8, 5s);
        ASSERT_FALSE(batch.empty());
        taken.insert(taken.end(), batch.begin(), batch.end());
    }
    ASSERT_EQ(taken.size(), 3u);
    EXPECT_EQ(taken[0].kind(), EventKind::link_up);
    EXPECT_EQ(taken[1].request_id(), info);
    EXPECT_EQ(taken[1].request(), RequestKind::info);
    EXPECT_EQ(taken[1].info().serial, served.id());
    EXPECT_EQ(taken[2].result(), ZENDRIK_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(taken[2].result_json(), "");
    EXPECT_NE(taken[2].message().find("power must be a number from 0 to 63"), std::string::npos);

    // Moved, the handle keeps working; the queue is read with time-outs that are no errors.
    Reader moved = std::move(reader);
    moved.start_inventory();
    const std::optional<Event> first = moved.next_event(5s);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->kind(), EventKind::arrived);
    EXPECT_EQ(first->seq(), 4u) << "after link-up and the two completions: the single read took no number";
    moved.stop_inventory();
    // What was queued stays readable; then the end of the stream is an error, not a time-out.
    try {
        for (;;) {
            EXPECT_TRUE(moved.next_event(0ms));
        }
    } catch (const Error& error) {
        EXPECT_EQ(error.code(), ZENDRIK_ERR_NOT_RUNNING);
    }

    // A callback that throws stops the delivery; the exception comes back from stop_inventory.
    std::atomic<int> calls{0};
    moved.start_inventory([&](const Event&) {
        ++calls;
        throw std::runtime_error("consumer failed");
    });
    while (calls == 0) {
        std::this_thread::sleep_for(1ms);
    }
    std::this_thread::sleep_for(20ms);
    EXPECT_THROW(moved.stop_inventory(), std::runtime_error);
    EXPECT_EQ(calls, 1);
}

}  // namespace
}  // namespace zendrik::testing
