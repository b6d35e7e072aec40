// A fresh temporary machine folder for one test, plus the whole-file readers
// and writers the test areas share.
#pragma once

#include <stdlib.h>  // mkdtemp, setenv, unsetenv

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <system_error>

#include "platform/machine/machine.h"

namespace testsupport {

// The whole file as bytes; empty when it cannot be opened.
inline std::string ReadWholeFile(const std::string& native) {
  std::ifstream in(native, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Writes the file whole, making its folders first.
inline void WriteWholeFile(const std::string& native, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(native).parent_path());
  std::ofstream(native, std::ios::binary) << bytes;
}

// The same two for a Windows-form path on the current machine.
inline std::string ReadWindowsFile(const std::string& windowsPath) {
  return ReadWholeFile(plat::ToNativePath(windowsPath));
}
inline void WriteWindowsFile(const std::string& windowsPath, const std::string& bytes) {
  WriteWholeFile(plat::ToNativePath(windowsPath), bytes);
}

// Makes /tmp/vostrel-<prefix>-XXXXXX, points VOSTREL_MACHINE at it (SystemRoot
// unset, so C:\WINDOWS is the Windows directory) and lays out its folders.
// The destructor puts both variables and the current directory back as they
// were and removes the folder. As a fixture's first member it outlives the
// fixture's own tear-down, so servers and files are closed before it goes.
class ScopedMachine {
 public:
  explicit ScopedMachine(const std::string& prefix) {
    oldMachine_ = Saved("VOSTREL_MACHINE");
    oldSystemRoot_ = Saved("SystemRoot");
    std::error_code ec;
    oldCwd_ = std::filesystem::current_path(ec);
    std::string tmpl = "/tmp/vostrel-" + prefix + "-XXXXXX";
    if (mkdtemp(tmpl.data()) == nullptr) return;
    root_ = std::filesystem::canonical(tmpl, ec).string();
    if (ec) root_ = tmpl;
    setenv("VOSTREL_MACHINE", root_.c_str(), 1);
    unsetenv("SystemRoot");
    ok_ = plat::EnsureMachineLayout();
  }

  ~ScopedMachine() {
    std::error_code ec;
    if (!oldCwd_.empty()) std::filesystem::current_path(oldCwd_, ec);
    Restore("VOSTREL_MACHINE", oldMachine_);
    Restore("SystemRoot", oldSystemRoot_);
    if (!root_.empty()) std::filesystem::remove_all(root_, ec);
  }

  ScopedMachine(const ScopedMachine&) = delete;
  ScopedMachine& operator=(const ScopedMachine&) = delete;

  // True when the folder was made and its layout ensured; assert it in SetUp.
  bool ok() const { return ok_; }
  // The machine folder's native path (canonical, no trailing slash).
  const std::string& root() const { return root_; }
  // A native path below the machine folder, e.g. Native("c/www/a.htm").
  std::string Native(const std::string& rel) const { return root_ + "/" + rel; }

 private:
  static std::optional<std::string> Saved(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr) return std::nullopt;
    return std::string(value);
  }

  static void Restore(const char* name, const std::optional<std::string>& value) {
    if (value) {
      setenv(name, value->c_str(), 1);
    } else {
      unsetenv(name);
    }
  }

  std::string root_;                           // empty when mkdtemp failed
  bool ok_ = false;                            // folder and layout ready
  std::optional<std::string> oldMachine_;      // VOSTREL_MACHINE before
  std::optional<std::string> oldSystemRoot_;   // SystemRoot before
  std::filesystem::path oldCwd_;               // current directory before
};

}  // namespace testsupport
