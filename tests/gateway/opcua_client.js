// An independent OPC UA client for the gateway tests: connects to the
// endpoint, browses everything below Objects/Vorlan and reads each variable.
// Prints one JSON object: {"nodes": {"<browse path>": {"nodeId", "value",
// "status", "sourceTimestamp", "dataType"}}}; exit code 1 on failure.
"use strict";
const { OPCUAClient, MessageSecurityMode, SecurityPolicy, AttributeIds, NodeClass, DataType } =
    require("node-opcua-client");

async function main() {
    const endpoint = process.argv[2];
    const client = OPCUAClient.create({
        endpointMustExist: false,
        securityMode: MessageSecurityMode.None,
        securityPolicy: SecurityPolicy.None,
        connectionStrategy: { maxRetry: 2, initialDelay: 200, maxDelay: 500 },
    });
    await client.connect(endpoint);
    const session = await client.createSession();
    const nodes = {};
    const variables = [];
    // Objects/Vorlan by its browse path, then everything below it.
    const start = await session.translateBrowsePath({
        startingNode: "i=85",
        relativePath: { elements: [{ referenceTypeId: "i=33", isInverse: false, includeSubtypes: true,
                                     targetName: { namespaceIndex: 1, name: "Vorlan" } }] },
    });
    if (!start.targets || start.targets.length !== 1) throw new Error("no Objects/Vorlan");
    const queue = [{ id: start.targets[0].targetId.toString(), path: "Vorlan" }];
    while (queue.length) {
        const { id, path } = queue.shift();
        const result = await session.browse({ nodeId: id, referenceTypeId: "i=33", includeSubtypes: true,
                                              browseDirection: 0, resultMask: 63 });
        for (const ref of result.references || []) {
            if (ref.nodeId.namespace === 0) continue;
            const child = { id: ref.nodeId.toString(), path: path + "/" + ref.browseName.name };
            if (ref.nodeClass === NodeClass.Variable) variables.push(child);
            else queue.push(child);
            nodes[child.path] = { nodeId: child.id };
        }
    }
    const values = await session.read(variables.map((v) => ({ nodeId: v.id, attributeId: AttributeIds.Value })));
    variables.forEach((v, i) => {
        const d = values[i];
        const n = nodes[v.path];
        n.value = d.value && d.value.value !== undefined ? d.value.value : null;
        n.dataType = d.value ? DataType[d.value.dataType] : null;
        n.status = d.statusCode.name;
        n.sourceTimestamp = d.sourceTimestamp ? d.sourceTimestamp.toISOString() : null;
    });
    console.log(JSON.stringify({ nodes }));
    await session.close();
    await client.disconnect();
}

main().catch((e) => {
    console.error(String(e && e.stack ? e.stack : e));
    process.exit(1);
});
