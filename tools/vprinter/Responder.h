// What the virtual printer does with the bytes of one connection: answers
// configured requests with configured replies, and closes or resets the
// connection when a configured sequence or byte count arrives. It knows no
// printer language; requests are matched as plain byte sequences, also
// across the pieces the bytes arrive in.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace vprinter {

using Bytes = std::vector<unsigned char>;

enum class ActionKind { kReply, kClose, kReset };

struct Action {
    ActionKind kind;
    Bytes reply;  // for kReply
};

struct Rule {
    Bytes request;
    ActionKind kind;
    Bytes reply;
};

struct ResponderConfig {
    std::vector<Rule> rules;
    long long closeAfter = -1;  // bytes received before the connection is closed
    long long resetAfter = -1;  // bytes received before the connection is reset
};

class Responder {
public:
    explicit Responder(const ResponderConfig* config) : config(config) {}
    // The actions the new bytes call for, in the order of the bytes.
    std::vector<Action> Feed(const unsigned char* data, std::size_t size);
    long long Received() const { return received; }

private:
    const ResponderConfig* config;
    Bytes window;  // the last bytes seen, for requests split across pieces
    long long received = 0;
};

// "1b40=12" to a reply rule; false for text that is not two hex sequences.
bool ParseReplyRule(const std::string& text, Rule* rule);

}  // namespace vprinter
