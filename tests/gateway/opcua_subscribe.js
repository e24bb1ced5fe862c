// An independent OPC UA client for the gateway tests that watches instead of
// reading once: node-opcua <endpoint> <seconds> <plan as JSON>.
// The plan: {"clients": n, "events": [notifier node ids], "values":
// [{"nodeId", "deadband"}], "read": [node ids], read at the end}. Each of the n clients opens
// its own session and subscription (publishing every 100 ms) with every
// monitored item of the plan; after <seconds> it prints one JSON line:
// {"clients": [{"events": {"<notifier>": [{fields}]}, "values": {"<nodeId>|<deadband>":
// [{value, status, sourceTimestamp}]}}], "read": {"<node id>": value}}.
"use strict";
const {
    OPCUAClient, MessageSecurityMode, SecurityPolicy, AttributeIds, TimestampsToReturn, DataChangeFilter,
    DataChangeTrigger, DeadbandType, EventFilter,
} = require("node-opcua-client");

const baseEventType = "i=2041";
const ourEventType = "ns=1;s=VorlanStatusChangeEventType";
// [type, namespace, name]: the standard fields, then the type's own.
const fields = [
    [baseEventType, 0, "EventType"], [baseEventType, 0, "Time"], [baseEventType, 0, "SourceNode"],
    [baseEventType, 0, "SourceName"], [baseEventType, 0, "Message"], [baseEventType, 0, "Severity"],
    [ourEventType, 1, "Relay"], [ourEventType, 1, "Point"], [ourEventType, 1, "Value"],
    [ourEventType, 1, "RelayTime"],
];

function plain(v) {
    if (v === null || v === undefined) return null;
    if (v instanceof Date) return v.toISOString();
    if (typeof v === "object" && v.text !== undefined) return v.text;
    if (typeof v === "object" && v.toString && v.constructor && v.constructor.name === "NodeId") return v.toString();
    if (typeof v === "object" && typeof v.toJSON === "function") return v.toJSON();
    return v;
}

async function watch(endpoint, seconds, plan) {
    const client = OPCUAClient.create({
        endpointMustExist: false,
        securityMode: MessageSecurityMode.None,
        securityPolicy: SecurityPolicy.None,
        connectionStrategy: { maxRetry: 2, initialDelay: 200, maxDelay: 500 },
    });
    await client.connect(endpoint);
    const session = await client.createSession();
    const subscription = await session.createSubscription2({
        requestedPublishingInterval: 100, requestedMaxKeepAliveCount: 20, requestedLifetimeCount: 600,
        maxNotificationsPerPublish: 0, publishingEnabled: true, priority: 1,
    });
    const out = { events: {}, values: {} };
    const filter = new EventFilter({
        selectClauses: fields.map(([type, ns, name]) => ({
            typeDefinitionId: type, browsePath: [{ namespaceIndex: ns, name }], attributeId: AttributeIds.Value,
        })),
    });
    for (const notifier of plan.events || []) {
        out.events[notifier] = [];
        const item = await subscription.monitor({ nodeId: notifier, attributeId: AttributeIds.EventNotifier },
                                                { samplingInterval: 0, filter, queueSize: 10000, discardOldest: false },
                                                TimestampsToReturn.Both);
        item.on("changed", (values) => {
            const e = {};
            fields.forEach(([, , name], i) => { e[name] = plain(values[i] ? values[i].value : null); });
            out.events[notifier].push(e);
        });
    }
    for (const { nodeId, deadband } of plan.values || []) {
        const key = nodeId + "|" + (deadband || 0);
        out.values[key] = [];
        const parameters = { samplingInterval: 0, queueSize: 1000, discardOldest: true };
        if (deadband) {
            parameters.filter = new DataChangeFilter({
                trigger: DataChangeTrigger.StatusValue, deadbandType: DeadbandType.Absolute, deadbandValue: deadband,
            });
        }
        const item = await subscription.monitor({ nodeId, attributeId: AttributeIds.Value }, parameters,
                                                TimestampsToReturn.Both);
        item.on("changed", (d) => {
            out.values[key].push({
                value: d.value ? plain(d.value.value) : null, status: d.statusCode.name,
                sourceTimestamp: d.sourceTimestamp ? d.sourceTimestamp.toISOString() : null,
            });
        });
    }
    return { client, session, subscription, out };
}

async function main() {
    const [endpoint, secondsText, planText] = process.argv.slice(2);
    const plan = JSON.parse(planText);
    const seconds = Number(secondsText);
    const watchers = await Promise.all(Array.from({ length: plan.clients || 1 }, () => watch(endpoint, seconds, plan)));
    await new Promise((resolve) => setTimeout(resolve, seconds * 1000));
    const read = {};
    if ((plan.read || []).length) {
        const values = await watchers[0].session.read(plan.read.map((nodeId) => ({ nodeId, attributeId: AttributeIds.Value })));
        plan.read.forEach((id, i) => {
            read[id] = values[i].statusCode.name === "Good" ? plain(values[i].value.value) : values[i].statusCode.name;
        });
    }
    console.log(JSON.stringify({ clients: watchers.map((w) => w.out), read }));
    for (const w of watchers) {
        await w.subscription.terminate();
        await w.session.close();
        await w.client.disconnect();
    }
}

main().catch((e) => {
    console.error(String(e && e.stack ? e.stack : e));
    process.exit(1);
});
