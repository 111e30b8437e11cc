#include <gtest/gtest.h>

#include "app/AppMode.h"
#include "app/AppState.h"

namespace velmarune {
namespace {

TEST(AppMode, RawValuesRoundTripAndOthersFail) {
    for (AppMode mode : kAllAppModes) {
        EXPECT_EQ(appModeFromRawValue(appModeRawValue(mode)), mode);
    }
    EXPECT_EQ(appModeRawValue(AppMode::transcribing), "transcribing");
    EXPECT_EQ(appModeFromRawValue("busy"), std::nullopt);
    EXPECT_EQ(appModeFromRawValue("Idle"), std::nullopt);
}

TEST(AppState, StartsIdleAndEmpty) {
    AppState state;
    EXPECT_EQ(state.mode.get(), AppMode::idle);
    EXPECT_EQ(state.queuedDictations.get(), 0);
    EXPECT_FALSE(state.waitingForKeys.get());
    EXPECT_EQ(state.engineStatus.get(), WhisperStatus::notLoaded());
    EXPECT_NE(WhisperStatus::needsModels({ModelSlot::hebrew}),
              WhisperStatus::needsModels({ModelSlot::hebrew, ModelSlot::multilingual}));
}

}  // namespace
}  // namespace velmarune
