// The emulated Windows machine: its root folder, drives, Windows directory,
// current directory and the translation of Windows-form paths to native ones.
#pragma once
#include <optional>
#include <string>

namespace plat {

// Native folder that holds the machine: $VOSTREL_MACHINE, else
// $HOME/.vostrel/machine. Drive X: is the folder "x" below it.
std::string MachineRoot();

// The Windows directory in Windows form: $SystemRoot, else "C:\WINDOWS".
std::string WindowsDirectory();

// GetWindowsDirectoryA's contract: copies the Windows directory (no trailing
// backslash) with its NUL into buf and returns its length; returns the size
// needed (with NUL) and writes nothing when it does not fit.
unsigned GetWindowsDirectory(char* buf, unsigned size);

// The current directory in Windows form ("C:\WINDOWS\system32"): the native
// current directory when it lies on a drive of the machine, else "C:\".
std::string CurrentDirectory();

// Expands %SystemRoot% (case-insensitive) in a Windows-form text.
std::string ExpandEnvironment(const std::string& text);

// Turns a Windows-form path ("C:\www\a.htm", "\Program Files\x", "a.htm",
// "c:/x") into the native path. Relative paths and paths without a drive
// are taken on the current directory (and its drive). Existing components
// are matched case-insensitively (ASCII) when the exact name is absent; the
// rest keep the name as given. Never fails: the result may not exist.
std::string ToNativePath(const std::string& windowsPath);

// The Windows-form path of a native path that lies on a drive of the machine.
std::optional<std::string> ToWindowsPath(const std::string& nativePath);

// Creates the native folders of drive C (and the Windows and system folders)
// if missing; used by set-up scripts and tests.
bool EnsureMachineLayout();

}  // namespace plat
