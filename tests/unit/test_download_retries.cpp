// The retry rule: how often and after which pauses a try is made again, and which refusals
// (a busy host's stated wait, in seconds or as an HTTP date) are asked again.
#include <gtest/gtest.h>

#include <string>

#include "download/http_date.h"
#include "launcher/road/download_retries.h"

namespace gor::test {
namespace {

// Pauses spread between half and all of their step (a busy host's between its wait and half
// as long again), with the random share at its two ends.
TEST(DownloadRetries, ResumesFiveTimesReconnectsTwiceWithDoublingPauses) {
    using launcher::TryEnding;
    for (const double share : {0.0, 1.0}) {
        launcher::DownloadRetries rule([share] { return share; });
        const double spread = 0.5 + share / 2;
        EXPECT_FALSE(rule.After(TryEnding::Final) || rule.After(TryEnding::Complete));
        for (const double step : {1, 2, 4, 8, 8})
            EXPECT_EQ(rule.After(TryEnding::Cut), step * spread);
        EXPECT_EQ(rule.LastGranted(), "resume 5 of 5");
        EXPECT_FALSE(rule.After(TryEnding::Cut));
        for (const double step : {1, 2})
            EXPECT_EQ(rule.After(TryEnding::Unreachable), step * spread);
        EXPECT_FALSE(rule.After(TryEnding::Unreachable));
        for (int i = 0; i < launcher::kMostBusyAnswers; ++i)
            EXPECT_EQ(rule.After(TryEnding::Busy, 4), 4 * (1 + share / 2));
        EXPECT_FALSE(rule.After(TryEnding::Busy, 4));
        EXPECT_EQ(rule.After(TryEnding::Mismatch), spread);
        EXPECT_FALSE(rule.After(TryEnding::Mismatch));
    }
    const double share = launcher::ProcessRandomShare();
    EXPECT_TRUE(share >= 0 && share < 1);
}

// Which refusals are asked again: the host's stated wait, in seconds or as a date against the
// answer's own Date.
TEST(DownloadRetries, BusyHostIsAskedAgainWithinItsStatedWait) {
    using launcher::TryEnding;
    const std::string date = "Mon, 07 Dec 2026 10:00:00 GMT";
    const struct {
        const char* code;
        std::string retryAfter, date;
        TryEnding ending;
    } cases[] = {
        {"503", "2", "", TryEnding::Busy},
        {"429", " 10 ", "", TryEnding::Busy},
        {"503", "11", "", TryEnding::Final},
        {"503", "99999999999999999999", "", TryEnding::Final},
        {"503", "Mon, 07 Dec 2026 10:00:05 GMT", date, TryEnding::Busy},
        {"503", "Monday, 07-Dec-26 10:00:05 GMT", date, TryEnding::Busy},
        {"503", "Mon Dec  7 10:00:05 2026", date, TryEnding::Busy},
        {"503", "Mon, 07 Dec 2026 11:00:00 GMT", date, TryEnding::Final},
        {"503", "Mon, 07 Dec 2026 10:00:05 GMT", "", TryEnding::Unreachable},  // no Date
        {"503", "soon", "", TryEnding::Unreachable},
        {"502", "", "", TryEnding::Unreachable},
        {"504", "2", "", TryEnding::Unreachable},
        {"429", "", "", TryEnding::Final},
        {"500", "2", "", TryEnding::Final},
    };
    for (const auto& c : cases) {
        const auto wait = download::RetryAfterSeconds(c.retryAfter, c.date);
        EXPECT_EQ(launcher::RefusedEnding(c.code, wait), c.ending) << c.code << " " << c.retryAfter;
    }
    EXPECT_EQ(download::RetryAfterSeconds("Mon, 07 Dec 2026 09:59:00 GMT", date), 0.0);
    EXPECT_EQ(download::RetryAfterSeconds(std::string(400, '9'), ""), download::kLongestRetryAfter);
}

}  // namespace
}  // namespace gor::test
