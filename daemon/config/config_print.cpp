#include "daemon/config/config_print.h"

#include <toml++/toml.h>
#include <sstream>

namespace zendrik::daemon {
namespace {

// A text as TOML writes it, quoted and escaped.
std::string Quoted(const std::string& text) {
    std::ostringstream out;
    out << toml::value<std::string>(text);
    return out.str();
}

// A declared value as the file gives it: an integer bare, anything else as a text.
std::string SettingValue(const std::string& value) {
    const bool integer = !value.empty() && value.find_first_not_of("-0123456789") == std::string::npos &&
                         value.find('-', 1) == std::string::npos && value != "-";
    return integer ? value : Quoted(value);
}

class Printer {
  public:
    void Key(const std::string& key, const std::string& value) { out_ << key << " = " << value << "\n"; }
    void Text(const std::string& key, const std::string& value) { Key(key, Quoted(value)); }
    void Text(const std::string& key, const std::optional<std::string>& value) {
        if (value) {
            Text(key, *value);
        }
    }
    template <typename Integer>
    void Number(const std::string& key, Integer value) {
        Key(key, std::to_string(value));
    }
    void Secret(const std::string& key, bool set) {
        if (set) {
            out_ << "# " << key << " is set (not shown)\n";
        }
    }
    void Texts(const std::string& key, const std::vector<std::string>& values) {
        std::string list;
        for (const std::string& value : values) {
            list += (list.empty() ? "" : ", ") + Quoted(value);
        }
        Key(key, "[" + list + "]");
    }
    void Header(const std::string& header) { out_ << "\n" << header << "\n"; }
    void Settings(const std::vector<DeclaredSetting>& settings, bool withSources) {
        for (const DeclaredSetting& setting : settings) {
            out_ << setting.name << " = " << SettingValue(setting.value);
            if (withSources) {
                out_ << "  # " << (setting.profile.empty() ? "reader" : "profile " + Quoted(setting.profile));
            }
            out_ << "\n";
        }
    }
    std::string text() const { return out_.str(); }

  private:
    std::ostringstream out_;
};

void PrintMqtt(Printer& print, const MqttConfig& mqtt) {
    print.Header("[mqtt]");
    print.Text("host", mqtt.host);
    print.Number("port", mqtt.port);
    print.Text("topic_prefix", mqtt.topicPrefix);
    print.Text("client_id", mqtt.clientId);
    print.Text("username", mqtt.username);
    print.Secret("password", mqtt.password && !mqtt.passwordFile);
    print.Text("password_file", mqtt.passwordFile);
    print.Text("ca_file", mqtt.caFile);
    print.Text("cert_file", mqtt.certFile);
    print.Text("key_file", mqtt.keyFile);
    print.Number("keepalive_s", mqtt.keepaliveSeconds);
    print.Number("reconnect_min_ms", mqtt.reconnectMinMs);
    print.Number("reconnect_max_ms", mqtt.reconnectMaxMs);
    if (mqtt.maxMessageBytes) {
        print.Number("max_message_bytes", *mqtt.maxMessageBytes);
    }
}

void PrintReader(Printer& print, const ReaderConfig& reader) {
    print.Header("[[reader]]");
    print.Text("name", reader.name);
    print.Text("address", reader.address);
    print.Number("absence_ms", reader.absenceMs);
    if (!reader.profile.empty()) {
        print.Text("profile", reader.profile);
    }
    print.Number("settings_check_s", reader.settingsCheckS);
    print.Key("settings_enforce", reader.settingsEnforce ? "true" : "false");
    print.Texts("publish", PublishKindNames(reader.publish));
    print.Number("read_interval_ms", reader.readIntervalMs);
    print.Texts("epc_include", reader.epcInclude);
    print.Texts("epc_exclude", reader.epcExclude);
    if (reader.settingsManaged) {
        print.Header("[reader.settings]  # merged: the profile's values with the reader's own over them");
        print.Settings(reader.settings, true);
    }
}

void PrintWebhook(Printer& print, const WebhookConfig& webhook) {
    print.Header("[[output]]");
    print.Text("name", webhook.name);
    print.Text("kind", std::string("webhook"));
    print.Text("url", webhook.url);
    if (!webhook.events.empty()) {
        print.Texts("events", webhook.events);
    }
    print.Number("batch_ms", webhook.batchMs);
    print.Number("batch_max", webhook.batchMax);
    print.Number("timeout_s", webhook.timeoutS);
    if (!webhook.headers.empty()) {
        std::string headers;
        for (const auto& [name, value] : webhook.headers) {
            headers += (headers.empty() ? "" : ", ") + Quoted(name) + " = " + Quoted(value);
        }
        print.Key("headers", "{ " + headers + " }");
    }
    print.Text("secret_file", webhook.secretFile);
    print.Text("ca_file", webhook.caFile);
    print.Text("cert_file", webhook.certFile);
    print.Text("key_file", webhook.keyFile);
}

// The zones, the doors and their history.
void PrintPlaces(Printer& print, const DaemonConfig& config) {
    for (const ZoneConfig& zone : config.zones) {
        print.Header("[[zone]]");
        print.Text("name", zone.name);
        print.Texts("readers", zone.readers);
        print.Number("absence_ms", zone.absenceMs);
    }
    for (const DoorConfig& door : config.doors) {
        print.Header("[[door]]");
        print.Text("name", door.name);
        print.Texts("outside", door.outside);
        print.Texts("inside", door.inside);
        print.Number("settle_ms", door.settleMs);
    }
    if (!config.zones.empty() || !config.doors.empty()) {
        print.Header("[history]");
        print.Number("keep_days", config.history.keepDays);
        print.Number("max_mb", config.history.maxMb);
    }
}

}  // namespace

std::string PrintedConfig(const DaemonConfig& config) {
    Printer print;
    print.Text("site", config.site);
    print.Number("status_interval_ms", config.statusIntervalMs);
    if (config.mqttEnabled) {
        PrintMqtt(print, config.mqtt);
    }
    print.Header("[publish]");
    print.Number("batch_ms", config.publish.batchMs);
    print.Number("batch_max", config.publish.batchMax);
    print.Header("[spool]");
    print.Text("path", config.spool.path);
    print.Number("max_messages", config.spool.maxMessages);
    print.Number("checkpoint_interval_ms", config.spool.checkpointIntervalMs);
    if (config.spool.maxAgeS) {
        print.Text("max_age", std::to_string(*config.spool.maxAgeS) + "s");
    }
    if (config.spool.replayRate) {
        print.Number("replay_rate", *config.spool.replayRate);
    }
    print.Header("[http]");
    print.Text("listen", config.http.listen);
    print.Secret("token", config.http.token.has_value());
    print.Text("cert_file", config.http.certFile);
    print.Text("key_file", config.http.keyFile);
    for (const HttpToken& token : config.http.tokens) {  // the files, never the tokens
        print.Header("[[http.token]]");
        print.Text("name", token.name);
        print.Text("file", token.file);
        print.Text("role", std::string(AccessRoleWords(token.role)));
    }
    print.Header("[control]");
    print.Text("commands", std::string(CommandPolicyWords(config.control.commands)));
    print.Header("[audit]");
    print.Number("keep_days", config.audit.keepDays);
    if (!config.audit.path.empty()) {
        print.Text("path", config.audit.path);
    }
    for (const ProfileConfig& profile : config.profiles) {
        print.Header("[[profile]]");
        print.Text("name", profile.name);
        if (profile.hasSettings) {
            print.Header("[profile.settings]");
            print.Settings(profile.settings, false);
        }
    }
    for (const ReaderConfig& reader : config.readers) {
        PrintReader(print, reader);
    }
    PrintPlaces(print, config);
    for (const WebhookConfig& webhook : config.webhooks) {
        PrintWebhook(print, webhook);
    }
    return print.text();
}

}  // namespace zendrik::daemon
