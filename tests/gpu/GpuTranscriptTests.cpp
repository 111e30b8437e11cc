// The Vulkan backend against the CPU, on known-transcript models. Runs
// wherever a Vulkan device exists, Mesa's software one (lavapipe) included.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "foundation/Log.h"
#include "recognition/WhisperEngine.h"
#include "support/CapturingLogSink.h"
#include "support/TestModels.h"

namespace velmarune {
namespace {

using testing::TestModel;
using testing::testModelPath;

std::vector<float> tone(size_t count) {
    std::vector<float> s(count);
    for (size_t i = 0; i < count; ++i) {
        s[i] = 0.2F * std::sin(static_cast<float>(i) * 0.07F);
    }
    return s;
}

std::shared_ptr<WhisperEngine> load(TestModel model, bool gpu, bool faster = false) {
    WhisperEngine::Options options;
    options.useGpu = gpu;
    options.fasterEncoder = [faster] { return faster; };
    return WhisperEngine::create(testModelPath(model), {}, options);
}

TEST(GpuTranscripts, VulkanAndCpuAgree) {
#ifndef VELMARUNE_WITH_VULKAN
    GTEST_SKIP() << "built without the Vulkan backend (cmake -DVELMARUNE_WHISPER_VULKAN=ON)";
#endif
    if (load(TestModel::english, true)->device() == "CPU") {
        GTEST_SKIP()
            << "no Vulkan device here (Debian's mesa-vulkan-drivers provides a "
               "software one; ggml takes it when GGML_VK_VISIBLE_DEVICES=0, as ctest sets)";
    }
    for (const bool faster : {false, true}) {
        for (const TestModel model : {TestModel::english, TestModel::hebrew}) {
            const auto gpu = load(model, true, faster);
            const auto cpu = load(model, false, faster);
            EXPECT_NE(gpu->device(), "CPU");
            EXPECT_EQ(cpu->device(), "CPU");
            const bool english = model == TestModel::english;
            for (const size_t samples : {size_t{8000}, size_t{16000 * 7}}) {
                const auto audio = tone(samples);
                const auto onGpu = gpu->transcribe(audio, english ? "en" : "he", english, 0, 0);
                const auto onCpu = cpu->transcribe(audio, english ? "en" : "he", english, 0, 0);
                EXPECT_EQ(onGpu.text, english ? testing::kEnglishTestTranscript
                                              : testing::kHebrewTestTranscript);
                EXPECT_EQ(onGpu.text, onCpu.text);
                EXPECT_EQ(onGpu.segments, onCpu.segments);
                EXPECT_EQ(gpu->detectLanguage(audio).code, cpu->detectLanguage(audio).code);
            }
        }
    }
}

// Registered with VK_ICD_FILENAMES naming a driver that does not exist: the
// engine must load on the CPU and say so.
TEST(GpuFallback, MissingDriverFallsBackToTheCpu) {
#ifndef VELMARUNE_WITH_VULKAN
    GTEST_SKIP() << "built without the Vulkan backend (cmake -DVELMARUNE_WHISPER_VULKAN=ON)";
#endif
    const char* icd = std::getenv("VK_ICD_FILENAMES");
    if (icd == nullptr || std::string(icd).find("missing-driver") == std::string::npos) {
        GTEST_SKIP() << "runs only with VK_ICD_FILENAMES set to missing-driver.json (ctest does)";
    }
    auto sink = std::make_shared<CapturingLogSink>();
    ScopedLogSink scoped(sink);
    const auto engine = load(TestModel::english, true);
    EXPECT_EQ(engine->device(), "CPU");
    EXPECT_EQ(engine->transcribe(tone(16000), "en", true, 0, 0).text,
              testing::kEnglishTestTranscript);
    bool fellBack = false;
    for (const auto& line : sink->messages("WhisperEngine")) {
        fellBack |= line == "No Vulkan device found; the speech engine runs on the CPU";
    }
    EXPECT_TRUE(fellBack);
}

}  // namespace
}  // namespace velmarune
