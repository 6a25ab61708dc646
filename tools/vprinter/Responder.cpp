#include "tools/vprinter/Responder.h"

#include <algorithm>
#include <cstring>

#include "tools/common/Bytes.h"

namespace vprinter {

std::vector<Action> Responder::Feed(const unsigned char* data, std::size_t size) {
    std::vector<Action> actions;
    std::size_t longest = 0;
    for (const Rule& rule : config->rules) longest = std::max(longest, rule.request.size());

    Bytes seen = window;
    std::size_t firstNew = seen.size();
    seen.insert(seen.end(), data, data + size);
    // A match counts once: at the byte that completes it, which is new.
    for (std::size_t end = firstNew + 1; end <= seen.size(); ++end) {
        for (const Rule& rule : config->rules) {
            std::size_t length = rule.request.size();
            if (length == 0 || length > end) continue;
            if (std::memcmp(seen.data() + end - length, rule.request.data(), length) == 0) {
                actions.push_back({rule.kind, rule.reply});
            }
        }
    }
    std::size_t keep = longest > 0 ? std::min(seen.size(), longest - 1) : 0;
    window.assign(seen.end() - static_cast<long>(keep), seen.end());

    received += static_cast<long long>(size);
    if (config->resetAfter >= 0 && received >= config->resetAfter) {
        actions.push_back({ActionKind::kReset, {}});
    } else if (config->closeAfter >= 0 && received >= config->closeAfter) {
        actions.push_back({ActionKind::kClose, {}});
    }
    return actions;
}

bool ParseReplyRule(const std::string& text, Rule* rule) {
    std::string::size_type equals = text.find('=');
    if (equals == std::string::npos) return false;
    rule->kind = ActionKind::kReply;
    rule->request.clear();
    rule->reply.clear();
    return sorlink_tool::ParseHex(text.substr(0, equals), &rule->request) &&
           sorlink_tool::ParseHex(text.substr(equals + 1), &rule->reply) && !rule->request.empty();
}

}  // namespace vprinter
