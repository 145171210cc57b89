#pragma once

#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "daemon/audit/audit_trail.h"
#include "daemon/common/event_kinds.h"
#include "daemon/config/config.h"
#include "daemon/loop/event_loop.h"
#include "daemon/readers/reader_source.h"

namespace zendrik::daemon {

enum class SettingsState {
    kUnmanaged,  // no [reader.settings]
    kInSync,
    kDrifted,   // a difference is reported only, or writing it failed
    kApplying,  // being compared or written (also before the first comparison)
};

// "unmanaged", "in-sync", "drifted", "applying", as the status writes it.
const char* SettingsStateWords(SettingsState state);

// Keeps one reader at the settings its [reader.settings] declares (merged over its profile's): compares them
// when asked (on connecting, when the link is back, after a factory default) and every settings_check_s,
// reports a difference once it is found, and with enforce on writes the values that differ (the library
// writes them in the tool's order and reads them back). A reader whose settings match is never
// written. Everything goes through the reader's request queue and so never waits on the loop.
class DesiredSettings {
  public:
    // What it needs of its reader.
    class Reader {
      public:
        virtual ~Reader() = default;
        using Completion = std::function<void(const RequestEnd& completed)>;
        // Queues a request; its completion is called on the loop. The result code when nothing
        // was queued (then `done` is never called).
        virtual std::optional<int32_t> Request(ReaderRequest request, Completion done) = 0;
        // An event of the daemon's own for the reader's events topic, with these fields after
        // "event", "reader", "seq" and "time".
        virtual void Emit(std::string_view kind, nlohmann::ordered_json fields) = 0;
        virtual void SettingsChanged() = 0;
        // Where its writes are recorded; none: they are not.
        virtual AuditTrail* audit() { return nullptr; }
    };

    DesiredSettings(const ReaderConfig& config, EventLoop& loop, Reader& reader);

    // Compares now (or once more when the comparison under way has ended), and every
    // settings_check_s from then on.
    void Check();
    // No comparison from now on.
    void Stop();

    SettingsState state() const { return state_; }
    bool managed() const { return state_ != SettingsState::kUnmanaged; }
    // While drifted, the differences: {"power":{"want":26,"have":33}}; empty otherwise.
    std::string driftJson() const;
    // Whether the file declares the setting (set-settings refuses to change it).
    bool Declares(const std::string& name) const;
    // The declared settings as "NAME=VALUE", in the file's order.
    std::vector<std::string> Assignments() const;
    // [reader.settings] as a JSON object of the values as the file gives them; empty when unmanaged.
    std::string DeclaredJson() const;
    // Where each declared value comes from: {"power":"reader","buzzer":"profile"}; empty when unmanaged.
    std::string SourcesJson() const;
    // The differences of a comparison, {"power":{"want":24,"have":33}}, each with the source of
    // its declared value added ("source":"reader" or "profile").
    nlohmann::ordered_json WithSources(nlohmann::ordered_json differences) const;
    // The [[profile]] the settings merge in; empty for none.
    const std::string& profile() const { return profile_; }

  private:
    void OnCompared(const RequestEnd& completed);
    void Write(const nlohmann::ordered_json& differences);
    void OnWritten(const RequestEnd& completed, const nlohmann::ordered_json& applied);
    void Fail(const std::string& words);
    void SetState(SettingsState state);
    void Finish();

    std::string name_;
    std::vector<DeclaredSetting> declared_;
    std::string profile_;
    uint32_t checkSeconds_;
    bool enforce_;
    Reader& reader_;
    Timer timer_;
    SettingsState state_;
    nlohmann::ordered_json drift_;  // the differences while drifted, or null
    std::string lastReported_;      // the differences or failure last given as an event
    bool comparing_ = false;
    bool again_ = false;
    bool stopped_ = false;
};

// A setting's value as a text of the file or a command gives it, as JSON: an integer as a number,
// everything else as the text it is.
nlohmann::ordered_json SettingValueJson(const std::string& value);
// The values of `names` in a reader's settings (JSON text); every setting for no names. Empty when
// the text is no object.
std::string SettingsOfNames(const std::string& settingsJson, const std::vector<std::string>& names);

// What went wrong with a request, in words: the library's message, or the result's words.
std::string CompletionWords(const zendrik_event& completed);
// Why a request that succeeded has no result to give: it was too long for its record, and the
// library no longer keeps it whole.
std::string LostResultWords(const zendrik_event& completed);

}  // namespace zendrik::daemon
