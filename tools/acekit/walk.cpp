#include "walk.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>

#include "names.h"
#include "ui.h"

namespace acekit_cli {
namespace {

// The paths the library reads are held in 256-byte records for solid archives.
constexpr size_t kMaxDiskPath = 255;
// Sizes and offsets in the archive are 32-bit and read as signed.
constexpr off_t kMaxFileSize = 0x7FFFFFFF;

class Walker {
 public:
  Walker(const WalkOptions& options, std::vector<InputItem>& items)
      : options_(options), items_(items) {}

  void Operand(const std::string& operand);
  bool Finish();

 private:
  void Directory(const std::string& disk, const std::string& stored);
  // `access`: the error of a read check made already, or -1.
  void Add(const std::string& disk, std::string stored, const struct stat& st, int access = -1);
  void LeaveOut(const std::string& disk, const std::string& why);
  bool IsArchive(const struct stat& st) const {
    return options_.skip_identity && st.st_dev == options_.skip_dev &&
           st.st_ino == options_.skip_ino;
  }

  const WalkOptions& options_;
  std::vector<InputItem>& items_;
  std::map<std::string, size_t> by_name_;       // stored name -> index in items_
  std::map<std::string, std::string> by_case_;  // the name ignoring case -> first input
  bool case_warned_ = false;
  bool failed_ = false;
};

void Walker::LeaveOut(const std::string& disk, const std::string& why) {
  if (options_.strict) {
    Ui::Get().Error(disk + ": " + why + " (--strict)");
    failed_ = true;
  } else {
    Ui::Get().Warn(disk + ": " + why + "; left out");
  }
}

void Walker::Operand(const std::string& operand) {
  const CleanPath clean = Clean(operand);
  if (clean.escapes) {
    Ui::Get().Error(operand + ": lies above the working directory; name it from there with -C DIR");
    failed_ = true;
    return;
  }
  const std::string disk =
      clean.absolute ? "/" + clean.path : (clean.path.empty() ? "." : clean.path);
  struct stat st;
  if (::stat(disk.c_str(), &st) != 0) {
    Ui::Get().Error(operand + ": " + Reason(errno));
    failed_ = true;
    return;
  }
  if (S_ISDIR(st.st_mode)) {
    if (!clean.path.empty()) Add(disk, clean.path, st);
    Directory(disk, clean.path);
  } else if (S_ISREG(st.st_mode)) {
    if (clean.path.empty()) return;
    Add(disk, clean.path, st);
  } else {
    LeaveOut(operand, "not a regular file or directory");
  }
}

void Walker::Directory(const std::string& disk, const std::string& stored) {
  DIR* d = ::opendir(disk.c_str());
  if (d == nullptr) {
    LeaveOut(disk, std::string("cannot read the directory: ") + Reason(errno));
    return;
  }
  struct Child {
    std::string name;
    struct stat st;
    int error;   // of the lstat, else 0
    int access;  // of a regular file's read check, else -1
  };
  std::vector<Child> children;
  while (const dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") children.push_back(Child{name, {}, 0, -1});
  }
  // Looked up from the directory itself, not by the whole path again for
  // each file; done before any subdirectory is entered, so that one
  // directory is open at a time however deep the tree.
  const int fd = ::dirfd(d);
  for (Child& c : children) {
    if (::fstatat(fd, c.name.c_str(), &c.st, AT_SYMLINK_NOFOLLOW) != 0) {
      c.error = errno;
    } else if (S_ISREG(c.st.st_mode)) {
      c.access = ::faccessat(fd, c.name.c_str(), R_OK, AT_EACCESS) != 0 ? errno : 0;
    }
  }
  ::closedir(d);
  std::sort(children.begin(), children.end(),
            [](const Child& a, const Child& b) { return a.name < b.name; });
  for (Child& c : children) {
    const std::string& name = c.name;
    const std::string child_disk = disk == "."   ? name
                                   : disk == "/" ? "/" + name
                                                 : disk + "/" + name;
    const std::string child_stored = stored.empty() ? name : stored + "/" + name;
    struct stat& st = c.st;
    if (c.error != 0) {
      LeaveOut(child_disk, Reason(c.error));
      continue;
    }
    if (S_ISLNK(st.st_mode)) {
      // A link is stored as what it points to; a linked directory is not
      // entered, since it could lead back into the tree.
      if (::stat(child_disk.c_str(), &st) != 0) {
        LeaveOut(child_disk, errno == ENOENT ? "a symbolic link to nothing" : Reason(errno));
        continue;
      }
      if (S_ISDIR(st.st_mode)) {
        LeaveOut(child_disk, "a symbolic link to a directory");
        continue;
      }
    }
    if (S_ISDIR(st.st_mode)) {
      Add(child_disk, child_stored, st);
      Directory(child_disk, child_stored);
    } else if (S_ISREG(st.st_mode)) {
      Add(child_disk, child_stored, st, c.access);
    } else {
      LeaveOut(child_disk, "not a regular file or directory");
    }
  }
}

void Walker::Add(const std::string& disk, std::string stored, const struct stat& st, int access) {
  if (IsArchive(st)) return;
  const bool directory = S_ISDIR(st.st_mode);
  if (options_.names_only) {
    if (directory) return;
    stored = stored.substr(stored.rfind('/') + 1);
  }
  if (const std::string why = UnstorableReason(stored, directory); !why.empty()) {
    LeaveOut(disk, why);
    return;
  }
  if (disk.size() > kMaxDiskPath) {
    LeaveOut(disk, "the path is longer than 255 bytes; add it with -C from a nearer directory");
    return;
  }
  if (!directory && st.st_size > kMaxFileSize) {
    LeaveOut(disk, "larger than the 2 GiB an archive entry can hold");
    return;
  }
  // Asked with the effective ids, as an open would be, without the cost of
  // opening each of many small files twice.
  if (!directory && access < 0) {
    access = ::faccessat(AT_FDCWD, disk.c_str(), R_OK, AT_EACCESS) != 0 ? errno : 0;
  }
  if (!directory && access != 0) {
    LeaveOut(disk, Reason(access));
    return;
  }
  // Only a name stored twice exactly is a clash; names that differ in case
  // are two entries, which a case-insensitive file system would merge.
  bool lossy = false;
  const std::string as_stored = AsStored(stored, &lossy);
  const auto [it, fresh] = by_name_.emplace(as_stored, items_.size());
  if (!fresh) {
    const InputItem& other = items_[it->second];
    if (other.disk != disk) {
      const std::string text = other.disk + " and " + disk + " would both be stored as " +
                               as_stored + "; " + disk + " is left out";
      if (options_.strict) {
        Ui::Get().Error(text);
        failed_ = true;
      } else {
        Ui::Get().Warn(text);
      }
    }
    return;
  }
  const auto [first, unique] = by_case_.emplace(SameNameKey(stored), disk);
  if (!unique && !case_warned_ && !Ui::Get().quiet()) {
    // A note, not a warning: both are stored as they are.
    case_warned_ = true;
    std::fprintf(stderr,
                 "acekit: note: %s and %s differ only in case; both are stored, but a file "
                 "system that ignores case (Windows, macOS) keeps only one of each such pair "
                 "on extraction\n",
                 first->second.c_str(), disk.c_str());
  }
  if (lossy) {
    Ui::Get().Warn(disk + ": stored as " + as_stored +
                   " (the archive's code page, CP437, lacks some of its characters)");
  }
  items_.push_back(
      InputItem{disk, stored, directory, directory ? 0 : static_cast<uint64_t>(st.st_size)});
}

bool Walker::Finish() {
  return !failed_;
}

}  // namespace

bool CollectInputs(const std::vector<std::string>& paths, const WalkOptions& options,
                   std::vector<InputItem>& items) {
  Walker w(options, items);
  for (const auto& p : paths) w.Operand(p);
  return w.Finish();
}

}  // namespace acekit_cli
