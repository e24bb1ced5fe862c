#pragma once
// The creatable component "Vorlan.RelayPro": one per serial channel. It owns
// its protocol driver object and exposes it through IDeviceDriver,
// IDeviceDriverControl and a dispatch part without members, all sharing one
// reference count.

#include <atomic>
#include <cstdint>
#include <memory>

#include "component/relay_driver.h"
#include "vorlan/driver.h"

namespace vorlan {

class RelayPro {
public:
    // A new component holding one reference, or null when memory runs out.
    static RelayPro* Create();

    RelayPro(const RelayPro&) = delete;
    RelayPro& operator=(const RelayPro&) = delete;

    int32_t QueryInterface(const VorlanGuid* iid, void** out);
    uint32_t AddRef();
    // At zero the component is destroyed.
    uint32_t Release();

    CRelayDriver& Core() { return *core_; }
    // OpenChannel: the driver keeps a copy of the host's record and opens the port.
    // On refusal `error` gets the errno value for the host.
    int32_t OpenChannel(const ChannelConfig* config, int* error = nullptr);

    // An interface part: the host sees its first word, the table pointer.
    template <typename Interface>
    struct Part {
        Interface face;
        RelayPro* owner;
    };

    template <typename Interface>
    static RelayPro& Of(Interface* face) {
        return *reinterpret_cast<Part<Interface>*>(face)->owner;
    }

private:
    RelayPro();
    ~RelayPro();

    std::atomic<uint32_t> refs_{1};
    std::unique_ptr<CRelayDriver> core_;
    Part<IDeviceDriver> driverPart_;
    Part<IDeviceDriverControl> controlPart_;
    Part<IVorlanDispatch> dispatchPart_;
};

}  // namespace vorlan
