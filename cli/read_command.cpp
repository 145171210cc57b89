// zendrik read: reads tags one after another and prints one line per read, with the card number a
// Wiegand panel would receive and how often that card has been seen.
#include <zendrik.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <thread>

#include "cli/interrupt.h"
#include "cli/read_output.h"
#include "cli/reader_session.h"
#include "cli/reader_settings.h"
#include "cli/result_words.h"
#include "cli/subcommands.h"
#include "rules/card_number.h"
#include "rules/value_ranges.h"

namespace zendrik::cli {
namespace {

constexpr int kWiegand26Bits = 26;
constexpr int kWiegand34Bits = 34;

struct ReadOptions {
    int count = 1;
    bool watch = false;
    int wiegandBits = 0;  // 0: the reader's own format
    std::string epcField;
    std::string format = "text";
    int intervalMs = 100;
    double timeoutSeconds = 0;
};

// What UhfReadTag hands over: the first data bytes of the reply and its data length.
struct TagRead {
    std::array<uint8_t, rules::kTagDataBytes> bytes{};
    uint8_t length = 0;
};

// How a tag read becomes a card number: only from the EPC bytes the read delivered.
struct CardRule {
    bool epcField = false;
    int wiegandBits = 0;
    uint8_t start = 0;
    uint8_t count = 0;
    bool reversed = false;

    uint8_t FormatCode() const {
        return wiegandBits == kWiegand34Bits ? rules::kWiegand34Code : rules::kWiegand26Code;
    }

    std::optional<std::string> CardOf(const rules::TagData& tag, uint8_t kind,
                                      const rules::FramedTag& framed) const {
        if (epcField) {
            return rules::EpcFieldCardNumber(framed.epc, start, count, reversed);
        }
        return rules::WiegandCardNumber(tag, kind, {start, FormatCode(), reversed},
                                        rules::EpcSource::kDeliveredBytes);
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
    if (length < 1 || !rules::OutputFitsWindow(start, length)) {
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
    rules::ReaderSettings settings;
    if (const int32_t result = ReadSetting(rules::SettingCommand::kOutputBytes, settings);
        result != ZENDRIK_OK) {
        failure = "cannot read the output settings: " + ResultWords(result);
        return result;
    }
    rule.reversed = settings.output[rules::kOutputInverted] != 0;
    if (const auto field = ParseEpcField(options.epcField)) {
        rule.epcField = true;
        rule.start = static_cast<uint8_t>(field->first);
        rule.count = static_cast<uint8_t>(field->second);
        return ZENDRIK_OK;
    }
    rule.start = settings.output[rules::kOutputStart];
    rule.wiegandBits = options.wiegandBits;
    if (rule.wiegandBits != 0) {
        return ZENDRIK_OK;
    }
    if (const int32_t result = ReadSetting(rules::SettingCommand::kWiegandFormat, settings);
        result != ZENDRIK_OK) {
        failure = "cannot read the Wiegand format: " + ResultWords(result);
        return result;
    }
    const uint8_t format = settings.wiegandFormat;
    if (rules::WiegandBytes(format) == 0) {
        failure = "the reader reports an unknown Wiegand format (" + std::to_string(format) +
                  "); give --wiegand 26|34 or --epc START:LEN";
        return ZENDRIK_ERR_STATUS;
    }
    rule.wiegandBits = format == rules::kWiegand34Code ? kWiegand34Bits : kWiegand26Bits;
    return ZENDRIK_OK;
}

// A Wiegand number that starts too late in the EPC window fits no tag at all.
std::string CheckCardRule(const CardRule& rule) {
    if (rule.epcField || rules::OutputFitsWindow(rule.start, rules::WiegandBytes(rule.FormatCode()))) {
        return {};
    }
    return "the reader's output-start " + std::to_string(rule.start) + " leaves no room for the " +
           std::to_string(rules::WiegandBytes(rule.FormatCode())) + " bytes of Wiegand " +
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
            TagRead tag;
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
    bool Show(const TagRead& read) {
        const rules::TagData tag{read.bytes, read.length};
        const std::optional<rules::FramedTag> framed = rules::FrameTag(tag, kind_);
        if (!framed) {
            WarnOnce("", "a tag read carried no EPC; skipped");
            return false;
        }
        // The EPC as far as the window of a card number reaches.
        const std::string epc =
            rules::HexText(framed->epc.first(std::min(framed->epc.size(), rules::kEpcWindowBytes)));
        const std::optional<std::string> card = rule_.CardOf(tag, kind_, *framed);
        if (!card) {
            WarnOnce(epc, "tag " + epc + " is too short for the card number's bytes; skipped");
            return false;
        }
        ++reads_;
        const ReadRow row{LocalTimeStamp(std::chrono::system_clock::now()), *card, ++counts_[*card],
                          framed->epcLength, epc};
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
