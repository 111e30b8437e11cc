#include <gtest/gtest.h>

#include <numeric>

#include "audio/AudioRingBuffer.h"

namespace velmarune {
namespace {

std::vector<float> ramp(int from, int count) {
    std::vector<float> v(static_cast<size_t>(count));
    std::iota(v.begin(), v.end(), static_cast<float>(from));
    return v;
}

TEST(AudioRingBuffer, WrapsAndKeepsTheNewestFrames) {
    AudioRingBuffer ring(10, 0.85);  // 8 frames: the capacity is truncated
    EXPECT_EQ(ring.capacityFrames(), 8);
    const auto block = ramp(0, 10);
    ring.append(block.data(), 6);
    ring.append(block.data() + 6, 3);
    EXPECT_EQ(ring.writeIndex(), 1);
    EXPECT_EQ(ring.totalFramesWritten(), 9);
    EXPECT_EQ(ring.samples(0), ramp(1, 8));  // frame 0 was overwritten
    EXPECT_EQ(ring.samples(7), ramp(7, 2));

    // A block longer than the ring keeps its newest frames.
    ring.append(block.data(), 10);
    EXPECT_EQ(ring.writeIndex(), 0);
    EXPECT_EQ(ring.totalFramesWritten(), 19);
    EXPECT_EQ(ring.samples(0), ramp(2, 8));
}

TEST(AudioRingBuffer, ReadsByRunningIndex) {
    AudioRingBuffer ring(10, 0.8);
    const auto block = ramp(0, 5);
    ring.append(block.data(), 5);
    ring.append(nullptr, 3);  // ignored: no data
    ring.append(block.data(), 0);
    struct Case {
        int64_t since;
        std::vector<float> expected;
    };
    for (const auto& c :
         std::vector<Case>{{0, ramp(0, 5)}, {3, ramp(3, 2)}, {5, {}}, {9, {}}, {-4, ramp(0, 5)}}) {
        EXPECT_EQ(ring.samples(c.since), c.expected) << "since " << c.since;
    }
    EXPECT_EQ(ring.tail(2), ramp(3, 2));
    EXPECT_EQ(ring.tail(100), ramp(0, 5));

    ring.reset();
    EXPECT_EQ(ring.totalFramesWritten(), 0);
    EXPECT_TRUE(ring.samples(0).empty());
}

}  // namespace
}  // namespace velmarune
