#include "platform/linux_monitor_sink.h"

// Placeholder until the monitor socket lands: lines are dropped.
namespace vorlan {
namespace {
class DroppingSink final : public MonitorSink {
public:
    void SendLine(const char*, size_t) override {}
};
}  // namespace
std::unique_ptr<MonitorSink> MakeHostMonitorSink() { return std::make_unique<DroppingSink>(); }
}  // namespace vorlan
