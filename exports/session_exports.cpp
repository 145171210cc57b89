// Exported session functions: result words and addresses, reader handles, identity and the
// single reads.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "commands/tag_commands.h"
#include "exports/session_boundary.h"
#include "exports/zendrik_session.h"
#include "link/result_codes.h"
#include "rules/identity_text.h"
#include "session/address.h"
#include "session/callback_scope.h"
#include "session/events.h"
#include "session/reader_handle.h"
#include "session/reader_link.h"
#include "session/reader_name.h"

namespace session = zendrik::session;
using session::CopyCutText;
using session::GuardedCall;
using session::InsideEventCallback;

namespace {

// The tag list request's two parameter bytes; the reader takes any values.
constexpr uint8_t kTagListParameter = 0;
constexpr uint32_t kKnownOpenFlags = ZENDRIK_OPEN_ABSENT_OK;

template <std::size_t N>
void CopyField(char (&field)[N], std::string_view text) {
    CopyCutText(text, field, N);
}

// Cuts a text with \xNN escapes to `capacity` characters with its NUL, never inside an escape.
std::string CutEscapedText(const std::string& text, std::size_t capacity) {
    constexpr std::size_t kEscapeLength = 4;  // \xNN
    std::size_t kept = 0;
    while (kept < text.size()) {
        const bool escape = text[kept] == '\\' && kept + 1 < text.size() && text[kept + 1] == 'x';
        const std::size_t step = escape ? kEscapeLength : 1;
        if (kept + step > capacity - 1 || kept + step > text.size()) {
            break;
        }
        kept += step;
    }
    return text.substr(0, kept);
}

// Opens the link, greets the reader and, unless the caller named it, takes its serial number for
// the id. Without a reader the handle still opens when the caller allows it.
int32_t Connect(zendrik_reader& handle, const char* name, bool absentOk) {
    const auto turn = handle.session.CallerTurn();
    int32_t result = handle.session.Connect();
    if (result == ZENDRIK_OK && name == nullptr) {
        std::vector<uint8_t> serial;
        result = handle.session.ReadSerialNumber(serial);
        if (result == ZENDRIK_OK) {
            handle.session.set_id(zendrik::rules::SerialNumberHex(serial));
        } else {
            handle.session.Goodbye();
        }
    }
    if (name != nullptr) {
        handle.session.set_id(name);
    }
    return result == ZENDRIK_OK || absentOk ? ZENDRIK_OK : result;
}

int32_t Open(const char* address, const zendrik_open_options* options, zendrik_reader** reader) {
    const char* name = options != nullptr ? options->name : nullptr;
    const uint32_t flags = options != nullptr ? options->flags : 0;
    const bool absentOk = (flags & ZENDRIK_OPEN_ABSENT_OK) != 0;
    if ((options != nullptr && options->size < sizeof(zendrik_open_options)) ||
        (flags & ~kKnownOpenFlags) != 0 || (name != nullptr && !session::IsValidReaderName(name)) ||
        (absentOk && name == nullptr)) {
        return ZENDRIK_ERR_INVALID_ARGUMENT;
    }
    session::ParsedAddress parsed = session::ParseReaderAddress(address);
    if (!parsed.address) {
        return ZENDRIK_ERR_BAD_ADDRESS;
    }
    session::SessionClock& clock = session::SystemSessionClockInstance();
    auto handle = std::make_unique<zendrik_reader>(address, *parsed.address,
                                                   session::MakeReaderLink(*parsed.address, clock), clock);
    if (const int32_t result = Connect(*handle, name, absentOk); result != ZENDRIK_OK) {
        return result;
    }
    *reader = handle.release();
    return ZENDRIK_OK;
}

int32_t ReadInfo(zendrik_reader& reader, zendrik_reader_info& info) {
    const auto turn = reader.session.CallerTurn();
    if (const int32_t result = reader.session.Note(reader.session.EnsureConnected()); result != ZENDRIK_OK) {
        return result;
    }
    std::vector<uint8_t> version;
    std::vector<uint8_t> serial;
    if (const int32_t result = reader.session.Note(reader.session.ReadVersion(version));
        result != ZENDRIK_OK) {
        return result;
    }
    if (const int32_t result = reader.session.Note(reader.session.ReadSerialNumber(serial));
        result != ZENDRIK_OK) {
        return result;
    }
    info.kind = reader.session.handshake().readerKind;
    info.low_value = reader.session.handshake().lowValue;
    CopyField(info.version, CutEscapedText(zendrik::rules::VersionText(version), sizeof info.version));
    CopyField(info.serial, zendrik::rules::SerialNumberHex(serial));
    return ZENDRIK_OK;
}

int32_t ReadTag(zendrik_reader& reader, zendrik_event& event) {
    const auto turn = reader.session.CallerTurn();
    session::ReaderSession& s = reader.session;
    if (const int32_t result = s.Note(s.EnsureConnected()); result != ZENDRIK_OK) {
        return result;
    }
    if (!s.card_rule_loaded()) {
        if (const int32_t result = s.Note(s.LoadCardRule()); result != ZENDRIK_OK) {
            return result;
        }
    }
    const session::TagRound round = s.ReadTagRound();
    if (s.Note(round.code) != ZENDRIK_OK) {
        return round.code;
    }
    const int64_t utcMs = s.clock().UtcMilliseconds();
    const session::Presence once{1, utcMs, utcMs, s.clock().now(), round.card};
    event = session::TagEvent(ZENDRIK_EVENT_READ, s.id(), utcMs, round.epc, once, round.antenna, round.rssi);
    event.seq = s.NextSeq();
    return ZENDRIK_OK;
}

int32_t ReadTagList(zendrik_reader& reader, uint8_t* ids, size_t size, size_t& length) {
    const auto turn = reader.session.CallerTurn();
    session::ReaderSession& s = reader.session;
    if (const int32_t result = s.Note(s.EnsureConnected()); result != ZENDRIK_OK) {
        return result;
    }
    std::array<uint8_t, zendrik::kTagListCapacity> listed{};
    uint8_t count = 0;
    const int32_t result =
        s.Note(zendrik::GetListTagId(s.link(), kTagListParameter, kTagListParameter, count, listed));
    if (result != ZENDRIK_OK) {
        return result;
    }
    length = count;
    if (count > size) {
        return ZENDRIK_ERR_TOO_SMALL;
    }
    std::copy_n(listed.begin(), count, ids);
    return ZENDRIK_OK;
}

}  // namespace

extern "C" {

ZENDRIK_API const char* zendrik_result_text(int32_t code) {
    return zendrik::ResultWords(code);
}

ZENDRIK_API int32_t zendrik_result_kind(int32_t code) {
    return static_cast<int32_t>(zendrik::KindOfResult(code));
}

ZENDRIK_API int32_t zendrik_address_check(const char* address, char* why, size_t why_size) {
    if (address == nullptr) {
        return ZENDRIK_ERR_INVALID_ARGUMENT;
    }
    return GuardedCall([&]() -> int32_t {
        const session::ParsedAddress parsed = session::ParseReaderAddress(address);
        if (parsed.address) {
            return ZENDRIK_OK;
        }
        CopyCutText(parsed.why, why, why_size);
        return ZENDRIK_ERR_BAD_ADDRESS;
    });
}

ZENDRIK_API int32_t zendrik_address_device(const char* address, char* device, size_t size, size_t* length) {
    if (address == nullptr) {
        return ZENDRIK_ERR_INVALID_ARGUMENT;
    }
    return GuardedCall([&]() -> int32_t {
        const session::ParsedAddress parsed = session::ParseReaderAddress(address);
        if (!parsed.address) {
            return ZENDRIK_ERR_BAD_ADDRESS;
        }
        return session::CopyWholeText(session::DeviceOf(*parsed.address), device, size, length);
    });
}

ZENDRIK_API void zendrik_open_options_init(zendrik_open_options* options) {
    if (options != nullptr) {
        *options = zendrik_open_options{sizeof(zendrik_open_options), nullptr, 0};
    }
}

ZENDRIK_API int32_t zendrik_reader_open(const char* address, const zendrik_open_options* options,
                                        zendrik_reader** reader) {
    if (address == nullptr || reader == nullptr) {
        return ZENDRIK_ERR_INVALID_ARGUMENT;
    }
    *reader = nullptr;
    return GuardedCall([&]() -> int32_t { return Open(address, options, reader); });
}

ZENDRIK_API int32_t zendrik_reader_close(zendrik_reader* reader) {
    if (reader == nullptr) {
        return ZENDRIK_OK;
    }
    if (InsideEventCallback()) {
        return ZENDRIK_ERR_IN_CALLBACK;
    }
    const std::unique_ptr<zendrik_reader> owned(reader);
    return GuardedCall([&]() -> int32_t {
        owned->inventory.Stop();
        const auto turn = owned->session.CallerTurn();
        owned->session.Goodbye();
        return ZENDRIK_OK;
    });
}

ZENDRIK_API const char* zendrik_reader_id(const zendrik_reader* reader) {
    return reader != nullptr ? reader->session.id().c_str() : "";
}

ZENDRIK_API const char* zendrik_reader_address(const zendrik_reader* reader) {
    return reader != nullptr ? reader->session.address_text().c_str() : "";
}

ZENDRIK_API int32_t zendrik_reader_info_get(zendrik_reader* reader, zendrik_reader_info* info) {
    if (reader == nullptr || info == nullptr || info->size < sizeof(zendrik_reader_info)) {
        return ZENDRIK_ERR_INVALID_ARGUMENT;
    }
    if (InsideEventCallback()) {
        return ZENDRIK_ERR_IN_CALLBACK;
    }
    return GuardedCall([&]() -> int32_t {
        zendrik_reader_info read{};
        read.size = info->size;
        const int32_t result = ReadInfo(*reader, read);
        if (result == ZENDRIK_OK) {
            *info = read;
        }
        return result;
    });
}

ZENDRIK_API int32_t zendrik_reader_read_tag(zendrik_reader* reader, zendrik_event* event, size_t event_size) {
    if (reader == nullptr || event == nullptr || event_size < sizeof(zendrik_event)) {
        return ZENDRIK_ERR_INVALID_ARGUMENT;
    }
    if (InsideEventCallback()) {
        return ZENDRIK_ERR_IN_CALLBACK;
    }
    if (reader->inventory.running()) {
        return ZENDRIK_ERR_BUSY;
    }
    return GuardedCall([&]() -> int32_t { return ReadTag(*reader, *event); });
}

ZENDRIK_API int32_t zendrik_reader_read_tag_list(zendrik_reader* reader, uint8_t* ids, size_t size,
                                                 size_t* length) {
    if (reader == nullptr || length == nullptr || (ids == nullptr && size != 0)) {
        return ZENDRIK_ERR_INVALID_ARGUMENT;
    }
    if (InsideEventCallback()) {
        return ZENDRIK_ERR_IN_CALLBACK;
    }
    return GuardedCall([&]() -> int32_t { return ReadTagList(*reader, ids, size, *length); });
}

}  // extern "C"
