#pragma once
// The addresses of the maker's web pages that the dialog's two link buttons open.

// The maker's web site. The resource script includes this file too, so the label of the
// home-page button shows the same address: change it here only.
#define VELTRANE_MAKER_SITE "https://veltrane.example/"

#ifndef RC_INVOKED
#include <string>

// "Report an issue or send feedback".
std::string FeedbackPageUrl();
// The home page, where the maker's other tools are.
std::string HomePageUrl();
#endif
