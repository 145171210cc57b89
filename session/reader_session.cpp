#include "session/reader_session.h"

#include <algorithm>
#include <array>

#include "commands/parameter_command.h"
#include "commands/parameter_table.h"
#include "link/command_reply.h"
#include "link/frame.h"
#include "link/identity.h"
#include "link/log.h"
#include "link/result_codes.h"
#include "rules/epc_framing.h"
#include "rules/reader_codes.h"
#include "session/setting_commands.h"
#include "zendrik/zendrik_session.h"

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

// A tag read waits longer for its reply over USB: the reader inventories first.
ExchangeVariant TagReadVariant(const Link& link) {
    return link.type() == LinkType::kUsb ? ExchangeVariant::TagRead() : ExchangeVariant::Standard();
}

}  // namespace

uint32_t RoundMicroseconds(const TagRound& round) {
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(round.took).count();
    return static_cast<uint32_t>(std::clamp<int64_t>(us, 0, UINT32_MAX));
}

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
    // The link was made for this address: its transport opens what the address names.
    int32_t result = link_->transport().Reopen();
    HandshakeInfo info;
    if (result == ZENDRIK_OK) {
        result = Handshake(*link_, kAddress, kGreeting, info);
    }
    if (result != ZENDRIK_OK) {
        LinkFailed(result);
        return result;
    }
    handshake_ = info;
    connected_ = true;
    if (told_ != Told::kUp) {
        Tell(told_ == Told::kNothing ? ZENDRIK_EVENT_LINK_UP : ZENDRIK_EVENT_LINK_RESTORED, ZENDRIK_OK);
        told_ = Told::kUp;
    }
    return ZENDRIK_OK;
}

int32_t ReaderSession::EnsureConnected() {
    return connected_ ? ZENDRIK_OK : Connect();
}

void ReaderSession::LinkFailed(int32_t result) {
    connected_ = false;
    if (told_ != Told::kLost) {
        Tell(ZENDRIK_EVENT_LINK_LOST, result);
        told_ = Told::kLost;
    }
}

void ReaderSession::Tell(int32_t kind, int32_t error) {
    const bool lost = kind == ZENDRIK_EVENT_LINK_LOST;
    const log::Level level = lost ? log::Level::kWarning : log::Level::kInfo;
    if (kind != ZENDRIK_EVENT_LINK_UP && log::Wanted(level)) {
        log::Write(level, "reader " + id_ + " (" + addressText_ + "): " +
                              (lost ? "link lost: " + std::string(ResultWords(error))
                                    : std::string("link restored")));
    }
    if (sink_ != nullptr) {
        sink_->Emit(LinkEvent(kind, clock_.UtcMilliseconds(), error));
    }
}

int32_t ReaderSession::Note(int32_t result) {
    if (IsLinkFailure(result)) {
        LinkFailed(result);
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

TagRound ReaderSession::ReadTagRound(Milliseconds patience) {
    TagRound round;
    const auto request = BuildStandardFrame(kAddress, command::kReadTag, {});
    LongReply reply{};
    const Clock::TimePoint sent = clock_.now();
    round.code = link_->Exchange(TagReadVariant(*link_).WithPatience(patience), request, reply);
    round.took = clock_.now() - sent;
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
