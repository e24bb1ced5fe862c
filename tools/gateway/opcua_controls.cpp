// SPDX-License-Identifier: Apache-2.0
#include "opcua_controls.h"

namespace vorlan_gateway {

namespace {

constexpr uint32_t kGood = 0;
constexpr uint32_t kBadTimeout = 0x800A0000u;
constexpr uint32_t kBadCommunicationError = 0x80050000u;
constexpr uint32_t kBadShutdown = 0x800C0000u;
constexpr uint32_t kBadInvalidState = 0x80AF0000u;

}  // namespace

uint32_t OpcuaControlStatus(ControlResult result) {
    switch (result) {
    case ControlResult::Done: return kGood;
    case ControlResult::TimedOut: return kBadTimeout;
    case ControlResult::Failed:
    case ControlResult::LineDown: return kBadCommunicationError;
    case ControlResult::Stopping: return kBadShutdown;
    case ControlResult::Refused: return kBadInvalidState;
    }
    return kBadCommunicationError;
}

uint32_t ControlDesk::Begin(const RelayPoints* relay, int point, bool close, ControlStep step,
                            const std::string& session, Clock::time_point now, bool& run) {
    run = false;
    std::lock_guard<std::mutex> hold(lock_);
    Desk& d = desks_[relay];
    if (d.point != 0 && now >= d.until) d.point = 0;   // the selection ran out
    const bool mine = d.point != 0 && d.session == session;
    const bool others = d.point != 0 && !mine;
    switch (step) {
    case ControlStep::Select:
        if (d.running || others) return kBadInvalidState;
        d.point = point;
        d.close = close;
        d.session = session;
        d.until = now + hold_;
        return kGood;
    case ControlStep::Operate:
        // Only what this session selected, the same point the same way.
        if (d.running || !mine || d.point != point || d.close != close) return kBadInvalidState;
        break;
    case ControlStep::Cancel:
        if (d.running && d.point == point) return kBadInvalidState;
        if (others && d.point == point) return kBadInvalidState;
        if (mine && d.point == point) d.point = 0;
        return kGood;
    case ControlStep::SelectAndOperate:
        if (d.running || others) return kBadInvalidState;
        break;
    }
    d.running = true;
    d.point = point;
    d.close = close;
    d.session = session;
    run = true;
    return kGood;
}

void ControlDesk::Finish(const RelayPoints* relay) {
    std::lock_guard<std::mutex> hold(lock_);
    Desk& d = desks_[relay];
    d.running = false;
    d.point = 0;
}

}  // namespace vorlan_gateway

#if VORLAN_OPCUA

#include <open62541/server_config_default.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <thread>

#include "log.h"

namespace vorlan_gateway {

// The session behind an async call is not handed to the workers by the
// library; its operation record holds it. The record's layout is this
// version's: checked at compile time by the version and at run time by the
// request's place inside the record.
static_assert(UA_OPEN62541_VER_MAJOR == 1 && UA_OPEN62541_VER_MINOR == 4, "the async record layout is 1.4's");

namespace {

struct AsyncCall {
    void* next;
    void** prev;
    UA_UInt32 requestId;
    UA_NodeId sessionId;
};
struct AsyncOperation {
    AsyncOperation* next;
    AsyncOperation** prev;
    UA_CallMethodRequest request;
    UA_CallMethodResult response;
    size_t index;
    AsyncCall* parent;
};

// What a worker knows about the call it runs, for the method callback.
struct CallInfo {
    void* context = nullptr;                  // the library's operation
    bool known = false;                       // the session's user was found
    std::string session;
    OpcuaCaller caller;
};
thread_local CallInfo* tCall = nullptr;


const char* StepName(ControlStep s) {
    switch (s) {
    case ControlStep::Select: return "Select";
    case ControlStep::Operate: return "Operate";
    case ControlStep::Cancel: return "Cancel";
    case ControlStep::SelectAndOperate: return "SelectAndOperate";
    }
    return "";
}

std::condition_variable gWake;
std::mutex gWakeLock;
bool gCallQueued = false;

void CallQueued(UA_Server*) {
    std::lock_guard<std::mutex> hold(gWakeLock);
    gCallQueued = true;
    gWake.notify_one();
}

}  // namespace

struct OpcuaControls::Impl {
    const OpcuaSessions& sessions;
    OpcuaControlRunner run;
    std::function<void(AuditEntry)> audit;
    int controlTimeoutMs;
    ControlDesk desk;
    UA_Server* server = nullptr;
    std::thread thread;
    std::atomic<bool> running{false};

    struct Method {
        Impl* self;
        RelayPoints* relay;
        int point;
        ControlStep step;
    };
    std::vector<std::unique_ptr<Method>> methods;

    Impl(const OpcuaSessions& s, OpcuaControlRunner r, std::function<void(AuditEntry)> a, int selectS, int timeoutMs)
        : sessions(s),
          run(std::move(r)),
          audit(std::move(a)),
          controlTimeoutMs(timeoutMs),
          desk(std::chrono::seconds(selectS)) {}

    static UA_StatusCode Called(UA_Server*, const UA_NodeId* sessionId, void*, const UA_NodeId*, void* methodContext,
                                const UA_NodeId*, void*, size_t inputSize, const UA_Variant* input, size_t,
                                UA_Variant*) {
        Method& m = *static_cast<Method*>(methodContext);
        // Select and Cancel answer at once on the server's thread, which names the session;
        // the others come through the worker, which knows the caller.
        CallInfo direct;
        if (!tCall) {
            if (m.step != ControlStep::Select && m.step != ControlStep::Cancel) return UA_STATUSCODE_BADINTERNALERROR;
            direct.session = OpcuaSessionKey(*sessionId);
            direct.known = m.self->sessions.Find(direct.session, direct.caller);
        }
        CallInfo& call = tCall ? *tCall : direct;
        bool close = false;
        if (m.step != ControlStep::Cancel) {
            if (inputSize != 1 || !UA_Variant_hasScalarType(&input[0], &UA_TYPES[UA_TYPES_STRING])) {
                return UA_STATUSCODE_BADINVALIDARGUMENT;
            }
            const UA_String& a = *static_cast<const UA_String*>(input[0].data);
            const std::string action(reinterpret_cast<const char*>(a.data), a.length);
            if (action != "close" && action != "open") return UA_STATUSCODE_BADINVALIDARGUMENT;
            close = action == "close";
        }
        return m.self->Step(m, close, call);
    }

    std::string Source(const CallInfo& call) const {
        std::string s = "opcua " + (call.known ? call.caller.user : std::string("(unknown session)"));
        if (!call.caller.client.empty()) s += " " + call.caller.client;
        return s;
    }

    void Refuse(const Method& m, bool close, const CallInfo& call, const std::string& reason) {
        AuditEntry e;
        e.source = Source(call);
        e.unit = m.relay->unit;
        e.point = "YK" + std::to_string(m.point);
        e.action = m.step == ControlStep::Cancel ? "cancel" : close ? "close" : "open";
        e.outcome = "refused";
        e.reason = reason;
        audit(std::move(e));
    }

    UA_StatusCode Step(Method& m, bool close, CallInfo& call) {
        if (!m.relay->allowControl || !m.relay->yk[static_cast<size_t>(m.point - 1)]) {
            Refuse(m, close, call, "controls are not allowed on this point");
            return UA_STATUSCODE_BADREQUESTNOTALLOWED;
        }
        if (!call.known || !call.caller.mayOperate) {
            Refuse(m, close, call, "the user may not operate controls");
            return UA_STATUSCODE_BADREQUESTNOTALLOWED;
        }
        bool start = false;
        const uint32_t status = desk.Begin(m.relay, m.point, close, m.step, call.session, ControlDesk::Clock::now(), start);
        if (!start) {
            if (status != UA_STATUSCODE_GOOD) {
                Refuse(m, close, call, std::string(StepName(m.step)) + ": another control or selection holds the relay");
            } else {
                Log(kInfo, "OPC UA: " + Source(call) + ": " + StepName(m.step) + " relay " +
                               std::to_string(m.relay->address) + " YK" + std::to_string(m.point));
            }
            return status;
        }
        if (!call.context) {   // a control only ever starts from the worker
            desk.Finish(m.relay);
            return UA_STATUSCODE_BADINTERNALERROR;
        }
        // The outcome may come at once (stopping, line down) or later from the line's thread.
        struct Pending {
            std::mutex lock;
            bool handedOff = false, answered = false;
            UA_StatusCode status = UA_STATUSCODE_GOOD;
        };
        auto pending = std::make_shared<Pending>();
        void* context = call.context;
        RelayPoints* relay = m.relay;
        run(*m.relay, m.point, close, Source(call), [this, pending, context, relay](const ControlOutcome& o) {
            desk.Finish(relay);
            const UA_StatusCode s = OpcuaControlStatus(o.result);
            {
                std::lock_guard<std::mutex> hold(pending->lock);
                if (!pending->handedOff) {
                    pending->answered = true;
                    pending->status = s;
                    return;
                }
            }
            UA_CallMethodResult r;
            UA_CallMethodResult_init(&r);
            r.statusCode = s;
            UA_Server_setAsyncOperationResult(server, reinterpret_cast<const UA_AsyncOperationResponse*>(&r), context);
        });
        std::lock_guard<std::mutex> hold(pending->lock);
        if (pending->answered) return pending->status;
        pending->handedOff = true;
        return UA_STATUSCODE_GOODCOMPLETESASYNCHRONOUSLY;
    }

    void Work() {
        while (running) {
            UA_AsyncOperationType type;
            const UA_AsyncOperationRequest* request = nullptr;
            void* context = nullptr;
            if (!UA_Server_getAsyncOperationNonBlocking(server, &type, &request, &context, nullptr)) {
                std::unique_lock<std::mutex> hold(gWakeLock);
                gWake.wait_for(hold, std::chrono::milliseconds(50), [] { return gCallQueued; });
                gCallQueued = false;
                continue;
            }
            CallInfo call;
            call.context = context;
            const auto* op = static_cast<const AsyncOperation*>(context);
            if (reinterpret_cast<const char*>(request) ==
                reinterpret_cast<const char*>(op) + offsetof(AsyncOperation, request)) {
                call.session = OpcuaSessionKey(op->parent->sessionId);
                call.known = sessions.Find(call.session, call.caller);
            } else {
                Log(kError, "OPC UA: the caller of a method can't be told; controls are refused");
            }
            tCall = &call;
            UA_CallMethodResult r = UA_Server_call(server, &request->callMethodRequest);
            tCall = nullptr;
            if (r.statusCode != UA_STATUSCODE_GOODCOMPLETESASYNCHRONOUSLY) {
                UA_Server_setAsyncOperationResult(server, reinterpret_cast<const UA_AsyncOperationResponse*>(&r),
                                                  context);
            }
            UA_CallMethodResult_clear(&r);
        }
    }

    std::string AddMethod(UA_Server* s, UA_UInt16 ns, const std::string& objectId, RelayPoints& relay, int point,
                          ControlStep step) {
        const char* name = StepName(step);
        UA_Argument action;
        UA_Argument_init(&action);
        action.name = UA_STRING(const_cast<char*>("Action"));
        action.description = UA_LOCALIZEDTEXT(const_cast<char*>(""), const_cast<char*>("\"close\" or \"open\""));
        action.dataType = UA_TYPES[UA_TYPES_STRING].typeId;
        action.valueRank = UA_VALUERANK_SCALAR;
        UA_MethodAttributes a = UA_MethodAttributes_default;
        a.displayName = UA_LOCALIZEDTEXT(const_cast<char*>(""), const_cast<char*>(name));
        a.executable = true;
        a.userExecutable = true;
        methods.push_back(std::unique_ptr<Method>(new Method{this, &relay, point, step}));
        const std::string id = objectId + "/" + name;
        UA_NodeId nodeId = UA_NODEID_STRING_ALLOC(ns, id.c_str());
        UA_NodeId parent = UA_NODEID_STRING_ALLOC(ns, objectId.c_str());
        const bool takes = step != ControlStep::Cancel;
        UA_StatusCode st = UA_Server_addMethodNode(
            s, nodeId, parent, UA_NODEID_NUMERIC(0, UA_NS0ID_HASCOMPONENT), UA_QUALIFIEDNAME(ns, const_cast<char*>(name)),
            a, &Called, takes ? 1 : 0, takes ? &action : nullptr, 0, nullptr, methods.back().get(), nullptr);
        // Only the steps that wait for the line are answered later.
        const bool waits = step == ControlStep::Operate || step == ControlStep::SelectAndOperate;
        if (st == UA_STATUSCODE_GOOD && waits) st = UA_Server_setMethodNodeAsync(s, nodeId, true);
        UA_NodeId_clear(&nodeId);
        UA_NodeId_clear(&parent);
        return st == UA_STATUSCODE_GOOD ? std::string() : "OPC UA: method " + id + ": " + UA_StatusCode_name(st);
    }
};

OpcuaControls::OpcuaControls(const OpcuaSessions& sessions, OpcuaControlRunner run,
                             std::function<void(AuditEntry)> audit, int selectTimeoutS, int controlTimeoutMs)
    : impl_(new Impl(sessions, std::move(run), std::move(audit), selectTimeoutS, controlTimeoutMs)) {}

OpcuaControls::~OpcuaControls() { Stop(); }

void OpcuaControls::Configure(UA_ServerConfig& sc) const {
    // A call waits in the library at most this long: the control's own
    // deadline, plus the results' pick-up once a second.
    sc.asyncOperationTimeout = impl_->controlTimeoutMs + 5000.0;
    sc.maxAsyncOperationQueueSize = 256;
    sc.asyncOperationNotifyCallback = &CallQueued;
}

std::string OpcuaControls::AddRelay(UA_Server* server, UA_UInt16 ns, const std::string& relayId, RelayPoints& relay) {
    if (!relay.allowControl) return {};
    for (int p = 1; p <= kYkPoints; ++p) {
        if (!relay.yk[static_cast<size_t>(p - 1)]) continue;
        const std::string name = "YK" + std::to_string(p);
        const std::string id = relayId + "/" + name;
        UA_ObjectAttributes a = UA_ObjectAttributes_default;
        a.displayName = UA_LOCALIZEDTEXT(const_cast<char*>(""), const_cast<char*>(name.c_str()));
        UA_NodeId nodeId = UA_NODEID_STRING_ALLOC(ns, id.c_str());
        UA_NodeId parent = UA_NODEID_STRING_ALLOC(ns, relayId.c_str());
        const UA_StatusCode s = UA_Server_addObjectNode(
            server, nodeId, parent, UA_NODEID_NUMERIC(0, UA_NS0ID_HASCOMPONENT),
            UA_QUALIFIEDNAME(ns, const_cast<char*>(name.c_str())), UA_NODEID_NUMERIC(0, UA_NS0ID_BASEOBJECTTYPE), a,
            nullptr, nullptr);
        UA_NodeId_clear(&nodeId);
        UA_NodeId_clear(&parent);
        if (s != UA_STATUSCODE_GOOD) return "OPC UA: control " + id + ": " + UA_StatusCode_name(s);
        for (ControlStep step : {ControlStep::Select, ControlStep::Operate, ControlStep::Cancel,
                                 ControlStep::SelectAndOperate}) {
            if (std::string e = impl_->AddMethod(server, ns, id, relay, p, step); !e.empty()) return e;
        }
    }
    return {};
}

void OpcuaControls::Start(UA_Server* server) {
    Impl& m = *impl_;
    m.server = server;
    m.running = true;
    m.thread = std::thread([&m] { m.Work(); });
}

void OpcuaControls::RequestStop() { impl_->running = false; }

void OpcuaControls::Stop() {
    impl_->running = false;
    if (impl_->thread.joinable()) impl_->thread.join();
}

}  // namespace vorlan_gateway

#endif
