#include "protocol/answer_dispatch.h"

// Placeholder until the dispatcher lands.
namespace vorlan {
int32_t ParseAnswer(PollingState&, AnswerHandlers&, ByteView answer) {
    return answer.empty() ? 1 : 0;
}
int32_t ParseProbeAnswer(PollingState&, AnswerHandlers&, uint8_t, ByteView) { return 0; }
}  // namespace vorlan
