#include "audit_log.h"

#include <cerrno>
#include <cstring>

#include "log.h"
#include "relay_points.h"

namespace vorlan_gateway {

namespace {

constexpr size_t kKept = 20;

std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (char ch : text) {
        const unsigned char u = static_cast<unsigned char>(ch);
        if (ch == '"' || ch == '\\') {
            out += '\\';
            out += ch;
        } else if (u < 0x20 || u == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", u);
            out += hex;
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

}  // namespace

AuditLog::~AuditLog() {
    if (file_) std::fclose(file_);
}

std::string AuditLog::Open(const std::string& path) {
    if (path.empty()) return {};
    file_ = std::fopen(path.c_str(), "ae");
    if (!file_) return "the audit file " + path + " can't be opened: " + std::strerror(errno);
    return {};
}

std::string AuditLog::Line(const AuditEntry& e) {
    return e.time + " control source=" + Quoted(e.source) + " unit=" + std::to_string(e.unit) +
           " point=" + Quoted(e.point) + " action=" + (e.action.empty() ? "-" : e.action) + " outcome=" + e.outcome +
           " reason=" + Quoted(e.reason);
}

void AuditLog::Record(AuditEntry entry) {
    if (entry.time.empty()) entry.time = IsoUtcNow();
    const std::string line = Line(entry);
    LogNamed(kWarning, "audit", line);
    std::lock_guard<std::mutex> hold(lock_);
    if (file_) {
        std::fputs((line + "\n").c_str(), file_);
        std::fflush(file_);
    }
    latest_.push_back(std::move(entry));
    if (latest_.size() > kKept) latest_.pop_front();
}

std::vector<AuditEntry> AuditLog::Latest() {
    std::lock_guard<std::mutex> hold(lock_);
    return {latest_.begin(), latest_.end()};
}

}  // namespace vorlan_gateway
