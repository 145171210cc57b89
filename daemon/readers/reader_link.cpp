#include "daemon/readers/reader_link.h"

#include "daemon/common/log.h"
#include "zendrik/zendrik_session.hpp"

namespace zendrik::daemon {

const char* LinkStateName(LinkState state) {
    switch (state) {
        case LinkState::kUnknown:
            return "unknown";
        case LinkState::kUp:
            return "up";
        case LinkState::kUnreached:
            return "unreached";
        case LinkState::kLost:
            return "lost";
    }
    return "unknown";
}

bool ReaderLink::Note(const zendrik_event& event) {
    if (event.kind != ZENDRIK_EVENT_LINK_LOST && event.kind != ZENDRIK_EVENT_LINK_RESTORED &&
        event.kind != ZENDRIK_EVENT_LINK_UP) {
        return false;
    }
    const bool everUp = state_ == LinkState::kUp || state_ == LinkState::kLost;
    const bool wasUp = up();
    if (event.kind != ZENDRIK_EVENT_LINK_LOST) {
        Log(label_ + ": " + (everUp ? "link restored" : "link up"));
        MoveTo(LinkState::kUp, zendrik_event_kind_name(event.kind));
        // link-up begins the stream of a reader that answered at open: identified then already.
        followUp_.askIdentity = followUp_.askIdentity || event.kind == ZENDRIK_EVENT_LINK_RESTORED;
        followUp_.compareSettings = true;
    } else {
        ++losses_;
        const std::string line =
            label_ + ": " + (everUp ? "link lost: " : "cannot be reached: ") + zendrik::result_words(event.error);
        if (!everUp && unreached_) {
            unreached_(line);
        } else {
            Log(line);
        }
        MoveTo(everUp ? LinkState::kLost : LinkState::kUnreached, "link-lost");
    }
    followUp_.statusChanged = followUp_.statusChanged || wasUp != up();
    return true;
}

void ReaderLink::NoteFirstAnswer(bool answered) {
    if (state_ == LinkState::kUnknown) {
        MoveTo(answered ? LinkState::kUp : LinkState::kUnreached, "first answer");
    }
}

LinkFollowUp ReaderLink::TakeFollowUp() {
    const LinkFollowUp taken = followUp_;
    followUp_ = LinkFollowUp{};
    return taken;
}

void ReaderLink::MoveTo(LinkState next, const char* why) {
    if (next != state_) {
        LogDebug(label_ + ": link " + LinkStateName(state_) + " -> " + LinkStateName(next) + " (" + why +
                 ")");
        state_ = next;
    }
}

}  // namespace zendrik::daemon
