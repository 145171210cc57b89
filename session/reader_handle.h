#pragma once

#include <memory>
#include <string>

#include "zendrik/zendrik_session.h"
#include "session/event_queue.h"
#include "session/reader_actor.h"
#include "session/reader_session.h"

// The opaque reader handle of zendrik_session.h: the session with its link, the stream's queue,
// and the handle's thread, which goes first when the handle goes.
struct zendrik_reader {
    zendrik_reader(std::string addressText, zendrik::session::ReaderAddress address,
                   std::unique_ptr<zendrik::Link> link, zendrik::session::SessionClock& clock)
        : session(std::move(addressText), std::move(address), std::move(link), clock),
          actor(session, queue) {}

    zendrik::session::ReaderSession session;
    zendrik::session::EventQueue queue;
    zendrik::session::ReaderActor actor;
};
