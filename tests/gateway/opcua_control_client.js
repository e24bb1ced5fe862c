// An independent OPC UA client for the control tests: opens a session with
// the given security and user, then runs groups of method calls, the calls
// of one group at once, the groups one after the other.
//   node opcua_control_client.js <endpoint> '<json>'
// json: {"policy": "None" | "Basic256Sha256" | "Aes128_Sha256_RsaOaep",
//        "mode": "None" | "Sign" | "SignAndEncrypt", "user", "password",
//        "pki": "<folder for the client's own certificate>",
//        "calls": [[{"object": "<node id>", "method": "Select", "args": [["String", "close"]]},
//                   {"delete": "<node id>"}, {"read": "<node id>"}]]}
// Prints {"ok": true, "results": [["Good", ...], ...]} or {"ok": false, "error": "..."}.
"use strict";
const { OPCUAClient, MessageSecurityMode, SecurityPolicy, DataType, AttributeIds } = require("node-opcua-client");
const { DeleteNodesRequest } = require("node-opcua-types");
// A dependency of node-opcua-client, installed with it.
const { OPCUACertificateManager } = require("node-opcua-certificate-manager");

// One entry of a group: a method call, {"delete": id} (DeleteNodes) or {"read": id} (its value's status).
async function run(session, c) {
    if (c.delete) {
        const response = await session.performMessageTransaction(new DeleteNodesRequest({
            nodesToDelete: [{ nodeId: c.delete, deleteTargetReferences: true }] }));
        return response.results[0].name;
    }
    if (c.read) return (await session.read({ nodeId: c.read, attributeId: AttributeIds.Value })).statusCode.name;
    const r = await session.call({
        objectId: c.object,
        methodId: c.object + "/" + c.method,
        inputArguments: (c.args || []).map(([type, value]) => ({ dataType: DataType[type], value })),
    });
    return r.statusCode.name;
}

async function main() {
    const endpoint = process.argv[2];
    const o = JSON.parse(process.argv[3]);
    const options = {
        endpointMustExist: false,
        securityMode: MessageSecurityMode[o.mode || "None"],
        securityPolicy: SecurityPolicy[o.policy || "None"],
        connectionStrategy: { maxRetry: 1, initialDelay: 200, maxDelay: 500 },
        requestedSessionTimeout: 60000,
    };
    if (o.pki) {
        options.clientCertificateManager = new OPCUACertificateManager({ rootFolder: o.pki,
                                                                         automaticallyAcceptUnknownCertificate: true });
    }
    const client = OPCUAClient.create(options);
    let session;
    try {
        await client.connect(endpoint);
        session = await client.createSession(o.user ? { type: 1, userName: o.user, password: o.password } : undefined);
    } catch (e) {
        console.log(JSON.stringify({ ok: false, error: String(e && e.message ? e.message : e) }));
        await client.disconnect().catch(() => {});
        return;
    }
    const results = [];
    for (const group of o.calls || []) {
        const answers = await Promise.all(group.map((c) => run(session, c)
            .catch((e) => "error: " + String(e && e.message ? e.message : e))));
        results.push(answers);
    }
    console.log(JSON.stringify({ ok: true, results }));
    await session.close();
    await client.disconnect();
}

main().catch((e) => {
    console.log(JSON.stringify({ ok: false, error: "client: " + String(e && e.stack ? e.stack : e) }));
    process.exit(1);
});
