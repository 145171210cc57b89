// zendrik read: reads tags one after another and prints one line per read, with the card number a
// Wiegand panel would receive and how often that card has been seen.
#include <zendrik.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <thread>

#include "cli/card_number.h"
#include "cli/interrupt.h"
#include "cli/read_output.h"
#include "cli/reader_session.h"
#include "cli/reader_settings.h"
#include "cli/result_words.h"
#include "cli/subcommands.h"

namespace zendrik::cli {
namespace {

constexpr uint8_t kWiegand26Code = 0x26;
constexpr uint8_t kWiegand34Code = 0x34;
constexpr int kWiegand26Bits = 26;
constexpr int kWiegand34Bits = 34;
constexpr int kEpcWindow = static_cast<int>(kEpcWindowBytes);

struct ReadOptions {
    int count = 1;
    bool watch = false;
    int wiegandBits = 0;  // 0: the reader's own format
    std::string epcField;
    std::string format = "text";
    int intervalMs = 100;
    double timeoutSeconds = 0;
};

// How a tag read becomes a card number.
struct CardRule {
    bool epcField = false;
    int wiegandBits = 0;
    uint8_t start = 0;
    uint8_t count = 0;
    bool reversed = false;

    std::optional<std::string> CardOf(const EpcWindow& window) const {
        return epcField ? EpcFieldCardNumber(window, start, count, reversed)
                        : WiegandCardNumber(window, wiegandBits, start, reversed);
    }
};

// "START:LEN" inside the 12-byte EPC window.
std::optional<std::pair<int, int>> ParseEpcField(const std::string& text) {
    int start = -1;
    int length = -1;
    char tail = 0;
    if (std::sscanf(text.c_str(), "%d:%d%c", &start, &length, &tail) != 2) {
        return std::nullopt;
    }
    if (start < 0 || length < 1 || start + length > kEpcWindow) {
        return std::nullopt;
    }
    return std::make_pair(start, length);
}

std::string CheckEpcField(const std::string& text) {
    return ParseEpcField(text) ? std::string{}
                               : "expected START:LEN with START + LEN at most 12, got " + text;
}

// The reader's output settings give the start byte and the byte order; the options may replace
// the Wiegand format or ask for a field of EPC bytes instead.
int32_t MakeCardRule(const ReadOptions& options, CardRule& rule, std::string& failure) {
    OutputBytes output{};
    if (const int32_t result = UhfGetWgOutByte(kReaderAddress, output.data()); result != ZENDRIK_OK) {
        failure = "cannot read the output settings: " + ResultWords(result);
        return result;
    }
    rule.reversed = output[kOutputInverted] != 0;
    if (const auto field = ParseEpcField(options.epcField)) {
        rule.epcField = true;
        rule.start = static_cast<uint8_t>(field->first);
        rule.count = static_cast<uint8_t>(field->second);
        return ZENDRIK_OK;
    }
    rule.start = output[kOutputStart];
    rule.wiegandBits = options.wiegandBits;
    if (rule.wiegandBits != 0) {
        return ZENDRIK_OK;
    }
    uint8_t format = 0;
    if (const int32_t result = UhfGetWeigand(kReaderAddress, &format); result != ZENDRIK_OK) {
        failure = "cannot read the Wiegand format: " + ResultWords(result);
        return result;
    }
    if (format != kWiegand26Code && format != kWiegand34Code) {
        failure = "the reader reports an unknown Wiegand format (" + std::to_string(format) +
                  "); give --wiegand 26|34 or --epc START:LEN";
        return ZENDRIK_ERR_STATUS;
    }
    rule.wiegandBits = format == kWiegand34Code ? kWiegand34Bits : kWiegand26Bits;
    return ZENDRIK_OK;
}

// A Wiegand number that starts too late in the EPC window fits no tag at all.
std::string CheckCardRule(const CardRule& rule) {
    if (rule.epcField || rule.start + WiegandBytes(rule.wiegandBits) <= kEpcWindow) {
        return {};
    }
    return "the reader's output-start " + std::to_string(rule.start) + " leaves no room for the " +
           std::to_string(WiegandBytes(rule.wiegandBits)) + " bytes of Wiegand " +
           std::to_string(rule.wiegandBits) +
           " in the 12 EPC bytes; give --epc START:LEN or change output-start";
}

class TagReader {
  public:
    TagReader(const ReadOptions& options, uint8_t kind, CardRule rule, ReadFormat format)
        : options_(options), kind_(kind), rule_(rule), format_(format) {}

    int Run() {
        if (const auto header = ReadHeader(format_)) {
            Print(*header);
        }
        const InterruptFlag interrupt;
        const auto started = std::chrono::steady_clock::now();
        while (!interrupt.raised() && (options_.watch || reads_ < options_.count)) {
            if (TimedOut(started)) {
                return options_.watch ? kExitOk : Report(Shortfall("in " + Seconds() + " s"));
            }
            TagData tag;
            const int32_t result = UhfReadTag(kReaderAddress, tag.bytes.data(), &tag.length);
            // ZENDRIK_ERR_STATUS: the reader answered, but had no tag in its field.
            if (result != ZENDRIK_OK && result != ZENDRIK_ERR_STATUS) {
                return Report("reading a tag failed: " + ResultWords(result));
            }
            if (result != ZENDRIK_OK || !Show(tag)) {
                std::this_thread::sleep_for(std::chrono::milliseconds{options_.intervalMs});
            }
        }
        if (interrupt.raised() && !options_.watch && reads_ < options_.count) {
            return Report(Shortfall("before the interrupt"));
        }
        return kExitOk;
    }

  private:
    // Prints the read; false when it gives no card number.
    bool Show(const TagData& tag) {
        const std::optional<EpcWindow> window = EpcWindowOf(tag, kind_);
        if (!window) {
            WarnOnce("", "a tag read carried no EPC; skipped");
            return false;
        }
        const std::string epc = HexText(std::span(window->bytes).first(window->present));
        const std::optional<std::string> card = rule_.CardOf(*window);
        if (!card) {
            WarnOnce(epc, "tag " + epc + " is too short for the card number's bytes; skipped");
            return false;
        }
        ++reads_;
        const ReadRow row{LocalTimeStamp(std::chrono::system_clock::now()), *card, ++counts_[*card],
                          window->epcLength, epc};
        Print(FormatReadRow(format_, row));
        return true;
    }

    // A tag that stays in the field is read again and again: say once what is wrong with it.
    void WarnOnce(const std::string& epc, const std::string& warning) {
        if (warned_.insert(epc).second) {
            Report(warning);
        }
    }

    bool TimedOut(std::chrono::steady_clock::time_point started) const {
        return options_.timeoutSeconds > 0 && std::chrono::steady_clock::now() - started >=
                                                  std::chrono::duration<double>(options_.timeoutSeconds);
    }

    std::string Seconds() const {
        char text[32];
        std::snprintf(text, sizeof text, "%g", options_.timeoutSeconds);
        return text;
    }

    std::string Shortfall(const std::string& when) const {
        return "only " + std::to_string(reads_) + " of " + std::to_string(options_.count) + " tags read " +
               when;
    }

    static void Print(const std::string& line) {
        std::fputs(line.c_str(), stdout);
        std::fflush(stdout);
    }

    const ReadOptions& options_;
    uint8_t kind_;
    CardRule rule_;
    ReadFormat format_;
    int reads_ = 0;
    std::map<std::string, int> counts_;
    std::set<std::string> warned_;
};

int RunRead(const LinkOptions& link, const ReadOptions& options) {
    ReaderSession session;
    std::string failure;
    if (session.Connect(link, failure) != ZENDRIK_OK) {
        return Report(failure);
    }
    CardRule rule;
    if (MakeCardRule(options, rule, failure) != ZENDRIK_OK) {
        return Report(failure);
    }
    if (const std::string error = CheckCardRule(rule); !error.empty()) {
        return Report(error, kExitUsage);
    }
    const ReadFormat format = ParseReadFormat(options.format).value_or(ReadFormat::kText);
    return TagReader(options, session.kind(), rule, format).Run();
}

}  // namespace

Subcommand AddReadCommand(CLI::App& program, const LinkOptions& link) {
    auto options = std::make_shared<ReadOptions>();
    CLI::App* app = program.add_subcommand("read",
                                           "Read tags and print one line per read: a time stamp, the card "
                                           "number, how often this card number has "
                                           "been read in this run, and the EPC. The card number is the "
                                           "Wiegand number a panel receives (decimal, "
                                           "8 digits for Wiegand 26, 10 for Wiegand 34) taken from the "
                                           "reader's start byte and byte order, or with "
                                           "--epc a field of EPC bytes in hex.");
    CLI::Option* count = app->add_option("--count", options->count, "stop after N reads (default 1)")
                             ->check(CLI::PositiveNumber);
    app->add_flag("--watch", options->watch, "read until interrupted (Ctrl-C)")->excludes(count);
    CLI::Option* wiegand = app->add_option("--wiegand", options->wiegandBits,
                                           "Wiegand format of the card number (default: the reader's)")
                               ->check(CLI::IsMember({kWiegand26Bits, kWiegand34Bits}));
    app->add_option("--epc", options->epcField, "card number = LEN EPC bytes from byte START, in hex")
        ->type_name("START:LEN")
        ->check(CheckEpcField)
        ->excludes(wiegand);
    app->add_option("--format", options->format, "output format (default text)")
        ->check(CLI::IsMember({"text", "json", "csv"}));
    app->add_option("--interval", options->intervalMs,
                    "pause after a read that found no tag, ms (default 100)")
        ->check(CLI::Range(0, 60000));
    app->add_option("--timeout", options->timeoutSeconds, "give up after this many seconds (default: never)")
        ->check(CLI::NonNegativeNumber);
    app->footer(
        "A read the reader answers without a tag is repeated; any other failure ends the command. With "
        "--count, "
        "fewer reads than asked for (time-out or interrupt) is a failure; --watch ends successfully.\n\n" +
        std::string(kLinkOptionsNote));
    return {app, [&link, options] { return RunRead(link, *options); }};
}

}  // namespace zendrik::cli
