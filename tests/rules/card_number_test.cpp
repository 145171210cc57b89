// Tag reads taken apart by reader kind, and the card numbers cut from them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <limits>
#include <numeric>
#include <vector>

#include "rules/card_number.h"
#include "rules/identity_text.h"
#include "rules/reader_codes.h"

namespace zendrik::rules {
namespace {

using ::testing::ElementsAreArray;

// Data bytes 0, 1, 2, ... as a reader would deliver them.
std::vector<uint8_t> Counting(std::size_t count) {
    std::vector<uint8_t> bytes(count);
    std::iota(bytes.begin(), bytes.end(), uint8_t{0});
    return bytes;
}

std::vector<uint8_t> Bytes(std::span<const uint8_t> span) {
    return {span.begin(), span.end()};
}

TEST(FrameTag, FindsEpcAntennaAndSignalStrengthByReaderKind) {
    struct Case {
        const char* name;
        uint8_t kind;
        std::size_t delivered;
        std::size_t length;
        std::optional<std::vector<uint8_t>> epc;  // nothing: no EPC at all
        std::size_t epcLength;
        std::optional<uint16_t> pcWord;
        std::optional<uint8_t> antenna;
        std::optional<uint8_t> rssi;
    };
    std::vector<uint8_t> epc12(12);
    std::iota(epc12.begin(), epc12.end(), uint8_t{3});
    std::vector<uint8_t> epc13(13);
    std::iota(epc13.begin(), epc13.end(), uint8_t{3});
    std::vector<uint8_t> epc20(20);
    std::iota(epc20.begin(), epc20.end(), uint8_t{3});
    std::vector<uint8_t> kind2Epc(12);
    std::iota(kind2Epc.begin(), kind2Epc.end(), uint8_t{2});
    std::vector<uint8_t> kind2Cut(14);
    std::iota(kind2Cut.begin(), kind2Cut.end(), uint8_t{2});
    const std::vector<Case> cases{
        {"kind 0, 12-byte EPC", 0, 16, 16, epc12, 12, 0x0102, 0, 15},
        {"kind 1 frames like kind 0", 1, 16, 16, epc12, 12, 0x0102, 0, 15},
        {"kind 0, bytes past L are not the tag's", 0, 16, 12, std::vector<uint8_t>{3, 4, 5, 6, 7, 8, 9, 10},
         8, 0x0102, 0, 11},
        {"kind 0, 16-byte EPC cut at 16 bytes", 0, 16, 20, epc13, 16, 0x0102, 0, std::nullopt},
        {"kind 0, all of a 20-byte EPC delivered", 0, 24, 24, epc20, 20, 0x0102, 0, 23},
        {"kind 2, no antenna or rssi", 2, 16, 14, kind2Epc, 12, 0x0001, std::nullopt, std::nullopt},
        {"kind 2, L 255 with 16 delivered", 2, 16, 255, kind2Cut, 253, 0x0001, std::nullopt, std::nullopt},
        {"kind 0, one EPC byte", 0, 16, 5, std::vector<uint8_t>{3}, 1, 0x0102, 0, 4},
        {"kind 0, framing only", 0, 16, 4, std::nullopt, 0, std::nullopt, std::nullopt, std::nullopt},
        {"kind 2, framing only", 2, 16, 2, std::nullopt, 0, std::nullopt, std::nullopt, std::nullopt},
        {"kind 0, empty read", 0, 16, 0, std::nullopt, 0, std::nullopt, std::nullopt, std::nullopt},
        {"kind 0, nothing delivered", 0, 0, 16, std::vector<uint8_t>{}, 12, std::nullopt, std::nullopt,
         std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> data = Counting(c.delivered);
        const std::optional<FramedTag> framed = FrameTag({data, c.length}, c.kind);
        ASSERT_EQ(framed.has_value(), c.epc.has_value());
        if (!framed) {
            continue;
        }
        EXPECT_THAT(Bytes(framed->epc), ElementsAreArray(*c.epc));
        EXPECT_EQ(framed->epcLength, c.epcLength);
        EXPECT_EQ(framed->pcWord, c.pcWord);
        EXPECT_EQ(framed->antenna, c.antenna);
        EXPECT_EQ(framed->rssi, c.rssi);
    }
}

TEST(EpcWindow, TakesTwelveBytesAfterTheFramingWhateverLIs) {
    const std::vector<uint8_t> data = Counting(kTagDataBytes);
    const EpcWindow kind0 = EpcWindowOf({data, 16}, kReaderKind0);
    EXPECT_EQ(kind0.bytes.front(), 3);
    EXPECT_EQ(kind0.bytes.back(), 14);
    EXPECT_EQ(kind0.length, 12);
    EXPECT_EQ(kind0.At(12), 0);
    const EpcWindow kind2 = EpcWindowOf({data, 14}, kChannelReaderKind);
    EXPECT_EQ(kind2.bytes.front(), 2);
    EXPECT_EQ(kind2.length, 12);
    // A reply shorter than its L: the window holds the frame's tail, as the tool has always read it.
    EXPECT_EQ(EpcWindowOf({data, 12}, kReaderKind0).bytes.back(), 14);
    EXPECT_EQ(EpcWindowOf({data, 2}, kReaderKind0).length, 254);  // the length wraps as a byte
    EXPECT_EQ(EpcWindowOf({std::span(data).first(5), 16}, kReaderKind0).bytes[2], 0);
}

TEST(CardNumber, WiegandNumbersFromTheWindowOrFromTheDeliveredBytes) {
    // Kind 0: antenna, PC word, then the EPC 00 12 34 56 78 FF FF FF FF 00 00 AB ...
    std::vector<uint8_t> read{0xA0, 0x30, 0x00, 0x00, 0x12, 0x34, 0x56, 0x78,
                              0xFF, 0xFF, 0xFF, 0xFF, 0,    0,    0xAB};
    read.resize(24, 0xCD);
    const auto window = EpcSource::kEpcWindow;
    const auto delivered = EpcSource::kDeliveredBytes;
    struct Case {
        const char* name;
        std::size_t bytesGiven;
        std::size_t length;
        WiegandChoice choice;
        EpcSource source;
        std::optional<std::string> card;
    };
    const std::vector<Case> cases{
        {"26 forward", 16, 16, {1, kWiegand26Code, false}, window, "01193046"},
        {"26 reversed", 16, 16, {1, kWiegand26Code, true}, window, "05649426"},
        {"34 forward", 16, 16, {1, kWiegand34Code, false}, window, "0305419896"},
        {"34 reversed", 16, 16, {1, kWiegand34Code, true}, delivered, "2018915346"},
        {"34 all ones", 16, 16, {5, kWiegand34Code, false}, delivered, "4294967295"},
        {"26 at the window's end", 16, 16, {9, kWiegand26Code, false}, delivered, "00000171"},
        {"34 past the EPC", 16, 16, {9, kWiegand34Code, false}, window, std::nullopt},
        {"34 past the EPC, delivered", 16, 16, {9, kWiegand34Code, false}, delivered, std::nullopt},
        {"no start byte", 16, 16, {-1, kWiegand26Code, false}, window, std::nullopt},
        {"no Wiegand format", 16, 16, {0, 0x30, false}, delivered, std::nullopt},
        {"EPC of 8: bytes past it", 16, 12, {6, kWiegand26Code, false}, window, std::nullopt},
        {"EPC of 8: bytes past it, delivered", 16, 12, {6, kWiegand26Code, false}, delivered, std::nullopt},
        {"EPC of 8: last three bytes", 16, 12, {5, kWiegand26Code, false}, delivered, "16777215"},
        // A 16-byte EPC read through 16 bytes: the window reads past its twelfth byte as 0, the
        // delivered source only has 13 EPC bytes.
        {"window beyond twelve bytes", 16, 20, {11, kWiegand34Code, false}, window, "2868903936"},
        {"delivered beyond thirteen bytes", 16, 20, {11, kWiegand34Code, false}, delivered, std::nullopt},
        {"window refuses an EPC of 21", 24, 25, {0, kWiegand26Code, false}, window, std::nullopt},
        {"delivered takes an EPC of 21", 24, 25, {12, kWiegand26Code, false}, delivered, "13487565"},
        {"empty EPC", 16, 4, {0, kWiegand26Code, false}, window, std::nullopt},
        {"empty EPC, delivered", 16, 4, {0, kWiegand26Code, false}, delivered, std::nullopt},
        {"wrapped length", 16, 2, {0, kWiegand26Code, false}, window, std::nullopt},
    };
    for (const Case& c : cases) {
        const TagData tag{std::span(read).first(c.bytesGiven), c.length};
        EXPECT_EQ(WiegandCardNumber(tag, kReaderKind0, c.choice, c.source), c.card) << c.name;
        // From the EPC bytes alone, as an event carries them: what the delivered source gives.
        const std::optional<FramedTag> framed = FrameTag(tag, kReaderKind0);
        if (c.source == delivered && framed) {
            EXPECT_EQ(WiegandCardNumber(framed->epc, c.choice), c.card) << c.name;
        }
    }
    // Kind 2 has no antenna byte: the same EPC one byte earlier.
    const TagData kind2{std::span(read).subspan(1, 16), 14};
    EXPECT_EQ(WiegandCardNumber(kind2, kChannelReaderKind, {1, kWiegand26Code, false}, window), "01193046");
}

TEST(CardNumber, EpcFieldsStayWithinTheirSource) {
    const std::vector<uint8_t> epc{0x0A, 0xFF, 0x03, 0x05, 0x41, 0x98, 0x96, 0, 8, 9, 10, 0xBC};
    struct Case {
        std::size_t offset;
        std::size_t count;
        bool reversed;
        std::optional<std::string> card;
    };
    const std::vector<Case> cases{
        {0, 2, false, "0aff"},
        {0, 2, true, "ff0a"},
        {2, 5, false, "0305419896"},
        {8, 4, false, "08090abc"},
        {8, 4, true, "bc0a0908"},
        {11, 1, false, "bc"},
        {11, 2, false, std::nullopt},
        {9, 4, false, std::nullopt},
        {12, 0, false, std::nullopt},
        {std::numeric_limits<std::size_t>::max(), 2, false, std::nullopt},
        {2, std::numeric_limits<std::size_t>::max(), false, std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(EpcFieldCardNumber(epc, c.offset, c.count, c.reversed), c.card)
            << c.offset << "+" << c.count;
    }
    EXPECT_EQ(EpcField(epc, 12, 0, false), std::vector<uint8_t>{});
}

TEST(IdentityText, SerialNumberAndVersion) {
    const std::vector<uint8_t> serial = Counting(kIdentityBytes);
    EXPECT_EQ(SerialNumberText(serial), "SN:000102030405060708090a0b");
    EXPECT_EQ(SerialNumberHex(std::span(serial).first(2)), "0001");
    const std::vector<uint8_t> version{'V', '2', '.', '1', 0x07, 0xFF, 0, 'x'};
    EXPECT_EQ(VersionText(version), "V2.1\\x07\\xff");
    const std::vector<uint8_t> full(kIdentityBytes, 'A');
    EXPECT_EQ(VersionText(full), std::string(kIdentityBytes, 'A'));
}

}  // namespace
}  // namespace zendrik::rules
