// zendrikd as the manager of its readers, against virtual readers and a mosquitto of the test's
// own: the declared settings kept (a change made with `zendrik set` beside the daemon found and
// written back, or only reported), every command over MQTT and its refusals, a request delivered
// twice, the MQTT 5 response topic, read-only, a reader unplugged while a command waits; and what
// of a reader's events is published.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <tuple>

#include "tests/daemon/broker.h"
#include "tests/daemon/child_process.h"
#include "tests/daemon/http_client.h"
#include "tests/daemon/sim_harness.h"
#include "tests/support/loopback.h"

namespace zendrik::testing {
namespace {

using Json = nlohmann::json;
using Messages = std::vector<Message>;

constexpr auto kReplyWait = 15s;

// A configuration of site "t" with topic prefix "zt" and each reader's own lines.
std::string WriteConfig(const TemporaryDirectory& directory, uint16_t port, const std::string& top,
                        const std::vector<std::pair<VirtualReader*, std::string>>& readers,
                        uint16_t httpPort = 0, const std::string& tail = "") {
    const std::string listen = httpPort == 0 ? "" : "127.0.0.1:" + std::to_string(httpPort);
    std::string text = "site = \"t\"\nstatus_interval_ms = 300\n" + top +
                       "[mqtt]\nport = " + std::to_string(port) +
                       "\ntopic_prefix = \"zt\"\nreconnect_max_ms = 300\n[spool]\npath = \"" +
                       directory.File("spool.sqlite") + "\"\n[http]\nlisten = \"" + listen + "\"\n";
    int index = 0;
    for (const auto& [reader, lines] : readers) {
        text += "[[reader]]\nname = \"gate-" + std::to_string(++index) + "\"\naddress = \"" +
                reader->address() + "\"\nabsence_ms = 500\n" + lines;
    }
    text += tail;
    const std::string path = directory.File("zendrikd.toml");
    std::ofstream(path) << text;
    return path;
}

// `zendrik` beside the daemon on one virtual reader: its settings, or a change to them. The virtual
// device, like a hidraw node, hands every reply to every program that has it open, so a reply to
// the daemon's inventory can come between the tool's request and its answer: the tool is given a
// few tries, as a person would.
Json Cli(const TemporaryDirectory& directory, const VirtualReader& reader,
         std::vector<std::string> arguments) {
    constexpr int kTries = 5;
    static int calls = 0;
    std::vector<std::string> argv{ZENDRIK_CLI_PATH, "--reader", reader.address()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    argv.push_back("--json");
    std::string output;
    for (int attempt = 0; attempt < kTries; ++attempt) {
        output = directory.File("cli-" + std::to_string(++calls) + ".out");
        if (ChildProcess(argv, output).Wait() == 0) {
            return Json::parse(ReadFile(output), nullptr, false);
        }
    }
    ADD_FAILURE() << ReadFile(output);
    return Json::object();
}

// The settings as two reads in a row give them: a reply of the daemon's taken for the tool's own
// would not give the same value twice.
Json SettingsOf(const TemporaryDirectory& directory, const VirtualReader& reader) {
    constexpr int kTries = 5;
    Json last = Cli(directory, reader, {"config"});
    for (int attempt = 0; attempt < kTries; ++attempt) {
        Json next = Cli(directory, reader, {"config"});
        if (next == last) {
            return next;
        }
        last = std::move(next);
    }
    ADD_FAILURE() << "the settings never read the same twice";
    return last;
}

Json Payload(const Message& message) {
    return Json::parse(message.payload, nullptr, false);
}

// The events of a reader's events topic of one kind, in order.
std::vector<Json> Events(const Messages& messages, const std::string& reader, const std::string& kind) {
    std::vector<Json> found;
    for (const Message& message : messages) {
        if (message.topic == "zt/t/" + reader + "/events" && Payload(message)["event"] == kind) {
            found.push_back(Payload(message));
        }
    }
    return found;
}

std::optional<Json> LastStatus(const Messages& messages, const std::string& reader) {
    for (auto message = messages.rbegin(); message != messages.rend(); ++message) {
        if (message->topic == "zt/t/" + reader + "/status") {
            return Payload(*message);
        }
    }
    return std::nullopt;
}

bool StatusSays(const Messages& messages, const std::string& reader, const std::string& key,
                const Json& value) {
    const auto status = LastStatus(messages, reader);
    return status && (*status)[key] == value;
}

TEST(DaemonManageTest, KeepsTheDeclaredSettingsOrReportsTheirDrift) {
    Broker broker;
    TemporaryDirectory directory;
    VirtualReader gate1(directory, "gate-1", "1");
    VirtualReader gate2(directory, "gate-2", "2");
    // gate-1 takes its buzzer from a profile and overrides the profile's power with its own.
    const std::string config = WriteConfig(
        directory, broker.port(),
        "[[profile]]\nname = \"dock-door\"\n[profile.settings]\npower = 26\nbuzzer = \"off\"\n",
        {{&gate1, "profile = \"dock-door\"\nsettings_check_s = 1\n[reader.settings]\npower = 20\n"},
         {&gate2, "settings_check_s = 1\nsettings_enforce = false\n[reader.settings]\npower = 20\n"}});
    Subscriber consumer(broker.port(), "zt/#");
    Zendrikd daemon(config, directory);
    ASSERT_TRUE(daemon.Ready()) << daemon.log();
    // Commands are off: nobody listens on the command topics.
    consumer.Publish("zt/t/gate-1/cmd", R"({"id":"unheard","command":"info"})");

    // On connecting: gate-1 (at its factory power 33) written, gate-2 only reported.
    ASSERT_TRUE(consumer.WaitFor(
        [](const Messages& m) {
            return !Events(m, "gate-1", "settings-applied").empty() &&
                   StatusSays(m, "gate-2", "settings", "drifted");
        },
        kReplyWait))
        << daemon.log();
    Messages seen = consumer.messages();
    // On the merged values: the reader's power over the profile's 26, the profile's buzzer.
    const Json drift = Events(seen, "gate-1", "settings-drift").at(0);
    EXPECT_EQ(drift["differences"]["power"], (Json{{"want", 20}, {"have", 33}, {"source", "reader"}}));
    EXPECT_EQ(drift["differences"]["buzzer"], (Json{{"want", "off"}, {"have", "on"}, {"source", "profile"}}));
    const Json applied = Events(seen, "gate-1", "settings-applied").at(0);
    EXPECT_EQ(applied["written"], (Json{{"power", 20}, {"buzzer", "off"}}));
    EXPECT_EQ(applied["sources"], (Json{{"power", "reader"}, {"buzzer", "profile"}}));
    EXPECT_EQ(SettingsOf(directory, gate1)["buzzer"], "off");
    EXPECT_EQ((*LastStatus(seen, "gate-1"))["profile"], "dock-door");
    EXPECT_FALSE(LastStatus(seen, "gate-2")->contains("profile"));
    EXPECT_GT(Events(seen, "gate-1", "settings-applied").at(0)["seq"], drift["seq"]);
    EXPECT_EQ(SettingsOf(directory, gate1)["power"], 20);
    EXPECT_EQ((*LastStatus(seen, "gate-2"))["drift"],
              (Json{{"power", {{"want", 20}, {"have", 33}, {"source", "reader"}}}}));
    EXPECT_EQ(SettingsOf(directory, gate2)["power"], 33) << "report only: never written";
    ASSERT_TRUE(
        consumer.WaitFor([](const Messages& m) { return StatusSays(m, "gate-1", "settings", "in-sync"); }));
    EXPECT_FALSE(LastStatus(consumer.messages(), "gate-1")->contains("drift"));

    // Changed beside the daemon: found within the check interval and written back.
    Cli(directory, gate1, {"set", "power=25"});
    const Json changed{{"power", {{"want", 20}, {"have", 25}, {"source", "reader"}}}};
    ASSERT_TRUE(consumer.WaitFor(
        [&](const Messages& m) {
            const std::vector<Json> drifts = Events(m, "gate-1", "settings-drift");
            return std::any_of(drifts.begin(), drifts.end(),
                               [&](const Json& d) { return d["differences"] == changed; }) &&
                   StatusSays(m, "gate-1", "settings", "in-sync");
        },
        kReplyWait))
        << daemon.log();
    EXPECT_EQ(SettingsOf(directory, gate1)["power"], 20);

    // That later checks neither write a reader in sync again nor report an unchanged drift again
    // is DesiredSettingsTest's table (in simulated check rounds).
    const Messages after = consumer.messages();
    EXPECT_TRUE(Events(after, "gate-2", "settings-applied").empty()) << "report only: never written";
    EXPECT_TRUE(OnTopicsEndingIn(after, "/reply").empty()) << "commands are off";
    daemon.process().Signal(SIGTERM);
    EXPECT_EQ(daemon.process().Wait(), 0);
}

// Requests go out on PREFIX/SITE/READER/cmd and come back on .../reply, or where asked.
class Operator {
  public:
    explicit Operator(uint16_t port) : client_(port, "#", "", "", true) {}

    // Sends and waits for the reply to `id` (the first on `topic`).
    Json Ask(const std::string& reader, const std::string& id, const std::string& request,
             const std::string& topic = "", const std::string& actor = "") {
        const std::string replyTopic = topic.empty() ? "zt/t/" + reader + "/reply" : topic;
        const std::size_t before = Replies(client_.messages(), replyTopic, id).size();
        client_.Publish("zt/t/" + reader + "/cmd", request, topic, topic.empty() ? "" : "corr-" + id, false,
                        actor);
        Json reply;
        const bool came = client_.WaitFor(
            [&](const Messages& m) {
                const std::vector<Message> replies = Replies(m, replyTopic, id);
                if (replies.size() <= before) {
                    return false;
                }
                reply = Payload(replies.back());
                reply["correlation"] = replies.back().correlation;
                return true;
            },
            kReplyWait);
        EXPECT_TRUE(came) << "no reply to " << request;
        return reply;
    }
    Json Command(const std::string& reader, const std::string& id, const std::string& command,
                 const Json& args = Json::object(), const std::string& actor = "") {
        return Ask(reader, id, Json{{"id", id}, {"command", command}, {"args", args}}.dump(), "", actor);
    }
    Subscriber& client() { return client_; }

  private:
    static std::vector<Message> Replies(const Messages& messages, const std::string& topic,
                                        const std::string& id) {
        std::vector<Message> found;
        for (const Message& message : messages) {
            const Json payload = Payload(message);
            if (message.topic == topic && payload.is_object() &&
                (payload["id"] == id || (id.empty() && payload["id"].is_null()))) {
                found.push_back(message);
            }
        }
        return found;
    }

    Subscriber client_;
};

// A refusal with its code (0: any) and a part of its words.
void ExpectRefused(const Json& reply, int code, const std::string& words) {
    EXPECT_EQ(reply["ok"], false) << reply;
    if (code != 0) {
        EXPECT_EQ(reply["error"]["code"], code) << reply;
    }
    EXPECT_NE(reply["error"]["words"].get<std::string>().find(words), std::string::npos) << reply;
}

constexpr const char* kViewerToken = "wall-screen-token-0123456789";
constexpr const char* kOperatorToken = "ops-desk-token-0123456789";
constexpr const char* kAdminToken = "chief-token-0123456789";

// [[http.token]] for a viewer ("wall-screen"), an operator ("ops-desk") and an admin ("chief"),
// their files only the daemon's user may read.
std::string TokenTables(const TemporaryDirectory& directory) {
    std::string tables;
    for (const auto& [name, role, secret] :
         {std::tuple{"wall-screen", "viewer", kViewerToken},
          std::tuple{"ops-desk", "operator", kOperatorToken}, std::tuple{"chief", "admin", kAdminToken}}) {
        const std::string file = directory.File(std::string(name) + ".token");
        std::ofstream(file) << secret << "\n";
        EXPECT_EQ(::chmod(file.c_str(), 0600), 0);
        tables += std::string("[[http.token]]\nname = \"") + name + "\"\nfile = \"" + file + "\"\nrole = \"" +
                  role + "\"\n";
    }
    return tables;
}

std::map<std::string, std::string> Bearer(const std::string& token) {
    return {{"Authorization", "Bearer " + token}};
}

// The newest entry of the audit trail (newest first) that `match` takes.
Json Newest(const Json& entries, const std::function<bool(const Json&)>& match) {
    for (const Json& entry : entries) {
        if (match(entry)) {
            return entry;
        }
    }
    ADD_FAILURE() << "no such entry in " << entries;
    return Json::object();
}

// Who did what: every command of the scenario below in the audit trail, over MQTT (with and without
// an actor), REST and the daemon's own enforcement, with the settings before and after each write,
// a failure with its code and the viewer's try to write denied; a page at a time, on the audit
// topic with its own seq, and in the journal one line each.
void CheckAuditTrail(uint16_t http, Operator& ops, const std::string& log) {
    const auto audit = [&](const std::string& query) {
        return Json::parse(
            HttpConnection(http).Request("GET", "/api/v1/audit" + query, Bearer(kViewerToken)).body);
    };
    const Json trail = audit("?limit=1000")["entries"];
    const auto of = [](const char* key, const char* value) {
        return [key, value](const Json& entry) { return entry[key] == value; };
    };
    const Json denied = trail.at(0);
    EXPECT_EQ(denied["actor"], "wall-screen");
    EXPECT_EQ(denied["path"], "rest");
    EXPECT_EQ(denied["reader"], "gate-2");
    EXPECT_EQ(denied["args"], (Json{{"power", 31}}));
    EXPECT_EQ(denied["outcome"], "denied");
    EXPECT_EQ(denied["error"],
              (Json{{"code", -301}, {"words", "wall-screen is a viewer: this needs the operator role"}}));

    const Json byDesk = Newest(trail, of("actor", "desk-7"));
    EXPECT_EQ(byDesk["path"], "mqtt");
    EXPECT_EQ(byDesk["reader"], "gate-1");
    EXPECT_EQ(byDesk["command"], "set-settings");
    EXPECT_EQ(byDesk["args"], (Json{{"power", 20}}));
    EXPECT_EQ(byDesk["before"], (Json{{"power", 33}}));
    EXPECT_EQ(byDesk["after"], (Json{{"power", 20}}));
    EXPECT_EQ(byDesk["outcome"], "ok");

    const Json factory = Newest(trail, of("command", "factory-default"));
    EXPECT_EQ(factory["actor"], "mqtt") << "a request without an actor";
    EXPECT_EQ(factory["before"]["power"], 22);
    EXPECT_EQ(factory["after"]["power"], 33);
    EXPECT_EQ(factory["after"].size(), factory["before"].size()) << "every setting";
    const Json enforced = Newest(trail, of("actor", "zendrikd"));
    EXPECT_EQ(enforced["path"], "enforcement");
    EXPECT_EQ(enforced["reader"], "gate-1");
    EXPECT_GT(enforced["id"], factory["id"]) << "the declared buzzer written over the factory's";
    EXPECT_EQ(enforced["args"], (Json{{"buzzer", "off"}}));
    EXPECT_EQ(enforced["before"], (Json{{"buzzer", factory["after"]["buzzer"]}}));
    EXPECT_NE(enforced["before"]["buzzer"], "off");
    EXPECT_EQ(enforced["after"], (Json{{"buzzer", "off"}}));

    const Json byOps =
        Newest(trail, [](const Json& e) { return e["actor"] == "ops-desk" && e["outcome"] == "ok"; });
    EXPECT_EQ(byOps["path"], "rest");
    EXPECT_EQ(byOps["reader"], "gate-2");
    EXPECT_EQ(byOps["before"], (Json{{"power", 33}}));
    EXPECT_EQ(byOps["after"], (Json{{"power", 30}}));
    const Json reload = Newest(trail, of("command", "reload"));
    EXPECT_EQ(reload["actor"], "chief");
    EXPECT_EQ(reload["reader"], nullptr);
    EXPECT_EQ(reload["outcome"], "ok");
    const Json tooHigh = Newest(trail, [](const Json& e) { return e["args"] == Json{{"power", 99}}; });
    EXPECT_EQ(tooHigh["outcome"], "failed");
    EXPECT_EQ(tooHigh["error"]["code"], -304);

    // Filtered and paged: newest first, each page going on where the one before ended.
    const Json first = audit("?reader=gate-1&limit=2");
    ASSERT_EQ(first["entries"].size(), 2u);
    const Json second = audit("?reader=gate-1&limit=2&before=" + first["next"].dump());
    ASSERT_FALSE(second["entries"].empty());
    EXPECT_GT(first["entries"][1]["id"], second["entries"][0]["id"]);
    for (const Json& entry : audit("?actor=ops-desk")["entries"]) {
        EXPECT_EQ(entry["actor"], "ops-desk");
    }

    // Published as each was completed, each entry once, with the trail's own seq.
    ASSERT_TRUE(ops.client().WaitFor(
        [&](const Messages& m) { return OnTopicsEndingIn(m, "zt/t/audit").size() >= trail.size(); }));
    const Messages published = OnTopicsEndingIn(ops.client().messages(), "zt/t/audit");
    ASSERT_EQ(published.size(), trail.size());
    std::map<int64_t, Json> publishedById;
    for (std::size_t i = 0; i < published.size(); ++i) {
        Json message = Payload(published[i]);
        EXPECT_EQ(message["seq"], i + 1);
        message.erase("seq");
        publishedById[message["id"].get<int64_t>()] = message;
    }
    for (const Json& entry : trail) {
        EXPECT_EQ(publishedById[entry["id"].get<int64_t>()], entry);
    }
    std::size_t lines = 0;
    for (std::size_t at = log.find("audit {"); at != std::string::npos; at = log.find("audit {", at + 1)) {
        ++lines;
    }
    EXPECT_EQ(lines, trail.size());
    EXPECT_EQ(log.find(kViewerToken), std::string::npos) << "never a token";
    EXPECT_EQ(log.find(kOperatorToken), std::string::npos);
}

TEST(DaemonManageTest, RunsEveryCommandOverMqttAndRefusesWhatItMustNot) {
    Broker broker;
    TemporaryDirectory directory;
    // No tag in their fields: the operator's client sees replies, statuses and events only.
    VirtualReader gate1(directory, "gate-1", "1", {});
    VirtualReader gate2(directory, "gate-2", "2", {});
    const uint16_t http = FreePort();
    const std::string tokens = TokenTables(directory);
    const std::string config =
        WriteConfig(directory, broker.port(), "[control]\ncommands = \"all\"\n",
                    {{&gate1, "[reader.settings]\nbuzzer = \"off\"\n"}, {&gate2, ""}}, http, tokens);
    Operator ops(broker.port());
    std::optional<Zendrikd> daemon;
    daemon.emplace(config, directory);
    ASSERT_TRUE(daemon->Ready()) << daemon->log();
    ASSERT_TRUE(ops.client().WaitFor(
        [](const Messages& m) { return StatusSays(m, "gate-1", "settings", "in-sync"); }, kReplyWait));

    const Json info = ops.Command("gate-1", "i-1", "info");
    EXPECT_EQ(info["ok"], true) << info;
    EXPECT_EQ(info["command"], "info");
    EXPECT_EQ(info["result"]["kind"], 0);
    EXPECT_EQ(info["result"]["serial"], "000000000000000000000001");
    EXPECT_EQ(ops.Command("gate-2", "g-1", "get-settings")["result"]["power"], 33);
    const Json set = ops.Command("gate-1", "s-1", "set-settings", {{"power", 20}}, "desk-7");
    EXPECT_EQ(set["result"]["power"], 20) << set;
    EXPECT_EQ(SettingsOf(directory, gate1)["power"], 20);
    EXPECT_EQ(ops.Command("gate-1", "c-1", "check-settings")["result"],
              (Json{{"in_sync", true}, {"differences", Json::object()}}));
    EXPECT_EQ(ops.Command("gate-2", "c-2", "check-settings")["result"]["in_sync"], true)
        << "nothing declared";

    // Refusals: nothing is sent to the reader. Those that come from reading the request alone (a
    // value neither number nor text, nothing to set, args to a command without, an unknown command,
    // unreadable JSON, an id too long) are in the table of commands_test.cpp; these need the
    // reader's configuration, its kind as it said it, or the site.
    ExpectRefused(ops.Command("gate-1", "r-1", "set-settings", {{"buzzer", "on"}, {"power", 21}}), -302,
                  "buzzer is managed by the configuration file");
    ExpectRefused(ops.Command("gate-1", "r-2", "set-settings", {{"power", 99}}), -304,
                  "power must be a number from 0 to 33");
    ExpectRefused(ops.Command("gate-1", "r-3", "set-settings", {{"powr", 9}}), -304,
                  "unknown setting \"powr\"");
    ExpectRefused(ops.Command("nobody", "r-8", "info"), -303, "no reader is named \"nobody\"");
    EXPECT_EQ(SettingsOf(directory, gate1)["power"], 20);

    // A request delivered again gets the first reply, without running twice.
    const Json once = ops.Command("gate-1", "once", "set-settings", {{"power", 21}});
    Cli(directory, gate1, {"set", "power=22"});
    const Json again = ops.Command("gate-1", "once", "set-settings", {{"power", 21}});
    EXPECT_EQ(again["result"], once["result"]);
    EXPECT_EQ(again["time"], once["time"]);
    EXPECT_EQ(SettingsOf(directory, gate1)["power"], 22);

    // The MQTT 5 response topic, with the request's Correlation Data.
    const Json answered = ops.Ask("gate-2", "v5", R"({"id":"v5","command":"info"})", "ops/replies/desk-7");
    EXPECT_EQ(answered["ok"], true);
    EXPECT_EQ(answered["correlation"], "corr-v5");

    // Stopped, a reader stays open and reports its link; unplugged then, a command waiting for it
    // fails rather than going unanswered; started, it reads again.
    EXPECT_EQ(ops.Command("gate-2", "stop-1", "stop")["result"], (Json{{"inventory", "stopped"}}));
    ASSERT_TRUE(ops.client().WaitFor(
        [](const Messages& m) { return StatusSays(m, "gate-2", "inventory", "stopped"); }));
    EXPECT_EQ((*LastStatus(ops.client().messages(), "gate-2"))["state"], "online");
    EXPECT_EQ(ops.Command("gate-2", "i-2", "info")["ok"], true);
    gate2.Unplug();
    ExpectRefused(ops.Command("gate-2", "u-1", "get-settings"), 0, "cannot be reached");
    ASSERT_TRUE(ops.client().WaitFor(
        [](const Messages& m) { return StatusSays(m, "gate-2", "state", "link-lost"); }, kReplyWait));
    gate2.Plug();
    ASSERT_TRUE(ops.client().WaitFor(
        [](const Messages& m) { return StatusSays(m, "gate-2", "state", "online"); }, kReplyWait));
    EXPECT_EQ(ops.Command("gate-2", "start-1", "start")["result"], (Json{{"inventory", "running"}}));
    ASSERT_TRUE(ops.client().WaitFor(
        [](const Messages& m) { return StatusSays(m, "gate-2", "inventory", "running"); }));

    // The factory's values, then the declared buzzer written over them.
    const std::size_t appliedBefore = Events(ops.client().messages(), "gate-1", "settings-applied").size();
    const Json factory = ops.Command("gate-1", "f-1", "factory-default");
    EXPECT_EQ(factory["result"]["power"], 33) << factory;
    ASSERT_TRUE(ops.client().WaitFor(
        [&](const Messages& m) { return Events(m, "gate-1", "settings-applied").size() > appliedBefore; },
        kReplyWait));
    EXPECT_EQ(SettingsOf(directory, gate1)["buzzer"], "off");

    // The same layer over HTTP, with its status codes.
    const auto put = [&](const std::string& reader, const std::string& body,
                         const std::string& token = kOperatorToken) {
        return HttpConnection(http)
            .Request("PUT", "/api/v1/readers/" + reader + "/settings", Bearer(token), body)
            .status;
    };
    EXPECT_EQ(put("gate-2", R"({"power":30})"), 200);
    EXPECT_EQ(put("gate-1", R"({"buzzer":"on"})"), 409);
    EXPECT_EQ(put("gate-1", R"({"power":99})"), 400);
    EXPECT_EQ(put("nobody", R"({"power":20})"), 404);
    const std::string metrics = HttpConnection(http).Request("GET", "/metrics", Bearer(kViewerToken)).body;
    EXPECT_NE(metrics.find("zendrik_settings_in_sync{reader=\"gate-1\"} 1\n"), std::string::npos) << metrics;
    EXPECT_EQ(metrics.find("zendrik_settings_in_sync{reader=\"gate-2\"}"), std::string::npos) << "unmanaged";
    const Json readers =
        Json::parse(HttpConnection(http).Request("GET", "/api/v1/readers", Bearer(kViewerToken)).body);
    EXPECT_EQ(readers.at(0)["managed_sources"], (Json{{"buzzer", "reader"}})) << readers;
    EXPECT_EQ(readers.at(1)["managed_sources"], Json::object()) << readers;
    EXPECT_EQ(Json::parse(HttpConnection(http)
                              .Request("GET", "/api/v1/readers/gate-2/settings", Bearer(kViewerToken))
                              .body),
              ops.Command("gate-2", "g-2", "get-settings")["result"]);
    // A reload as SIGHUP does it, for an admin only.
    EXPECT_EQ(HttpConnection(http).Request("POST", "/api/v1/reload", Bearer(kOperatorToken)).status, 403);
    const HttpReply reloaded = HttpConnection(http).Request("POST", "/api/v1/reload", Bearer(kAdminToken));
    EXPECT_EQ(reloaded.status, 200);
    EXPECT_EQ(Json::parse(reloaded.body), (Json{{"reloaded", true}, {"changes", "no reader changed"}}));
    EXPECT_EQ(put("gate-2", R"({"power":31})", kViewerToken), 403);
    CheckAuditTrail(http, ops, daemon->log());

    // Read-only: what only reads runs, the rest is refused.
    daemon.reset();
    const auto onlineStatuses = [](const Messages& m) {
        std::size_t count = 0;
        for (const Message& message : m) {
            count += message.topic == "zt/t/status" && Payload(message)["state"] == "online" ? 1 : 0;
        }
        return count;
    };
    const std::size_t onlineBefore = onlineStatuses(ops.client().messages());
    // A request the broker kept from before is no request of now.
    ops.client().Publish("zt/t/gate-2/cmd", R"({"id":"stale","command":"info"})", "", "", true);
    // The broker has it (and keeps it) once it comes back to the operator, who takes every topic: a
    // daemon that subscribed before then would be handed it as a request of now.
    ASSERT_TRUE(ops.client().WaitFor([](const Messages& m) {
        return std::any_of(m.begin(), m.end(), [](const Message& message) {
            return message.topic == "zt/t/gate-2/cmd" && message.payload.find("stale") != std::string::npos;
        });
    }));
    WriteConfig(directory, broker.port(), "[control]\ncommands = \"read-only\"\n",
                {{&gate1, "[reader.settings]\nbuzzer = \"off\"\n"}, {&gate2, ""}}, http, tokens);
    daemon.emplace(config, directory);
    ASSERT_TRUE(daemon->Ready()) << daemon->log();
    // Its site status comes after its subscription: requests sent from then on reach it.
    ASSERT_TRUE(ops.client().WaitFor([&](const Messages& m) { return onlineStatuses(m) > onlineBefore; }));
    EXPECT_EQ(ops.Command("gate-2", "ro-1", "get-settings")["ok"], true);
    for (const char* command : {"set-settings", "stop", "start", "factory-default"}) {
        const Json args = std::string(command) == "set-settings" ? Json{{"power", 20}} : Json::object();
        ExpectRefused(ops.Command("gate-2", std::string("ro-") + command, command, args), -301,
                      "is not allowed: [control] commands is \"read-only\"");
    }
    EXPECT_EQ(put("gate-2", R"({"power":20})"), 403);
    const Messages replies = OnTopicsEndingIn(ops.client().messages(), "/reply");
    EXPECT_TRUE(std::none_of(replies.begin(), replies.end(),
                             [](const Message& reply) { return Payload(reply)["id"] == "stale"; }));
}

// Milliseconds of the day of an event's "time" (2026-12-09T09:50:01.123Z).
int64_t MsOfDay(const std::string& time) {
    const int hours = std::stoi(time.substr(11, 2));
    const int minutes = std::stoi(time.substr(14, 2));
    const double seconds = std::stod(time.substr(17, 6));
    return (hours * 3600 + minutes * 60) * 1000LL + static_cast<int64_t>(seconds * 1000 + 0.5);
}

TEST(DaemonManageTest, PublishesOnlyWhatPassesItsFilters) {
    constexpr const char* kExcluded = "e2000000dead0000000000aa";
    constexpr const char* kOutside = "300000000000000000000001";
    constexpr int64_t kIntervalMs = 300;
    Broker broker;
    TemporaryDirectory directory;
    VirtualReader gate1(directory, "gate-1", "1", {kTag, kExcluded, kOutside});
    const std::string config = WriteConfig(directory, broker.port(), "", {{&gate1, R"(read_interval_ms = 300
epc_include = ["E200"]
epc_exclude = ["e2000000dead"]
publish = ["read", "arrived", "departed", "link-restored"]
)"}});
    Subscriber consumer(broker.port(), "zt/#");
    Zendrikd daemon(config, directory);
    ASSERT_TRUE(daemon.Ready()) << daemon.log();
    ASSERT_TRUE(consumer.WaitFor([](const Messages& m) { return OnTopicsEndingIn(m, "/reads").size() >= 6; },
                                 kReplyWait));
    gate1.Unplug();
    ASSERT_TRUE(
        consumer.WaitFor([](const Messages& m) { return StatusSays(m, "gate-1", "state", "link-lost"); }));
    gate1.Plug();
    ASSERT_TRUE(consumer.WaitFor(
        [](const Messages& m) { return !Events(m, "gate-1", "link-restored").empty(); }, kReplyWait));
    ASSERT_TRUE(
        consumer.WaitFor([](const Messages& m) { return StatusSays(m, "gate-1", "state", "online"); }));

    const Messages seen = consumer.messages();
    int64_t last = -kIntervalMs;
    for (const Message& read : OnTopicsEndingIn(seen, "/reads")) {
        const Json payload = Payload(read);
        EXPECT_EQ(payload["epc"], kTag);
        const int64_t at = MsOfDay(payload["time"]);
        EXPECT_GE(at - last, kIntervalMs) << "one read per interval";
        last = at;
    }
    for (const Json& arrived : Events(seen, "gate-1", "arrived")) {
        EXPECT_EQ(arrived["epc"], kTag) << "presence of the filtered tags only";
    }
    EXPECT_FALSE(Events(seen, "gate-1", "arrived").empty());
    EXPECT_TRUE(Events(seen, "gate-1", "link-lost").empty()) << "left out of what is published";
    const Json status = *LastStatus(seen, "gate-1");
    EXPECT_GT(status["reads"].get<uint64_t>(), 5 * status["published"].get<uint64_t>()) << status;
    EXPECT_GE(status["published"].get<uint64_t>(), 6u);
}

}  // namespace
}  // namespace zendrik::testing
