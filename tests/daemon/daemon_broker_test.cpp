// The daemon's loop against a real mosquitto, with scripted readers: payloads and retained
// statuses, webhooks beside the broker against an HTTPS receiver that fails by script, a broker stopped and
// started again in the middle of a stream with every message arriving, a clean stop publishing "offline", and
// a broker that refuses the daemon.
#include <gtest/gtest.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <numeric>
#include <set>
#include <sstream>
#include <thread>

#include "daemon/outputs/body_signature.h"
#include "daemon/site/site.h"
#include "tests/daemon/broker.h"
#include "tests/daemon/queued_source.h"
#include "tests/daemon/small_disk.h"
#include "tests/daemon/webhook_server.h"
#include "tests/support/loopback.h"

namespace zendrik::daemon {
namespace {

using testing::Broker;
using testing::Message;
using testing::Subscriber;
using Messages = std::vector<Message>;
using namespace std::chrono_literals;

// A reader whose events the test pushes; its descriptor is readable while any are queued.
class ScriptedSource : public QueuedSource {
  public:
    explicit ScriptedSource(std::optional<ReaderIdentity> identity) : identity_(std::move(identity)) {}

    void Push(int32_t kind, uint8_t epcByte = 0) {
        zendrik_event event{};
        event.kind = kind;
        event.epc[0] = epcByte;
        event.epc_length = 1;
        Queue(event);
    }

    std::optional<std::string> Open() override { return std::nullopt; }
    std::optional<std::string> Start() override { return std::nullopt; }
    // Answers who it is at once, in its stream as the library does; nothing else is served.
    std::variant<uint64_t, int32_t> Submit(const ReaderRequest& request) override {
        if (request.kind != ZENDRIK_REQUEST_INFO) {
            return ZENDRIK_ERR_INVALID_ARGUMENT;
        }
        zendrik_event completed{};
        completed.kind = ZENDRIK_EVENT_COMPLETED;
        completed.request_id = ++lastRequestId_;
        completed.result = identity_ ? ZENDRIK_OK : ZENDRIK_ERR_NOT_REACHED;
        if (identity_) {
            completed.info.kind = identity_->kind;
            std::snprintf(completed.info.version, sizeof completed.info.version, "%s",
                          identity_->version.c_str());
            std::snprintf(completed.info.serial, sizeof completed.info.serial, "%s",
                          identity_->serial.c_str());
        }
        Queue(completed);
        return completed.request_id;
    }
    void Stop() override {}
    uint64_t dropped() const override { return 0; }

  private:
    std::optional<ReaderIdentity> identity_;
    uint64_t lastRequestId_ = 0;
};

const char* KindName(int32_t kind) {
    switch (kind) {
        case ZENDRIK_EVENT_READ:
            return "read";
        case ZENDRIK_EVENT_ARRIVED:
            return "arrived";
        case ZENDRIK_EVENT_LINK_LOST:
            return "link-lost";
        case ZENDRIK_EVENT_LINK_RESTORED:
            return "link-restored";
        default:
            return "departed";
    }
}

// A tag whose read renders a payload larger than the broker of the poison test takes, and one
// whose reads fill a small disk soon.
constexpr uint8_t kPoisonEpc = 0xee;
constexpr std::size_t kPoisonPadding = 4000;
constexpr uint8_t kBigEpc = 0xbb;
constexpr std::size_t kBigPadding = 900;

// Stands in for the library's event JSON with the fields these tests look at, so that the loop
// is tested on its own.
std::string TestEventJson(const zendrik_event& event) {
    nlohmann::json json{
        {"event", KindName(event.kind)}, {"reader", event.reader}, {"seq", event.seq}, {"epc", event.epc[0]}};
    if (event.epc[0] == kPoisonEpc || event.epc[0] == kBigEpc) {
        json["padding"] = std::string(event.epc[0] == kPoisonEpc ? kPoisonPadding : kBigPadding, 'x');
    }
    return json.dump();
}

DaemonConfig TestConfig(uint16_t port, const std::string& spoolPath,
                        const std::vector<std::string>& readers) {
    DaemonConfig config;
    config.site = "t";
    config.statusIntervalMs = 200;
    config.mqtt.port = port;
    config.mqtt.topicPrefix = "zt";
    config.mqtt.clientId = "zendrikd-test";
    config.mqtt.reconnectMinMs = 50;
    config.mqtt.reconnectMaxMs = 300;
    config.spool.path = spoolPath;
    config.http.listen = "";  // tests side by side would share the default port
    for (const std::string& name : readers) {
        config.readers.push_back(ReaderConfig{name, "usb", 3000, 0});
    }
    return config;
}

// The daemon's loop on a thread of the test, with scripted readers made before it starts.
class RunningDaemon {
  public:
    RunningDaemon(const DaemonConfig& config, const std::vector<std::optional<ReaderIdentity>>& identities)
        : spool_(config.spool.path, config.spool.maxMessages,
                 SpoolLostMessages(Topics(config.mqtt.topicPrefix, config.site))) {
        for (std::size_t i = 0; i < config.readers.size(); ++i) {
            auto source = std::make_unique<ScriptedSource>(identities.at(i));
            sources_.push_back(source.get());
            prepared_[config.readers[i].name] = std::move(source);
        }
        const SourceFactory prepared = [this](const ReaderConfig& reader) {
            return std::unique_ptr<ReaderSource>(std::move(prepared_.at(reader.name)));
        };
        daemon_ = std::make_unique<Site>(config, prepared, TestEventJson, spool_, notifier_);
        result_ = std::async(std::launch::async, [this] { return daemon_->Run(stop_); });
    }
    ~RunningDaemon() {
        if (result_.valid()) {
            Stop();
        }
        ::close(stop_);
    }

    ScriptedSource& reader(std::size_t i) { return *sources_.at(i); }
    // Only once the loop has ended: it is the loop's otherwise.
    const Site& site() const { return *daemon_; }
    // The exit status once the loop has ended by itself (broker refused), or nothing in time.
    std::optional<int> Ended(std::chrono::seconds deadline) {
        if (result_.wait_for(deadline) != std::future_status::ready) {
            return std::nullopt;
        }
        return result_.get();
    }
    int Stop() {
        const uint64_t one = 1;
        (void)::write(stop_, &one, sizeof one);
        return result_.get();
    }

  private:
    Spool spool_;
    Notifier notifier_;
    std::vector<ScriptedSource*> sources_;
    std::map<std::string, std::unique_ptr<ScriptedSource>> prepared_;
    std::unique_ptr<Site> daemon_;
    int stop_ = ::eventfd(0, EFD_CLOEXEC);
    std::future<int> result_;
};

nlohmann::json Json(const Message& message) {
    return nlohmann::json::parse(message.payload);
}

// The sequence numbers of one reader's events in order of arrival, each read of a batch by its
// own; messages without one (statuses) are passed over.
std::vector<uint64_t> SeqsOf(const Messages& messages, const std::string& reader) {
    std::vector<uint64_t> seqs;
    for (const Message& message : messages) {
        if (message.topic.find("/" + reader + "/") == std::string::npos || message.payload.empty()) {
            continue;
        }
        const nlohmann::json json = Json(message);
        if (json.contains("batch")) {
            for (const nlohmann::json& read : json["reads"]) {
                seqs.push_back(read["seq"].get<uint64_t>());
            }
        } else if (json.contains("seq")) {
            seqs.push_back(json["seq"].get<uint64_t>());
        }
    }
    return seqs;
}

std::set<uint64_t> Distinct(const std::vector<uint64_t>& seqs) {
    return std::set<uint64_t>(seqs.begin(), seqs.end());
}

// A retained status seen by a subscriber that came after it was published.
std::optional<nlohmann::json> RetainedStatus(uint16_t port, const std::string& topic,
                                             const std::function<bool(const nlohmann::json&)>& wanted) {
    Subscriber late(port, topic);
    std::optional<nlohmann::json> found;
    late.WaitFor(
        [&](const Messages& messages) {
            for (const Message& message : messages) {
                if (wanted(Json(message))) {
                    found = Json(message);
                }
            }
            return found.has_value();
        },
        5s);
    return found;
}

TEST(DaemonBrokerTest, PublishesEventsAndRetainedStatusesAndOfflineOnStop) {
    Broker broker;
    testing::TemporaryDirectory directory;
    Subscriber all(broker.port(), "zt/#");
    RunningDaemon daemon(TestConfig(broker.port(), directory.File("spool"), {"gate-1", "gate-2"}),
                         {ReaderIdentity{2, "V1.2", "00aa11"}, std::nullopt});
    daemon.reader(0).Push(ZENDRIK_EVENT_READ, 7);
    daemon.reader(0).Push(ZENDRIK_EVENT_ARRIVED, 7);
    daemon.reader(0).Push(ZENDRIK_EVENT_READ, 7);
    daemon.reader(1).Push(ZENDRIK_EVENT_LINK_LOST);
    ASSERT_TRUE(all.WaitFor([](const Messages& m) {
        return testing::OnTopicsEndingIn(m, "/reads").size() == 2 &&
               testing::OnTopicsEndingIn(m, "/events").size() == 2;
    })) << broker.log();

    const Messages messages = all.messages();
    const Messages reads = testing::OnTopicsEndingIn(messages, "/reads");
    EXPECT_EQ(reads[0].topic, "zt/t/gate-1/reads");
    EXPECT_FALSE(reads[0].retained);
    EXPECT_EQ(Json(reads[0]),
              (nlohmann::json{{"event", "read"}, {"reader", "gate-1"}, {"seq", 1}, {"epc", 7}}));
    EXPECT_EQ(Json(reads[1])["seq"], 3) << "the arrival in between took seq 2";
    EXPECT_EQ(SeqsOf(testing::OnTopicsEndingIn(messages, "/events"), "gate-1"), std::vector<uint64_t>{2});
    EXPECT_EQ(SeqsOf(testing::OnTopicsEndingIn(messages, "/events"), "gate-2"), std::vector<uint64_t>{1});

    const auto site =
        RetainedStatus(broker.port(), "zt/t/status", [](const nlohmann::json&) { return true; });
    ASSERT_TRUE(site);
    EXPECT_EQ((*site)["state"], "online");
    EXPECT_EQ((*site)["readers"], 2);
    const auto gate1 = RetainedStatus(broker.port(), "zt/t/gate-1/status", [](const nlohmann::json& status) {
        return status["reads"] == 2 && status["spooled"] == 0;
    });
    ASSERT_TRUE(gate1);
    EXPECT_EQ((*gate1)["state"], "online");
    EXPECT_EQ((*gate1)["kind"], 2);
    EXPECT_EQ((*gate1)["version"], "V1.2");
    EXPECT_EQ((*gate1)["serial"], "00aa11");
    EXPECT_EQ((*gate1)["spooled"], 0);
    EXPECT_EQ((*gate1)["dropped"], 0);
    const auto gate2 =
        RetainedStatus(broker.port(), "zt/t/gate-2/status", [](const nlohmann::json&) { return true; });
    ASSERT_TRUE(gate2);
    EXPECT_EQ((*gate2)["state"], "link-lost");
    EXPECT_TRUE((*gate2)["kind"].is_null());

    EXPECT_EQ(daemon.Stop(), kExitOk);
    const auto offline =
        RetainedStatus(broker.port(), "zt/t/status", [](const nlohmann::json&) { return true; });
    ASSERT_TRUE(offline);
    EXPECT_EQ(*offline, nlohmann::json::parse(SiteOfflineJson()));
    for (const char* reader : {"gate-1", "gate-2"}) {
        const auto status = RetainedStatus(broker.port(), std::string("zt/t/") + reader + "/status",
                                           [](const nlohmann::json&) { return true; });
        ASSERT_TRUE(status);
        EXPECT_EQ((*status)["state"], "offline") << reader;
    }

    // What the HTTP side will serve, filled from the parts.
    const SiteSnapshot snapshot = daemon.site().Snapshot();
    EXPECT_EQ(snapshot.site, "t");
    EXPECT_FALSE(snapshot.mqttConnected);
    EXPECT_EQ(snapshot.spoolMessages, 0u);
    EXPECT_EQ(snapshot.publishSeconds.count(), 4u) << "every stored event timed to its acknowledgement";
    ASSERT_EQ(snapshot.readers.size(), 2u);
    const ReaderSnapshot& first = snapshot.readers[0];
    EXPECT_EQ(first.name, "gate-1");
    EXPECT_EQ(first.address, "usb");
    EXPECT_EQ(first.reads, 2u);
    EXPECT_EQ(first.published, 3u);
    EXPECT_EQ(first.eventsByKind, (std::map<std::string, uint64_t>{{"arrived", 1}, {"read", 2}}));
    EXPECT_EQ(first.linkLosses, 0u);
    EXPECT_EQ(nlohmann::json::parse(first.statusJson)["state"], "offline") << "as published last";
    const ReaderSnapshot& second = snapshot.readers[1];
    EXPECT_FALSE(second.linkUp);
    EXPECT_EQ(second.linkLosses, 1u);
    EXPECT_EQ(second.eventsByKind, (std::map<std::string, uint64_t>{{"link-lost", 1}}));
}

// With and without batches of reads: every number arrives, each reader's first arrivals in the
// order of its numbers across its reads and events topics (an arrival between reads sends the
// batch before it), and a batch holds every number from its first to its last.
TEST(DaemonBrokerTest, BrokerStoppedAndStartedAgainMidStreamLosesNothing) {
    constexpr uint64_t kPerReader = 300;
    constexpr uint64_t kArrivals = 3;  // of r1, one after each third of its reads
    for (const uint32_t batchMs : {0u, 50u}) {
        SCOPED_TRACE(::testing::Message() << "batch_ms " << batchMs);
        Broker broker;
        testing::TemporaryDirectory directory;
        // A consumer with a lasting session, as one that must see every read would use.
        Subscriber consumer(broker.port(), "zt/t/+/+", "consumer");
        DaemonConfig config = TestConfig(broker.port(), directory.File("spool"), {"r1", "r2"});
        config.publish.batchMs = batchMs;
        config.publish.batchMax = 40;
        RunningDaemon daemon(config, {ReaderIdentity{}, ReaderIdentity{}});
        const auto push = [&](uint64_t count) {
            for (uint64_t i = 0; i < count; ++i) {
                daemon.reader(0).Push(ZENDRIK_EVENT_READ);
                daemon.reader(1).Push(ZENDRIK_EVENT_READ);
            }
            daemon.reader(0).Push(ZENDRIK_EVENT_ARRIVED);
        };
        push(kPerReader / 3);
        ASSERT_TRUE(consumer.WaitFor([](const Messages& m) { return SeqsOf(m, "r1").size() >= 20; }));
        broker.Stop();
        push(kPerReader / 3);
        broker.Start();
        push(kPerReader / 3);
        const std::map<std::string, uint64_t> expected{{"r1", kPerReader + kArrivals}, {"r2", kPerReader}};
        const bool complete = consumer.WaitFor(
            [&](const Messages& m) {
                return Distinct(SeqsOf(m, "r1")).size() == expected.at("r1") &&
                       Distinct(SeqsOf(m, "r2")).size() == expected.at("r2");
            },
            20s);
        const Messages messages = consumer.messages();
        for (const auto& [reader, count] : expected) {
            SCOPED_TRACE(reader);
            const std::vector<uint64_t> seqs = SeqsOf(messages, reader);
            const std::set<uint64_t> distinct = Distinct(seqs);
            ASSERT_TRUE(complete) << distinct.size() << " of " << count << " arrived\n" << broker.log();
            EXPECT_EQ(*distinct.begin(), 1u);
            EXPECT_EQ(*distinct.rbegin(), count) << "no gap, nothing extra";
            // Each number's first arrival comes in order: the spool goes out oldest first.
            std::set<uint64_t> seen;
            uint64_t newest = 0;
            for (const uint64_t seq : seqs) {
                if (seen.insert(seq).second) {
                    EXPECT_EQ(seq, newest + 1);
                    newest = seq;
                }
            }
        }
        std::size_t batches = 0;
        for (const Message& message : testing::OnTopicsEndingIn(messages, "/reads")) {
            const nlohmann::json json = Json(message);
            EXPECT_EQ(json.contains("batch"), batchMs > 0) << message.payload;
            if (!json.contains("batch")) {
                continue;
            }
            ++batches;
            const nlohmann::json& reads = json["reads"];
            EXPECT_LE(reads.size(), config.publish.batchMax);
            EXPECT_EQ(message.topic.find("/" + json["reader"].get<std::string>() + "/"), 4u);
            for (std::size_t i = 0; i < reads.size(); ++i) {
                EXPECT_EQ(reads[i]["seq"], json["first_seq"].get<uint64_t>() + i) << message.payload;
                EXPECT_EQ(reads[i]["event"], "read");
            }
            EXPECT_EQ(reads.back()["seq"], json["last_seq"]);
        }
        if (batchMs > 0) {
            EXPECT_LT(batches, 2 * kPerReader / 10) << "reads went together";
        }
        EXPECT_EQ(daemon.Stop(), kExitOk);
    }
}

// Under MQTT 5 the broker's Maximum Packet Size keeps the message back before it is sent; under
// 3.1.1 the broker ends the connection on it, and the message is searched for among those that
// were in flight, with good ones before and after it: only it is a dead letter. With batches the
// same: under MQTT 5 each batch is kept within the broker's limit; under 3.1.1 the broker ends the
// connection on batches over it too, and the daemon keeps its batches smaller from then on.
TEST(DaemonBrokerTest, MessageTheBrokerWillNotTakeIsSetAsideAndTheOthersFlow) {
    constexpr uint64_t kReadsBefore = 5;
    constexpr uint64_t kReads = 60;  // a batch of them is over the broker's limit
    struct Case {
        bool mqtt5;
        uint32_t batchMs;
        const char* reason;  // a part of the status's dead_reason
    };
    const Case cases[] = {{true, 0, "larger than the 2000 bytes"},
                          {false, 0, "ended the connection on it"},
                          {true, 20, "larger than the 2000 bytes"},
                          {false, 20, "ended the connection on it"}};
    for (const auto& [mqtt5, batchMs, reason] : cases) {
        SCOPED_TRACE(::testing::Message() << (mqtt5 ? "MQTT 5" : "MQTT 3.1.1") << ", batch_ms " << batchMs);
        Broker broker("allow_anonymous true\nmax_packet_size 2000");
        testing::TemporaryDirectory directory;
        Subscriber reads(broker.port(), "zt/t/+/reads");
        DaemonConfig config = TestConfig(broker.port(), directory.File("spool"), {"r1", "r2"});
        config.mqtt.mqtt5 = mqtt5;
        config.publish.batchMs = batchMs;
        {
            RunningDaemon daemon(config, {ReaderIdentity{}, ReaderIdentity{}});
            const auto push = [&](uint64_t count) {
                for (uint64_t i = 0; i < count; ++i) {
                    daemon.reader(0).Push(ZENDRIK_EVENT_READ);
                    daemon.reader(1).Push(ZENDRIK_EVENT_READ);
                }
            };
            push(kReadsBefore);
            daemon.reader(0).Push(ZENDRIK_EVENT_READ, kPoisonEpc);  // too large for the broker
            push(kReads);
            ASSERT_TRUE(reads.WaitFor([&](const Messages& m) {
                return Distinct(SeqsOf(m, "r1")).size() == kReadsBefore + kReads &&
                       Distinct(SeqsOf(m, "r2")).size() == kReadsBefore + kReads;
            })) << broker.log();
            EXPECT_EQ(Distinct(SeqsOf(reads.messages(), "r1")).count(kReadsBefore + 1), 0u);
            const auto status = RetainedStatus(
                broker.port(), "zt/t/r1/status",
                [](const nlohmann::json& status) { return status["dead"] == 1 && status["spooled"] == 0; });
            ASSERT_TRUE(status) << "the status counts the dead letter";
            EXPECT_EQ((*status)["dropped"], 0);
            EXPECT_EQ((*status)["spool"], "ok");
            EXPECT_NE((*status)["dead_reason"].get<std::string>().find(reason), std::string::npos)
                << (*status)["dead_reason"];
            EXPECT_EQ(daemon.Stop(), kExitOk);
        }
        Spool spool(config.spool.path, 10);
        EXPECT_EQ(spool.counts("r1").dead, 1u);
        EXPECT_EQ(spool.counts("r2").dead, 0u);
        EXPECT_EQ(spool.size(), 0u);
        Database file(config.spool.path);
        EXPECT_EQ(file.QueryText("SELECT group_concat(reader || ':' || seq) FROM dead_letter"),
                  "r1:" + std::to_string(kReadsBefore + 1));
    }
}

TEST(DaemonBrokerTest, LostSpoolIsToldOnTheEventsTopicAndNumberingGoesOnAboveIt) {
    Broker broker;
    testing::TemporaryDirectory directory;
    Subscriber all(broker.port(), "zt/t/r1/+");
    const DaemonConfig config = TestConfig(broker.port(), directory.File("spool"), {"r1"});
    {
        RunningDaemon daemon(config, {ReaderIdentity{}});
        for (int i = 0; i < 3; ++i) {
            daemon.reader(0).Push(ZENDRIK_EVENT_READ);
        }
        ASSERT_TRUE(all.WaitFor(
            [](const Messages& m) { return testing::OnTopicsEndingIn(m, "/reads").size() == 3; }));
        EXPECT_EQ(daemon.Stop(), kExitOk);
    }
    std::filesystem::remove(config.spool.path);
    RunningDaemon again(config, {ReaderIdentity{}});
    again.reader(0).Push(ZENDRIK_EVENT_READ);
    ASSERT_TRUE(all.WaitFor([](const Messages& m) {
        return testing::OnTopicsEndingIn(m, "/events").size() == 1 &&
               testing::OnTopicsEndingIn(m, "/reads").size() == 4;
    })) << broker.log();
    const nlohmann::json lost = Json(testing::OnTopicsEndingIn(all.messages(), "/events").front());
    EXPECT_EQ(lost["event"], "spool-lost");
    EXPECT_EQ(lost["reader"], "r1");
    EXPECT_EQ(lost["seq"], 1001);
    EXPECT_EQ(lost["missing_from"], 1);
    EXPECT_EQ(lost["missing_to"], 1000);
    EXPECT_TRUE(lost["time"].is_string());
    EXPECT_EQ(SeqsOf(testing::OnTopicsEndingIn(all.messages(), "/reads"), "r1"),
              (std::vector<uint64_t>{1, 2, 3, 1002}));
    EXPECT_EQ(again.Stop(), kExitOk);
}

// Pushes `count` big reads and waits until the daemon has taken them all.
void PushBigReads(ScriptedSource& reader, int count) {
    for (int i = 0; i < count; ++i) {
        reader.Push(ZENDRIK_EVENT_READ, kBigEpc);
    }
    for (int wait = 0; wait < 1000 && reader.queued() > 0; ++wait) {
        std::this_thread::sleep_for(10ms);
    }
}

TEST(DaemonBrokerTest, FullDiskKeepsTheDaemonRunningAndEveryReadIsDeliveredOrCounted) {
    testing::SmallDisk disk;
    if (!disk.mounted()) {
        GTEST_SKIP() << "a small tmpfs is mounted only when the test runs as root";
    }
    constexpr int kOutageReads = 3000;  // about 3 MB of messages for a 2 MB disk
    constexpr int kLaterReads = 100;
    // The broker's own limit would drop messages for the consumer away while it restarts.
    Broker broker("allow_anonymous true\nmax_queued_messages 0");
    Subscriber consumer(broker.port(), "zt/t/r1/reads", "consumer");
    const DaemonConfig config = TestConfig(broker.port(), disk.File("spool"), {"r1"});
    const auto accounted = [&](int total) {
        return RetainedStatus(broker.port(), "zt/t/r1/status", [&](const nlohmann::json& status) {
            const std::size_t delivered = Distinct(SeqsOf(consumer.messages(), "r1")).size();
            return status["spooled"] == 0 && status["reads"] == total &&
                   delivered + status["dropped"].get<std::size_t>() == static_cast<std::size_t>(total);
        });
    };
    {
        RunningDaemon daemon(config, {ReaderIdentity{}});
        broker.Stop();
        PushBigReads(daemon.reader(0), kOutageReads);
        broker.Start();
        const auto status = accounted(kOutageReads);
        ASSERT_TRUE(status) << "every read delivered or counted as dropped\n" << broker.log();
        EXPECT_GT((*status)["dropped"], 0) << "the oldest made room";
        EXPECT_EQ((*status)["spool"], "ok");
        EXPECT_EQ(*Distinct(SeqsOf(consumer.messages(), "r1")).rbegin(), uint64_t{kOutageReads})
            << "the newest kept";
        EXPECT_EQ(daemon.Stop(), kExitOk);
    }
    EXPECT_EQ(Spool(config.spool.path, 10).size(), 0u) << "what was acknowledged is deleted";
    // Started again on a disk filled to the last byte meanwhile: it opens its spool and goes on.
    disk.Fill("filler");
    RunningDaemon again(config, {ReaderIdentity{}});
    PushBigReads(again.reader(0), kLaterReads);
    const auto status = RetainedStatus(broker.port(), "zt/t/r1/status", [&](const nlohmann::json& status) {
        return status["reads"] == kLaterReads && status["spooled"] == 0;
    });
    ASSERT_TRUE(status) << broker.log();
    const std::set<uint64_t> delivered = Distinct(SeqsOf(consumer.messages(), "r1"));
    EXPECT_EQ(*delivered.rbegin(), uint64_t{kOutageReads + kLaterReads}) << "numbering goes on";
    EXPECT_EQ(again.Stop(), kExitOk);
}

// A certificate authority, a server certificate for 127.0.0.1 and a client certificate signed by
// it, made with openssl.
struct Certificates {
    std::string ca, otherCa, certificate, key, clientCertificate, clientKey;
};

Certificates MakeCertificates(const testing::TemporaryDirectory& directory) {
    const std::string ec = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    std::ofstream(directory.File("san")) << "subjectAltName=IP:127.0.0.1\n";
    const std::vector<std::string> commands = {
        "openssl req -x509 " + ec + " -keyout " + directory.File("ca.key") + " -out " +
            directory.File("ca.crt") + " -days 2 -subj /CN=zendrik-test-ca",
        "openssl req -x509 " + ec + " -keyout " + directory.File("other.key") + " -out " +
            directory.File("other.crt") + " -days 2 -subj /CN=another-ca",
        "openssl req " + ec + " -keyout " + directory.File("server.key") + " -out " +
            directory.File("server.csr") + " -subj /CN=127.0.0.1",
        "openssl x509 -req -in " + directory.File("server.csr") + " -CA " + directory.File("ca.crt") +
            " -CAkey " + directory.File("ca.key") + " -CAcreateserial -out " + directory.File("server.crt") +
            " -days 2 -extfile " + directory.File("san"),
        "openssl req " + ec + " -keyout " + directory.File("client.key") + " -out " +
            directory.File("client.csr") + " -subj /CN=zendrikd-t",
        "openssl x509 -req -in " + directory.File("client.csr") + " -CA " + directory.File("ca.crt") +
            " -CAkey " + directory.File("ca.key") + " -CAcreateserial -out " + directory.File("client.crt") +
            " -days 2",
        "chmod 600 " + directory.File("client.key"),
    };
    for (const std::string& command : commands) {
        testing::ChildProcess openssl({"sh", "-c", command}, directory.File("openssl.log"));
        if (openssl.Wait() != 0) {
            throw std::runtime_error(command +
                                     " failed: " + testing::ReadFile(directory.File("openssl.log")));
        }
    }
    return {directory.File("ca.crt"),     directory.File("other.crt"),  directory.File("server.crt"),
            directory.File("server.key"), directory.File("client.crt"), directory.File("client.key")};
}

// The [mqtt] password as the daemon's file reader takes it from a password file.
std::string PasswordFromFile(const testing::TemporaryDirectory& directory, const std::string& password) {
    const std::string file = directory.File("mqtt.password");
    std::ofstream(file) << password << "\n";
    std::filesystem::permissions(file,
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    std::ofstream(directory.File("password.toml"))
        << "site = \"t\"\n[mqtt]\nusername = \"zendrikd\"\npassword_file = \"" << file
        << "\"\n[[reader]]\nname = \"r1\"\naddress = \"usb\"\n";
    return LoadConfig(directory.File("password.toml"),
                      [](const std::string&) { return std::optional<std::string>(); })
        .mqtt.password.value_or("");
}

TEST(DaemonBrokerTest, TlsAndRefusals) {
    testing::TemporaryDirectory keys;
    const Certificates certificates = MakeCertificates(keys);
    const std::string tlsListener = "allow_anonymous true\ncafile " + certificates.ca + "\ncertfile " +
                                    certificates.certificate + "\nkeyfile " + certificates.key;
    const std::string certificateRequired = tlsListener + "\nrequire_certificate true";
    // A broker that knows the daemon's user, its password kept in a file of mosquitto's own.
    const std::string brokerPasswords = keys.File("broker.passwords");
    testing::ChildProcess passwd({"mosquitto_passwd", "-b", "-c", brokerPasswords, "zendrikd", "s3cret"},
                                 keys.File("passwd.log"));
    ASSERT_EQ(passwd.Wait(), 0) << testing::ReadFile(keys.File("passwd.log"));
    const std::string passwordListener = "allow_anonymous false\npassword_file " + brokerPasswords;
    const std::pair<std::string, std::string> clientCertificate{certificates.clientCertificate,
                                                                certificates.clientKey};
    const std::pair<std::string, std::string> none;
    struct Case {
        const char* what;
        std::string brokerConfig;
        std::optional<std::string> caFile;
        std::pair<std::string, std::string> client;  // the certificate and key the daemon presents
        std::string password;                        // the daemon's, for user "zendrikd"
        std::optional<int> exit;                     // nothing: the daemon connects and publishes
    };
    const Case cases[] = {
        {"TLS, the broker's CA", tlsListener, certificates.ca, none, "", std::nullopt},
        {"TLS, another CA", tlsListener, certificates.otherCa, none, "", kExitBrokerRefused},
        {"a client certificate required and given", certificateRequired, certificates.ca, clientCertificate,
         "", std::nullopt},
        {"a client certificate required, none given", certificateRequired, certificates.ca, none, "",
         kExitBrokerRefused},
        {"anonymous clients not allowed", "allow_anonymous false", std::nullopt, none, "",
         kExitBrokerRefused},
        {"the password from its file", passwordListener, std::nullopt, none, PasswordFromFile(keys, "s3cret"),
         std::nullopt},
        {"a wrong password from its file", passwordListener, std::nullopt, none,
         PasswordFromFile(keys, "guess"), kExitBrokerRefused},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Broker broker(c.brokerConfig);
        testing::TemporaryDirectory directory;
        DaemonConfig config = TestConfig(broker.port(), directory.File("spool"), {"r1"});
        config.mqtt.caFile = c.caFile;
        if (!c.client.first.empty()) {
            config.mqtt.certFile = c.client.first;
            config.mqtt.keyFile = c.client.second;
        }
        if (!c.password.empty()) {
            config.mqtt.username = "zendrikd";
            config.mqtt.password = c.password;
        }
        {
            RunningDaemon daemon(config, {std::nullopt});
            if (c.exit) {
                daemon.reader(0).Push(ZENDRIK_EVENT_READ);
                EXPECT_EQ(daemon.Ended(10s), c.exit);
            } else {
                const bool tls = c.caFile.has_value();
                Subscriber reads(broker.port(), "zt/t/r1/reads",
                                 testing::SubscriberOptions{"", tls ? certificates.ca : "", false,
                                                            tls ? certificates.clientCertificate : "",
                                                            tls ? certificates.clientKey : "",
                                                            tls ? "" : "zendrikd", tls ? "" : "s3cret"});
                daemon.reader(0).Push(ZENDRIK_EVENT_READ);
                EXPECT_TRUE(reads.WaitFor([](const Messages& m) { return m.size() == 1; }));
                EXPECT_EQ(daemon.Stop(), kExitOk);
            }
        }
        Spool spool(directory.File("spool"), 10);
        EXPECT_EQ(spool.lastSeq("r1"), 1u) << "what was read is stored either way";
        EXPECT_EQ(spool.size(), c.exit ? 1u : 0u) << "sent only over an accepted connection";
    }
}

// The receiver's log: every request, its action and body, as webhook_server.py writes it.
std::vector<nlohmann::json> WebhookRequests(const std::string& log) {
    std::vector<nlohmann::json> requests;
    std::istringstream lines(testing::ReadFile(log));
    for (std::string line; std::getline(lines, line);) {
        requests.push_back(nlohmann::json::parse(line));
    }
    return requests;
}

// Each reader's numbers in the bodies the receiver accepted, in the order they came.
std::map<std::string, std::vector<uint64_t>> DeliveredSeqs(const std::vector<nlohmann::json>& requests) {
    std::map<std::string, std::vector<uint64_t>> seqs;
    for (const nlohmann::json& request : requests) {
        if (request["action"] == "200") {
            for (const nlohmann::json& event : nlohmann::json::parse(request["body"].get<std::string>())) {
                seqs[event["reader"].get<std::string>()].push_back(event["seq"].get<uint64_t>());
            }
        }
    }
    return seqs;
}

std::vector<uint64_t> OneTo(uint64_t last) {
    std::vector<uint64_t> all(last);
    std::iota(all.begin(), all.end(), 1);
    return all;
}

// Two webhooks beside the broker: one receiver over HTTPS (a private CA) that fails by script, one
// that nobody listens for. Every event reaches the broker and the live receiver once, each reader's
// in order and signed; the dead one holds only its own place, and the rows for it stay spooled.
TEST(DaemonBrokerTest, WebhooksGetEveryEventInOrderWhileADeadOneHoldsOnlyItsOwnPlace) {
    testing::TemporaryDirectory directory;
    const Certificates certificates = MakeCertificates(directory);
    const std::string secret = "it's a secret to everybody";
    std::ofstream(directory.File("secret")) << secret << "\n";
    const testing::WebhookServer receiver(directory, certificates.certificate, certificates.key,
                                          directory.File("requests"), "500,200,close,200,429:1,200,hang,200");
    const std::string port = std::to_string(receiver.port());

    Broker broker;
    Subscriber all(broker.port(), "zt/t/+/+");
    DaemonConfig config = TestConfig(broker.port(), directory.File("spool"), {"r1", "r2"});
    WebhookConfig live;
    live.name = "wms";
    live.url = "https://127.0.0.1:" + port + "/rfid";
    live.batchMs = 100;
    live.batchMax = 8;
    live.timeoutS = 1;
    live.headers = {{"X-Site", "dock-3"}};
    live.secretFile = directory.File("secret");
    live.caFile = certificates.ca;
    WebhookConfig dead = live;
    dead.name = "gone";
    dead.url = "https://127.0.0.1:" + std::to_string(testing::FreePort()) + "/rfid";
    config.webhooks = {live, dead};

    constexpr int kRounds = 10;
    constexpr int kReadsPerRound = 3;
    auto daemon = std::make_unique<RunningDaemon>(
        config, std::vector<std::optional<ReaderIdentity>>{ReaderIdentity{2, "V1", "a"},
                                                           ReaderIdentity{2, "V1", "b"}});
    for (int round = 0; round < kRounds; ++round) {
        for (int read = 0; read < kReadsPerRound; ++read) {
            daemon->reader(0).Push(ZENDRIK_EVENT_READ, static_cast<uint8_t>(read));
            daemon->reader(1).Push(ZENDRIK_EVENT_READ, static_cast<uint8_t>(read));
        }
        std::this_thread::sleep_for(100ms);
    }
    constexpr uint64_t kEvents = kRounds * kReadsPerRound;
    const auto everyEvent = [&](const std::map<std::string, std::vector<uint64_t>>& seqs) {
        return seqs.size() == 2 && Distinct(seqs.at("r1")).size() == kEvents &&
               Distinct(seqs.at("r2")).size() == kEvents;
    };
    EXPECT_TRUE(all.WaitFor([&](const Messages& messages) {
        std::map<std::string, std::vector<uint64_t>> seqs;
        for (const Message& message : messages) {
            if (message.topic.find("/status") == std::string::npos) {
                seqs[Json(message)["reader"].get<std::string>()].push_back(
                    Json(message)["seq"].get<uint64_t>());
            }
        }
        return everyEvent(seqs);
    })) << "the broker is not held up by the dead webhook";
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (!everyEvent(DeliveredSeqs(WebhookRequests(directory.File("requests")))) &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_EQ(daemon->Stop(), kExitOk);

    const std::vector<nlohmann::json> requests = WebhookRequests(directory.File("requests"));
    for (const auto& [reader, seqs] : DeliveredSeqs(requests)) {
        SCOPED_TRACE(reader);
        EXPECT_EQ(seqs, OneTo(kEvents)) << "every event once, in order";
    }
    std::set<std::string> actions;
    for (const nlohmann::json& request : requests) {
        const std::string body = request["body"];
        EXPECT_EQ(request["headers"]["x-zendrik-signature"], "sha256=" + HmacSha256Hex(secret, body));
        EXPECT_EQ(request["headers"]["x-site"], "dock-3");
        EXPECT_EQ(request["headers"]["content-type"], "application/json");
        EXPECT_LE(nlohmann::json::parse(body).size(), live.batchMax);
        actions.insert(request["action"].get<std::string>());
    }
    EXPECT_EQ(actions, (std::set<std::string>{"200", "500", "close", "429:1", "hang"}));

    const SiteSnapshot site = daemon->site().Snapshot();
    std::map<std::string, OutputSnapshot> outputs;
    for (const OutputSnapshot& output : site.outputs) {
        outputs[output.name] = output;
    }
    ASSERT_EQ(outputs.size(), 3u);
    EXPECT_EQ(outputs["mqtt"].sent, 2 * kEvents);
    EXPECT_EQ(outputs["wms"].sent, 2 * kEvents);
    EXPECT_EQ(outputs["wms"].pending, 0u);
    EXPECT_EQ(outputs["wms"].seconds.count(), 2 * kEvents);
    for (const char* reason : {"http-5xx", "http-429", "timeout", "closed"}) {
        EXPECT_EQ(outputs["wms"].errors[reason], 1u) << reason;
    }
    EXPECT_EQ(outputs["gone"].sent, 0u);
    EXPECT_EQ(outputs["gone"].pending, 2 * kEvents);
    EXPECT_GE(outputs["gone"].errors["refused"], 1u);
    EXPECT_EQ(outputs["gone"].state, "retrying");
    // The rows the dead webhook never got are still in the spool for its next run.
    daemon.reset();
    Spool spool(directory.File("spool"), 100);
    EXPECT_EQ(spool.ReadAfter(0, 100).size(), 2 * kEvents);
}

}  // namespace
}  // namespace zendrik::daemon
