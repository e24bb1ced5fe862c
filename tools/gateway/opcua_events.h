#pragma once
// The OPC UA server's status changes and units: the VorlanStatusChangeEventType,
// the notifier chain from the Server object down to every relay, the events
// raised for a relay's status change, the relay's own time kept on its YX
// variables, and the EngineeringUnits of the measurements.

#if VORLAN_OPCUA

#include <open62541/server.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "eng_units.h"

namespace vorlan_gateway {

// The event type's node id (in the gateway's namespace) and its own fields.
constexpr const char* kStatusChangeEventType = "VorlanStatusChangeEventType";

// Adds the event type below BaseEventType, with Relay (String), Point
// (String), Value (Boolean) and RelayTime (DateTime); empty text on success.
std::string AddStatusChangeEventType(UA_Server* server, UA_UInt16 ns);

// Makes "Vorlan" and each folder on the way to every relay (`relayIds`, the
// relays' node ids below it, e.g. "Vorlan/north/line1/feeder") an event
// notifier, chained from the Server object by HasNotifier; empty text on success.
std::string AddNotifiers(UA_Server* server, UA_UInt16 ns, const std::vector<std::string>& relayIds);

// Gives `variable` an EngineeringUnits property; empty text on success.
std::string AddEngineeringUnits(UA_Server* server, UA_UInt16 ns, const std::string& variableId, const EngUnit& unit);

// One status change of a relay's input, as the relay reported it.
struct StatusChange {
    std::string relayNode;    // the relay's node id, "Vorlan/<station>/<line>/<relay>"
    std::string relayPath;    // "<station>/<line>/<relay>" with the names as configured
    int input = 0;            // 1-based: YX<input>
    bool value = false;
    int64_t relayTime = 0;    // 100 ns since 1601, UTC
};

// Raises the event on the relay's object; the server passes it up the
// notifier chain to the Server object.
UA_StatusCode RaiseStatusChange(UA_Server* server, UA_UInt16 ns, const StatusChange& change);

// The relay's time of each YX point's last reported change, so a polled
// value that agrees with it keeps the relay's time instead of the poll's.
// Used by one line's thread only, per relay.
class RelayTimes {
public:
    void Reported(int input, bool value, int64_t time) { last_[input] = {value, time}; }
    // The source time to show for `input` polled as `value` at `polled`.
    int64_t SourceTime(int input, bool value, int64_t polled) const {
        const auto i = last_.find(input);
        return i != last_.end() && i->second.value == value ? i->second.time : polled;
    }

private:
    struct Stamp {
        bool value;
        int64_t time;
    };
    std::map<int, Stamp> last_;
};

}  // namespace vorlan_gateway

#endif
