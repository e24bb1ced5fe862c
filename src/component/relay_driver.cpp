// SPDX-License-Identifier: Apache-2.0
#include "component/relay_driver.h"

#include "component/polling_relays.h"

#include <cerrno>
#include <cstring>

#include "faultrec/recording_service.h"
#include "link/frame_exchange.h"
#include "link/serial_channel.h"
#include "platform/linux_monitor_sink.h"
#include "tags/tag_service.h"
#include "protocol/answer_dispatch.h"
#include "model/frame.h"
#include "model/freshness.h"
#include "model/silent_backoff.h"
#include "protocol/answer_pairing.h"
#include "protocol/control_conversation.h"
#include "protocol/conversation.h"
#include "protocol/request_builder.h"

namespace vorlan {

CRelayDriverBase::~CRelayDriverBase() = default;

int32_t CRelayDriverBase::OpenChannel(const ChannelConfig* config) {
    if (config == nullptr) {
        NoteOpenError(EINVAL, "No channel record was given to OpenChannel.");
        return 0;
    }
    std::memcpy(&channel_, config, sizeof channel_);
    if (OpenError refused; !BaudRateFits(*config, &refused)) {
        NoteOpenError(refused.code, std::move(refused.text));
        return 0;
    }
    LineChannel opened = OpenLineChannel(*config, PortClock());
    lineNotes_ = std::move(opened.notes);
    if (!opened.port) {  // a port that was open stays open
        NoteOpenError(opened.error.code != 0 ? opened.error.code : EIO, std::move(opened.error.text));
        return 0;
    }
    port_ = std::move(opened.port);  // the old port, if any, closes here
    fastLine_ = opened.fast;
    fastTiming_ = opened.timing;
    legacyQuality_ = opened.legacyQuality;
    relayZone_ = std::move(opened.relayZone);
    timeSync_ = opened.timeSync;
    silentBackoff_ = opened.silentBackoff;
    silentRetryMaxMs_ = opened.silentRetryMaxMs;
    NoteOpenError(0, {});
    return 1;
}

void CRelayDriverBase::NoteOpenError(int code, std::string text) {
    std::lock_guard<std::mutex> guard(openErrorLock_);
    openErrorCode_ = code;
    openErrorText_ = std::move(text);
}

uint32_t CRelayDriverBase::LastOpenError(char* buffer, uint32_t size) const {
    std::lock_guard<std::mutex> guard(openErrorLock_);
    const size_t length = openErrorText_.size();
    if (buffer != nullptr && size > 0) {
        const size_t copied = length < size ? length : size - 1;
        std::memcpy(buffer, openErrorText_.data(), copied);
        buffer[copied] = '\0';
    }
    return static_cast<uint32_t>(length);
}

int32_t CRelayDriverBase::CloseChannel() {
    if (port_) {
        port_->Close();
        port_.reset();
    }
    return 1;
}

CRelayDriver::CRelayDriver(std::unique_ptr<Clock> clock, std::unique_ptr<MonitorSink> monitor)
    : clock_(clock ? std::move(clock) : std::make_unique<RealClock>()),
      monitor_(monitor ? std::move(monitor) : MakeHostMonitorSink()) {}

CRelayDriver::~CRelayDriver() {
    ReleaseRecordingAtoms(state_);
}

int32_t CRelayDriver::OpenChannelLocked(const ChannelConfig* config, int* error) {
    std::lock_guard<std::mutex> guard(lock_);
    const int32_t opened = OpenChannel(config);
    if (opened == 1) {
        // The builder and the delivery read the relay clocks from the polling state.
        state_.relayZone = relayZone_;
        state_.timeSync = timeSync_;
        state_.silentBackoff = silentBackoff_;
        state_.silentRetryMaxMs = silentRetryMaxMs_;
    }
    TraceLineNotes();
    TraceOpenError();
    if (error != nullptr) *error = opened != 0 ? 0 : openErrorCode_;
    return opened;
}

void CRelayDriver::TraceOpenError() {
    std::string text;
    {
        std::lock_guard<std::mutex> guard(openErrorLock_);
        text = openErrorText_;
    }
    if (text == tracedOpenError_) return;
    tracedOpenError_ = text;
    if (!text.empty()) SendMonitorText(*monitor_, "open refused: " + text);
}

void CRelayDriver::TraceLineNotes() {
    if (lineNotes_ == tracedLineNotes_) return;
    tracedLineNotes_ = lineNotes_;
    SendLineNotes(*monitor_, lineNotes_);
}

int32_t CRelayDriver::CloseChannelLocked() {
    std::lock_guard<std::mutex> guard(lock_);
    return CloseChannel();
}

void CRelayDriver::SetPort(std::unique_ptr<SerialPort> port, const FastTiming* fast) {
    std::lock_guard<std::mutex> guard(lock_);
    port_ = std::move(port);
    fastLine_ = fast != nullptr;
    if (fast != nullptr) fastTiming_ = *fast;
}

int32_t CRelayDriver::AddDevice(const char* addressText, int32_t* address) {
    if (addressText == nullptr) return 0;  // an empty text is address 0, as hosts have used it
    uint32_t value = 0;
    for (const char* p = addressText; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') return 0;
        value = value * 10 + static_cast<uint32_t>(*p - '0');
        if (value > 32) return 0;  // also stops long digit strings from overflowing
    }
    std::lock_guard<std::mutex> guard(lock_);
    if (state_.deviceCount >= kMaxDevices) return 0;
    // One record per address: a second would never get an answer of its own.
    for (int32_t i = 0; i < state_.deviceCount; ++i) {
        if (state_.devices[static_cast<size_t>(i)].address == value) return 0;
    }
    if (address != nullptr) *address = static_cast<int32_t>(value);
    DeviceRecord& record = state_.devices[static_cast<size_t>(state_.deviceCount)];
    record.address = static_cast<uint8_t>(value);
    record.index = static_cast<uint8_t>(state_.deviceCount);
    linkStats_.Register(state_.deviceCount, record.address);
    state_.deviceCount += 1;
    return 1;
}

int32_t CRelayDriver::CanMerge(const ItemRef* ref, int32_t direction, HostPacket* packet) {
    if (ref == nullptr || packet == nullptr) return 0;
    if (direction != packet->direction || ref->device != packet->device ||
        ref->registerIndex != packet->registerIndex) {
        return 0;
    }
    if (direction == 1) return ref->dataAddress == packet->firstAddress ? 1 : 0;
    if (ref->dataAddress < packet->firstAddress) {
        packet->firstAddress = ref->dataAddress;
    } else if (ref->dataAddress > packet->lastAddress) {
        packet->lastAddress = ref->dataAddress;
    }
    return 1;
}

int32_t CRelayDriver::ServePacket(HostPacket* packet, FrameBuffer& frame, int32_t origin) {
    TagContext ctx{state_, *clock_, &settings_, legacyQuality_};
    return vorlan::ServePacket(ctx, packet, frame, origin);
}

int32_t CRelayDriver::ExchangeFrame(FrameBuffer& frame) {
    PollingRelays relays(state_);
    ExchangeContext ctx{relays, port_.get(), *clock_, *monitor_, errorIndex};
    ctx.answerWaitMs = nextAnswerWaitMs_;
    nextAnswerWaitMs_ = 0;
    const int32_t result =
        fastLine_ ? ExchangeFrameFast(ctx, fastTiming_, frame) : vorlan::ExchangeFrame(ctx, frame);
    lastOutcome_ = ctx.outcome;
    lastAnswerDelayMs_ = ctx.answerDelayMs;
    return result;
}

int32_t CRelayDriver::ParseAnswer(HostPacket* /*packet*/, const uint8_t* frame, int32_t length) {
    const size_t size = length > 0 ? static_cast<size_t>(length) : 0;
    return vorlan::ParseAnswer(state_, *this, ByteView(frame, size), clock_->NowFileTime());
}

namespace {

// After a failed exchange the relay starts again with the general poll, and a
// control not yet executed is dropped.
void MarkForFreshStart(DeviceRecord& relay) {
    AskNext(relay, Request::GeneralPoll);
    ControlExchangeFailed(relay);
    ExchangeEnded(relay);
}

bool PortFailed(ExchangeOutcome outcome) {
    return outcome == ExchangeOutcome::WriteFailed || outcome == ExchangeOutcome::ReadFailed;
}

// Whether the exchange reached the line for a relay, so its failure counts
// against that relay.
bool ReachedRelay(ExchangeOutcome outcome) {
    return outcome != ExchangeOutcome::NothingSent && outcome != ExchangeOutcome::Refused &&
           outcome != ExchangeOutcome::Broadcast;
}

// Device index of the registered relay with `address`, or -1.
int32_t RegisteredIndex(PollingState& state, uint8_t address) {
    const DeviceRecord* relay = state.FindDevice(address);
    return relay != nullptr ? relay->index : -1;
}

}  // namespace

int32_t CRelayDriver::ProcessPacket(HostPacket* packet, int32_t origin) {
    if (packet == nullptr) return 0;
    std::lock_guard<std::mutex> guard(lock_);

    uint8_t bytes[kPacketFrameBuffer] = {};
    FrameBuffer frame{bytes, sizeof bytes};

    settings_.ConnectSettingDb();

    if (ServePacket(packet, frame, origin) == 0) return 0;
    if (packet->deviceIndex < 0 || packet->deviceIndex >= kMaxDevices) return 0;
    DeviceRecord& packetRelay = state_.devices[static_cast<size_t>(packet->deviceIndex)];
    // The relay the request went to, for a fresh start when the exchange fails.
    const bool sent = frame.length > 0;
    const uint8_t requestAddress = bytes[0];
    // The exchange looks the address up the same way, so this changes nothing.
    const int32_t target = sent ? RegisteredIndex(state_, requestAddress) : -1;
    if (target >= 0) {
        nextAnswerWaitMs_ =
            TakeSilentRetryWaitMs(state_, state_.devices[static_cast<size_t>(target)].conversation, bytes[1]);
    }

    if (ExchangeFrame(frame) == 0) {
        linkStats_.Note(target, lastOutcome_, false, clock_->NowFileTime());
        if (PortFailed(lastOutcome_)) state_.lineLost = true;
        MarkForFreshStart(packetRelay);
        if (sent) {
            if (DeviceRecord* served = state_.FindDevice(requestAddress)) {
                MarkForFreshStart(*served);
                if (ReachedRelay(lastOutcome_)) NoteExchangeFailed(*served);
            }
        }
        NoteBackoff(target);
        return 0;
    }
    const size_t size = frame.length > 0 ? static_cast<size_t>(frame.length) : 0;
    const AnswerVerdict verdict = TakeAnswer(state_, *this, ByteView(bytes, size), clock_->NowFileTime());
    const bool taken = verdict == AnswerVerdict::Taken || verdict == AnswerVerdict::PurposeFailed;
    if (taken && target >= 0) {
        NoteAnswerDelay(state_, state_.devices[static_cast<size_t>(target)].conversation, lastAnswerDelayMs_);
    }
    linkStats_.Note(target, lastOutcome_, taken, clock_->NowFileTime());
    NoteBackoff(target);
    if (state_.currentDevice != target) NoteBackoff(state_.currentDevice);  // another relay's answer was taken
    if (verdict == AnswerVerdict::Refused || verdict == AnswerVerdict::PurposeFailed) return 0;

    if (packetRelay.conversation.unansweredCount > 10) {
        packetRelay.conversation.unansweredCount = 0;
        return 0;
    }
    return 1;
}

int32_t CRelayDriver::ProbeDevice(intptr_t /*reserved*/, int32_t address, intptr_t /*reserved2*/) {
    // An address that does not fit the frame's byte is not cut down to
    // another relay's.
    if (address < 0 || address > 0xFF) return 0;
    std::lock_guard<std::mutex> guard(lock_);
    uint8_t bytes[kProbeFrameBuffer] = {};
    const uint8_t relayAddress = static_cast<uint8_t>(address);
    FrameBuffer frame{bytes, sizeof bytes};
    frame.length = BuildProbe(relayAddress, bytes, sizeof bytes);
    const int32_t target = RegisteredIndex(state_, relayAddress);
    if (ExchangeFrame(frame) == 0) {
        linkStats_.Note(target, lastOutcome_, false, clock_->NowFileTime());
        if (PortFailed(lastOutcome_)) state_.lineLost = true;
        if (target >= 0 && ReachedRelay(lastOutcome_)) {
            NoteExchangeFailed(state_.devices[static_cast<size_t>(target)]);
        }
        NoteBackoff(target);
        return 0;
    }
    const int32_t parsed = ParseProbeAnswer(relayAddress, bytes, frame.length);
    if (parsed == 1 && target >= 0) {
        NoteAnswerDelay(state_, state_.devices[static_cast<size_t>(target)].conversation, lastAnswerDelayMs_);
    }
    linkStats_.Note(target, lastOutcome_, parsed == 1, clock_->NowFileTime());
    NoteBackoff(target);
    return parsed;
}

void CRelayDriver::NoteBackoff(int32_t index) {
    if (index < 0 || index >= state_.deviceCount || index >= kMaxDevices) return;
    DeviceRecord& relay = state_.devices[static_cast<size_t>(index)];
    const bool answered = relay.conversation.failedExchanges < VORLAN_STALE_AFTER_FAILURES;
    // Only an exchange that reached the relay moves its schedule; an answer
    // taken from it ends the back-off whatever the exchange was.
    if (!ReachedRelay(lastOutcome_) && !(answered && relay.conversation.backedOff)) return;
    if (answered && !relay.conversation.backedOff) return;
    const uint32_t tick = clock_->TickMs();
    UpdateSilentBackoff(state_, relay, tick);
    const Conversation& c = relay.conversation;
    linkStats_.NoteBackoff(index, c.backedOff, c.retryIntervalMs, c.retryDueTick);
}

int32_t CRelayDriver::ParseProbeAnswer(uint8_t address, const uint8_t* frame, int32_t length) {
    const size_t size = length > 0 ? static_cast<size_t>(length) : 0;
    return vorlan::ParseProbeAnswer(state_, *this, address, ByteView(frame, size), clock_->NowFileTime());
}

void CRelayDriver::StoreCodedSettings(DeviceRecord& relay, ByteView frame) {
    settings_.StoreCodedSettings(relay, frame);
}

void CRelayDriver::StoreSettingValues(DeviceRecord& relay, ByteView frame) {
    settings_.StoreSettingValues(relay, frame);
}

void CRelayDriver::StoreRecordingList(DeviceRecord& relay, ByteView frame) {
    vorlan::StoreRecordingList(relay, frame, *clock_);
}

void CRelayDriver::StoreRecordingBlock(DeviceRecord& relay, ByteView frame) {
    vorlan::StoreRecordingBlock(relay, frame, RecordingDir());
}

}  // namespace vorlan
