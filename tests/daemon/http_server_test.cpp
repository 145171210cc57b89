// zendrikd's HTTP server on loopback against a site of the test's own: every path and every refusal
// with its status over one kept-alive connection, the token, the request limits (a 1 MiB body,
// 200 connections, a client that sends a byte a second, an idle client), TLS with a certificate
// made here, the event stream to several clients at once with a stalled one dropped, and the
// metrics as promtool reads them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <tuple>

#include "daemon/http/console_files.h"
#include "tests/daemon/child_process.h"
#include "tests/daemon/http_client.h"
#include "tests/daemon/http_harness.h"

namespace zendrik::testing {
namespace {

using namespace std::chrono_literals;
using daemon::CommandFailure;
using daemon::CommandOutcome;
using ::testing::HasSubstr;

constexpr const char* kToken = "s3cret-t0ken";
const std::map<std::string, std::string> kAuthorized{{"Authorization", std::string("Bearer ") + kToken}};

daemon::SiteSnapshot TwoReaders() {
    daemon::SiteSnapshot site;
    site.site = "dock-3";
    site.commands = "all";
    site.mqttConnected = true;
    daemon::ReaderSnapshot gate1;
    gate1.name = "gate-1";
    gate1.address = "usb:/dev/hidraw3";
    gate1.linkUp = true;
    gate1.statusJson = R"({"state":"online","time":"2026-01-01T00:00:00.000Z","kind":0,"version":"1.4",)"
                       R"("serial":"A1","reads":12})";
    gate1.reads = 12;
    gate1.eventsByKind = {{"read", 12}, {"arrived", 1}};
    gate1.settingsInSync = true;
    gate1.managedJson = R"({"buzzer":"off"})";
    gate1.managedSourcesJson = R"({"buzzer":"profile"})";
    gate1.roundSeconds.Observe(0.02);
    daemon::ReaderSnapshot gate2;
    gate2.name = "gate-2";
    gate2.address = "udp:192.168.1.250:27001";
    gate2.statusJson = R"({"state":"link-lost","kind":null})";
    gate2.reads = 3;
    site.readers = {gate1, gate2};
    return site;
}

// A console folder with a page, a script in a subfolder, a hidden file, and a link that points
// out of the folder.
class ConsoleFolder {
  public:
    ConsoleFolder() {
        std::filesystem::create_directories(root_.File("console/js"));
        std::ofstream(root_.File("console/index.html")) << "<!doctype html><title>zendrik</title>";
        std::ofstream(root_.File("console/js/app.js")) << "export const a = 1;";
        std::ofstream(root_.File("console/style.css")) << "body{}";
        std::ofstream(root_.File("console/.hidden")) << "no";
        std::ofstream(root_.File("outside.txt")) << "secret";
        std::filesystem::create_symlink(root_.File("outside.txt"), root_.File("console/out.txt"));
    }
    std::string path() const { return root_.File("console"); }

  private:
    TemporaryDirectory root_;
};

struct Exchange {
    const char* what;
    std::string method;
    std::string path;
    bool token;
    std::string body;
    int status;
    std::string inBody;       // a part of the body; empty: not checked
    std::string contentType;  // a part of the type; empty: not checked
};

TEST(HttpServerTest, AnswersEveryPathWithItsStatusOverOneConnection) {
    ConsoleFolder console;
    daemon::HttpConfig config;
    config.token = kToken;
    config.consoleDir = console.path();
    ServerUnderTest server(config, {}, TwoReaders());
    server.loop().Call([&] {
        auto& outcomes = server.site().outcomes;
        outcomes["gate-1 get-settings"] = {CommandFailure::kNone, R"({"reader-kind":0,"power":26})", 0, ""};
        outcomes["gate-1 set-settings"] = {CommandFailure::kNone, R"({"power":20})", 0, ""};
        outcomes["gate-1 start"] = {CommandFailure::kNone, R"({"inventory":"running"})", 0, ""};
        outcomes["gate-2 set-settings"] = {CommandFailure::kBadRequest, "", -304,
                                           "power must be from 0 to 33, not 40; nothing was written"};
        outcomes["gate-2 start"] = {CommandFailure::kManaged, "", -302,
                                    "buzzer is managed by the configuration file"};
        outcomes["gate-2 stop"] = {CommandFailure::kForbidden, "", -301, "commands are off"};
        outcomes["gate-2 factory-default"] = {CommandFailure::kUnreachable, "", -2,
                                              "the reader is not reachable"};
        outcomes["gate-1 factory-default"] = {CommandFailure::kRefused, "", -11, "the reader refused"};
        outcomes["gate-1 stop"] = {CommandFailure::kBusy, "", 0, "too many commands wait"};
    });
    const std::vector<Exchange> exchanges{
        {"health needs no token", "GET", "/healthz", false, "", 200, R"({"state":"ok"})", "application/json"},
        {"HEAD as GET", "HEAD", "/healthz", false, "", 200, "", "application/json"},
        {"metrics without token", "GET", "/metrics", false, "", 401, "token", ""},
        {"token in the query only for the stream", "GET", std::string("/metrics?token=") + kToken, false, "",
         401, "", ""},
        {"metrics", "GET", "/metrics", true, "", 200, "zendrik_reads_total{reader=\"gate-2\"} 3",
         "text/plain; version=0.0.4"},
        {"site", "GET", "/api/v1/site", true, "", 200,
         R"({"site":"dock-3","commands":"all","readers":2,"mqtt":"connected","event_kinds":["read","arrived",)"
         R"("departed","link-lost","link-restored","link-up","settings-drift","settings-applied",)"
         R"("settings-failed","spool-lost","zone-entered","zone-left","passage"],"doors":[]})",
         ""},
        {"readers: name, status, address, managed and where from", "GET", "/api/v1/readers", true, "", 200,
         R"({"name":"gate-1","state":"online","time":"2026-01-01T00:00:00.000Z","kind":0,"version":"1.4",)"
         R"("serial":"A1","reads":12,"address":"usb:/dev/hidraw3","managed":{"buzzer":"off"},)"
         R"("managed_sources":{"buzzer":"profile"}})",
         ""},
        {"one reader", "GET", "/api/v1/readers/gate-2", true, "", 200,
         R"("name":"gate-2","state":"link-lost")", ""},
        {"unknown reader", "GET", "/api/v1/readers/gate-9", true, "", 404, R"(no reader named \"gate-9\")",
         ""},
        {"settings", "GET", "/api/v1/readers/gate-1/settings", true, "", 200, R"("power":26)", ""},
        {"settings written", "PUT", "/api/v1/readers/gate-1/settings", true, R"({"power": 20})", 200,
         R"({"power":20})", ""},
        {"a body that is not an object", "PUT", "/api/v1/readers/gate-1/settings", true, "[1,2", 400,
         "JSON object", ""},
        {"a bad value", "PUT", "/api/v1/readers/gate-2/settings", true, R"({"power":40})", 400,
         R"({"error":"power must be from 0 to 33, not 40; nothing was written","code":-304})", ""},
        {"schema of the reader's kind", "GET", "/api/v1/readers/gate-1/settings/schema", true, "", 200,
         R"("power":{"type":"integer","min":0,"max":33})", ""},
        {"schema before the kind is known", "GET", "/api/v1/readers/gate-2/settings/schema", true, "", 503,
         "kind", ""},
        {"start, answered later", "POST", "/api/v1/readers/gate-1/inventory/start", true, "", 200,
         R"({"inventory":"running"})", ""},
        {"managed", "POST", "/api/v1/readers/gate-2/inventory/start", true, "", 409, "managed", ""},
        {"forbidden", "POST", "/api/v1/readers/gate-2/inventory/stop", true, "", 403, "commands are off", ""},
        {"unreachable", "POST", "/api/v1/readers/gate-2/factory-default", true, "", 503, "not reachable", ""},
        {"refused by the reader", "POST", "/api/v1/readers/gate-1/factory-default", true, "", 502, "refused",
         ""},
        {"busy", "POST", "/api/v1/readers/gate-1/inventory/stop", true, "", 429, "wait", ""},
        {"command to an unknown reader", "POST", "/api/v1/readers/gate-9/inventory/start", true, "", 404, "",
         ""},
        {"wrong method", "DELETE", "/api/v1/readers/gate-1", true, "", 405, "GET, HEAD", ""},
        {"GET on a POST path", "GET", "/api/v1/readers/gate-1/inventory/start", true, "", 405, "POST", ""},
        {"no such path", "GET", "/api/v1/nothing", true, "", 404, "error", ""},
        {"stream of an unknown reader", "GET", "/api/v1/events?reader=gate-9", true, "", 404, "gate-9", ""},
        {"console page without token", "GET", "/", false, "", 200, "<title>zendrik</title>", "text/html"},
        {"console script", "GET", "/console/js/app.js", false, "", 200, "export", "text/javascript"},
        {"console style", "GET", "/console/style.css", false, "", 200, "body", "text/css"},
        {"climbing out", "GET", "/console/../outside.txt", false, "", 404, "", ""},
        {"climbing out, escaped", "GET", "/console/%2e%2e/outside.txt", false, "", 404, "", ""},
        {"a link out of the folder", "GET", "/console/out.txt", false, "", 404, "", ""},
        {"a hidden file", "GET", "/console/.hidden", false, "", 404, "", ""},
        {"a missing file", "GET", "/console/none.js", false, "", 404, "", ""},
        {"a header past 8 KiB", "GET", "/api/v1/site", true, "", 431, "", ""},
    };
    HttpConnection connection(server.port());
    for (const Exchange& exchange : exchanges) {
        SCOPED_TRACE(exchange.what);
        std::map<std::string, std::string> headers =
            exchange.token ? kAuthorized : std::map<std::string, std::string>{};
        if (exchange.status == 431) {
            headers["X-Padding"] = std::string(9000, 'p');
        }
        const HttpReply reply = connection.Request(exchange.method, exchange.path, headers, exchange.body);
        ASSERT_EQ(reply.status, exchange.status) << reply.body;
        EXPECT_THAT(reply.body, HasSubstr(exchange.inBody));
        EXPECT_THAT(reply.headers.count("content-type") ? reply.headers.at("content-type") : "",
                    HasSubstr(exchange.contentType));
        if (exchange.status == 401) {
            EXPECT_EQ(reply.headers.count("www-authenticate"), 1u);
        }
        if (exchange.status == 405) {
            EXPECT_THAT(reply.headers.at("allow"), HasSubstr(exchange.inBody));
        }
    }
    const auto calls = server.loop().Call([&] { return server.site().calls; });
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[0].command, "get-settings");
    EXPECT_EQ(calls[1].command, "set-settings");
    EXPECT_EQ(calls[1].settings, (std::vector<daemon::SettingValue>{{"power", "20"}}));
    // A command the site answers before RunCommand returns.
    server.loop().Call([&] { server.site().atOnce = true; });
    EXPECT_EQ(connection.Request("POST", "/api/v1/readers/gate-1/inventory/start", kAuthorized).status, 200);
    for (const auto& [given, status] :
         std::vector<std::pair<std::string, int>>{{"", 401},
                                                  {"Bearer wrong", 401},
                                                  {std::string("Bearer ") + kToken + "x", 401},
                                                  {std::string("Basic ") + kToken, 401},
                                                  {std::string("Bearer ") + kToken, 200}}) {
        SCOPED_TRACE(given);
        EXPECT_EQ(connection.Request("GET", "/api/v1/site", {{"Authorization", given}}).status, status);
    }
}

// Every path against every kind of caller: no token, a token nobody holds, and a viewer, an
// operator and an admin of [[http.token]] (the admin the single [http] token, named "token").
// A known caller of too low a role gets 403 naming the role needed, recorded as denied with its
// name and path; whoami says who the token belongs to and never the token.
TEST(HttpServerTest, AnswersEveryPathByTheCallersRole) {
    daemon::HttpConfig config;
    config.token = kToken;
    config.tokens = {{"wall-screen", "", daemon::AccessRole::kViewer, 0, "viewer-token-0123456789"},
                     {"ops-desk", "", daemon::AccessRole::kOperator, 0, "operator-token-0123456789"}};
    ConsoleFolder console;
    config.consoleDir = console.path();
    ServerUnderTest server(config, {}, TwoReaders());
    server.loop().Call([&] { server.site().atOnce = true; });
    enum Caller { kNone, kUnknown, kViewer, kOperator, kAdmin, kCallers };
    const std::array<std::string, kCallers> secrets{"", "nobody-holds-this-token", "viewer-token-0123456789",
                                                    "operator-token-0123456789", kToken};
    const std::array<std::string, kCallers> names{"", "", "wall-screen", "ops-desk", "token"};
    const std::array<std::size_t, kCallers> kActions{0, 0, 1, 3, 5};  // what whoami says each may do
    struct Row {
        std::string method;
        std::string path;
        std::array<int, kCallers> status;  // by caller
        std::string needed = "";           // the role a 403 names
    };
    constexpr int k401 = 401;
    const std::vector<Row> rows{
        {"GET", "/healthz", {200, 200, 200, 200, 200}},
        {"GET", "/", {200, 200, 200, 200, 200}},
        {"GET", "/console/style.css", {200, 200, 200, 200, 200}},
        {"GET", "/metrics", {k401, k401, 200, 200, 200}},
        {"GET", "/api/v1/site", {k401, k401, 200, 200, 200}},
        {"GET", "/api/v1/readers", {k401, k401, 200, 200, 200}},
        {"GET", "/api/v1/readers/gate-1", {k401, k401, 200, 200, 200}},
        {"GET", "/api/v1/readers/gate-1/settings", {k401, k401, 200, 200, 200}},
        {"GET", "/api/v1/readers/gate-1/settings/schema", {k401, k401, 200, 200, 200}},
        {"GET", "/api/v1/events?reader=gate-9", {k401, k401, 404, 404, 404}},
        {"GET", "/api/v1/whoami", {k401, k401, 200, 200, 200}},
        {"GET", "/api/v1/audit?reader=gate-1&limit=5", {k401, k401, 200, 200, 200}},
        {"PUT", "/api/v1/readers/gate-1/settings", {k401, k401, 403, 200, 200}, "operator"},
        {"POST", "/api/v1/readers/gate-1/inventory/start", {k401, k401, 403, 200, 200}, "operator"},
        {"POST", "/api/v1/readers/gate-1/inventory/stop", {k401, k401, 403, 200, 200}, "operator"},
        {"POST", "/api/v1/readers/gate-1/factory-default", {k401, k401, 403, 403, 200}, "admin"},
        {"POST", "/api/v1/reload", {k401, k401, 403, 403, 200}, "admin"},
    };
    HttpConnection connection(server.port());
    std::size_t refusals = 0;
    for (const Row& row : rows) {
        for (int caller = kNone; caller < kCallers; ++caller) {
            SCOPED_TRACE(row.method + " " + row.path + " as caller " + std::to_string(caller));
            std::map<std::string, std::string> headers;
            if (caller != kNone) {
                headers["Authorization"] = "Bearer " + secrets[caller];
            }
            const std::string body = row.method == "PUT" ? R"({"power":20})" : "";
            // A refusal before its body is read ends the connection: each request has its own.
            const HttpReply reply =
                HttpConnection(server.port()).Request(row.method, row.path, headers, body);
            ASSERT_EQ(reply.status, row.status[caller]) << reply.body;
            if (reply.status == 403) {
                ++refusals;
                const std::string role = caller == kViewer ? "a viewer" : "an operator";
                EXPECT_THAT(reply.body, HasSubstr(names[caller] + " is " + role + ": this needs the " +
                                                  row.needed + " role"));
                EXPECT_THAT(reply.body, HasSubstr(R"("role":")" + row.needed + "\""));
            }
            if (row.path == "/api/v1/whoami" && reply.status == 200) {
                const auto whoami = nlohmann::json::parse(reply.body);
                EXPECT_EQ(whoami["name"], names[caller]);
                EXPECT_EQ(whoami["may"].size(), kActions[caller]);
                EXPECT_EQ(reply.body.find(secrets[caller]), std::string::npos);
            }
        }
    }
    // The stream takes the token in its query: the holder's role holds there too.
    EXPECT_EQ(connection.Request("GET", "/api/v1/events?reader=gate-9&token=" + secrets[kViewer], {}).status,
              404);
    EXPECT_EQ(connection.Request("GET", "/api/v1/events?reader=gate-9&token=nobody", {}).status, 401);
    // The console says it is the console: its commands are recorded as the console's.
    EXPECT_EQ(
        connection
            .Request("POST", "/api/v1/readers/gate-1/inventory/start",
                     {{"Authorization", "Bearer " + secrets[kOperator]}, {"X-Zendrik-Client", "console"}})
            .status,
        200);
    const auto [callers, denied, queries] = server.loop().Call([&] {
        return std::make_tuple(server.site().callers, server.site().denied, server.site().auditQueries);
    });
    ASSERT_EQ(denied.size(), refusals);
    EXPECT_EQ(denied.front().caller, (daemon::Caller{"wall-screen", "rest"}));
    EXPECT_EQ(denied.front().command, "set-settings");
    EXPECT_EQ(denied.front().reader, "gate-1");
    EXPECT_EQ(denied.front().argsJson, R"({"power":20})") << "the body read for the audit trail";
    EXPECT_EQ(denied.back().command, "reload");
    EXPECT_EQ(denied.back().words, "ops-desk is an operator: this needs the admin role");
    EXPECT_EQ(callers.back(), (daemon::Caller{"ops-desk", "console"}));
    ASSERT_EQ(queries.size(), 3u);
    EXPECT_EQ(queries[0].reader, "gate-1");
    EXPECT_EQ(queries[0].limit, 5u);

    // The audit query's refusals.
    const std::map<std::string, std::string> admin{{"Authorization", std::string("Bearer ") + kToken}};
    for (const char* query : {"limit=0", "limit=1001", "limit=x", "since=yesterday", "before=-1"}) {
        SCOPED_TRACE(query);
        EXPECT_EQ(connection.Request("GET", std::string("/api/v1/audit?") + query, admin).status, 400);
    }
    EXPECT_EQ(
        connection.Request("GET", "/api/v1/audit?since=2026-12-10T08:00:00.000Z&before=7", admin).status,
        200);
    const auto last = server.loop().Call([&] { return server.site().auditQueries.back(); });
    EXPECT_EQ(last.sinceMs, 1796889600000);
    EXPECT_EQ(last.beforeId, 7);
}

// Where the console is looked for: the folder named alone, else the installed one and then the one
// beside the program; the first that has the page. A server without it says where it looked.
TEST(HttpServerTest, FindsItsConsoleOrSaysWhereItLooked) {
    ConsoleFolder console;
    TemporaryDirectory empty;
    const std::string program = std::filesystem::path(console.path()).parent_path() / "zendrikd";
    struct Lookup {
        const char* what;
        std::string named;
        std::string installed;
        std::vector<std::string> looked;
        std::optional<std::string> found;
    };
    const std::vector<Lookup> lookups{
        {"named on the command line", console.path(), empty.path(), {console.path()}, console.path()},
        {"named, without the page: no other", empty.path(), console.path(), {empty.path()}, std::nullopt},
        {"installed", "", console.path(), {console.path(), console.path()}, console.path()},
        {"beside the program (a build tree)",
         "",
         empty.path(),
         {empty.path(), console.path()},
         console.path()},
        {"nowhere", "", empty.path() + "/none", {empty.path() + "/none", console.path()}, console.path()},
    };
    for (const Lookup& lookup : lookups) {
        SCOPED_TRACE(lookup.what);
        const std::vector<std::string> folders =
            daemon::ConsoleFolders(lookup.named, lookup.installed, program);
        EXPECT_EQ(folders, lookup.looked);
        EXPECT_EQ(daemon::FolderWithConsole(folders), lookup.found);
    }
    EXPECT_EQ(daemon::FolderWithConsole({empty.path(), empty.path() + "/none"}), std::nullopt);
    EXPECT_EQ(std::filesystem::path(daemon::ProgramPath()).filename(), "daemon_http_test");

    daemon::HttpConfig config;
    config.consoleDir = empty.path();
    config.consoleLooked = {empty.path(), "/nowhere/console"};
    ServerUnderTest server(config);
    HttpConnection connection(server.port());
    const HttpReply page = connection.Request("GET", "/", {});
    EXPECT_EQ(page.status, 404);
    EXPECT_THAT(page.headers.at("content-type"), HasSubstr("text/plain"));
    for (const std::string& part :
         {empty.path(), std::string("/nowhere/console"), std::string("--console-dir")}) {
        EXPECT_THAT(page.body, HasSubstr(part));
    }
    EXPECT_THAT(connection.Request("GET", "/console/app.js", {}).body, HasSubstr("no file app.js"));
}

// Every limit on one server: the loop answers others while a client is slow, idle or greedy.
TEST(HttpServerTest, BoundsEveryRequestAndKeepsAnsweringOthers) {
    daemon::HttpLimits limits;
    // Well beyond the slow client's second between bytes, also on a loaded machine where each of its
    // health checks may take a while; within the connections' own 10 s bound.
    limits.idleTimeout = 5s;
    ServerUnderTest server({}, limits, TwoReaders());
    const auto healthy = [&] {
        return HttpConnection(server.port()).Request("GET", "/healthz").status == 200;
    };

    // A 1 MiB body is refused from its announced length, without being read.
    HttpConnection greedy(server.port());
    ASSERT_TRUE(greedy.Send("PUT /api/v1/readers/gate-1/settings HTTP/1.1\r\nHost: x\r\nContent-Length: " +
                            std::to_string(1 << 20) + "\r\n\r\n"));
    EXPECT_EQ(greedy.ReadHead().status, 413);
    greedy.Send(std::string(1 << 20, '{'));
    EXPECT_TRUE(healthy());
    // A body without a length that grows past the limit ends its connection.
    HttpConnection chunked(server.port());
    ASSERT_TRUE(
        chunked.Send("PUT /api/v1/readers/gate-1/settings HTTP/1.1\r\nHost: x\r\n"
                     "Transfer-Encoding: chunked\r\n\r\n"));
    for (int piece = 0; piece < 20 && chunked.Send("1000\r\n" + std::string(0x1000, ' ') + "\r\n"); ++piece) {
    }
    EXPECT_TRUE(chunked.WaitClosed());

    // A client that sends a byte a second holds its connection, nothing else.
    HttpConnection slow(server.port());
    const std::string request = "GET /healthz HTTP/1.1\r\nHost: x\r\n\r\n";
    for (std::size_t i = 0; i < 3; ++i) {
        ASSERT_TRUE(slow.Send(request.substr(i, 1)));
        EXPECT_TRUE(healthy());
        std::this_thread::sleep_for(1s);
    }
    ASSERT_TRUE(slow.Send(request.substr(3)));
    EXPECT_EQ(slow.ReadReply().status, 200);

    // A site that fails closes the one connection that asked.
    server.loop().Call([&] { server.site().failing = true; });
    EXPECT_EQ(HttpConnection(server.port()).Request("GET", "/healthz").status, 0);
    server.loop().Call([&] { server.site().failing = false; });
    EXPECT_TRUE(healthy());

    // A connection that sends nothing is closed after the idle time.
    HttpConnection idle(server.port());
    EXPECT_TRUE(idle.WaitClosed());

    // 200 clients at once: every one answered, never more than the limit open together.
    std::vector<std::unique_ptr<HttpConnection>> crowd;
    for (int i = 0; i < 200; ++i) {
        crowd.push_back(std::make_unique<HttpConnection>(server.port()));
        ASSERT_TRUE(
            crowd.back()->Send("GET /api/v1/readers HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n"));
    }
    int answered = 0;
    for (auto& client : crowd) {
        answered += client->ReadReply().status == 200 ? 1 : 0;
    }
    EXPECT_EQ(answered, 200);
    EXPECT_LE(server.loop().Call([&] { return server.server().peakConnections(); }), limits.connections);
    EXPECT_TRUE(healthy());
}

// Runs a program to its end: its exit status; what it wrote goes to `log`.
int RunToEnd(const std::vector<std::string>& argv, const std::string& log) {
    return ChildProcess(argv, log).Wait();
}

TEST(HttpServerTest, ServesHttpsWithTheConfiguredCertificate) {
    TemporaryDirectory directory;
    const std::string cert = directory.File("cert.pem");
    const std::string key = directory.File("key.pem");
    ASSERT_EQ(RunToEnd({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                        "ec_paramgen_curve:prime256v1", "-nodes", "-days", "1", "-subj", "/CN=127.0.0.1",
                        "-addext", "subjectAltName=IP:127.0.0.1", "-keyout", key, "-out", cert},
                       directory.File("openssl.log")),
              0)
        << ReadFile(directory.File("openssl.log"));
    daemon::HttpConfig config;
    config.token = kToken;
    config.certFile = cert;
    config.keyFile = key;
    ServerUnderTest server(config, {}, TwoReaders());
    const std::string base = "https://127.0.0.1:" + std::to_string(server.port());
    const auto fetch = [&](const std::string& path, const std::vector<std::string>& extra) {
        const std::string out = directory.File("curl.out");
        std::vector<std::string> argv{"curl",     "--silent", "--show-error", "--cacert",     cert,
                                      "--output", out,        "--write-out",  "%{http_code}", base + path};
        argv.insert(argv.end(), extra.begin(), extra.end());
        const std::string log = directory.File("curl.log");
        std::filesystem::remove(log);
        const int status = RunToEnd(argv, log);
        return std::make_pair(status == 0 ? ReadFile(log) : "curl failed: " + ReadFile(log), ReadFile(out));
    };
    EXPECT_EQ(fetch("/healthz", {}), std::make_pair(std::string("200"), std::string(R"({"state":"ok"})")));
    EXPECT_EQ(fetch("/api/v1/site", {}).first, "401");
    EXPECT_EQ(fetch("/api/v1/site", {"--header", std::string("Authorization: Bearer ") + kToken}).first,
              "200");
    // Plain HTTP to the TLS port gets no answer.
    EXPECT_EQ(HttpConnection(server.port(), 2s).Request("GET", "/healthz").status, 0);
}

std::string ReadJson(const std::string& reader, uint64_t seq) {
    return R"({"event":"read","reader":")" + reader + R"(","seq":)" + std::to_string(seq) +
           R"(,"time":"2026-01-01T00:00:00.000Z","epc":"e2003412012345678901abcd","card":"03430008","count":1})";
}

// Two readers' events to two clients at once (one of them filtered), each event once and in
// order with its id; a third client that never reads is dropped when it falls a buffer behind,
// and its memory goes with it.
TEST(HttpServerTest, StreamsEachEventOnceToEveryClientAndDropsOneThatStalls) {
    daemon::HttpConfig config;
    config.token = kToken;
    daemon::HttpLimits limits;
    limits.streamBufferBytes = 32 * 1024;
    limits.keepAliveInterval = 100ms;
    ServerUnderTest server(config, limits, TwoReaders());
    const auto clients = [&] {
        return server.loop().Call([&] { return server.server().stream().clients(); });
    };

    EXPECT_EQ(HttpConnection(server.port()).Request("GET", "/api/v1/events").status, 401);
    EventStreamClient all(server.port(), std::string("/api/v1/events?token=") + kToken, {});
    EventStreamClient gate1(server.port(), "/api/v1/events?reader=gate-1", kAuthorized);
    HttpConnection stalled(server.port(), 10s, 2048);
    ASSERT_TRUE(stalled.Send("GET /api/v1/events HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer " +
                             std::string(kToken) + "\r\n\r\n"));
    ASSERT_TRUE(WaitUntil([&] { return clients() == 3; }));
    EXPECT_TRUE(
        all.WaitFor([](const EventStreamClient& c) { return c.status() == 200 && c.comments() > 0; }));

    constexpr uint64_t kBatch = 50;
    constexpr uint64_t kBatchesAtMost = 400;
    uint64_t seq = 0;
    for (uint64_t batch = 0; batch < kBatchesAtMost; ++batch) {
        const bool dropped = server.loop().Call([&] {
            for (uint64_t i = 0; i < kBatch; ++i) {
                const std::string reader = i % 2 == 0 ? "gate-1" : "gate-2";
                const uint64_t readerSeq = seq + i / 2 + 1;
                server.server().PublishEvent(reader, readerSeq, "read", ReadJson(reader, readerSeq));
            }
            return server.server().stream().droppedClients() > 0;
        });
        seq += kBatch / 2;
        ASSERT_TRUE(all.WaitFor([&](const EventStreamClient& c) { return c.frames().size() == 2 * seq; }));
        ASSERT_TRUE(gate1.WaitFor([&](const EventStreamClient& c) { return c.frames().size() == seq; }));
        if (dropped) {
            break;
        }
    }
    EXPECT_EQ(server.loop().Call([&] { return server.server().stream().droppedClients(); }), 1u);
    EXPECT_TRUE(stalled.WaitClosed());
    EXPECT_TRUE(WaitUntil([&] { return clients() == 2; }));
    EXPECT_LE(server.loop().Call([&] { return server.server().stream().bufferedBytes(); }),
              2 * 4 * limits.streamBufferBytes);

    for (uint64_t n = 0; n < seq; ++n) {
        for (const std::string reader : {"gate-1", "gate-2"}) {
            const auto& frame = all.frames()[2 * n + (reader == "gate-1" ? 0 : 1)];
            ASSERT_EQ(frame.id, reader + ":" + std::to_string(n + 1));
            ASSERT_EQ(frame.event, "read");
            ASSERT_EQ(frame.data, ReadJson(reader, n + 1));
        }
        ASSERT_EQ(gate1.frames()[n].id, "gate-1:" + std::to_string(n + 1));
    }

    // A command still waiting when the server stops is answered by nobody; its late completion
    // finds the server gone.
    server.loop().Call([&] { server.site().hold = true; });
    HttpConnection waiting(server.port());
    ASSERT_TRUE(
        waiting.Send("POST /api/v1/readers/gate-1/inventory/stop HTTP/1.1\r\nHost: x\r\n"
                     "Authorization: Bearer " +
                     std::string(kToken) + "\r\n\r\n"));
    EXPECT_TRUE(
        WaitUntil([&] { return server.loop().Call([&] { return server.site().calls.size(); }) == 1; }));
}

// Every family, also those a site of virtual readers does not give yet (a managed reader's
// settings_in_sync, a link-lost reader without a kind), as promtool reads the format.
TEST(HttpServerTest, PromtoolFindsTheMetricsClean) {
    daemon::HttpConfig config;
    config.token = kToken;
    ServerUnderTest server(config, {}, TwoReaders());
    TemporaryDirectory directory;
    const HttpReply metrics = HttpConnection(server.port()).Request("GET", "/metrics", kAuthorized);
    ASSERT_EQ(metrics.status, 200);
    EXPECT_THAT(metrics.body, HasSubstr("zendrik_settings_in_sync{reader=\"gate-1\"} 1"));
    std::ofstream(directory.File("metrics.txt")) << metrics.body;
    const std::string promtoolLog = directory.File("promtool.log");
    EXPECT_EQ(
        RunToEnd({"sh", "-c", "promtool check metrics < " + directory.File("metrics.txt")}, promtoolLog), 0)
        << ReadFile(promtoolLog);
    EXPECT_EQ(ReadFile(promtoolLog), "");
}

}  // namespace
}  // namespace zendrik::testing
