#pragma once

#include <sys/eventfd.h>
#include <unistd.h>

#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "daemon/http/http_server.h"
#include "daemon/http/site_api.h"
#include "daemon/loop/event_loop.h"

namespace zendrik::testing {

// The daemon's loop on a thread of its own, with a queue of tasks that run on it: the test's
// thread makes requests while the loop serves them.
class LoopThread {
  public:
    LoopThread() : wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
        tasks_ = loop_.AddIo(wake_, EPOLLIN, [this](uint32_t) { RunTasks(); });
        thread_ = std::thread([this] { loop_.Run(); });
    }
    ~LoopThread() {
        Post([this] { loop_.Exit(0); });
        thread_.join();
        tasks_ = daemon::EventSource();
        ::close(wake_);
    }

    daemon::EventLoop& loop() { return loop_; }

    void Post(std::function<void()> task) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            queue_.push_back(std::move(task));
        }
        const uint64_t one = 1;
        (void)!::write(wake_, &one, sizeof one);
    }

    // Runs `task` on the loop and waits for it; its exception comes out here.
    template <typename Task>
    auto Call(Task task) -> decltype(task()) {
        std::packaged_task<decltype(task())()> packaged(std::move(task));
        auto result = packaged.get_future();
        Post([&packaged] { packaged(); });
        return result.get();
    }

  private:
    void RunTasks() {
        uint64_t count = 0;
        (void)!::read(wake_, &count, sizeof count);
        std::vector<std::function<void()>> tasks;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            tasks.swap(queue_);
        }
        for (auto& task : tasks) {
            task();
        }
    }

    daemon::EventLoop loop_;
    int wake_;
    daemon::EventSource tasks_;
    std::mutex mutex_;
    std::vector<std::function<void()>> queue_;
    std::thread thread_;
};

// A site of the test's own: a snapshot it is given, and commands answered from a table of
// outcomes by command name, later on the loop (as a reader's answer comes) unless `atOnce`.
class FakeSite : public daemon::SiteApi {
  public:
    struct Call {
        std::string reader;
        std::string command;
        std::vector<daemon::SettingValue> settings;  // as the edge read them
    };

    explicit FakeSite(daemon::EventLoop& loop) : later_(loop.AddTimer([this] { Flush(); })) {}
    // A command held until now completes after the server has gone, as a reader's late answer can.
    ~FakeSite() override {
        for (auto& [done, outcome] : held_) {
            done(outcome);
        }
    }

    daemon::SiteSnapshot Snapshot() const override {
        if (failing) {
            throw std::runtime_error("the site failed");
        }
        return snapshot;
    }

    void RunCommand(const std::string& reader, const daemon::Command& typed,
                    std::function<void(const daemon::CommandOutcome&)> done) override {
        const std::string command(daemon::CommandName(typed.kind));
        calls.push_back({reader, command, typed.settings});
        daemon::CommandOutcome outcome;
        if (std::find_if(snapshot.readers.begin(), snapshot.readers.end(),
                         [&](const daemon::ReaderSnapshot& r) { return r.name == reader; }) ==
            snapshot.readers.end()) {
            outcome = {daemon::CommandFailure::kUnknownReader, "", daemon::kCodeUnknownReader,
                       "no reader " + reader};
        } else if (const auto found = outcomes.find(reader + " " + command); found != outcomes.end()) {
            outcome = found->second;
        }
        if (atOnce) {
            done(outcome);
            return;
        }
        if (hold) {
            held_.emplace_back(std::move(done), outcome);
            return;
        }
        waiting_.emplace_back(std::move(done), outcome);
        later_.ArmIn(std::chrono::milliseconds{1});
    }
    void RunCommand(const std::string& reader, const daemon::Command& typed, const daemon::Caller& caller,
                    std::function<void(const daemon::CommandOutcome&)> done) override {
        callers.push_back(caller);
        RunCommand(reader, typed, std::move(done));
    }
    void NoteDenied(const daemon::AuditStart& start, const std::string& words) override {
        denied.push_back({start.caller, start.reader, start.command, start.argsJson, words});
    }
    daemon::CommandOutcome Reload(const daemon::Caller& caller) override {
        callers.push_back(caller);
        return {daemon::CommandFailure::kNone, R"({"reloaded":true,"changes":"no reader changed"})", 0, ""};
    }
    std::optional<daemon::AuditPage> Audit(const daemon::AuditQuery& query) override {
        auditQueries.push_back(query);
        return daemon::AuditPage{};
    }

    daemon::SiteSnapshot snapshot;
    std::map<std::string, daemon::CommandOutcome> outcomes;  // by "READER COMMAND"
    bool atOnce = false;
    bool hold = false;     // commands wait until the site goes
    bool failing = false;  // Snapshot() throws
    std::vector<Call> calls;
    struct Denial {
        daemon::Caller caller;
        std::string reader;
        std::string command;
        std::string argsJson;
        std::string words;
    };
    std::vector<daemon::Caller> callers;  // of the commands and reloads that ran
    std::vector<Denial> denied;
    std::vector<daemon::AuditQuery> auditQueries;

  private:
    void Flush() {
        auto waiting = std::move(waiting_);
        waiting_.clear();
        for (auto& [done, outcome] : waiting) {
            done(outcome);
        }
    }

    using Pending =
        std::vector<std::pair<std::function<void(const daemon::CommandOutcome&)>, daemon::CommandOutcome>>;
    daemon::Timer later_;
    Pending waiting_;
    Pending held_;
};

// An HTTP server on a free loopback port with a fake site, on a loop of its own.
class ServerUnderTest {
  public:
    explicit ServerUnderTest(daemon::HttpConfig config, daemon::HttpLimits limits = {},
                             daemon::SiteSnapshot snapshot = {}) {
        config.listen = "127.0.0.1:0";
        loop_.Call([&] {
            site_ = std::make_unique<FakeSite>(loop_.loop());
            site_->snapshot = std::move(snapshot);
            server_ = std::make_unique<daemon::HttpServer>(loop_.loop(), config, *site_, limits);
        });
    }
    ~ServerUnderTest() {
        loop_.Call([&] {
            server_.reset();
            site_.reset();
        });
    }

    uint16_t port() const { return server_->port(); }
    LoopThread& loop() { return loop_; }
    // On the loop's thread only (inside Call).
    FakeSite& site() { return *site_; }
    daemon::HttpServer& server() { return *server_; }

  private:
    LoopThread loop_;
    std::unique_ptr<FakeSite> site_;
    std::unique_ptr<daemon::HttpServer> server_;
};

}  // namespace zendrik::testing
