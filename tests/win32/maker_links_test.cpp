#include "app/maker_links.h"

#include <gtest/gtest.h>

TEST(MakerLinks, PagesCarryTheProgramNameAsQuery) {
    EXPECT_EQ(FeedbackPageUrl(), "https://veltrane.example/Feedback.aspx?from=Veltrane");
    EXPECT_EQ(HomePageUrl(), "https://veltrane.example/Default.aspx?from=Veltrane");
}
