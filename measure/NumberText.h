#pragma once
// Number texts with '.' as the decimal separator whatever the locale.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "measure/Extended.h"

// "%0.<decimals>f": fixed point, rounded, no grouping, leading '-' when negative.
std::string FormatFixed(Extended value, int decimals);

// The general number format: shortest form with at most 15 significant digits,
// no trailing zeros, no point for whole numbers (100 kHz / 1000 -> "0.1").
std::string FormatGeneral(Extended value);

// A frequency in kHz as MHz in the general number format (14025 -> "14.025", 7000 -> "7").
std::string FormatMHz(int32_t kHz);

// kHz of a frequency in MHz, rounded halves to even. Beyond the range of long long (and
// for NaN) the nearer end of that range, so that a huge number stays huge instead of
// wrapping round to something small.
long long KHzFromMHz(Extended mHz);

// The shortest text that reads back as exactly this double: "7.072846", "180", "0.0001",
// "1e-05". The digits are the fewest that round-trip; from 1e-4 up to 1e15 they are written
// without an exponent, as "%g" would. '.' whatever the locale; "inf", "-inf" and "nan" as
// such. Every number a file of the program carries (CSV, Touchstone) goes through here.
std::string FormatShortestDouble(double value);

// A moment in ISO 8601 as UTC, to the millisecond: "2026-12-08T14:05:43.123Z".
std::string UtcTimeText(std::chrono::system_clock::time_point t);

// Decimal number: optional blanks, optional sign, digits with at most one '.',
// at least one digit, optional exponent, optional blanks, nothing else.
// Returns nothing when the text does not parse or is out of range.
std::optional<Extended> ParseDecimal(std::string_view text);

// Signed 32-bit decimal integer (optional blanks and sign); nothing when it does
// not parse or does not fit.
std::optional<int32_t> ParseWhole32(std::string_view text);
