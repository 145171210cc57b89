#include "daemon/http/metrics_text.h"

#include <array>
#include <charconv>
#include <cmath>
#include <functional>
#include <string_view>

namespace zendrik::daemon {
namespace {

// A label value with backslash, double quote and line feed escaped, as the format asks.
std::string LabelValue(std::string_view value) {
    std::string escaped;
    escaped.reserve(value.size());
    for (const char c : value) {
        switch (c) {
            case '\\':
                escaped += "\\\\";
                break;
            case '"':
                escaped += "\\\"";
                break;
            case '\n':
                escaped += "\\n";
                break;
            default:
                escaped += c;
        }
    }
    return escaped;
}

// The shortest text that reads back as the same double.
std::string Number(double value) {
    if (std::isinf(value)) {
        return value > 0 ? "+Inf" : "-Inf";
    }
    if (std::isnan(value)) {
        return "NaN";
    }
    std::array<char, 32> text{};
    const auto [end, error] = std::to_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc{} ? std::string(text.data(), end) : "NaN";
}

std::string ReaderLabel(const ReaderSnapshot& reader) {
    return "reader=\"" + LabelValue(reader.name) + "\"";
}

class Exposition {
  public:
    void Family(std::string_view name, std::string_view type, std::string_view help) {
        text_ += "# HELP ";
        text_ += name;
        text_ += ' ';
        text_ += help;
        text_ += "\n# TYPE ";
        text_ += name;
        text_ += ' ';
        text_ += type;
        text_ += '\n';
    }

    void Sample(std::string_view name, const std::string& labels, std::string_view value) {
        text_ += name;
        if (!labels.empty()) {
            text_ += '{';
            text_ += labels;
            text_ += '}';
        }
        text_ += ' ';
        text_ += value;
        text_ += '\n';
    }
    void Sample(std::string_view name, const std::string& labels, uint64_t value) {
        Sample(name, labels, std::to_string(value));
    }

    // Buckets are kept per bucket; the format wants them cumulative, ending in +Inf = _count.
    void HistogramSamples(std::string_view name, const std::string& labels, const Histogram& histogram) {
        const std::string prefix = labels.empty() ? "" : labels + ",";
        const std::string bucket = std::string(name) + "_bucket";
        uint64_t cumulative = 0;
        for (std::size_t i = 0; i < histogram.counts().size(); ++i) {
            cumulative += histogram.counts()[i];
            const double bound = i < Histogram::kBounds.size() ? Histogram::kBounds[i] : INFINITY;
            Sample(bucket, prefix + "le=\"" + Number(bound) + "\"", cumulative);
        }
        Sample(std::string(name) + "_sum", labels, Number(histogram.sum()));
        Sample(std::string(name) + "_count", labels, histogram.count());
    }

    std::string Take() { return std::move(text_); }

  private:
    std::string text_;
};

using ReaderValue = std::function<uint64_t(const ReaderSnapshot&)>;

// One family with a sample per reader.
void PerReader(Exposition& out, const SiteSnapshot& site, std::string_view name, std::string_view type,
               std::string_view help, const ReaderValue& value) {
    out.Family(name, type, help);
    for (const ReaderSnapshot& reader : site.readers) {
        out.Sample(name, ReaderLabel(reader), value(reader));
    }
}

std::string OutputLabel(const OutputSnapshot& output) {
    return "output=\"" + LabelValue(output.name) + "\"";
}

// The families of every output: the uplink's and each webhook's place in the spool.
void OutputFamilies(Exposition& out, const SiteSnapshot& site) {
    out.Family("zendrik_output_sent_total", "counter", "Events the output's receiver acknowledged.");
    for (const OutputSnapshot& output : site.outputs) {
        out.Sample("zendrik_output_sent_total", OutputLabel(output), output.sent);
    }
    out.Family("zendrik_output_pending", "gauge", "Rows of the spool after the output's place.");
    for (const OutputSnapshot& output : site.outputs) {
        out.Sample("zendrik_output_pending", OutputLabel(output), output.pending);
    }
    out.Family("zendrik_output_errors_total", "counter",
               "Failed attempts of the output by reason (timeout, refused, closed, tls, http-5xx, ...).");
    for (const OutputSnapshot& output : site.outputs) {
        for (const auto& [reason, count] : output.errors) {
            out.Sample("zendrik_output_errors_total",
                       OutputLabel(output) + ",reason=\"" + LabelValue(reason) + "\"", count);
        }
    }
    out.Family("zendrik_output_dead_letters_total", "counter",
               "Events the output's receiver would never take.");
    for (const OutputSnapshot& output : site.outputs) {
        out.Sample("zendrik_output_dead_letters_total", OutputLabel(output), output.deadLetters);
    }
    out.Family("zendrik_output_seconds", "histogram",
               "Time from an event's store in the spool to the output's acknowledgement of it.");
    for (const OutputSnapshot& output : site.outputs) {
        out.HistogramSamples("zendrik_output_seconds", OutputLabel(output), output.seconds);
    }
}

bool AnyManaged(const SiteSnapshot& site) {
    for (const ReaderSnapshot& reader : site.readers) {
        if (reader.settingsInSync) {
            return true;
        }
    }
    return false;
}

}  // namespace

// The zones' and doors' families, only where the site has some.
void PlaceMetrics(Exposition& out, const SiteSnapshot& site) {
    if (!site.zones.empty()) {
        out.Family("zendrik_zone_tags", "gauge", "Tags in the zone now.");
        for (const ZoneSnapshot& zone : site.zones) {
            out.Sample("zendrik_zone_tags", "zone=\"" + LabelValue(zone.name) + "\"", zone.tags.size());
        }
    }
    if (!site.doors.empty()) {
        out.Family("zendrik_passages_total", "counter", "Passages through the door by direction.");
        for (const DoorSnapshot& door : site.doors) {
            const std::string label = "door=\"" + LabelValue(door.name) + "\",direction=";
            out.Sample("zendrik_passages_total", label + "\"in\"", door.passagesIn);
            out.Sample("zendrik_passages_total", label + "\"out\"", door.passagesOut);
        }
    }
    if (site.historyRows) {
        out.Family("zendrik_history_rows", "gauge", "Visits and passages kept in the history.");
        out.Sample("zendrik_history_rows", "", *site.historyRows);
        out.Family("zendrik_history_dropped_total", "counter",
                   "Visits and passages dropped from the history for their age or its size.");
        out.Sample("zendrik_history_dropped_total", "", site.historyDropped);
    }
}

std::string MetricsText(const SiteSnapshot& site) {
    Exposition out;
    // The site's name as a label of a constant series, so that alert rules and dashboards join it
    // to the other series of the same target instead of every series carrying it.
    out.Family("zendrik_site_info", "gauge", "Always 1; its site label names the daemon's site.");
    out.Sample("zendrik_site_info", "site=\"" + LabelValue(site.site) + "\"", 1);
    PerReader(out, site, "zendrik_reads_total", "counter", "Read events the reader gave.",
              [](const ReaderSnapshot& r) { return r.reads; });
    PerReader(out, site, "zendrik_published_total", "counter",
              "Events of the reader that passed its filters and went into the spool.",
              [](const ReaderSnapshot& r) { return r.published; });
    out.Family("zendrik_events_total", "counter", "Events of the reader by kind.");
    for (const ReaderSnapshot& reader : site.readers) {
        for (const auto& [kind, count] : reader.eventsByKind) {
            out.Sample("zendrik_events_total", ReaderLabel(reader) + ",event=\"" + LabelValue(kind) + "\"",
                       count);
        }
    }
    PerReader(out, site, "zendrik_reader_up", "gauge", "1 while the reader's link is up, 0 otherwise.",
              [](const ReaderSnapshot& r) { return r.linkUp ? 1 : 0; });
    PerReader(out, site, "zendrik_inventory_running", "gauge",
              "1 while the reader runs its inventory, 0 while it is stopped.",
              [](const ReaderSnapshot& r) { return r.inventoryRunning ? 1 : 0; });
    PerReader(out, site, "zendrik_link_losses_total", "counter", "Times the reader's link was lost.",
              [](const ReaderSnapshot& r) { return r.linkLosses; });
    if (AnyManaged(site)) {
        out.Family("zendrik_settings_in_sync", "gauge",
                   "1 while the reader's settings match its declared settings, 0 while they differ.");
        for (const ReaderSnapshot& reader : site.readers) {
            if (reader.settingsInSync) {
                out.Sample("zendrik_settings_in_sync", ReaderLabel(reader), *reader.settingsInSync ? 1 : 0);
            }
        }
    }
    out.Family("zendrik_spool_messages", "gauge", "Messages in the spool waiting for the broker.");
    out.Sample("zendrik_spool_messages", "", site.spoolMessages);
    out.Family("zendrik_spool_writable", "gauge",
               "1 while the spool can store, 0 while it cannot (a full disk).");
    out.Sample("zendrik_spool_writable", "", site.spoolWritable ? 1 : 0);
    PerReader(out, site, "zendrik_spooled_messages", "gauge", "The reader's messages in the spool.",
              [](const ReaderSnapshot& r) { return r.spooled; });
    PerReader(out, site, "zendrik_spool_dropped_total", "counter",
              "The reader's messages lost for good: a full spool, a queue that overflowed.",
              [](const ReaderSnapshot& r) { return r.dropped; });
    PerReader(out, site, "zendrik_spool_expired_total", "counter",
              "The reader's messages no output took within the spool's max_age, dropped (and counted "
              "in zendrik_spool_dropped_total) since the start.",
              [](const ReaderSnapshot& r) { return r.expired; });
    PerReader(out, site, "zendrik_dead_letters_total", "counter",
              "The reader's messages the broker would not take, moved to the dead-letter table.",
              [](const ReaderSnapshot& r) { return r.dead; });
    out.Family("zendrik_mqtt_connected", "gauge", "1 while the broker connection is up, 0 otherwise.");
    out.Sample("zendrik_mqtt_connected", "", site.mqttConnected ? 1 : 0);
    out.Family("zendrik_publish_seconds", "histogram",
               "Time from a read to the broker's acknowledgement of its message.");
    out.HistogramSamples("zendrik_publish_seconds", "", site.publishSeconds);
    OutputFamilies(out, site);
    out.Family("zendrik_loop_stall_seconds", "histogram",
               "Time each turn of the daemon's loop kept it from waiting for its descriptors.");
    out.HistogramSamples("zendrik_loop_stall_seconds", "", site.loopStallSeconds);
    out.Family("zendrik_loop_stall_longest_seconds", "gauge",
               "The longest turn of the daemon's loop so far.");
    out.Sample("zendrik_loop_stall_longest_seconds", "", Number(site.longestLoopStallSeconds));
    out.Family("zendrik_round_seconds", "histogram", "Time of one inventory round of the reader.");
    for (const ReaderSnapshot& reader : site.readers) {
        out.HistogramSamples("zendrik_round_seconds", ReaderLabel(reader), reader.roundSeconds);
    }
    PlaceMetrics(out, site);
    return out.Take();
}

}  // namespace zendrik::daemon
