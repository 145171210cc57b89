#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <span>

#include "link/link.h"
#include "link/usb_hid_link.h"
#include "session/reader_session.h"
#include "sim/reader.h"
#include "tests/support/fake_hid.h"
#include "tests/support/fake_session_clock.h"

namespace zendrik::testing {

// A reader session in simulated time: its USB link is an in-process fake HID device whose replies
// come from the virtual reader's model, `replyDelay` late. A test may answer requests itself
// (`intercept` returning a reply) or keep the reader silent.
struct FakeUsbSession {
    FakeUsbSession() {
        hid.replyDelay = Milliseconds{5};
        hid.responder = [this](std::span<const uint8_t> request) -> std::optional<FakeHid::Bytes> {
            if (silent) {
                return std::nullopt;
            }
            if (intercept) {
                if (std::optional<FakeHid::Bytes> answered = intercept(request)) {
                    return answered;
                }
            }
            std::optional<sim::Reply> reply = reader.Answer(request);
            return reply ? std::optional(reply->bytes) : std::nullopt;
        };
        auto link = std::make_unique<Link>(
            clock, std::make_unique<UsbHidLink>(clock, hid.MakeBackend(), ReplyWait::kUntilArrived));
        session =
            std::make_unique<session::ReaderSession>("usb", session::UsbAddress{}, std::move(link), clock);
        session->set_id("dock-3");
    }

    FakeSessionClock clock;
    FakeHid hid{clock};
    sim::Reader reader;
    bool silent = false;
    std::function<std::optional<FakeHid::Bytes>(std::span<const uint8_t>)> intercept;
    std::unique_ptr<session::ReaderSession> session;
};

}  // namespace zendrik::testing
