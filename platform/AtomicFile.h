#pragma once
// Saving a whole file so that it is either all there or not touched: the bytes go into a
// temporary file beside it, which replaces the file only once written and flushed to disk.
#include <string>
#include <string_view>

namespace kestrin {

// Writes bytes to path (UTF-8) through a temporary file in the same folder and a rename:
// a failure at any point leaves an existing file as it was and no temporary file behind.
// A file that exists keeps its permissions; a symbolic link keeps pointing at the file it
// names, which is the one replaced. On failure returns false and sets error to
// "Cannot save <absolute path>: <the system's reason>".
bool SaveFileAtomically(const std::string& path, std::string_view bytes, std::string& error);

} // namespace kestrin
