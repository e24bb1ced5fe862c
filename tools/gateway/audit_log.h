#pragma once
// One line per remote control, carried out or refused: when, from where
// (the Modbus client's address, or the MQTT topic), which relay and point,
// which way, the outcome and why. Written to the log and, when configured,
// appended to a file; the latest are kept for the status page.

#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace vorlan_gateway {

struct AuditEntry {
    std::string time;            // ISO 8601 UTC
    std::string source;          // "modbus 127.0.0.1:40312", "mqtt vorlan/s/1/YK2/set"
    int unit = 0;                // 0 when the request named no relay of ours
    std::string point;           // "YK2", or what the request named
    std::string action;          // "close", "open", or "" when unreadable
    std::string outcome;         // done, refused, failed, timeout, line_down, stopping
    std::string reason;
};

class AuditLog {
public:
    ~AuditLog();
    // Opens `path` for appending (nothing when empty); empty text on success.
    std::string Open(const std::string& path);
    void Record(AuditEntry entry);
    std::vector<AuditEntry> Latest();

    // The entry as one line of key="value" fields, quotes and control characters escaped.
    static std::string Line(const AuditEntry& e);

private:
    std::mutex lock_;
    std::FILE* file_ = nullptr;
    std::deque<AuditEntry> latest_;
};

}  // namespace vorlan_gateway
