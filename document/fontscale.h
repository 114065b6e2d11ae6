#pragma once

// The one process-wide font scale, a percentage from 70 to 160 (default 100). The theme manager
// sets it; the editor, the document and every custom painter read it.
namespace FontScale {

constexpr int Minimum = 70;
constexpr int Maximum = 160;
constexpr int Default = 100;

int percent();
// Clamps to Minimum..Maximum and returns the value stored.
int setPercent(int percent);
// 16 px scaled by the current percentage, at least 1: the base size custom painters derive from.
int scaledPixels(int basePixels = 16);

} // namespace FontScale
