#pragma once
// Numbers of a recording as text, to the resolution the file gives them: a
// channel's step (its multiplier, for data stored as whole numbers), the
// sample period or the time stamps' unit for times. Without a step (FLOAT32),
// at most 9 significant digits.

#include <string>

#include "recording.h"

namespace comtrade {

constexpr int kNoStep = -1;

// Decimals that show every multiple of `step` (3 significant digits of the
// step when no whole number of decimals shows it exactly).
int StepDecimals(double step);
// Decimals of analog channel `c`'s values, or kNoStep.
int ChannelDecimals(const Recording& r, const AnalogChannel& c);
// Decimals of the sample times in seconds.
int TimeDecimals(const Recording& r);

// `v` with `decimals` decimals, trailing zeros dropped; a value that is no
// multiple of the step (unless `rounded`), and every value with kNoStep, gets
// 9 significant digits. NaN appends nothing.
void AppendNumber(std::string& out, double v, int decimals, bool rounded = false);
std::string NumberText(double v, int decimals);

}  // namespace comtrade
