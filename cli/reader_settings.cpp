#include "cli/reader_settings.h"

#include "bridge/settings_record.h"

namespace zendrik::cli {

int32_t ReadSettings(zendrik::Reader& reader, rules::ReaderSettings& settings) {
    zendrik_settings read = zendrik::make_settings();
    const int32_t result = zendrik_reader_read_settings(reader.get(), &read);
    if (result == ZENDRIK_OK) {
        settings = bridge::FromPublicSettings(read);
    }
    return result;
}

int32_t ReadKind(zendrik::Reader& reader, uint8_t& kind) {
    zendrik_reader_info info{};
    info.size = sizeof info;
    const int32_t result = zendrik_reader_info_get(reader.get(), &info);
    if (result == ZENDRIK_OK) {
        kind = static_cast<uint8_t>(info.kind);
    }
    return result;
}

}  // namespace zendrik::cli
