#include "rules/epc_framing.h"

#include <algorithm>

#include "rules/reader_codes.h"
#include "rules/wire_bytes.h"

namespace zendrik::rules {
namespace {

constexpr EpcFraming kPcFirstFraming{2, 0, false, false};     // PC word, EPC
constexpr EpcFraming kAntennaFirstFraming{3, 1, true, true};  // antenna, PC word, EPC, rssi
constexpr std::size_t kPcWordBytes = 2;

// Bytes [offset, offset + count) of what was delivered, cut where the delivery ends.
std::span<const uint8_t> DeliveredRun(std::span<const uint8_t> delivered, std::size_t offset,
                                      std::size_t count) {
    if (offset >= delivered.size()) {
        return {};
    }
    return delivered.subspan(offset, std::min(count, delivered.size() - offset));
}

std::optional<uint8_t> ByteAt(std::span<const uint8_t> delivered, std::size_t offset) {
    return offset < delivered.size() ? std::optional(delivered[offset]) : std::nullopt;
}

}  // namespace

EpcFraming EpcFramingOf(uint8_t kind) {
    return kind == kChannelReaderKind ? kPcFirstFraming : kAntennaFirstFraming;
}

std::optional<FramedTag> FrameTag(const TagData& tag, uint8_t kind) {
    const EpcFraming framing = EpcFramingOf(kind);
    const std::size_t framingBytes = framing.before + framing.after;
    if (tag.length <= framingBytes) {
        return std::nullopt;
    }
    // What lies past L is not the tag's, even when it was handed over.
    const std::span<const uint8_t> delivered = tag.bytes.first(std::min(tag.length, tag.bytes.size()));
    FramedTag framed;
    framed.epcLength = tag.length - framingBytes;
    framed.epc = DeliveredRun(delivered, framing.before, framed.epcLength);
    if (const auto pc = DeliveredRun(delivered, framing.before - kPcWordBytes, kPcWordBytes);
        pc.size() == kPcWordBytes) {
        framed.pcWord = static_cast<uint16_t>((pc[0] << kBitsPerByte) | pc[1]);
    }
    if (framing.antenna) {
        framed.antenna = ByteAt(delivered, 0);
    }
    if (framing.rssi) {
        framed.rssi = ByteAt(delivered, framing.before + framed.epcLength);
    }
    return framed;
}

EpcWindow EpcWindowOf(const TagData& tag, uint8_t kind) {
    const EpcFraming framing = EpcFramingOf(kind);
    EpcWindow window;
    const std::span<const uint8_t> run = DeliveredRun(tag.bytes, framing.before, kEpcWindowBytes);
    std::copy(run.begin(), run.end(), window.bytes.begin());
    window.length = static_cast<uint8_t>(tag.length - (framing.before + framing.after));
    return window;
}

}  // namespace zendrik::rules
