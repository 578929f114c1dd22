// The logo strip at the top of the main window.
#pragma once

// Dresses the strip for brand variant 0 to 6 (5 and out-of-range values change nothing).
void ShowLogo(int variant);
// The bitmap file of a brand variant, or nullptr when it has none.
const char *LogoBitmap(int variant);
// Creates one text line on the main panel.
void ShowInfoText(int backgroundColor, int textColor, const char *text, int left, int top,
                  int pointSize);
