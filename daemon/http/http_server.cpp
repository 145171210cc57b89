#include "daemon/http/http_server.h"

#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <variant>
#include <vector>

#include "daemon/common/log.h"
#include "daemon/config/listen_address.h"
#include "daemon/control/commands.h"
#include "daemon/http/console_files.h"

namespace zendrik::daemon {
namespace {

// Room in each connection's memory pool for the request headers within the limit, the
// response's headers and a block of its body; MHD refuses headers that do not fit by itself.
constexpr std::size_t kConnectionMemoryBytes = 32 * 1024;
constexpr std::string_view kBearer = "Bearer ";
// The console says so in this header, so that the audit trail tells its commands from the API's.
constexpr const char* kClientHeader = "X-Zendrik-Client";
constexpr std::string_view kConsoleClient = "console";
// A reload refused: the file has a fault, the running configuration stays.
constexpr unsigned kReloadRefusedStatus = 409;
// A daemon without its console answers its page in words a browser shows as they are.
constexpr const char* kTextContentType = "text/plain; charset=utf-8";

std::string ReadWholeFile(const std::string& path, const char* what) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    if (!file || text.str().empty()) {
        throw std::runtime_error(std::string("cannot read the HTTP server's ") + what + " " + path);
    }
    return text.str();
}

// Binds a socket of our own to the address first, so that a refusal has its reason in words
// (MHD only says that it could not start).
void ProbeListen(const ListenAddress& address, const std::string& text) {
    const int fd = ::socket(address.address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        throw std::runtime_error("cannot listen on " + text + ": " + std::strerror(errno));
    }
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const int bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&address.address), address.length);
    const int error = errno;
    ::close(fd);
    if (bound != 0) {
        throw std::runtime_error("cannot listen on " + text + ": " + std::strerror(error));
    }
}

ListenAddress ParsedListen(const std::string& text) {
    auto parsed = ParseListenAddress(text);
    if (const auto* why = std::get_if<std::string>(&parsed)) {
        throw std::runtime_error("[http] listen " + *why);
    }
    return std::get<ListenAddress>(parsed);
}

std::size_t HeaderBytes(MHD_Connection* connection) {
    std::size_t bytes = 0;
    MHD_get_connection_values(
        connection, MHD_HEADER_KIND,
        [](void* total, MHD_ValueKind, const char* key, const char* value) {
            *static_cast<std::size_t*>(total) += std::strlen(key) + (value ? std::strlen(value) : 0) + 4;
            return MHD_YES;
        },
        &bytes);
    return bytes;
}

// The body's announced length, when the request has one.
std::optional<uint64_t> ContentLength(MHD_Connection* connection) {
    const char* text =
        MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
    if (text == nullptr) {
        return std::nullopt;
    }
    uint64_t length = 0;
    const char* end = text + std::strlen(text);
    const auto [stop, error] = std::from_chars(text, end, length);
    return error == std::errc{} && stop == end ? std::optional<uint64_t>(length) : std::nullopt;
}

bool BodyFollows(MHD_Connection* connection) {
    const std::optional<uint64_t> length = ContentLength(connection);
    return (length && *length > 0) ||
           MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_TRANSFER_ENCODING) !=
               nullptr;
}

std::string_view Value(MHD_Connection* connection, MHD_ValueKind kind, const char* key) {
    const char* value = MHD_lookup_connection_value(connection, kind, key);
    return value != nullptr ? std::string_view(value) : std::string_view();
}

MHD_Result Queue(MHD_Connection* connection, MHD_Response* response, unsigned status) {
    if (response == nullptr) {
        return MHD_NO;
    }
    const MHD_Result queued = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    return queued;
}

MHD_Result Send(MHD_Connection* connection, const HttpAnswer& answer) {
    MHD_Response* response = MHD_create_response_from_buffer(
        answer.body.size(), const_cast<char*>(answer.body.data()), MHD_RESPMEM_MUST_COPY);
    if (response == nullptr) {
        return MHD_NO;
    }
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, answer.contentType.c_str());
    MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
    for (const auto& [name, value] : answer.headers) {
        MHD_add_response_header(response, name.c_str(), value.c_str());
    }
    return Queue(connection, response, answer.status);
}

}  // namespace

// One request from its headers to its answer. MHD keeps a pointer to it as the request's context.
struct HttpServer::Request {
    uint64_t id = 0;
    MHD_Connection* connection = nullptr;
    Route route;
    std::optional<HttpIdentity> identity;
    std::optional<AccessRole> deniedFor;  // the role it needs and its caller lacks
    std::string body;
    bool suspended = false;            // a command runs; the connection waits for its outcome
    std::optional<HttpAnswer> answer;  // a refusal, or the command's outcome, for MHD's next call
};

void HttpServer::StopDaemon::operator()(MHD_Daemon* daemon) const {
    MHD_stop_daemon(daemon);
}

HttpServer::HttpServer(EventLoop& loop, const HttpConfig& config, SiteApi& site, HttpLimits limits)
    : loop_(loop),
      config_(config),
      site_(site),
      limits_(limits),
      tokens_(config.tokens),
      stream_(limits.streamBufferBytes, [this] { RunSoon(); }) {
    if (config_.token) {
        tokens_.push_back(HttpToken{kSingleTokenName, {}, AccessRole::kAdmin, 0, *config_.token});
    }
    const ListenAddress listen = ParsedListen(config_.listen);
    ProbeListen(listen, config_.listen);
    unsigned flags = MHD_USE_EPOLL | MHD_ALLOW_SUSPEND_RESUME;
    if (listen.ipv6) {
        flags |= MHD_USE_IPv6;
    }
    const bool tls = config_.certFile && config_.keyFile;
    if (tls) {
        certificate_ = ReadWholeFile(*config_.certFile, "certificate");
        key_ = ReadWholeFile(*config_.keyFile, "key");
        flags |= MHD_USE_TLS;
    }
    std::vector<MHD_OptionItem> options{
        {MHD_OPTION_SOCK_ADDR, 0, const_cast<sockaddr_storage*>(&listen.address)},
        {MHD_OPTION_LISTENING_ADDRESS_REUSE, 1, nullptr},
        {MHD_OPTION_CONNECTION_LIMIT, static_cast<intptr_t>(limits_.connections), nullptr},
        {MHD_OPTION_CONNECTION_TIMEOUT, static_cast<intptr_t>(limits_.idleTimeout.count()), nullptr},
        {MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<intptr_t>(kConnectionMemoryBytes), nullptr},
        {MHD_OPTION_NOTIFY_COMPLETED, reinterpret_cast<intptr_t>(&HttpServer::OnCompleted), this},
        {MHD_OPTION_NOTIFY_CONNECTION, reinterpret_cast<intptr_t>(&HttpServer::OnConnection), this},
    };
    if (tls) {
        options.push_back({MHD_OPTION_HTTPS_MEM_CERT, 0, certificate_.data()});
        options.push_back({MHD_OPTION_HTTPS_MEM_KEY, 0, key_.data()});
    }
    options.push_back({MHD_OPTION_END, 0, nullptr});
    daemon_.reset(MHD_start_daemon(flags, listen.port, nullptr, nullptr, &HttpServer::OnRequest, this,
                                   MHD_OPTION_ARRAY, options.data(), MHD_OPTION_END));
    if (!daemon_) {
        throw std::runtime_error("cannot start the HTTP server on " + config_.listen +
                                 (tls ? " (is the certificate and key a matching PEM pair?)" : ""));
    }
    port_ = MHD_get_daemon_info(daemon_.get(), MHD_DAEMON_INFO_BIND_PORT)->port;
    const int epollFd = MHD_get_daemon_info(daemon_.get(), MHD_DAEMON_INFO_EPOLL_FD)->epoll_fd;
    io_ = loop_.AddIo(epollFd, EPOLLIN, [this](uint32_t) { Run(); });
    timeout_ = loop_.AddTimer([this] { Run(); });
    keepAlive_ = loop_.AddTimer([this] {
        stream_.KeepAlive();
        keepAlive_.ArmIn(limits_.keepAliveInterval);
    });
    keepAlive_.ArmIn(limits_.keepAliveInterval);
    ArmTimeout();
}

HttpServer::~HttpServer() {
    io_ = EventSource();
    timeout_ = Timer();
    keepAlive_ = Timer();
    *alive_ = false;
    ResumeAll();
    daemon_.reset();
}

void HttpServer::PublishEvent(const std::string& reader, uint64_t seq, std::string_view kind,
                              std::string_view json) {
    stream_.Publish(reader, seq, kind, json);
}

// MHD must have every connection back before it stops: a command still waiting goes unanswered
// (its connection closes), the streams end.
void HttpServer::ResumeAll() {
    for (auto& [id, request] : requests_) {
        if (request->suspended) {
            request->suspended = false;
            MHD_resume_connection(request->connection);
        }
    }
    stream_.EndAll();
}

void HttpServer::Run() {
    runSoon_ = false;
    MHD_run(daemon_.get());
    ArmTimeout();
}

void HttpServer::RunSoon() {
    runSoon_ = true;
    timeout_.ArmIn(std::chrono::milliseconds{0});
}

void HttpServer::ArmTimeout() {
    if (runSoon_) {
        timeout_.ArmIn(std::chrono::milliseconds{0});
        return;
    }
    MHD_UNSIGNED_LONG_LONG milliseconds = 0;
    if (MHD_get_timeout(daemon_.get(), &milliseconds) == MHD_YES) {
        timeout_.ArmIn(std::chrono::milliseconds(milliseconds));
    } else {
        timeout_.Disarm();
    }
}

MHD_Result HttpServer::OnRequest(void* server, MHD_Connection* connection, const char* url,
                                 const char* method, const char*, const char* upload, std::size_t* uploadSize,
                                 void** context) {
    // Nothing may unwind through MHD's C frames: a failure closes this one connection.
    try {
        return static_cast<HttpServer*>(server)->Handle(connection, url, method, upload, uploadSize, context);
    } catch (const std::exception& error) {
        Log(std::string("HTTP ") + method + " " + url + ": " + error.what());
    } catch (...) {
        Log(std::string("HTTP ") + method + " " + url + ": an unknown failure");
    }
    return MHD_NO;
}

void HttpServer::OnCompleted(void* server, MHD_Connection*, void** context, MHD_RequestTerminationCode) {
    if (*context != nullptr) {
        static_cast<HttpServer*>(server)->requests_.erase(static_cast<Request*>(*context)->id);
        *context = nullptr;
    }
}

void HttpServer::OnConnection(void* server, MHD_Connection*, void**, MHD_ConnectionNotificationCode what) {
    auto& self = *static_cast<HttpServer*>(server);
    if (what == MHD_CONNECTION_NOTIFY_STARTED) {
        self.peakConnections_ = std::max(self.peakConnections_, ++self.connections_);
    } else if (self.connections_ > 0) {
        --self.connections_;
    }
}

// MHD calls once for the headers, once per piece of the body, and once more when the body is
// complete (and again after a suspended connection was resumed).
MHD_Result HttpServer::Handle(MHD_Connection* connection, std::string_view url, std::string_view method,
                              const char* upload, std::size_t* uploadSize, void** context) {
    if (*context == nullptr) {
        auto request = std::make_unique<Request>();
        request->id = nextRequest_++;
        request->connection = connection;
        request->route = RouteOf(method, url);
        Request& started = *request;
        requests_.emplace(started.id, std::move(request));
        *context = &started;
        // A refusal goes before the body is read; without a body it waits for MHD's next call,
        // as an answer given this early closes the connection.
        started.answer = EarlyRefusal(connection, url, started);
        if (started.answer && BodyFollows(connection)) {
            return Send(connection, *started.answer);
        }
        return MHD_YES;
    }
    Request& request = *static_cast<Request*>(*context);
    if (*uploadSize != 0) {
        // A body without a length that grows past the limit: nothing good can be answered in the
        // middle of it, so the connection closes.
        if (request.body.size() + *uploadSize > limits_.bodyBytes) {
            return MHD_NO;
        }
        request.body.append(upload, *uploadSize);
        *uploadSize = 0;
        return MHD_YES;
    }
    if (request.answer) {
        return Send(connection, *request.answer);
    }
    if (request.suspended) {
        return MHD_YES;
    }
    return Dispatch(connection, request);
}

std::optional<HttpAnswer> HttpServer::EarlyRefusal(MHD_Connection* connection, std::string_view url,
                                                   Request& request) {
    const Route& route = request.route;
    if (url.size() + HeaderBytes(connection) > limits_.headerBytes) {
        return ErrorAnswer(
            431, "the request's headers are longer than " + std::to_string(limits_.headerBytes) + " bytes");
    }
    if (const std::optional<uint64_t> length = ContentLength(connection);
        length && *length > limits_.bodyBytes) {
        return ErrorAnswer(413, "the body is longer than " + std::to_string(limits_.bodyBytes) + " bytes");
    }
    request.identity = Identify(connection, route);
    if (!request.identity && !route.open) {
        return UnauthorizedAnswer();
    }
    if (route.kind == RouteKind::kNotFound || route.kind == RouteKind::kWrongMethod) {
        return SnapshotAnswer(route, SiteSnapshot{});
    }
    if (const AccessRole needed = RoleNeeded(route); !route.open && request.identity->role < needed) {
        request.deniedFor = needed;  // answered once the body is read, for the audit trail's args
    }
    return std::nullopt;
}

std::optional<HttpIdentity> HttpServer::Identify(MHD_Connection* connection, const Route& route) const {
    if (tokens_.empty()) {
        return HttpIdentity{kAnonymousName, AccessRole::kAdmin};
    }
    const std::string_view header = Value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_AUTHORIZATION);
    if (header.substr(0, kBearer.size()) == kBearer) {
        if (auto identity = IdentityOf(header.substr(kBearer.size()), tokens_)) {
            return identity;
        }
    }
    // EventSource cannot send headers: the stream alone takes the token in its query.
    if (route.kind == RouteKind::kEvents) {
        return IdentityOf(Value(connection, MHD_GET_ARGUMENT_KIND, "token"), tokens_);
    }
    return std::nullopt;
}

Caller HttpServer::CallerOf(MHD_Connection* connection, const Request& request) const {
    const bool console = Value(connection, MHD_HEADER_KIND, kClientHeader) == kConsoleClient;
    return Caller{request.identity ? request.identity->name : std::string(kAnonymousName),
                  std::string(console ? kPathConsole : kPathRest)};
}

MHD_Result HttpServer::Dispatch(MHD_Connection* connection, Request& request) {
    if (request.deniedFor) {
        return Deny(connection, request);
    }
    switch (request.route.kind) {
        case RouteKind::kCommand:
            return RunCommand(connection, request);
        case RouteKind::kEvents:
            return OpenStream(connection);
        case RouteKind::kConsoleFile:
            return SendConsoleFile(connection, request);
        case RouteKind::kWhoAmI:
            return Send(connection, WhoAmIAnswer(*request.identity, !tokens_.empty()));
        case RouteKind::kReload:
            return Reload(connection, request);
        case RouteKind::kAudit:
            return SendAudit(connection);
        case RouteKind::kTag:
        case RouteKind::kPassages:
            return AskHistory(connection, request);
        default:
            return Send(connection, SnapshotAnswer(request.route, site_.Snapshot()));
    }
}

MHD_Result HttpServer::RunCommand(MHD_Connection* connection, Request& request) {
    const auto command = CommandOf(request.route, request.body);
    if (const auto* refusal = std::get_if<HttpAnswer>(&command)) {
        return Send(connection, *refusal);
    }
    std::weak_ptr<bool> alive = alive_;
    const uint64_t id = request.id;
    site_.RunCommand(request.route.reader, std::get<Command>(command), CallerOf(connection, request),
                     [this, alive, id](const CommandOutcome& outcome) {
                         const auto live = alive.lock();
                         if (!live || !*live) {
                             return;
                         }
                         const auto found = requests_.find(id);
                         if (found == requests_.end()) {
                             return;
                         }
                         Request& waiting = *found->second;
                         waiting.answer = OutcomeAnswer(outcome);
                         if (waiting.suspended) {
                             waiting.suspended = false;
                             MHD_resume_connection(waiting.connection);
                             RunSoon();
                         }
                     });
    if (request.answer) {
        return Send(connection, *request.answer);  // the outcome came at once
    }
    request.suspended = true;
    MHD_suspend_connection(connection);
    return MHD_YES;
}

MHD_Result HttpServer::Deny(MHD_Connection* connection, const Request& request) {
    const Route& route = request.route;
    AuditStart denied{CallerOf(connection, request), route.reader, "reload", "{}"};
    if (route.kind == RouteKind::kCommand) {
        denied.command = CommandName(route.command);
        const auto command = CommandOf(route, request.body);
        if (const auto* typed = std::get_if<Command>(&command)) {
            denied.argsJson = CommandArgsJson(*typed);
        }
    }
    site_.NoteDenied(denied, ForbiddenWords(*request.identity, *request.deniedFor));
    return Send(connection, ForbiddenAnswer(*request.identity, *request.deniedFor));
}

MHD_Result HttpServer::Reload(MHD_Connection* connection, const Request& request) {
    const CommandOutcome outcome = site_.Reload(CallerOf(connection, request));
    if (outcome.ok()) {
        return Send(connection, OutcomeAnswer(outcome));
    }
    return Send(connection, ErrorAnswer(kReloadRefusedStatus, outcome.words, outcome.code));
}

MHD_Result HttpServer::SendAudit(MHD_Connection* connection) {
    const auto argument = [&](const char* key) { return Value(connection, MHD_GET_ARGUMENT_KIND, key); };
    const auto query = AuditQueryOf(AuditQueryText{argument("reader"), argument("actor"), argument("since"),
                                                   argument("limit"), argument("before")});
    if (const auto* refusal = std::get_if<HttpAnswer>(&query)) {
        return Send(connection, *refusal);
    }
    const std::optional<AuditPage> page = site_.Audit(std::get<AuditQuery>(query));
    if (!page) {
        return Send(connection, ErrorAnswer(404, "this site keeps no audit trail"));
    }
    return Send(connection, AuditAnswer(*page));
}

// The history is read off the loop: the connection waits, suspended, as for a command.
MHD_Result HttpServer::AskHistory(MHD_Connection* connection, Request& request) {
    std::map<std::string, std::string> arguments;
    for (const char* key : {"door", "direction", "since", "until", "limit", "before"}) {
        if (const char* value = MHD_lookup_connection_value(connection, MHD_GET_ARGUMENT_KIND, key)) {
            arguments.emplace(key, value);
        }
    }
    std::weak_ptr<bool> alive = alive_;
    const uint64_t id = request.id;
    site_.AskHistory(request.route, arguments, [this, alive, id](HttpAnswer answer) {
        const auto live = alive.lock();
        const auto found = live && *live ? requests_.find(id) : requests_.end();
        if (found == requests_.end()) {
            return;
        }
        Request& waiting = *found->second;
        waiting.answer = std::move(answer);
        if (waiting.suspended) {
            waiting.suspended = false;
            MHD_resume_connection(waiting.connection);
            RunSoon();
        }
    });
    if (request.answer) {
        return Send(connection, *request.answer);
    }
    request.suspended = true;
    MHD_suspend_connection(connection);
    return MHD_YES;
}

MHD_Result HttpServer::OpenStream(MHD_Connection* connection) {
    std::string reader(Value(connection, MHD_GET_ARGUMENT_KIND, "reader"));
    // A zone's events and a door's passages are in the stream under the names of their numbers.
    const std::string_view zone = Value(connection, MHD_GET_ARGUMENT_KIND, "zone");
    const std::string_view door = Value(connection, MHD_GET_ARGUMENT_KIND, "door");
    if (!zone.empty() || !door.empty()) {
        const SiteSnapshot site = site_.Snapshot();
        const bool known =
            zone.empty() ? std::any_of(site.doors.begin(), site.doors.end(),
                                       [&](const DoorSnapshot& candidate) { return candidate.name == door; })
                         : std::any_of(site.zones.begin(), site.zones.end(),
                                       [&](const ZoneSnapshot& candidate) { return candidate.name == zone; });
        if (!known) {
            return Send(connection, ErrorAnswer(404, "no " + std::string(zone.empty() ? "door" : "zone") +
                                                         " is named \"" +
                                                         std::string(zone.empty() ? door : zone) + "\""));
        }
        reader = zone.empty() ? "doors/" + std::string(door) : "zones/" + std::string(zone);
    } else if (!reader.empty() && FindReader(site_.Snapshot(), reader) == nullptr) {
        return Send(connection, UnknownReaderAnswer(reader));
    }
    return Queue(connection, stream_.Open(connection, std::move(reader)), 200);
}

MHD_Result HttpServer::SendConsoleFile(MHD_Connection* connection, const Request& request) {
    std::optional<ConsoleFile> file = OpenConsoleFile(config_.consoleDir, request.route.file);
    if (!file && request.route.file == kConsoleIndex) {
        const std::vector<std::string> looked = config_.consoleLooked.empty()
                                                    ? std::vector<std::string>{config_.consoleDir}
                                                    : config_.consoleLooked;
        return Send(connection, HttpAnswer{404, kTextContentType, NoConsolePage(looked), {}});
    }
    if (!file) {
        return Send(connection, ErrorAnswer(404, "the console has no file " + request.route.file));
    }
    const int fd = file->Release();
    MHD_Response* response = MHD_create_response_from_fd(file->size(), fd);
    if (response == nullptr) {
        ::close(fd);
        return MHD_NO;
    }
    const std::string type(file->contentType());
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, type.c_str());
    MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-cache");
    MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
    // The page loads nothing from elsewhere and has no inline script: a browser holds it to that.
    MHD_add_response_header(response, "Content-Security-Policy", "default-src 'self'");
    return Queue(connection, response, 200);
}

}  // namespace zendrik::daemon
