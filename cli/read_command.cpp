// zendrik read: reads tags continuously from one reader or several and prints one line per read,
// with the card number a Wiegand panel would receive; with --events every event of the readers'
// inventories (arrived, departed, link lost and restored) as a line of its own.
#include <zendrik_session.h>

#include <CLI/CLI.hpp>
#include <memory>
#include <set>

#include "cli/card_rule.h"
#include "cli/event_stream.h"
#include "cli/read_output.h"
#include "cli/reader_session.h"
#include "cli/reader_settings.h"
#include "cli/result_words.h"
#include "cli/subcommands.h"

namespace zendrik::cli {
namespace {

// The absence time's bounds: a read's own round at least, a day at most.
constexpr int kShortestAbsenceMs = 1;
constexpr int kLongestAbsenceMs = 24 * 60 * 60 * 1000;
constexpr int kLongestIntervalMs = 60000;

struct ReadOptions {
    int count = 1;
    bool watch = false;
    bool events = false;
    int wiegandBits = 0;  // 0: the reader's own format
    std::string epcField;
    std::string format = "text";
    int intervalMs = 0;  // accepted for older command lines; the inventory paces its rounds
    double timeoutSeconds = 0;
    int absenceMs = 3000;
};

bool AsksForCardRule(const ReadOptions& options) {
    return options.wiegandBits != 0 || !options.epcField.empty();
}

// CLI11's own range checks name the type's whole range ("not in range 0 to 1797693..."): say the
// bound that counts instead.
template <class Number>
CLI::Option* AddNumberAtLeast(CLI::App& app, const std::string& name, Number& value, Number least,
                              const std::string& refusal, const std::string& description) {
    return app.add_option_function<Number>(
        name,
        [&value, least, refusal](const Number& given) {
            if (given < least) {
                throw CLI::ValidationError(refusal);
            }
            value = given;
        },
        description);
}

// The card rule the options ask for, on the reader's output settings; none when they ask for none.
int PrepareCardRule(zendrik::Reader& reader, const ReadOptions& options, const std::string& prefix,
                    std::optional<CardRule>& rule) {
    if (!AsksForCardRule(options)) {
        return kExitOk;
    }
    rules::ReaderSettings settings;
    if (const int32_t result = ReadSettings(reader, settings); result != ZENDRIK_OK) {
        return Report(prefix + "cannot read the output settings: " + zendrik::result_words(result));
    }
    rule = CardRuleFor(options.wiegandBits, options.epcField, settings);
    if (const std::string error = rule ? CheckCardRule(*rule) : std::string{}; !error.empty()) {
        return Report(prefix + error, kExitUsage);
    }
    return kExitOk;
}

// Every line names its reader: two readers with one id could not be told apart.
int CheckDistinctIds(const std::vector<StreamedReader>& readers) {
    std::set<std::string> ids;
    for (const StreamedReader& streamed : readers) {
        if (!ids.insert(streamed.reader.id()).second) {
            return Report("two readers go by the id \"" + streamed.reader.id() +
                              "\"; name them with --reader NAME=ADDRESS",
                          kExitUsage);
        }
    }
    return kExitOk;
}

// Opens one reader to stream. With --watch a reader that is absent now is waited for; what its
// card rule needs is then read once it connects.
int OpenStreamed(const ReaderChoice& choice, const ReadOptions& options, bool several,
                 std::vector<StreamedReader>& readers) {
    OpenedReader opened;
    if (const int status = OpenReader(choice, OpenManner{several, options.watch}, opened);
        status != kExitOk) {
        return status;
    }
    const std::string prefix = ReaderPrefix(choice, several);
    StreamedReader streamed{std::move(*opened.reader), std::nullopt, opened.absent, nullptr};
    if (!opened.absent) {
        if (const int status = PrepareCardRule(streamed.reader, options, prefix, streamed.cardRule);
            status != kExitOk) {
            return status;
        }
    } else if (AsksForCardRule(options)) {
        streamed.onFirstConnect = [&options, prefix](StreamedReader& connected) {
            return PrepareCardRule(connected.reader, options, prefix, connected.cardRule);
        };
    }
    readers.push_back(std::move(streamed));
    return kExitOk;
}

int RunRead(const LinkOptions& link, const ReadOptions& options) {
    const std::vector<ReaderChoice> chosen = ChosenReaders(link);
    std::vector<StreamedReader> readers;
    for (const ReaderChoice& choice : chosen) {
        if (const int status = OpenStreamed(choice, options, chosen.size() > 1, readers); status != kExitOk) {
            return status;
        }
    }
    if (const int status = CheckDistinctIds(readers); status != kExitOk) {
        return status;
    }
    StreamOptions stream;
    stream.watch = options.watch;
    stream.count = options.count;
    stream.events = options.events;
    stream.format = ParseReadFormat(options.format).value_or(ReadFormat::kText);
    stream.timeoutSeconds = options.timeoutSeconds;
    stream.absence = std::chrono::milliseconds{options.absenceMs};
    return EventStream(stream, std::move(readers)).Run();
}

}  // namespace

Subcommand AddReadCommand(CLI::App& program, const LinkOptions& link) {
    auto options = std::make_shared<ReadOptions>();
    CLI::App* app = program.add_subcommand(
        "read",
        "Read tags continuously and print one line per read: the time, the card number, how often the tag "
        "has been read since it arrived in the field, and the EPC (with the antenna and signal strength "
        "where the reader sends them). The card number is the Wiegand number a panel receives (decimal, "
        "8 digits for Wiegand 26, 10 for Wiegand 34) taken from the reader's start byte and byte order, "
        "or with --epc a field of EPC bytes in hex. Several --reader options read several readers at "
        "once; every line then names its reader.");
    CLI::Option* count = AddNumberAtLeast(*app, "--count", options->count, 1, "--count must be at least 1",
                                          "stop after N reads from each reader (default 1)");
    app->add_flag("--watch", options->watch,
                  "read until interrupted (Ctrl-C), through unplug and replug: the link is reconnected by "
                  "itself, a reader absent at the start is waited for, and \"link lost\" and \"link "
                  "restored\" go to standard error (with --events, to the output as events of their own)")
        ->excludes(count);
    app->add_flag("--events", options->events,
                  "print every event as a line: read, arrived (first read of a tag), departed (not read "
                  "for the absence time), link-lost and link-restored");
    app->add_option("--absence", options->absenceMs,
                    "milliseconds without a read after which a tag departs (default 3000)")
        ->check(CLI::Range(kShortestAbsenceMs, kLongestAbsenceMs));
    CLI::Option* wiegand = app->add_option("--wiegand", options->wiegandBits,
                                           "Wiegand format of the card number (default: the reader's)")
                               ->check(CLI::IsMember({kWiegand26Bits, kWiegand34Bits}));
    app->add_option("--epc", options->epcField, "card number = LEN EPC bytes from byte START, in hex")
        ->type_name("START:LEN")
        ->check(CheckEpcField)
        ->excludes(wiegand);
    app->add_option("--format", options->format, "output format: text, json or csv (default text)")
        ->check(CLI::IsMember({"text", "json", "csv"}));
    app->add_option("--interval", options->intervalMs,
                    "no longer used, accepted for older command lines: the reader's rounds pace the reads")
        ->check(CLI::Range(0, kLongestIntervalMs));
    AddNumberAtLeast(*app, "--timeout", options->timeoutSeconds, 0.0, "--timeout must not be negative",
                     "give up after this many seconds (default: never)");
    app->footer(
        "Formats: json prints each event exactly as the library writes it, one object a line:\n"
        "  {\"event\":\"read\",\"reader\":R,\"seq\":N,\"time\":T,\"epc\":E,\"card\":C,\n"
        "   \"count\":N,\"first_seen\":T,\"antenna\":A,\"rssi\":S}\n"
        "  arrived and departed carry event, reader, seq, time, epc, card, first_seen, last_seen, count;\n"
        "  link-lost and link-restored carry event, reader, seq, time, error.\n"
        "csv prints a header row and the same fields, one column each: event, reader, seq, time, epc, card, "
        "count, first_seen, last_seen, antenna, rssi, error (empty where the event has none or null). "
        "Times in json and csv are UTC with milliseconds and Z; text shows local time. The reader is its "
        "serial number (24 hex digits) unless --reader NAME=ADDRESS names it; seq counts each reader's "
        "events from 1 without gaps.\n\n"
        "With --count, fewer reads than asked for (time-out or interrupt) or a lost link is a failure; "
        "--watch ends successfully and says on standard error how much it read.\n\n" +
        std::string(kLinkOptionsNote));
    return {app, [&link, options] { return RunRead(link, *options); }};
}

}  // namespace zendrik::cli
