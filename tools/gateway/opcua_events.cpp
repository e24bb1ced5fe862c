#include "opcua_events.h"

#if VORLAN_OPCUA

#include <set>

namespace vorlan_gateway {

namespace {

UA_LocalizedText Text(const char* text) { return UA_LOCALIZEDTEXT(const_cast<char*>(""), const_cast<char*>(text)); }

std::string Failed(UA_StatusCode s, const std::string& what) {
    return s == UA_STATUSCODE_GOOD ? std::string() : "OPC UA: " + what + ": " + UA_StatusCode_name(s);
}

// The event type's own fields, in the gateway's namespace.
struct Field {
    const char* name;
    int type;
};
constexpr Field kFields[] = {{"Relay", UA_TYPES_STRING},
                             {"Point", UA_TYPES_STRING},
                             {"Value", UA_TYPES_BOOLEAN},
                             {"RelayTime", UA_TYPES_DATETIME}};

// A status change is routine plant information, not an alarm: a middle severity.
constexpr UA_UInt16 kSeverity = 300;

}  // namespace

std::string AddStatusChangeEventType(UA_Server* server, UA_UInt16 ns) {
    UA_ObjectTypeAttributes a = UA_ObjectTypeAttributes_default;
    a.displayName = Text(kStatusChangeEventType);
    a.description = Text("A relay reported that one of its status inputs changed, at its own time");
    const UA_NodeId type = UA_NODEID_STRING(ns, const_cast<char*>(kStatusChangeEventType));
    UA_StatusCode s = UA_Server_addObjectTypeNode(server, type, UA_NODEID_NUMERIC(0, UA_NS0ID_BASEEVENTTYPE),
                                                  UA_NODEID_NUMERIC(0, UA_NS0ID_HASSUBTYPE),
                                                  UA_QUALIFIEDNAME(ns, const_cast<char*>(kStatusChangeEventType)), a,
                                                  nullptr, nullptr);
    if (s != UA_STATUSCODE_GOOD) return Failed(s, "event type");
    for (const Field& f : kFields) {
        UA_VariableAttributes v = UA_VariableAttributes_default;
        v.displayName = Text(f.name);
        v.dataType = UA_TYPES[f.type].typeId;
        v.valueRank = UA_VALUERANK_SCALAR;
        const std::string id = std::string(kStatusChangeEventType) + "/" + f.name;
        UA_NodeId added;
        s = UA_Server_addVariableNode(server, UA_NODEID_STRING(ns, const_cast<char*>(id.c_str())), type,
                                      UA_NODEID_NUMERIC(0, UA_NS0ID_HASPROPERTY),
                                      UA_QUALIFIEDNAME(ns, const_cast<char*>(f.name)),
                                      UA_NODEID_NUMERIC(0, UA_NS0ID_PROPERTYTYPE), v, nullptr, &added);
        // Mandatory, so every event of the type is made with the field.
        if (s == UA_STATUSCODE_GOOD) {
            s = UA_Server_addReference(server, added, UA_NODEID_NUMERIC(0, UA_NS0ID_HASMODELLINGRULE),
                                       UA_EXPANDEDNODEID_NUMERIC(0, UA_NS0ID_MODELLINGRULE_MANDATORY), true);
            UA_NodeId_clear(&added);
        }
        if (s != UA_STATUSCODE_GOOD) return Failed(s, "event field " + id);
    }
    return {};
}

std::string AddNotifiers(UA_Server* server, UA_UInt16 ns, const std::vector<std::string>& relayIds) {
    std::set<std::string> done;
    for (const std::string& relay : relayIds) {
        UA_NodeId parent = UA_NODEID_NUMERIC(0, UA_NS0ID_SERVER);
        std::string parentId;
        size_t end = 0;
        do {
            end = relay.find('/', end + 1);
            const std::string id = relay.substr(0, end);
            UA_NodeId node = UA_NODEID_STRING(ns, const_cast<char*>(id.c_str()));
            if (done.insert(id).second) {
                UA_StatusCode s = UA_Server_writeEventNotifier(server, node, UA_EVENTNOTIFIER_SUBSCRIBE_TO_EVENT);
                if (s == UA_STATUSCODE_GOOD) {
                    UA_ExpandedNodeId target;
                    UA_ExpandedNodeId_init(&target);
                    target.nodeId = node;
                    s = UA_Server_addReference(server, parent, UA_NODEID_NUMERIC(0, UA_NS0ID_HASNOTIFIER), target, true);
                }
                if (s != UA_STATUSCODE_GOOD) return Failed(s, "notifier " + id);
            }
            parentId = id;
            parent = UA_NODEID_STRING(ns, const_cast<char*>(parentId.c_str()));
        } while (end != std::string::npos);
    }
    return {};
}

std::string AddEngineeringUnits(UA_Server* server, UA_UInt16 ns, const std::string& variableId, const EngUnit& unit) {
    UA_EUInformation eu;
    UA_EUInformation_init(&eu);
    eu.namespaceUri = UA_STRING(const_cast<char*>("http://www.opcfoundation.org/UA/units/un/cefact"));
    eu.unitId = EngUnitId(unit);
    eu.displayName = Text(unit.text);
    eu.description = Text(unit.description);
    UA_VariableAttributes a = UA_VariableAttributes_default;
    a.displayName = Text("EngineeringUnits");
    a.dataType = UA_TYPES[UA_TYPES_EUINFORMATION].typeId;
    a.valueRank = UA_VALUERANK_SCALAR;
    a.accessLevel = UA_ACCESSLEVELMASK_READ;
    a.userAccessLevel = UA_ACCESSLEVELMASK_READ;
    UA_Variant_setScalar(&a.value, &eu, &UA_TYPES[UA_TYPES_EUINFORMATION]);
    const std::string id = variableId + "/EngineeringUnits";
    const UA_StatusCode s = UA_Server_addVariableNode(
        server, UA_NODEID_STRING(ns, const_cast<char*>(id.c_str())),
        UA_NODEID_STRING(ns, const_cast<char*>(variableId.c_str())), UA_NODEID_NUMERIC(0, UA_NS0ID_HASPROPERTY),
        UA_QUALIFIEDNAME(0, const_cast<char*>("EngineeringUnits")), UA_NODEID_NUMERIC(0, UA_NS0ID_PROPERTYTYPE), a,
        nullptr, nullptr);
    return Failed(s, "units of " + variableId);
}

UA_StatusCode RaiseStatusChange(UA_Server* server, UA_UInt16 ns, const StatusChange& change) {
    UA_NodeId event;
    UA_StatusCode s =
        UA_Server_createEvent(server, UA_NODEID_STRING(ns, const_cast<char*>(kStatusChangeEventType)), &event);
    if (s != UA_STATUSCODE_GOOD) return s;
    const std::string point = "YX" + std::to_string(change.input);
    const std::string message = point + " of " + change.relayPath + " went to " + (change.value ? "1" : "0");
    const UA_DateTime time = change.relayTime;
    const UA_Boolean value = change.value;
    const UA_UInt16 severity = kSeverity;
    UA_String relay = UA_STRING(const_cast<char*>(change.relayPath.c_str()));
    UA_String pointText = UA_STRING(const_cast<char*>(point.c_str()));
    UA_LocalizedText messageText = Text(message.c_str());
    auto set = [&](UA_UInt16 space, const char* name, const void* v, int type) {
        if (s == UA_STATUSCODE_GOOD) {
            s = UA_Server_writeObjectProperty_scalar(server, event, UA_QUALIFIEDNAME(space, const_cast<char*>(name)), v,
                                                     &UA_TYPES[type]);
        }
    };
    set(0, "Time", &time, UA_TYPES_DATETIME);
    set(0, "Severity", &severity, UA_TYPES_UINT16);
    set(0, "Message", &messageText, UA_TYPES_LOCALIZEDTEXT);
    set(0, "SourceName", &relay, UA_TYPES_STRING);
    set(ns, "Relay", &relay, UA_TYPES_STRING);
    set(ns, "Point", &pointText, UA_TYPES_STRING);
    set(ns, "Value", &value, UA_TYPES_BOOLEAN);
    set(ns, "RelayTime", &time, UA_TYPES_DATETIME);
    if (s == UA_STATUSCODE_GOOD) {
        s = UA_Server_triggerEvent(server, event, UA_NODEID_STRING(ns, const_cast<char*>(change.relayNode.c_str())),
                                   nullptr, true);
    }
    // A triggered event's node is gone; one that failed on the way must not stay.
    if (s != UA_STATUSCODE_GOOD) UA_Server_deleteNode(server, event, true);
    UA_NodeId_clear(&event);
    return s;
}

}  // namespace vorlan_gateway

#endif
