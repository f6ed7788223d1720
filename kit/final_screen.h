// SPDX-License-Identifier: BSD-2-Clause-Patent
// The screen the kit ends on, whatever happened: the verdict in big letters,
// which chip the board runs from now, what was kept and where, and what to do
// next. Every line fits 80 columns and the whole screen 80x25, so nothing
// wraps or scrolls away on a board's text console.
#pragma once

#include "kit/outcome.h"
#include "kit/text_lines.h"

constexpr unsigned kScreenColumns = 80;
constexpr unsigned kScreenRows = 25;

// How a line is shown: colour helps, the words carry the meaning alone.
enum class ScreenTone : uint8_t { Plain, Good, Bad };

struct FinalScreen {
  TextLines Text;
  ScreenTone Tones[kScreenRows] = {};
  unsigned Lines = 0;
};

void ComposeFinalScreen(const KitOutcome& outcome, FinalScreen* screen);
