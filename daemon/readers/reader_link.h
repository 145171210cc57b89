#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "zendrik/zendrik_session.h"

namespace zendrik::daemon {

// A reader's link as its events and its first answer tell it.
enum class LinkState {
    kUnknown,  // neither a link event nor an answer has come yet
    kUp,
    kUnreached,  // down, and never up since the daemon opened it
    kLost,       // down after it was up
};

const char* LinkStateName(LinkState state);

// What a link event or the first answer asks of the reader once what came before it is stored.
struct LinkFollowUp {
    bool statusChanged = false;    // the status says another link state
    bool compareSettings = false;  // the link came up: the settings are compared
    bool askIdentity = false;      // the link came back: the reader may have been swapped
};

// Follows one reader's link: the state, how often it was lost, and the journal's words for each
// change ("link up", "link restored", "cannot be reached: …", "link lost: …"). A link event
// decides; the first answer decides only while no link event has come (a stream that begins with
// the link up says nothing of it).
class ReaderLink {
  public:
    // Takes the journal's line of a reader that cannot be reached and has never been up, instead
    // of logging it at once (for words of why to be added to it); empty: logged as it is.
    using UnreachedLine = std::function<void(std::string line)>;

    explicit ReaderLink(std::string label, UnreachedLine unreached = {})
        : label_(std::move(label)), unreached_(std::move(unreached)) {}

    // A link-lost, link-restored or link-up event; false for any other kind.
    bool Note(const zendrik_event& event);
    // The first answer to who it is came, or it failed (`answered` false).
    void NoteFirstAnswer(bool answered);
    // What is to be done since the last call (then cleared).
    LinkFollowUp TakeFollowUp();
    // A status went out: it says the link as it is now.
    void StatusTold() { followUp_.statusChanged = false; }

    LinkState state() const { return state_; }
    bool up() const { return state_ == LinkState::kUp; }
    uint64_t losses() const { return losses_; }

  private:
    void MoveTo(LinkState next, const char* why);

    std::string label_;
    UnreachedLine unreached_;
    LinkState state_ = LinkState::kUnknown;
    uint64_t losses_ = 0;
    LinkFollowUp followUp_;
};

}  // namespace zendrik::daemon
