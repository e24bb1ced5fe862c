// SPDX-License-Identifier: Apache-2.0
// Answer 0xCB: a block of samples of the recording being fetched.

#include <new>

#include "faultrec/recording_files.h"
#include "model/recording_limits.h"
#include "faultrec/recording_service.h"
#include "protocol/conversation.h"

namespace vorlan {

namespace {
constexpr size_t kPayloadOffset = 3;
// number 2, time 4, 16 analog values of 2, two digital words of one byte each
constexpr size_t kSampleSize = 2 + 4 + 2 * kAnalogChannels + kDigitalWords;  // 40
constexpr size_t kMaxSamplesPerBlock = 5;
constexpr size_t kAnalogOffset = 6;
constexpr size_t kDigitalOffset = kAnalogOffset + 2 * kAnalogChannels;  // 38

static_assert(kSampleSize == 40, "a sample on the wire is 40 bytes");

void StoreSample(DeviceRecord& relay, RecordingSamples& samples, ByteView sample) {
    uint32_t number = 0;
    sample.ReadLe(0, 2, number);
    if (number > static_cast<uint32_t>(kLastStorableSample)) return;
    const size_t a = number;

    uint32_t time = 0;
    sample.ReadLe(2, 4, time);
    samples.lbSampleTime[a] = time;
    for (size_t j = 0; j < kAnalogChannels; ++j) {
        uint32_t raw = 0;
        sample.ReadLe(kAnalogOffset + 2 * j, 2, raw);
        samples.lbAnalog[j][a] = static_cast<int16_t>(static_cast<uint16_t>(raw));
    }
    for (size_t w = 0; w < kDigitalWords; ++w) {
        samples.lbDigital[w][a] = sample.at(kDigitalOffset + w);
    }
    relay.recording.lbNextSample = static_cast<uint16_t>(a + 1);
}
}  // namespace

bool PrepareRecordingSamples(DeviceRecord& relay) {
    if (relay.recording.samples) {
        *relay.recording.samples = RecordingSamples{};
        return true;
    }
    relay.recording.samples.reset(new (std::nothrow) RecordingSamples());
    return relay.recording.samples != nullptr;
}

void StoreRecordingBlock(DeviceRecord& relay, ByteView frame, const std::string& directory) {
    const size_t payload = frame.at(2);
    if (frame.size() < kPayloadOffset || frame.at(0) != relay.address || payload == 0) return;
    // Only a running retrieval takes blocks. One that arrives after the
    // recording is complete, or with none asked for, changes nothing: the
    // written files stay, and so does whatever request is pending now.
    if (!RecordingHasMoreSamples(relay) || !relay.recording.samples) return;

    size_t samples = payload / kSampleSize;
    if (samples > kMaxSamplesPerBlock) samples = kMaxSamplesPerBlock;
    for (size_t i = 0; i < samples; ++i) {
        const size_t at = kPayloadOffset + i * kSampleSize;
        if (!frame.Has(at, kSampleSize)) break;
        StoreSample(relay, *relay.recording.samples, frame.Sub(at, kSampleSize));
    }

    if (RecordingHasMoreSamples(relay)) {
        AskNext(relay, Request::RecordingBlock);
    } else {
        WriteRecordingFiles(relay, directory);
        // Written or not, the samples are done with; the next LBStart
        // allocates afresh.
        relay.recording.samples.reset();
        // The retrieval is over: back to the ordinary poll, so the relay's
        // measurements flow again instead of blocks being asked for past the end.
        AskNext(relay, Request::GeneralPoll);
    }
}

}  // namespace vorlan
