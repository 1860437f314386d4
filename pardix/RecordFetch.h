// The record fetch of an ended capture and its failure rules: which image a
// capture is judged by, when a failed read is tried again, and what a pass is
// served while part of the capture could not be read.
#pragma once

#include "AnalyserProtocol.h"
#include "CaptureFiles.h"

namespace orvane::pardix {

// A failed read of records is tried this often in all, as a save goes on three
// times with an upload a failed read cut short: one failed transfer costs no rows.
constexpr int kRecordReadTries = 4;

// The analyser shows `now` the capture that ended as `then`: a reset, a power
// cycle or another capture changes its end bits or where and how much it holds.
inline bool SameCapture(const ControlBlock& now, const ControlBlock& then) {
    return Ended(now) && now.packetMask == then.packetMask && now.payloadMask == then.payloadMask &&
           now.packetStart == then.packetStart && now.packetBytesCaptured == then.packetBytesCaptured &&
           now.payloadStart == then.payloadStart && now.payloadBytesCaptured == then.payloadBytesCaptured;
}

}  // namespace orvane::pardix
