#include "session/reader_session.h"

#include <array>

#include "commands/parameter_command.h"
#include "commands/parameter_table.h"
#include "exports/zendrik_session.h"
#include "link/command_reply.h"
#include "link/frame.h"
#include "link/identity.h"
#include "rules/epc_framing.h"
#include "rules/reader_codes.h"
#include "session/reader_link.h"
#include "session/setting_commands.h"

namespace zendrik::session {
namespace {

constexpr uint8_t kAddress = rules::kAnyReaderAddress;
constexpr uint8_t kGreeting = 1;
constexpr uint8_t kFarewell = 0;

int32_t ReadIdentityBytes(Link& link, IdentityRecord record, std::vector<uint8_t>& bytes) {
    std::array<uint8_t, kIdentityCapacity> buffer{};
    std::size_t length = 0;
    const int32_t result = ReadIdentity(link, kAddress, record, buffer, length);
    if (result == ZENDRIK_OK) {
        bytes.assign(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(length));
    }
    return result;
}

// A tag read waits longer for its reply over USB: the reader inventories first. On every link it
// waits for the reply as long as a slow reader's round may take, so that the reply is not left to
// arrive late.
constexpr Milliseconds kLongestRound{1500};
ExchangeVariant TagReadVariant(const Link& link) {
    return (link.type() == LinkType::kUsb ? ExchangeVariant::TagRead() : ExchangeVariant::Standard())
        .WithPatience(kLongestRound);
}

}  // namespace

bool IsLinkFailure(int32_t result) {
    switch (result) {
        case ZENDRIK_ERR_NOT_REACHED:
        case ZENDRIK_ERR_PORT_NOT_OPEN:
        case ZENDRIK_ERR_BAD_REPLY:
        case ZENDRIK_ERR_BYTE_TIMEOUT:
        case ZENDRIK_ERR_NO_START_BYTE:
        case ZENDRIK_ERR_UDP_NO_REPLY:
        case ZENDRIK_ERR_NO_USB_READER:
            return true;
        default:
            return false;
    }
}

bool IsDeviceGone(int32_t result) {
    return result == ZENDRIK_ERR_NOT_REACHED || result == ZENDRIK_ERR_PORT_NOT_OPEN ||
           result == ZENDRIK_ERR_NO_USB_READER;
}

ReaderSession::ReaderSession(std::string addressText, ReaderAddress address, std::unique_ptr<Link> link,
                             SessionClock& clock)
    : addressText_(std::move(addressText)),
      address_(std::move(address)),
      link_(std::move(link)),
      clock_(clock) {}

int32_t ReaderSession::Connect() {
    connected_ = false;
    cardRule_.reset();  // the reader may have been set up otherwise, or be another one
    if (const int32_t opened = OpenTransport(*link_, address_); opened != ZENDRIK_OK) {
        return opened;
    }
    HandshakeInfo info;
    if (const int32_t greeted = Handshake(*link_, kAddress, kGreeting, info); greeted != ZENDRIK_OK) {
        return greeted;
    }
    handshake_ = info;
    connected_ = true;
    return ZENDRIK_OK;
}

int32_t ReaderSession::EnsureConnected() {
    return connected_ ? ZENDRIK_OK : Connect();
}

void ReaderSession::MarkDisconnected() {
    connected_ = false;
}

int32_t ReaderSession::Note(int32_t result) {
    if (IsLinkFailure(result)) {
        MarkDisconnected();
    }
    return result;
}

void ReaderSession::Goodbye() {
    if (connected_) {
        HandshakeInfo ignored;
        Handshake(*link_, kAddress, kFarewell, ignored);
        connected_ = false;
    }
}

int32_t ReaderSession::ReadSerialNumber(std::vector<uint8_t>& serial) {
    return ReadIdentityBytes(*link_, IdentityRecord::kSerialNumber, serial);
}

int32_t ReaderSession::ReadVersion(std::vector<uint8_t>& version) {
    return ReadIdentityBytes(*link_, IdentityRecord::kVersion, version);
}

int32_t ReaderSession::LoadCardRule() {
    rules::ReaderSettings settings;
    for (const rules::SettingCommand command :
         {rules::SettingCommand::kOutputBytes, rules::SettingCommand::kWiegandFormat}) {
        if (const int32_t result = ReadSetting(*link_, command, settings); result != ZENDRIK_OK) {
            return result;
        }
    }
    cardRule_ = rules::WiegandChoice{settings.output[rules::kOutputStart], settings.wiegandFormat,
                                     settings.output[rules::kOutputInverted] != 0};
    return ZENDRIK_OK;
}

TagRound ReaderSession::ReadTagRound() {
    TagRound round;
    const auto request = BuildStandardFrame(kAddress, command::kReadTag, {});
    LongReply reply{};
    round.code = link_->Exchange(TagReadVariant(*link_), request, reply);
    if (round.code != ZENDRIK_OK) {
        return round;
    }
    // Any refusal is the reader's way of saying that no tag answered in this round.
    const std::size_t length = ReplyDataLength(reply);
    const rules::TagData data{std::span<const uint8_t>(reply).subspan(kOffsetData, length), length};
    const std::optional<rules::FramedTag> framed =
        ReplyStatusOk(reply) ? rules::FrameTag(data, handshake_.readerKind) : std::nullopt;
    if (!framed || framed->epc.size() != framed->epcLength || framed->epcLength > kMaxEpcBytes) {
        round.code = ZENDRIK_NO_TAG;
        return round;
    }
    round.epc.assign(framed->epc.begin(), framed->epc.end());
    round.antenna = framed->antenna ? *framed->antenna : -1;
    round.rssi = framed->rssi ? *framed->rssi : -1;
    if (cardRule_) {
        round.card = rules::WiegandCardNumber(data, handshake_.readerKind, *cardRule_,
                                              rules::EpcSource::kDeliveredBytes)
                         .value_or("");
    }
    return round;
}

}  // namespace zendrik::session
