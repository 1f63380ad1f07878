#pragma once
// The 80-bit extended-precision type (64-bit mantissa) in which every measurement
// quantity is held and computed. On x86-64 this is exactly long double.
using Extended = long double;
