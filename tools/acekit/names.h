// Names as the archive holds them. Stored names are in the archive's code
// page (CP437) with `\` between their parts, or in UTF-8 when CP437 cannot
// hold them; on disk and on screen they are UTF-8 with `/`.
#pragma once

#include <string>
#include <string_view>

namespace acekit_cli {

// The name as the archive will hold it, in UTF-8 again: valid UTF-8 that
// CP437 cannot hold stays as it is; otherwise each byte that is not valid
// UTF-8 becomes '?'. *lossy tells whether anything was replaced.
std::string AsStored(std::string_view utf8, bool* lossy);

// Number of bytes the stored name takes.
size_t StoredLength(std::string_view utf8);

// UTF-8 text in CP437, '?' for what CP437 lacks (comments are written in
// the archive's code page, as names are).
std::string ToCp437(std::string_view utf8, bool* lossy);

// Key under which two stored names count as the same entry: the stored form,
// upper-cased the way the archive's name comparisons do (ASCII and Latin-1).
std::string SameNameKey(std::string_view utf8);

// A path taken apart lexically: "." and empty parts dropped, "x/.." folded.
// absolute tells whether it began with '/'; escapes whether ".." parts
// remain in front (the path leaves its starting directory).
struct CleanPath {
  std::string path;  // parts joined by '/', no leading '/', "" for the start itself
  bool absolute = false;
  bool escapes = false;
};
CleanPath Clean(std::string_view path);

// Why a stored name (UTF-8, '/' separators, no leading '/') cannot be
// written so that it reads back the same, or an empty string when it can.
std::string UnstorableReason(std::string_view stored, bool directory);

// A path or name the library reports, with our separator. (The library takes
// ours as it is.)
std::string FromLibrary(std::string_view path);

// True when an entry's name would write outside the extraction directory:
// it has a ".." part.
bool EscapesOnExtract(std::string_view name);

// Whether a command-line pattern selects an entry (UTF-8 name, '/' between
// parts, a directory may end with '/'), as a shell would match it: '*' any
// text within a part, '?' one character, '[...]' one of a set ('!' or '^'
// negates, a-z ranges), case ignored for ASCII. A pattern without '/'
// matches any part of the name, one with '/' the leading parts; either way
// a folder that matches selects everything below it.
bool PatternSelects(std::string_view pattern, std::string_view name);

}  // namespace acekit_cli
