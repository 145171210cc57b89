// zendrik-sim: the virtual reader. Serves a reader model over a pseudo-terminal, UDP and the
// virtual HID socket, and a network module on UDP, until SIGINT or SIGTERM.

#include <signal.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "link/hid_backend_socket.h"
#include "sim/endpoint.h"
#include "sim/fault_rule_text.h"
#include "sim/hex_bytes.h"
#include "sim/hid_socket_server.h"
#include "sim/module_responder.h"
#include "sim/pty_server.h"
#include "sim/reader.h"
#include "sim/replay_text.h"
#include "sim/scene_player.h"
#include "sim/scene_text.h"
#include "sim/tag_field.h"
#include "sim/temp_dir.h"
#include "sim/udp_server.h"

namespace {

using namespace zendrik::sim;

constexpr unsigned kFirstCom = 1;
constexpr unsigned kLastCom = 20;
constexpr unsigned kMaxTags = 1000;
constexpr const char* kHidSocketName = "/hid.sock";
// The serial number is shown (and taken as the reader's id) by its first 12 bytes: 24 hex digits.
constexpr std::size_t kSerialDigits = 2 * kMinSerialNumberSize;
// An inventory round of a real reader takes tens of milliseconds; a minute is far beyond any.
constexpr unsigned kMaxRoundTimeMs = 60000;
// A scene or replay file that cannot be played is refused with this status, as a bad option is.
constexpr int kExitBadFile = 2;

struct Options {
    bool pty = false;
    unsigned com = kFirstCom;
    std::optional<std::string> udp;
    std::optional<std::string> hidSocket;
    std::optional<std::string> module;
    std::string moduleId;
    unsigned kind = kKindStandard;
    unsigned sampleTags = 0;
    std::vector<std::string> tags;
    std::vector<std::string> faults;
    bool addressFilter = false;
    bool trace = false;
    std::string serial;
    unsigned roundTimeMs = 0;
    std::string scene;
    std::string replay;
    std::optional<int64_t> sceneEpochMs;

    bool AnyTransport() const { return pty || udp || hidSocket || module; }
};

// "HOST:PORT", or a bare port on 127.0.0.1.
std::optional<Ipv4Endpoint> EndpointOption(const std::string& text) {
    if (text.find(':') == std::string::npos) {
        return ParseEndpoint(std::string(kLoopbackHost) + ":" + text);
    }
    return ParseEndpoint(text);
}

std::string CheckEndpoint(const std::string& text) {
    return EndpointOption(text) ? std::string() : "expected HOST:PORT or PORT, got " + text;
}

std::string CheckTag(const std::string& text) {
    const std::optional<std::vector<uint8_t>> epc = ParseHexBytes(text);
    return (epc && !epc->empty() && epc->size() <= kMaxEpcSize)
               ? std::string()
               : "expected 1 to " + std::to_string(kMaxEpcSize) + " bytes of hex, got " + text;
}

std::string CheckModuleId(const std::string& text) {
    const std::optional<std::vector<uint8_t>> id = ParseHexBytes(text);
    return (id && id->size() == zendrik::kModuleIdSize) ? std::string()
                                                        : "expected 6 bytes of hex, got " + text;
}

// Up to 24 hex digits, zero-padded on the left to the 12 bytes of a serial number: "2" gives the
// reader id 000000000000000000000002.
std::optional<std::vector<uint8_t>> SerialNumberOption(const std::string& text) {
    if (text.empty() || text.size() > kSerialDigits) {
        return std::nullopt;
    }
    return ParseHexBytes(std::string(kSerialDigits - text.size(), '0') + text);
}

std::string CheckSerial(const std::string& text) {
    return SerialNumberOption(text) ? std::string() : "expected 1 to 24 hex digits, got " + text;
}

std::string CheckFault(const std::string& text) {
    return ParseFaultRule(text) ? std::string() : "not a fault rule: " + text;
}

void DefineOptions(CLI::App& app, Options& options) {
    app.add_flag("--pty", options.pty,
                 "Serve a pseudo-terminal as the reader's serial port; prints its path and the "
                 "ZENDRIK_COMn= line that points the library's COMn at it");
    app.add_option("--com", options.com, "The n of the printed ZENDRIK_COMn= line (1 to 20, default 1)")
        ->check(CLI::Range(kFirstCom, kLastCom));
    app.add_option("--udp", options.udp,
                   "Serve the reader on UDP at HOST:PORT (or PORT on 127.0.0.1); port 0 picks a free one, "
                   "which is printed. Give a host outside 127.0.0.0/8 only on purpose")
        ->check(CheckEndpoint);
    app.add_option("--hid-socket", options.hidSocket,
                   "Serve the virtual HID device on the Unix socket PATH (must not exist); prints the "
                   "ZENDRIK_HID_SOCKET= line. Without any transport option a socket in a temporary "
                   "directory is served");
    app.add_option("--module", options.module,
                   "Answer network module search and settings requests on UDP at HOST:PORT (the real "
                   "module listens on port 5000). Use 127.0.0.1, or 0.0.0.0 only inside a network "
                   "namespace of your own: the library broadcasts these requests");
    app.add_option("--module-id", options.moduleId,
                   "The network module's 6-byte id in hex (default 5A44524B0001)")
        ->check(CheckModuleId);
    app.add_option("--kind", options.kind,
                   "Reader kind: 0, 1 (power 18 to 26) or 2 (frequency plan as a channel list); "
                   "settings start at the kind's factory defaults (default 0)")
        ->check(CLI::Range(unsigned{kKindStandard}, unsigned{kKindChannelList}));
    app.add_option("--tags", options.sampleTags, "Put N made-up tags with 12-byte EPCs in the field")
        ->check(CLI::Range(0u, kMaxTags));
    app.add_option("--tag", options.tags,
                   "Put a tag with this EPC (hex, up to 52 bytes) in the field; repeatable. Tag reads go "
                   "round the field's tags in turn; with none, a read is answered with status 201")
        ->check(CheckTag);
    app.add_option("--fault", options.faults,
                   "Misbehave: KIND[=VALUE][@COMMAND][*COUNT]; repeatable, the first matching rule wins. "
                   "KIND: silence, crc (corrupt the CRC), status=BYTE, stray[=N] (N bytes before the "
                   "start byte, default 2), late[=MS] (default 1500), short[=N] (keep N bytes, default "
                   "4). COMMAND: a command code such as 0xF6, or s0x06 for a short frame; without it "
                   "every reply. COUNT: that many replies; without it, all. Example: late=400@0xF1*1")
        ->check(CheckFault);
    app.add_flag("--address-filter", options.addressFilter,
                 "Answer only requests to the reader's own address or 255 (by default every address)");
    app.add_option("--serial", options.serial,
                   "The reader's serial number as up to 24 hex digits, zero-padded on the left (the "
                   "session layer takes it as the reader's id: --serial 2 gives 000000000000000000000002), "
                   "so that several virtual readers can be told apart")
        ->check(CheckSerial);
    app.add_option("--round-time", options.roundTimeMs,
                   "Milliseconds the reader takes for one inventory round: its answers to tag reads and "
                   "to the tag list go out this late, as a real reader's do (default 0: at once). On "
                   "exit the number of tag reads answered with a tag is printed to standard error")
        ->check(CLI::Range(0u, kMaxRoundTimeMs));
    CLI::Option* scene =
        app.add_option(
               "--scene", options.scene,
               "Play the scene in FILE: tags that come and go. One step a line, in non-decreasing time "
               "order: "
               "'MS enter EPC [rssi=N]' (the tag, EPC in hex, comes into the field MS milliseconds after "
               "time 0; N, 0 to 255, is the signal strength byte the kinds that send one report, default "
               "196), 'MS leave EPC', 'MS loop' (start again from time 0, the scene's tags gone; the last "
               "line). Blank lines and lines starting with # are comments")
            ->type_name("FILE");
    app.add_option("--replay", options.replay,
                   "Replay the reads in FILE, event lines as 'zendrik read --format json' prints them, at "
                   "their recorded spacing: each read makes the reader report that tag once, in its next "
                   "inventory round. The file holds one reader's reads, or give --serial to replay "
                   "those of the reader whose id that serial number is")
        ->type_name("FILE")
        ->excludes(scene);
    app.add_option("--scene-epoch", options.sceneEpochMs,
                   "Time 0 of --scene or --replay as Unix milliseconds (UTC), so that several virtual "
                   "readers play one scene in step (default: the program's start)")
        ->type_name("UTC_MS");
    app.add_flag("--trace", options.trace,
                 "Log every request and reply as hex with a time stamp to standard error");
}

void PrepareReader(Reader& reader, const Options& options) {
    for (unsigned index = 1; index <= options.sampleTags; ++index) {
        reader.AddTag(SampleEpc(index));
    }
    for (const std::string& tag : options.tags) {
        reader.AddTag(*ParseHexBytes(tag));
    }
    for (const std::string& fault : options.faults) {
        reader.AddFault(*ParseFaultRule(fault));
    }
    reader.set_address_filter(options.addressFilter);
    reader.set_round_time(std::chrono::milliseconds{options.roundTimeMs});
    if (!options.serial.empty()) {
        ReaderIdentity identity = reader.identity();
        identity.serialNumber = *SerialNumberOption(options.serial);
        reader.SetIdentity(identity);
    }
}

// The reader id the session layer gives this reader: its serial number's hex.
std::string ReaderIdText(const std::vector<uint8_t>& serialNumber) {
    constexpr char kHexDigits[] = "0123456789abcdef";
    constexpr unsigned kNibbleBits = 4;
    constexpr uint8_t kNibbleMask = 0x0F;
    std::string id;
    for (const uint8_t byte : serialNumber) {
        id.push_back(kHexDigits[byte >> kNibbleBits]);
        id.push_back(kHexDigits[byte & kNibbleMask]);
    }
    return id;
}

// The steps of --scene or --replay (none without either), or the refusal.
SceneText LoadScene(const Options& options) {
    const std::string& path = options.scene.empty() ? options.replay : options.scene;
    if (path.empty()) {
        return {};
    }
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    if (!file) {
        return {{}, path + ": cannot be read"};
    }
    if (!options.scene.empty()) {
        return ParseScene(text.str(), path);
    }
    std::optional<std::string> readerId;
    if (!options.serial.empty()) {
        readerId = ReaderIdText(*SerialNumberOption(options.serial));
    }
    return ParseReplay(text.str(), path, readerId);
}

// Plays a scene into the reader on a thread of its own, by the system clock, until destroyed.
class ScenePlayback {
  public:
    ScenePlayback(Reader& reader, std::vector<SceneStep> steps, std::optional<int64_t> epochMs)
        : player_(reader, std::move(steps)),
          epochMs_(epochMs.value_or(NowMs())),
          thread_([this](std::stop_token stop) { Run(stop); }) {}

  private:
    static int64_t NowMs() {
        using namespace std::chrono;
        return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    }

    void Run(const std::stop_token& stop) {
        std::mutex mutex;
        std::unique_lock lock(mutex);
        while (!stop.stop_requested()) {
            player_.AdvanceTo(NowMs() - epochMs_);
            const std::optional<int64_t> dueMs = player_.NextDueMs();
            if (!dueMs) {
                return;
            }
            const std::chrono::milliseconds wait{std::max<int64_t>(*dueMs - (NowMs() - epochMs_), 0)};
            wake_.wait_for(lock, stop, wait, [] { return false; });
        }
    }

    ScenePlayer player_;
    int64_t epochMs_;
    std::condition_variable_any wake_;
    std::jthread thread_;  // last: stopped and joined before the rest goes
};

ModuleSettings ModuleSettingsFrom(const Options& options) {
    ModuleSettings settings = DefaultModuleSettings();
    if (!options.moduleId.empty()) {
        const std::vector<uint8_t> id = *ParseHexBytes(options.moduleId);
        std::copy(id.begin(), id.end(), settings.id.begin());
    }
    return settings;
}

void WarnIfNotLoopback(const Ipv4Endpoint& endpoint, const char* what) {
    if (!IsLoopback(endpoint)) {
        std::cerr << "zendrik-sim: note: " << what << " bound to " << endpoint.host
                  << ", outside loopback, as asked\n";
    }
}

// Everything the program serves; destroyed in reverse order, which removes the socket files.
struct Servers {
    std::unique_ptr<TempDir> tempDir;
    std::unique_ptr<HidSocketServer> hid;
    std::unique_ptr<PtyServer> pty;
    std::unique_ptr<UdpServer> udp;
    std::unique_ptr<ModuleResponder> module;
};

Servers StartServers(Reader& reader, const Options& options, TraceLog* trace) {
    const Responder answer = [&reader](std::span<const uint8_t> request) { return reader.Answer(request); };
    Servers servers;
    std::optional<std::string> hidPath = options.hidSocket;
    if (!options.AnyTransport()) {
        servers.tempDir = std::make_unique<TempDir>();
        hidPath = servers.tempDir->path() + kHidSocketName;
    }
    if (hidPath) {
        servers.hid = std::make_unique<HidSocketServer>(answer, *hidPath, trace);
        std::cout << zendrik::kHidSocketVariable << '=' << servers.hid->path() << '\n';
    }
    if (options.pty) {
        servers.pty = std::make_unique<PtyServer>(answer, trace);
        std::cerr << "zendrik-sim: serial line on " << servers.pty->path() << '\n';
        std::cout << "ZENDRIK_COM" << options.com << '=' << servers.pty->path() << '\n';
    }
    if (options.udp) {
        const Ipv4Endpoint endpoint = *EndpointOption(*options.udp);
        WarnIfNotLoopback(endpoint, "UDP");
        servers.udp = std::make_unique<UdpServer>(answer, endpoint, trace);
        std::cout << "ZENDRIK_SIM_UDP=" << servers.udp->endpoint().host << ':' << servers.udp->port() << '\n';
    }
    if (options.module) {
        const Ipv4Endpoint endpoint = *EndpointOption(*options.module);
        WarnIfNotLoopback(endpoint, "the network module");
        servers.module = std::make_unique<ModuleResponder>(endpoint, ModuleSettingsFrom(options), trace);
        std::cout << "ZENDRIK_SIM_MODULE=" << servers.module->endpoint().host << ':' << servers.module->port()
                  << '\n';
    }
    std::cout.flush();
    return servers;
}

// Blocks the stop signals in every thread (the servers' threads inherit the mask), so that the
// main thread alone takes them, with sigwait.
sigset_t BlockStopSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    return signals;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "zendrik-sim: a virtual UHF RFID reader for the zendrik library and tool. It keeps the reader's "
        "settings, answers every command over the chosen transports, and runs until SIGINT or SIGTERM. "
        "The lines it prints on standard output (ZENDRIK_HID_SOCKET=, ZENDRIK_COMn=, ZENDRIK_SIM_UDP=, "
        "ZENDRIK_SIM_MODULE=) say where it listens."};
    app.set_version_flag("--version", "zendrik-sim " ZENDRIK_VERSION);
    Options options;
    DefineOptions(app, options);
    CLI11_PARSE(app, argc, argv);

    SceneText scene = LoadScene(options);
    if (!scene.error.empty()) {
        std::cerr << "zendrik-sim: " << scene.error << '\n';
        return kExitBadFile;
    }
    const sigset_t stopSignals = BlockStopSignals();
    try {
        Reader reader(static_cast<uint8_t>(options.kind));
        PrepareReader(reader, options);
        std::unique_ptr<TraceLog> trace = options.trace ? std::make_unique<TraceLog>(std::cerr) : nullptr;
        {
            const Servers servers = StartServers(reader, options, trace.get());
            const ScenePlayback playback(reader, std::move(scene.steps), options.sceneEpochMs);
            int signal = 0;
            sigwait(&stopSignals, &signal);
        }
        // Counted once the servers have stopped: a reply under way when the signal came is in it.
        std::cerr << "zendrik-sim: " << reader.tag_reads_answered() << " tag reads answered\n";
    } catch (const std::exception& error) {
        std::cerr << "zendrik-sim: " << error.what() << '\n';
        return EXIT_FAILURE;
    }
    return EXIT_SUCCESS;
}
