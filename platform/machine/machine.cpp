// The emulated Windows machine on a native folder: drive X: is "<root>/x",
// and Windows-form paths are resolved case-insensitively onto it.
#include "platform/machine/machine.h"

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <vector>

namespace plat {
namespace {

constexpr const char* kDefaultWindowsDirectory = "C:\\WINDOWS";
constexpr const char* kMachineVariable = "VOSTREL_MACHINE";
constexpr const char* kSystemRootVariable = "SystemRoot";
constexpr const char* kSystemRootToken = "%SystemRoot%";
constexpr char kDefaultDrive = 'c';

std::string StripTrailing(std::string s, char sep) {
  while (s.size() > 1 && s.back() == sep) s.pop_back();
  return s;
}

// The machine root with symbolic links resolved, so it compares equal to
// what getcwd reports; the plain root when it does not exist yet.
std::string CanonicalRoot() {
  std::string root = MachineRoot();
  char buf[PATH_MAX];
  if (realpath(root.c_str(), buf) != nullptr) return buf;
  return root;
}

std::vector<std::string> SplitOn(const std::string& s, char sep) {
  std::vector<std::string> parts;
  std::string cur;
  for (char c : s) {
    if (c == sep) {
      if (!cur.empty()) parts.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) parts.push_back(cur);
  return parts;
}

// Applies "." and ".." (which stops at the drive root, as on Windows).
void AppendComponents(std::vector<std::string>* into, const std::vector<std::string>& parts) {
  for (const std::string& p : parts) {
    if (p == ".") continue;
    if (p == "..") {
      if (!into->empty()) into->pop_back();
      continue;
    }
    into->push_back(p);
  }
}

struct Location {
  char drive = kDefaultDrive;
  std::vector<std::string> components;  // native names below the drive folder
};

// Drive and components of a native path below the machine root, if it is one.
bool SplitNative(const std::string& nativeAbs, Location* out) {
  for (const std::string& root : {CanonicalRoot(), StripTrailing(MachineRoot(), '/')}) {
    if (nativeAbs.size() <= root.size() + 1) continue;
    if (nativeAbs.compare(0, root.size(), root) != 0 || nativeAbs[root.size()] != '/') continue;
    std::vector<std::string> parts = SplitOn(nativeAbs.substr(root.size() + 1), '/');
    if (parts.empty() || parts[0].size() != 1 ||
        !std::islower(static_cast<unsigned char>(parts[0][0]))) {
      continue;
    }
    out->drive = parts[0][0];
    out->components.assign(parts.begin() + 1, parts.end());
    return true;
  }
  return false;
}

// The current directory as a location on the machine; the root of drive C
// when the process runs outside the machine.
Location CurrentLocation() {
  Location loc;
  char buf[PATH_MAX];
  if (getcwd(buf, sizeof buf) != nullptr && SplitNative(buf, &loc)) return loc;
  return Location{};
}

bool IsDirectory(const std::string& native) {
  struct stat st;
  return stat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The name of an entry of folder that matches name, exactly if present,
// else ignoring ASCII case; the name as given when nothing matches.
std::string MatchEntry(const std::string& folder, const std::string& name) {
  struct stat st;
  std::string exact = folder + "/" + name;
  if (lstat(exact.c_str(), &st) == 0) return name;
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return name;
  std::string found = name;
  while (dirent* e = readdir(dir)) {
    if (strcasecmp(e->d_name, name.c_str()) == 0) {
      found = e->d_name;
      break;
    }
  }
  closedir(dir);
  return found;
}

bool MakeDirectories(const std::string& native) {
  std::string path;
  bool absolute = !native.empty() && native[0] == '/';
  for (const std::string& part : SplitOn(native, '/')) {
    path += (absolute || !path.empty()) ? "/" + part : part;
    if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  return IsDirectory(native);
}

}  // namespace

std::string MachineRoot() {
  const char* env = getenv(kMachineVariable);
  if (env != nullptr && *env != '\0') return StripTrailing(env, '/');
  const char* home = getenv("HOME");
  std::string base = (home != nullptr && *home != '\0') ? home : "/tmp";
  return StripTrailing(base, '/') + "/.vostrel/machine";
}

std::string WindowsDirectory() {
  const char* env = getenv(kSystemRootVariable);
  if (env == nullptr || *env == '\0') return kDefaultWindowsDirectory;
  std::string dir = env;
  // "C:\" keeps its backslash; any other folder is named without one.
  while (dir.size() > 3 && dir.back() == '\\') dir.pop_back();
  return dir;
}

unsigned GetWindowsDirectory(char* buf, unsigned size) {
  std::string dir = WindowsDirectory();
  unsigned length = static_cast<unsigned>(dir.size());
  if (buf == nullptr || size < length + 1) return length + 1;
  dir.copy(buf, length);
  buf[length] = '\0';
  return length;
}

std::string CurrentDirectory() {
  Location loc = CurrentLocation();
  std::string out(1, static_cast<char>(std::toupper(static_cast<unsigned char>(loc.drive))));
  out += ":\\";
  for (std::size_t i = 0; i < loc.components.size(); ++i) {
    if (i > 0) out += '\\';
    out += loc.components[i];
  }
  return out;
}

std::string ExpandEnvironment(const std::string& text) {
  const std::string token = kSystemRootToken;
  std::string out;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text.size() - i >= token.size() &&
        strncasecmp(text.c_str() + i, token.c_str(), token.size()) == 0) {
      out += WindowsDirectory();
      i += token.size();
    } else {
      out += text[i++];
    }
  }
  return out;
}

std::string ToNativePath(const std::string& windowsPath) {
  std::string p = windowsPath;
  for (char& c : p) {
    if (c == '/') c = '\\';
  }
  Location target;
  std::string rest = p;
  bool hasDrive = p.size() >= 2 && std::isalpha(static_cast<unsigned char>(p[0])) && p[1] == ':';
  // The current directory costs several system calls: asked only when the
  // path is relative to it (the server's file paths never are).
  const bool absolute = hasDrive && p.size() >= 3 && p[2] == '\\';
  Location current = absolute ? Location{} : CurrentLocation();
  if (hasDrive) {
    target.drive = static_cast<char>(std::tolower(static_cast<unsigned char>(p[0])));
    rest = p.substr(2);
    // "X:name" is relative to the current directory only on its own drive.
    if (!rest.empty() && rest[0] != '\\' && target.drive == current.drive) {
      target.components = current.components;
    }
  } else {
    target.drive = current.drive;
    if (rest.empty() || rest[0] != '\\') target.components = current.components;
  }
  AppendComponents(&target.components, SplitOn(rest, '\\'));

  std::string native = StripTrailing(MachineRoot(), '/') + "/" + target.drive;
  // When the path exists as spelt, every component matches exactly: one
  // look-up instead of one per component.
  std::string exact = native;
  for (const std::string& name : target.components) exact += "/" + name;
  struct stat st;
  if (!target.components.empty() && lstat(exact.c_str(), &st) == 0) return exact;
  for (const std::string& name : target.components) {
    native += "/" + MatchEntry(native, name);
  }
  return native;
}

std::optional<std::string> ToWindowsPath(const std::string& nativePath) {
  std::string abs = nativePath;
  if (abs.empty() || abs[0] != '/') {
    char buf[PATH_MAX];
    if (getcwd(buf, sizeof buf) == nullptr) return std::nullopt;
    abs = std::string(buf) + "/" + abs;
  }
  Location loc;
  if (!SplitNative(abs, &loc)) return std::nullopt;
  std::vector<std::string> normal;
  AppendComponents(&normal, loc.components);
  std::string out(1, static_cast<char>(std::toupper(static_cast<unsigned char>(loc.drive))));
  out += ":\\";
  for (std::size_t i = 0; i < normal.size(); ++i) {
    if (i > 0) out += '\\';
    out += normal[i];
  }
  return out;
}

bool EnsureMachineLayout() {
  std::string root = MachineRoot();
  if (!MakeDirectories(root + "/" + kDefaultDrive)) return false;
  std::string windows = ToNativePath(WindowsDirectory());
  if (!MakeDirectories(windows)) return false;
  return MakeDirectories(ToNativePath(WindowsDirectory() + "\\system"));
}

}  // namespace plat
