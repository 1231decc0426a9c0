#include "app/maker_links.h"

namespace {

// The query tells the maker's site which program sent the visitor.
std::string MakerPageUrl(const char* page) {
    return std::string(VELTRANE_MAKER_SITE) + page + "?from=Veltrane";
}

}  // namespace

std::string FeedbackPageUrl() {
    return MakerPageUrl("Feedback.aspx");
}

std::string HomePageUrl() {
    return MakerPageUrl("Default.aspx");
}
