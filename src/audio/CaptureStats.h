#pragma once

#include <cstdint>
#include <string>

namespace velmarune {

// Running counters of the capture engine, copied out whole under its lock.
struct CaptureStats {
    int64_t converted = 0;      // buffers converted and appended to the ring
    int64_t dropped = 0;        // buffers discarded because of an error
    int64_t formatChanges = 0;  // converter rebuilds after a first format was seen
    double sourceSampleRate = 0;
    int64_t sourceChannels = 0;
    std::string sourceSampleType;  // "float32", "float64", "int16", "int32", "other"; empty until seen

    bool operator==(const CaptureStats&) const = default;
};

}  // namespace velmarune
