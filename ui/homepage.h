#pragma once

// The maker's web page, shown by the About box and opened by Help > Calvane Homepage.
inline constexpr const char* HOMEPAGE_URL = "https://www.calvane.example/";
inline constexpr const char* HOMEPAGE_TEXT = "www.calvane.example";

// Hands the page to the desktop's browser. A failure is not reported: there is nothing the
// user could do about it here.
void OpenHomepage();
