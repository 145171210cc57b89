#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "zendrik/zendrik.h"
#include "tests/e2e/served_reader.h"

namespace zendrik::e2e {

// A test run once per link, against a fresh virtual reader that is the library's link.
class OnEachLink : public ::testing::TestWithParam<LinkKind> {
  protected:
    void SetUp() override {
        served_ = std::make_unique<ServedReader>(GetParam());
        ASSERT_EQ(served_->Connect(), ZENDRIK_OK) << LinkName(GetParam()) << " at " << served_->Where();
    }

    sim::Reader& reader() { return served_->reader(); }
    ServedReader& served() { return *served_; }

    // Makes the library learn the reader's kind, and spends the settle wait that the handshake
    // leaves on the shortest of the three reads that take it (the 500 ms of the basic parameters).
    void HandshakeAndSettle() {
        uint8_t kind = 0xEE;
        uint8_t low = 0xEE;
        ASSERT_EQ(Handshake(kAnyReader, 1, &kind, &low), ZENDRIK_OK);
        ASSERT_EQ(kind, reader().kind());
        uint8_t block[32] = {};
        ASSERT_EQ(UhfReadBasicParam(block), ZENDRIK_OK);
    }

  private:
    std::unique_ptr<ServedReader> served_;
};

inline std::string LinkParamName(const ::testing::TestParamInfo<LinkKind>& info) {
    return LinkName(info.param);
}

inline const auto kEveryLink = ::testing::Values(LinkKind::kSerial, LinkKind::kUsb, LinkKind::kUdp);

}  // namespace zendrik::e2e
