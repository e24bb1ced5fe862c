// What a client may not do: opens sessions until refused, subscriptions on
// one session until refused, reads an unknown node and writes a measurement.
// Prints one JSON object: {"sessions", "sessionError", "subscriptions",
// "subscriptionError", "unknown", "write"}; exit code 1 on failure.
"use strict";
const { OPCUAClient, MessageSecurityMode, SecurityPolicy, AttributeIds, DataType } = require("node-opcua-client");

async function main() {
    const [endpoint, tries, writeNode] = [process.argv[2], Number(process.argv[3]), process.argv[4]];
    const clients = [];
    const sessions = [];
    const out = { sessions: 0, sessionError: null, subscriptions: 0, subscriptionError: null };
    for (let i = 0; i < tries; ++i) {
        const client = OPCUAClient.create({
            endpointMustExist: false,
            securityMode: MessageSecurityMode.None,
            securityPolicy: SecurityPolicy.None,
            connectionStrategy: { maxRetry: 1, initialDelay: 100, maxDelay: 200 },
        });
        clients.push(client);
        try {
            await client.connect(endpoint);
            sessions.push(await client.createSession());
            out.sessions += 1;
        } catch (e) {
            out.sessionError = String(e.message || e);
            break;
        }
    }
    const session = sessions[0];
    for (let i = 0; i < tries; ++i) {
        try {
            const r = await session.createSubscription({ requestedPublishingInterval: 1000, requestedLifetimeCount: 60,
                                                         requestedMaxKeepAliveCount: 10, publishingEnabled: true });
            if (!r || !r.subscriptionId) throw new Error("no subscription id");
            out.subscriptions += 1;
        } catch (e) {
            out.subscriptionError = String(e.message || e);
            break;
        }
    }
    const [unknown] = await session.read([{ nodeId: "ns=1;s=Vorlan/no/such/node", attributeId: AttributeIds.Value }]);
    out.unknown = unknown.statusCode.name;
    const written = await session.write({ nodeId: writeNode, attributeId: AttributeIds.Value,
                                          value: { value: { dataType: DataType.Double, value: 1 } } });
    out.write = written.name;
    console.log(JSON.stringify(out));
    for (const s of sessions) await s.close().catch(() => {});
    for (const c of clients) await c.disconnect().catch(() => {});
}

main().catch((e) => {
    console.error(String(e && e.stack ? e.stack : e));
    process.exit(1);
});
