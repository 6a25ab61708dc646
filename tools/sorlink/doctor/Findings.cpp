#include "tools/sorlink/doctor/Findings.h"

namespace sorlink_tool::doctor {

namespace {

const char* StatusName(Status status) {
    switch (status) {
        case Status::kOk:
            return "ok";
        case Status::kNote:
            return "note";
        case Status::kProblem:
            break;
    }
    return "problem";
}

std::string JsonText(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        unsigned char u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

}  // namespace

void Findings::Ok(const std::string& area, const std::string& message) {
    findings.push_back({area, Status::kOk, message, ""});
}

void Findings::Note(const std::string& area, const std::string& message, const std::string& fix) {
    findings.push_back({area, Status::kNote, message, fix});
}

void Findings::Problem(const std::string& area, const std::string& message,
                       const std::string& fix) {
    findings.push_back({area, Status::kProblem, message, fix});
}

std::size_t Findings::ProblemCount() const {
    std::size_t count = 0;
    for (const Finding& finding : findings) count += finding.status == Status::kProblem;
    return count;
}

void Findings::PrintText(std::FILE* out, const std::string& user) const {
    std::fprintf(out, "sorlink doctor: checking for %s\n", user.c_str());
    for (const Finding& finding : findings) {
        std::fprintf(out, "%-8s%s: %s", StatusName(finding.status), finding.area.c_str(),
                     finding.message.c_str());
        if (!finding.fix.empty()) std::fprintf(out, " Fix: %s", finding.fix.c_str());
        std::fprintf(out, "\n");
    }
    std::size_t problems = ProblemCount();
    if (problems == 0) {
        std::fprintf(out, "No problem found.\n");
    } else {
        std::fprintf(out, "%zu problem%s found.\n", problems, problems == 1 ? "" : "s");
    }
}

void Findings::PrintJson(std::FILE* out, const std::string& user) const {
    std::fprintf(out, "{\"user\": %s, \"problems\": %zu, \"findings\": [", JsonText(user).c_str(),
                 ProblemCount());
    const char* separator = "\n  ";
    for (const Finding& finding : findings) {
        std::fprintf(out, "%s{\"area\": %s, \"status\": \"%s\", \"message\": %s, \"fix\": %s}",
                     separator, JsonText(finding.area).c_str(), StatusName(finding.status),
                     JsonText(finding.message).c_str(), JsonText(finding.fix).c_str());
        separator = ",\n  ";
    }
    std::fprintf(out, "\n]}\n");
}

}  // namespace sorlink_tool::doctor
