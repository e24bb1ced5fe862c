// SPDX-License-Identifier: Apache-2.0
#pragma once
// Who may reach the OPC UA server and how: the security policies offered,
// the server's certificate (made self-signed at the first start and kept),
// the trusted client certificates, the users with their crypt(3) hashes,
// and the sessions' users as the controls need them.

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "gateway_config.h"

namespace vorlan_gateway {

// "None", or "Basic256Sha256" / "Aes128_Sha256_RsaOaep" with "-Sign" or "-SignAndEncrypt".
bool OpcuaSecurityKnown(const std::string& name);

// "$6$[rounds=N$]salt$hash" with an 86-character hash: what mkpasswd -m sha-512 makes.
bool OpcuaPasswordHashValid(const std::string& hash);

// Does `password` match `hash`? Compared in constant time.
bool OpcuaPasswordMatches(const std::string& hash, const std::string& password);

// --check: the certificate, key and trusted-clients files usable; a problem text each.
void CheckOpcuaAccess(const OpcuaConfig& config, std::vector<std::string>& problems);

// The user logged in on a session.
struct OpcuaCaller {
    std::string user;            // "anonymous" for a session without a user
    bool mayOperate = false;
    std::string client;          // the client's application URI, when it gave one
};

// The sessions' users, by session id (its text form); filled by the access
// control as sessions are activated and closed, read by the controls.
class OpcuaSessions {
public:
    void Set(const std::string& session, OpcuaCaller caller);
    void Erase(const std::string& session);
    bool Find(const std::string& session, OpcuaCaller& out) const;
    size_t size() const;

private:
    mutable std::mutex lock_;
    std::map<std::string, OpcuaCaller> sessions_;
};

}  // namespace vorlan_gateway

#if VORLAN_OPCUA
#include <open62541/server.h>

namespace vorlan_gateway {

// The session id as text, the key of OpcuaSessions.
std::string OpcuaSessionKey(const UA_NodeId& id);

// Sets up the endpoints, the certificate (made and written when absent),
// the client trust, the limits and the access control on `sc`, whose basics
// are set. Empty text on success.
std::string ConfigureOpcuaAccess(UA_ServerConfig& sc, const OpcuaConfig& config, OpcuaSessions& sessions);

// A self-signed certificate and its key for `applicationUri`, DER-encoded; empty text on success.
std::string MakeOpcuaCertificate(const UA_Logger* logger, const std::string& applicationUri, std::string& certificate, std::string& key);

}  // namespace vorlan_gateway
#endif
