// Exported session functions: result words and addresses, reader handles, identity and the
// single reads.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "exports/session_boundary.h"
#include "exports/sized_structs.h"
#include "zendrik/zendrik_session.h"
#include "link/log.h"
#include "link/result_codes.h"
#include "rules/identity_text.h"
#include "session/address.h"
#include "session/callback_scope.h"
#include "session/reader_handle.h"
#include "session/reader_link.h"
#include "session/reader_name.h"

namespace session = zendrik::session;
namespace exports = zendrik::exports;
using session::CopyCutText;
using session::GuardedCall;
using session::InsideEventCallback;

namespace {

constexpr uint32_t kKnownOpenFlags = ZENDRIK_OPEN_ABSENT_OK;

zendrik_open_options DefaultOpenOptions() {
    zendrik_open_options options;
    zendrik_open_options_init(&options);
    return options;
}

// Opens the link, greets the reader and, unless the caller named it, takes its serial number for
// the id. Without a reader the handle still opens when the caller allows it. Runs before the
// handle's thread starts, so the session is this thread's alone.
int32_t Connect(zendrik_reader& handle, const char* name, bool absentOk) {
    if (name != nullptr) {
        handle.session.set_id(name);
    }
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
    return result == ZENDRIK_OK || absentOk ? ZENDRIK_OK : result;
}

int32_t Open(const char* address, const zendrik_open_options* given, zendrik_reader** reader) {
    if (given != nullptr && given->size < exports::kOpenOptionsFirstSize) {
        return ZENDRIK_ERR_INVALID_ARGUMENT;
    }
    const zendrik_open_options options =
        given != nullptr ? exports::ReadSized(*given, DefaultOpenOptions()) : DefaultOpenOptions();
    const bool absentOk = (options.flags & ZENDRIK_OPEN_ABSENT_OK) != 0;
    if ((options.flags & ~kKnownOpenFlags) != 0 ||
        (options.name != nullptr && !session::IsValidReaderName(options.name)) ||
        (absentOk && options.name == nullptr)) {
        return ZENDRIK_ERR_INVALID_ARGUMENT;
    }
    session::ParsedAddress parsed = session::ParseReaderAddress(address);
    if (!parsed.address) {
        return ZENDRIK_ERR_BAD_ADDRESS;
    }
    session::SessionClock& clock = session::SystemSessionClockInstance();
    auto handle = std::make_unique<zendrik_reader>(address, *parsed.address,
                                                   session::MakeReaderLink(*parsed.address, clock), clock);
    if (const int32_t result = Connect(*handle, options.name, absentOk); result != ZENDRIK_OK) {
        return result;
    }
    handle->actor.Start();
    *reader = handle.release();
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

ZENDRIK_API void zendrik_set_log_handler(int32_t level, zendrik_log_handler handler, void* user) {
    zendrik::log::SetHandler(static_cast<zendrik::log::Level>(level), handler, user);
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
        owned->actor.Close();
        owned->session.Goodbye();  // the handle's thread has ended: the link is this thread's
        return ZENDRIK_OK;
    });
}

ZENDRIK_API const char* zendrik_reader_id(const zendrik_reader* reader) {
    return reader != nullptr ? reader->session.id().c_str() : "";
}

ZENDRIK_API const char* zendrik_reader_address(const zendrik_reader* reader) {
    return reader != nullptr ? reader->session.address_text().c_str() : "";
}

ZENDRIK_API void zendrik_reader_info_init(zendrik_reader_info* info) {
    if (info != nullptr) {
        *info = zendrik_reader_info{};
        info->size = sizeof *info;
    }
}

ZENDRIK_API int32_t zendrik_reader_info_get(zendrik_reader* reader, zendrik_reader_info* info) {
    if (info == nullptr || info->size < exports::kReaderInfoFirstSize) {
        return ZENDRIK_ERR_INVALID_ARGUMENT;
    }
    if (const int32_t refused = session::BlockingCallRefusal(reader); refused != ZENDRIK_OK) {
        return refused;
    }
    return GuardedCall([&]() -> int32_t {
        const session::CallResult called = reader->actor.Call(session::RequestOf(session::RequestKind::kInfo));
        if (called.outcome.result == ZENDRIK_OK) {
            exports::WriteSized(called.outcome.info, *info);
        }
        return called.outcome.result;
    });
}

ZENDRIK_API int32_t zendrik_reader_read_tag(zendrik_reader* reader, zendrik_event* event, size_t event_size) {
    if (event == nullptr || event_size < exports::kEventFirstSize) {
        return ZENDRIK_ERR_INVALID_ARGUMENT;
    }
    if (const int32_t refused = session::BlockingCallRefusal(reader); refused != ZENDRIK_OK) {
        return refused;
    }
    return GuardedCall([&]() -> int32_t {
        const session::CallResult called = reader->actor.Call(session::RequestOf(session::RequestKind::kReadTag));
        if (called.outcome.result == ZENDRIK_OK) {
            session::WritePublicEvent(called.tag, reader->session.record_head(), event, event_size);
        }
        return called.outcome.result;
    });
}

ZENDRIK_API int32_t zendrik_reader_read_tag_list(zendrik_reader* reader, uint8_t* ids, size_t size,
                                                 size_t* length) {
    if (length == nullptr || (ids == nullptr && size != 0)) {
        return ZENDRIK_ERR_INVALID_ARGUMENT;
    }
    if (const int32_t refused = session::BlockingCallRefusal(reader); refused != ZENDRIK_OK) {
        return refused;
    }
    return GuardedCall([&]() -> int32_t {
        const session::CallResult called = reader->actor.Call(session::RequestOf(session::RequestKind::kReadTagList));
        if (called.outcome.result != ZENDRIK_OK) {
            return called.outcome.result;
        }
        *length = called.ids.size();
        if (called.ids.size() > size) {
            return ZENDRIK_ERR_TOO_SMALL;
        }
        std::copy(called.ids.begin(), called.ids.end(), ids);
        return ZENDRIK_OK;
    });
}

}  // extern "C"
