// SPDX-License-Identifier: Apache-2.0
#include "opcua_access.h"

#include <crypt.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#if VORLAN_OPCUA
#include <open62541/plugin/accesscontrol_default.h>
#include <open62541/plugin/create_certificate.h>
#include <open62541/plugin/pki_default.h>
#include <open62541/server_config_default.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include "log.h"
#endif

namespace vorlan_gateway {

namespace {

const char kCryptAlphabet[] = "./0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

bool InAlphabet(const std::string& text) { return text.find_first_not_of(kCryptAlphabet) == std::string::npos; }

#if VORLAN_OPCUA
bool ReadWhole(const std::string& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream s;
    s << in.rdbuf();
    out = s.str();
    return !in.bad();
}
#endif

bool Exists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

std::string DirOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

bool OpcuaSecurityKnown(const std::string& name) {
    if (name == "None") return true;
    for (const char* policy : {"Basic256Sha256", "Aes128_Sha256_RsaOaep"}) {
        for (const char* mode : {"-Sign", "-SignAndEncrypt"}) {
            if (name == std::string(policy) + mode) return true;
        }
    }
    return false;
}

bool OpcuaPasswordHashValid(const std::string& hash) {
    if (hash.compare(0, 3, "$6$") != 0) return false;
    std::string rest = hash.substr(3);
    if (rest.compare(0, 7, "rounds=") == 0) {
        const size_t end = rest.find('$');
        if (end == std::string::npos || end == 7) return false;
        const std::string digits = rest.substr(7, end - 7);
        if (digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) return false;
        rest = rest.substr(end + 1);
    }
    const size_t dollar = rest.find('$');
    if (dollar == std::string::npos || dollar == 0 || dollar > 16) return false;
    const std::string salt = rest.substr(0, dollar), sum = rest.substr(dollar + 1);
    return InAlphabet(salt) && sum.size() == 86 && InAlphabet(sum);
}

bool OpcuaPasswordMatches(const std::string& hash, const std::string& password) {
    if (!OpcuaPasswordHashValid(hash) || password.find('\0') != std::string::npos) return false;
    crypt_data data{};
    const char* made = crypt_r(password.c_str(), hash.c_str(), &data);
    if (!made || std::strlen(made) != hash.size()) return false;
    unsigned char diff = 0;
    for (size_t i = 0; i < hash.size(); ++i) diff |= static_cast<unsigned char>(made[i] ^ hash[i]);
    return diff == 0;
}

void CheckOpcuaAccess(const OpcuaConfig& c, std::vector<std::string>& problems) {
    if (!c.enabled) return;
    const bool cert = !c.certificate.empty() && Exists(c.certificate);
    const bool key = !c.key.empty() && Exists(c.key);
    if (cert != key && !c.certificate.empty() && !c.key.empty()) {
        problems.push_back("[opcua] 'certificate' and 'key' must both exist, or neither (then both are made)");
    }
    for (const std::string* path : {&c.certificate, &c.key}) {
        if (path->empty()) continue;
        if (Exists(*path)) {
            if (access(path->c_str(), R_OK) != 0) problems.push_back("[opcua] " + *path + " can't be read");
        } else if (access(DirOf(*path).c_str(), W_OK) != 0) {
            problems.push_back("[opcua] " + *path + " is absent and can't be made there");
        }
    }
    if (!c.trustedClients.empty()) {
        DIR* d = opendir(c.trustedClients.c_str());
        if (!d) problems.push_back("[opcua] trusted_clients " + c.trustedClients + ": " + std::strerror(errno));
        else closedir(d);
    }
#if VORLAN_OPCUA
    if (cert && key) {
        std::string certText, keyText;
        if (ReadWhole(c.certificate, certText) && ReadWhole(c.key, keyText)) {
            BIO* b = BIO_new_mem_buf(certText.data(), static_cast<int>(certText.size()));
            X509* x = PEM_read_bio_X509(b, nullptr, nullptr, nullptr);
            BIO_free(b);
            if (!x) {
                const unsigned char* p = reinterpret_cast<const unsigned char*>(certText.data());
                x = d2i_X509(nullptr, &p, static_cast<long>(certText.size()));
            }
            if (!x) problems.push_back("[opcua] " + c.certificate + " is not a certificate (PEM or DER)");
            X509_free(x);
            b = BIO_new_mem_buf(keyText.data(), static_cast<int>(keyText.size()));
            EVP_PKEY* k = PEM_read_bio_PrivateKey(b, nullptr, nullptr, nullptr);
            BIO_free(b);
            if (!k) {
                const unsigned char* p = reinterpret_cast<const unsigned char*>(keyText.data());
                k = d2i_AutoPrivateKey(nullptr, &p, static_cast<long>(keyText.size()));
            }
            if (!k) problems.push_back("[opcua] " + c.key + " is not a private key (PEM or DER)");
            EVP_PKEY_free(k);
        }
    }
#endif
}

void OpcuaSessions::Set(const std::string& session, OpcuaCaller caller) {
    std::lock_guard<std::mutex> hold(lock_);
    sessions_[session] = std::move(caller);
}

void OpcuaSessions::Erase(const std::string& session) {
    std::lock_guard<std::mutex> hold(lock_);
    sessions_.erase(session);
}

bool OpcuaSessions::Find(const std::string& session, OpcuaCaller& out) const {
    std::lock_guard<std::mutex> hold(lock_);
    const auto it = sessions_.find(session);
    if (it == sessions_.end()) return false;
    out = it->second;
    return true;
}

size_t OpcuaSessions::size() const {
    std::lock_guard<std::mutex> hold(lock_);
    return sessions_.size();
}

#if VORLAN_OPCUA

std::string OpcuaSessionKey(const UA_NodeId& id) {
    UA_String text = UA_STRING_NULL;
    UA_NodeId_print(&id, &text);
    std::string out(reinterpret_cast<const char*>(text.data), text.length);
    UA_String_clear(&text);
    return out;
}

namespace {

std::string Text(const UA_String& s) { return std::string(reinterpret_cast<const char*>(s.data), s.length); }

// The access control's own state. One OPC UA server runs per process.
struct AccessState {
    const OpcuaConfig* config = nullptr;
    OpcuaSessions* sessions = nullptr;
    decltype(UA_AccessControl::activateSession) activate = nullptr;
    decltype(UA_AccessControl::closeSession) close = nullptr;
};
AccessState gAccess;

// An unknown user costs as much as a known one, so names can't be probed by time.
const char kDummyHash[] =
    "$6$vorlanvorlan$5vVv0bgFz3eWz3mBiv9fKjRxtnISw/Wc6T022R4u9zqLbSLBHakd44zS4XP0GSPQNikZVs0BnY5IAnMdrTaVF/";

UA_StatusCode Login(const UA_String* userName, const UA_ByteString* password, size_t, const UA_UsernamePasswordLogin*,
                    void**, void*) {
    const std::string name = Text(*userName);
    const std::string given(reinterpret_cast<const char*>(password->data), password->length);
    const OpcuaUser* user = nullptr;
    for (const OpcuaUser& u : gAccess.config->users) {
        if (u.name == name) user = &u;
    }
    const bool ok = OpcuaPasswordMatches(user ? user->passwordHash : kDummyHash, given) && user;
    if (!ok) Log(kWarning, "OPC UA: login of user '" + name + "' refused");
    return ok ? UA_STATUSCODE_GOOD : UA_STATUSCODE_BADUSERACCESSDENIED;
}

UA_StatusCode Activate(UA_Server* server, UA_AccessControl* ac, const UA_EndpointDescription* endpoint,
                       const UA_ByteString* remoteCertificate, const UA_NodeId* sessionId,
                       const UA_ExtensionObject* token, void** sessionContext) {
    // Only anonymous and user-name tokens are taken.
    const bool anonymous = token->encoding == UA_EXTENSIONOBJECT_ENCODED_NOBODY ||
                           (token->encoding >= UA_EXTENSIONOBJECT_DECODED &&
                            token->content.decoded.type == &UA_TYPES[UA_TYPES_ANONYMOUSIDENTITYTOKEN]);
    const bool named = token->encoding >= UA_EXTENSIONOBJECT_DECODED &&
                       token->content.decoded.type == &UA_TYPES[UA_TYPES_USERNAMEIDENTITYTOKEN];
    if (!anonymous && !named) return UA_STATUSCODE_BADIDENTITYTOKENINVALID;
    const UA_StatusCode s = gAccess.activate(server, ac, endpoint, remoteCertificate, sessionId, token, sessionContext);
    if (s != UA_STATUSCODE_GOOD) return s;
    OpcuaCaller caller;
    caller.user = "anonymous";
    if (named) {
        caller.user = Text(static_cast<const UA_UserNameIdentityToken*>(token->content.decoded.data)->userName);
        for (const OpcuaUser& u : gAccess.config->users) {
            if (u.name == caller.user) caller.mayOperate = u.mayOperate;
        }
    }
    UA_Variant v;
    UA_Variant_init(&v);
    if (UA_Server_getSessionAttributeCopy(server, sessionId, UA_QUALIFIEDNAME(0, const_cast<char*>("clientDescription")),
                                          &v) == UA_STATUSCODE_GOOD &&
        UA_Variant_hasScalarType(&v, &UA_TYPES[UA_TYPES_APPLICATIONDESCRIPTION])) {
        caller.client = Text(static_cast<const UA_ApplicationDescription*>(v.data)->applicationUri);
    }
    UA_Variant_clear(&v);
    gAccess.sessions->Set(OpcuaSessionKey(*sessionId), std::move(caller));
    return UA_STATUSCODE_GOOD;
}

void Close(UA_Server* server, UA_AccessControl* ac, const UA_NodeId* sessionId, void* sessionContext) {
    gAccess.sessions->Erase(OpcuaSessionKey(*sessionId));
    gAccess.close(server, ac, sessionId, sessionContext);
}

// The address space is the gateway's: clients browse, read, subscribe and call, never edit it.
UA_Boolean NoAddNode(UA_Server*, UA_AccessControl*, const UA_NodeId*, void*, const UA_AddNodesItem*) { return false; }
UA_Boolean NoAddReference(UA_Server*, UA_AccessControl*, const UA_NodeId*, void*, const UA_AddReferencesItem*) {
    return false;
}
UA_Boolean NoDeleteNode(UA_Server*, UA_AccessControl*, const UA_NodeId*, void*, const UA_DeleteNodesItem*) {
    return false;
}
UA_Boolean NoDeleteReference(UA_Server*, UA_AccessControl*, const UA_NodeId*, void*, const UA_DeleteReferencesItem*) {
    return false;
}

UA_ByteString Bytes(const std::string& s) {
    UA_ByteString b;
    b.length = s.size();
    b.data = reinterpret_cast<UA_Byte*>(const_cast<char*>(s.data()));
    return b;
}

// PEM as DER; DER as it is.
std::string CertificateDer(const std::string& text) {
    BIO* b = BIO_new_mem_buf(text.data(), static_cast<int>(text.size()));
    X509* x = PEM_read_bio_X509(b, nullptr, nullptr, nullptr);
    BIO_free(b);
    if (!x) return text;
    unsigned char* der = nullptr;
    const int n = i2d_X509(x, &der);
    std::string out = n > 0 ? std::string(reinterpret_cast<char*>(der), static_cast<size_t>(n)) : text;
    OPENSSL_free(der);
    X509_free(x);
    return out;
}

std::string KeyDer(const std::string& text) {
    BIO* b = BIO_new_mem_buf(text.data(), static_cast<int>(text.size()));
    EVP_PKEY* k = PEM_read_bio_PrivateKey(b, nullptr, nullptr, nullptr);
    BIO_free(b);
    if (!k) return text;
    unsigned char* der = nullptr;
    const int n = i2d_PrivateKey(k, &der);
    std::string out = n > 0 ? std::string(reinterpret_cast<char*>(der), static_cast<size_t>(n)) : text;
    OPENSSL_free(der);
    EVP_PKEY_free(k);
    return out;
}

// Writes a new file only: an existing one is never overwritten.
std::string WriteNew(const std::string& path, const std::string& data, mode_t mode) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) return path + ": " + std::strerror(errno);
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n <= 0) {
            const std::string e = path + ": " + std::strerror(errno);
            close(fd);
            unlink(path.c_str());
            return e;
        }
        done += static_cast<size_t>(n);
    }
    if (fsync(fd) != 0 || close(fd) != 0) return path + ": " + std::strerror(errno);
    return {};
}

// The server's certificate and key: read, or made and kept at the first start.
std::string LoadOrMakeCertificate(const UA_Logger* logger, const OpcuaConfig& c, std::string& cert, std::string& key) {
    const bool haveCert = Exists(c.certificate), haveKey = Exists(c.key);
    if (haveCert != haveKey) {
        return "OPC UA: " + (haveCert ? c.key : c.certificate) + " is missing while " +
               (haveCert ? c.certificate : c.key) + " exists; remove both to have a new pair made";
    }
    if (haveCert) {
        if (!ReadWhole(c.certificate, cert)) return "OPC UA: " + c.certificate + " can't be read";
        if (!ReadWhole(c.key, key)) return "OPC UA: " + c.key + " can't be read";
        cert = CertificateDer(cert);
        key = KeyDer(key);
        return {};
    }
    if (std::string e = MakeOpcuaCertificate(logger, c.applicationUri, cert, key); !e.empty()) return e;
    // The key first and private, so a certificate never stands without its key.
    if (std::string e = WriteNew(c.key, key, 0600); !e.empty()) return "OPC UA: the new key can't be kept: " + e;
    if (std::string e = WriteNew(c.certificate, cert, 0644); !e.empty()) {
        unlink(c.key.c_str());
        return "OPC UA: the new certificate can't be kept: " + e;
    }
    Log(kInfo, "OPC UA: made a self-signed certificate for " + c.applicationUri + " in " + c.certificate);
    return {};
}

// Every readable file of `dir` as a certificate; empty text on success.
std::string TrustedCertificates(const std::string& dir, std::vector<std::string>& out) {
    DIR* d = opendir(dir.c_str());
    if (!d) return "OPC UA: trusted_clients " + dir + ": " + std::strerror(errno);
    while (const dirent* e = readdir(d)) {
        if (e->d_name[0] == '.') continue;
        std::string text;
        const std::string path = dir + "/" + e->d_name;
        struct stat st {};
        if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || !ReadWhole(path, text)) continue;
        out.push_back(CertificateDer(text));
    }
    closedir(d);
    return {};
}

// `pki` trusts every certificate, or those in `trusted` only.
std::string Trust(UA_CertificateVerification& pki, const UA_Logger* logging, bool all,
                  const std::vector<std::string>& trusted) {
    if (pki.clear) pki.clear(&pki);
    std::memset(&pki, 0, sizeof pki);
    pki.logging = logging;
    if (all) {
        UA_CertificateVerification_AcceptAll(&pki);
        return {};
    }
    std::vector<UA_ByteString> list;
    for (const std::string& t : trusted) list.push_back(Bytes(t));
    const UA_StatusCode s =
        UA_CertificateVerification_Trustlist(&pki, list.data(), list.size(), nullptr, 0, nullptr, 0);
    return s == UA_STATUSCODE_GOOD ? std::string() : std::string("OPC UA: trusted clients: ") + UA_StatusCode_name(s);
}

const UA_String kBasic256Sha256 = UA_STRING_STATIC("http://opcfoundation.org/UA/SecurityPolicy#Basic256Sha256");
const UA_String kAes128 = UA_STRING_STATIC("http://opcfoundation.org/UA/SecurityPolicy#Aes128_Sha256_RsaOaep");
const UA_String kNone = UA_STRING_STATIC("http://opcfoundation.org/UA/SecurityPolicy#None");

}  // namespace

std::string MakeOpcuaCertificate(const UA_Logger* logger, const std::string& applicationUri, std::string& certificate, std::string& key) {
    char host[256] = "localhost";
    gethostname(host, sizeof host - 1);
    const std::string cn = "CN=vorlan-gateway@" + std::string(host), uri = "URI:" + applicationUri,
                      dns = "DNS:" + std::string(host);
    UA_String subject[] = {UA_STRING(const_cast<char*>("O=Vorlan")), UA_STRING(const_cast<char*>(cn.c_str()))};
    UA_String alt[] = {UA_STRING(const_cast<char*>(uri.c_str())), UA_STRING(const_cast<char*>(dns.c_str()))};
    UA_UInt16 days = 3650;
    UA_UInt16 bits = 2048;
    UA_KeyValuePair pairs[2];
    pairs[0].key = UA_QUALIFIEDNAME(0, const_cast<char*>("expires-in-days"));
    UA_Variant_setScalar(&pairs[0].value, &days, &UA_TYPES[UA_TYPES_UINT16]);
    pairs[1].key = UA_QUALIFIEDNAME(0, const_cast<char*>("key-size-bits"));
    UA_Variant_setScalar(&pairs[1].value, &bits, &UA_TYPES[UA_TYPES_UINT16]);
    UA_KeyValueMap params{2, pairs};
    UA_ByteString k = UA_BYTESTRING_NULL, c = UA_BYTESTRING_NULL;
    const UA_StatusCode s = UA_CreateCertificate(logger, subject, 2, alt, 2, UA_CERTIFICATEFORMAT_DER, &params, &k, &c);
    if (s != UA_STATUSCODE_GOOD) return std::string("OPC UA: no certificate could be made: ") + UA_StatusCode_name(s);
    certificate.assign(reinterpret_cast<const char*>(c.data), c.length);
    key.assign(reinterpret_cast<const char*>(k.data), k.length);
    UA_ByteString_clear(&c);
    UA_ByteString_clear(&k);
    return {};
}

std::string ConfigureOpcuaAccess(UA_ServerConfig& sc, const OpcuaConfig& c, OpcuaSessions& sessions) {
    bool none = false, secured = false;
    for (const std::string& s : c.security) {
        none = none || s == "None";
        secured = secured || s != "None";
    }
    std::string cert, key;
    if (secured) {
        if (std::string e = LoadOrMakeCertificate(sc.logging, c, cert, key); !e.empty()) return e;
    }
    const UA_ByteString certBytes = Bytes(cert), keyBytes = Bytes(key);

    // Client certificates: those in trusted_clients, any while commissioning, else none.
    std::vector<std::string> trusted;
    if (!c.trustAllClients && !c.trustedClients.empty()) {
        if (std::string e = TrustedCertificates(c.trustedClients, trusted); !e.empty()) return e;
    }
    if (std::string e = Trust(sc.secureChannelPKI, sc.logging, c.trustAllClients, trusted); !e.empty()) return e;
    // No session PKI while the access control is made, so it offers no certificate logins.
    if (sc.sessionPKI.clear) sc.sessionPKI.clear(&sc.sessionPKI);
    std::memset(&sc.sessionPKI, 0, sizeof sc.sessionPKI);
    sc.sessionPKI.logging = sc.logging;

    // The None policy is always there for discovery; its endpoint only when configured.
    UA_StatusCode s = UA_ServerConfig_addSecurityPolicyNone(&sc, secured ? &certBytes : nullptr);
    bool basic = false, aes = false;
    for (const std::string& p : c.security) {
        if (s != UA_STATUSCODE_GOOD) break;
        if (p.rfind("Basic256Sha256", 0) == 0 && !basic) {
            basic = true;
            s = UA_ServerConfig_addSecurityPolicyBasic256Sha256(&sc, &certBytes, &keyBytes);
        } else if (p.rfind("Aes128_Sha256_RsaOaep", 0) == 0 && !aes) {
            aes = true;
            s = UA_ServerConfig_addSecurityPolicyAes128Sha256RsaOaep(&sc, &certBytes, &keyBytes);
        }
    }
    for (const std::string& p : c.security) {
        if (s != UA_STATUSCODE_GOOD) break;
        const bool encrypt = p.size() > 15 && p.compare(p.size() - 15, 15, "-SignAndEncrypt") == 0;
        const UA_MessageSecurityMode mode = p == "None" ? UA_MESSAGESECURITYMODE_NONE
                                            : encrypt ? UA_MESSAGESECURITYMODE_SIGNANDENCRYPT
                                                      : UA_MESSAGESECURITYMODE_SIGN;
        const UA_String& uri = p == "None" ? kNone : p.rfind("Basic256Sha256", 0) == 0 ? kBasic256Sha256 : kAes128;
        s = UA_ServerConfig_addEndpoint(&sc, uri, mode);
    }
    if (s != UA_STATUSCODE_GOOD) return std::string("OPC UA: security policies: ") + UA_StatusCode_name(s);
    sc.securityPolicyNoneDiscoveryOnly = !none;
    sc.allowNonePolicyPassword = false;

    // Names for the user-name token; the passwords are checked against the hashes by Login.
    std::vector<UA_UsernamePasswordLogin> logins;
    for (const OpcuaUser& u : c.users) {
        logins.push_back({UA_STRING(const_cast<char*>(u.name.c_str())), UA_STRING_NULL});
    }
    if (sc.accessControl.clear) sc.accessControl.clear(&sc.accessControl);
    s = UA_AccessControl_defaultWithLoginCallback(&sc, c.anonymous, nullptr, logins.size(), logins.data(), Login,
                                                  nullptr);
    if (s != UA_STATUSCODE_GOOD) return std::string("OPC UA: access control: ") + UA_StatusCode_name(s);
    gAccess.config = &c;
    gAccess.sessions = &sessions;
    gAccess.activate = sc.accessControl.activateSession;
    gAccess.close = sc.accessControl.closeSession;
    sc.accessControl.activateSession = Activate;
    sc.accessControl.closeSession = Close;
    sc.accessControl.allowAddNode = NoAddNode;
    sc.accessControl.allowAddReference = NoAddReference;
    sc.accessControl.allowDeleteNode = NoDeleteNode;
    sc.accessControl.allowDeleteReference = NoDeleteReference;
    // The session PKI checks a client's application URI against its certificate.
    if (std::string e = Trust(sc.sessionPKI, sc.logging, c.trustAllClients, trusted); !e.empty()) return e;

    sc.maxSessions = static_cast<UA_UInt16>(c.maxSessions);
    sc.maxSecureChannels = static_cast<UA_UInt16>(c.maxSessions + 8);
    sc.maxSubscriptions = static_cast<UA_UInt32>(c.maxSubscriptions);
    return {};
}

#endif

}  // namespace vorlan_gateway
