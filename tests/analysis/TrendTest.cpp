// The forecast of when a file system fills, on points worked out by hand.

#include <gtest/gtest.h>

#include "analysis/Trend.h"
#include "tests/support/SnapshotRows.h"

namespace corvina {
namespace {

struct Case {
    const char* Name;
    std::vector<UsagePoint> Points;
    ForecastState State;
    double BytesPerDay;
    const char* FullOn;  // "" for nullopt
    // The dates the standard error of the slope brackets it with, as far as
    // given; nullptr: not checked.
    const char* Earliest = nullptr;
    const char* Latest = nullptr;
};

UsagePoint At(const char* date, double used, double size) { return {test::Key(date), used, size}; }

std::string Text(const std::optional<DateTime>& date) { return date ? FormatKey(*date) : ""; }

TEST(Forecast, LineOfUsedSpaceMeetsTheLastSizeBetweenTheDatesItsStandardErrorGives) {
    const Case cases[] = {
        // 100 a day from 300 on 3 Jan; the last size, 1000, is 7 days on.
        {"exact line",
         {At("2024-01-01 00:00:00", 100, 800), At("2024-01-02 00:00:00", 200, 800), At("2024-01-03 00:00:00", 300, 1000)},
         ForecastState::Filling, 100, "2024-01-10 00:00:00", "2024-01-10 00:00:00", "2024-01-10 00:00:00"},
        {"two points", {At("2024-01-01 00:00:00", 100, 800), At("2024-01-05 00:00:00", 200, 800)},
         ForecastState::None, 0, ""},
        {"under a day",
         {At("2024-01-01 00:00:00", 100, 800), At("2024-01-01 12:00:00", 200, 800), At("2024-01-01 23:59:59", 300, 800)},
         ForecastState::None, 0, ""},
        {"flat",
         {At("2024-01-01 00:00:00", 100, 800), At("2024-01-02 00:00:00", 100, 800), At("2024-01-03 00:00:00", 100, 800)},
         ForecastState::NotFilling, 0, ""},
        {"shrinking",
         {At("2024-01-01 00:00:00", 300, 800), At("2024-01-02 00:00:00", 200, 800), At("2024-01-03 00:00:00", 100, 800)},
         ForecastState::NotFilling, -100, ""},
        // 1 byte a day leaves a million bytes free for 2,700 years.
        {"beyond ten years",
         {At("2024-01-01 00:00:00", 1, 1e6), At("2024-01-02 00:00:00", 2, 1e6), At("2024-01-03 00:00:00", 3, 1e6)},
         ForecastState::Filling, 1, ""},
        // Mean point (day 1.5, 20), slope 60 / 5 = 12; 180 to go is 15 days.
        // Residuals -2, 6, -6, 2: standard error sqrt(80 / 2 / 5) = 2.83 bytes
        // a day, 1.5 + 180 / 14.83 = 13.6 and 1.5 + 180 / 9.17 = 21.1 days on.
        {"noisy",
         {At("2024-01-01 00:00:00", 0, 200), At("2024-01-02 00:00:00", 20, 200), At("2024-01-03 00:00:00", 20, 200),
          At("2024-01-04 00:00:00", 40, 200)},
         ForecastState::Filling, 12, "2024-01-17 12:00:00", "2024-01-14", "2024-01-22"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        Forecast forecast = ForecastFull(c.Points);
        EXPECT_EQ(forecast.State, c.State);
        EXPECT_NEAR(forecast.BytesPerDay, c.BytesPerDay, 1e-9);
        EXPECT_EQ(Text(forecast.FullOn), c.FullOn);
        if (c.Earliest != nullptr) {
            EXPECT_TRUE(Text(forecast.Earliest).starts_with(c.Earliest)) << Text(forecast.Earliest);
            EXPECT_TRUE(Text(forecast.Latest).starts_with(c.Latest)) << Text(forecast.Latest);
        }
    }
}

}  // namespace
}  // namespace corvina
