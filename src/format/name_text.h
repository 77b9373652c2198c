// Text routines for the names that go into and come out of headers. They sit
// here rather than with the path routines of the selection layer because the
// header writer needs them and this layer must not reach upwards.
//
// Every routine that writes takes the destination's size (terminator
// included), always terminates, and cuts what does not fit.
#pragma once

#include <cstddef>
#include <string_view>

namespace acekit::format {

inline constexpr size_t kStoredNameMax = 255;  // longest name a record or header holds

// Copies `src` into `dst`, cut to dst_size - 1 characters; returns the length.
size_t CopyText(char* dst, size_t dst_size, std::string_view src);
// Appends `src` to the text already in `dst`, cut likewise; returns the length.
size_t AppendText(char* dst, size_t dst_size, std::string_view src);

// The same for paths, which must never be cut: true when `src` fits whole.
// When it does not, `dst` is left empty (not cut), so that a caller which
// missed the result works on no path rather than on a different one.
bool CopyWhole(char* dst, size_t dst_size, std::string_view src);
bool AppendWhole(char* dst, size_t dst_size, std::string_view src);

// A path taken apart the way the system's splitter does it: drive is "X:" or
// empty, dir runs to the last separator (`\` or `/`) inclusive, name to the
// last dot of what remains, ext from that dot on (dot included). The views
// point into the text that was split.
struct PathParts {
  std::string_view drive;
  std::string_view dir;
  std::string_view name;
  std::string_view ext;
};
PathParts SplitPath(std::string_view path);

// A network name \\server\share\rest becomes \rest; with no separator after
// the share the result is empty, with none after the server it is the server
// name. Anything else is copied unchanged. `dst` may be `src`.
void CutNetworkPrefix(const char* src, char* dst, size_t dst_size);

// Takes off what must not be stored in front of a name: the server and share
// of a network name, a leading `\`, a drive with its root, one leading `..\`.
// Works in place.
void CleanNameFront(char* name);

// Code-page conversion of names: the archive keeps them in the OEM page, the
// host talks in the ANSI page. `dst` may be `src`.
void NameToOem(const char* ansi, char* dst, size_t dst_size);
void NameToAnsi(const char* oem, char* dst, size_t dst_size);

}  // namespace acekit::format
