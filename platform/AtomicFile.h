#pragma once
// Files named by UTF-8 paths, on every platform (Windows' own calls take the wide-character
// name; the ANSI code page cannot hold every name), and saving a whole file so that it is
// either all there or not touched: the bytes go into a temporary file beside it, which
// replaces the file only once written and flushed to disk.
#include <cstdio>
#include <string>
#include <string_view>

namespace kestrin {

// Writes bytes to path (UTF-8) through a temporary file in the same folder and a rename:
// a failure at any point leaves an existing file as it was and no temporary file behind.
// A file that exists keeps its permissions; a symbolic link keeps pointing at the file it
// names, which is the one replaced. On failure returns false and sets error to
// "Cannot save <absolute path>: <the system's reason>". Should the system fail half-way
// through the replacement, whichever of the old and the new file it left is kept under
// the name or, failing that, beside it, and error says where.
bool SaveFileAtomically(const std::string& path, std::string_view bytes, std::string& error);

// std::fopen for a UTF-8 path. nullptr with errno set when it fails (EILSEQ for a name
// that is not valid UTF-8).
std::FILE* OpenFile(const std::string& path, const char* mode);

// The path as the person would look for it: relative to the working folder made absolute.
std::string AbsolutePath(const std::string& path);

} // namespace kestrin
