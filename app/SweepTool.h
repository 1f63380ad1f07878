#pragma once
// kestrin-vna-sweep's run: the window's sweep worker, decoding and file writers without
// the window.
#include <cstdio>

#include "app/SweepOptions.h"

namespace kestrin {

// Sweeps as the options say and returns the exit status: 0 done (also after an interrupt),
// 1 the analyser or the output failed. Sweeps go to out unless options.Output names a file;
// messages go to err, and with progress also one self-updating progress line.
// Call on the main thread before it has started any other thread.
int RunSweepTool(const SweepOptions& options, std::FILE* out, std::FILE* err, bool progress);

} // namespace kestrin
