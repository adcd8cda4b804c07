#pragma once

namespace talvora {

// The windows name the fonts of their original look ("MS Sans Serif", "Arial", "Verdana").
// Linux has none of them; metric-compatible faces keep the captions inside their places
// (a wider fallback would clip labels such as "Unanswered Message").
void installFontSubstitutes();

} // namespace talvora
