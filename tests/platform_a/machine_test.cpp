// Windows-form paths onto the machine folder: drives, case, current directory
// and the Windows directory.
#include "platform/machine/machine.h"

#include <cstring>
#include <filesystem>

#include "platform/files/files.h"
#include "platform_a/temp_machine.h"

namespace {

using MachineTest = TempMachine;

TEST_F(MachineTest, MixedCaseWindowsPathFindsExistingFile) {
  WriteRaw("c/Program Files/Vostrel Web Server/Index.HTM", "hello");
  const std::string actual = Native("c/Program Files/Vostrel Web Server/Index.HTM");
  for (const char* form : {"C:\\Program Files\\Vostrel Web Server\\Index.HTM",
                           "c:\\PROGRAM FILES\\vostrel web server\\index.htm",
                           "C:/program files/VOSTREL WEB SERVER/INDEX.htm",
                           "C:\\Program Files\\.\\x\\..\\Vostrel Web Server\\index.htm"}) {
    SCOPED_TRACE(form);
    EXPECT_EQ(plat::ToNativePath(form), actual);
    plat::File f = plat::File::Open(form, "rb");
    ASSERT_TRUE(f.IsOpen());
    char buf[16] = {};
    EXPECT_EQ(f.Read(buf, 1, sizeof buf), 5u);
    EXPECT_STREQ(buf, "hello");
  }
}

TEST_F(MachineTest, MissingComponentsKeepTheirNameAfterTheMatchedPrefix) {
  // WINDOWS and system exist (machine layout); the rest is new.
  EXPECT_EQ(plat::ToNativePath("c:\\windows\\SYSTEM\\New Folder\\VostrelWeb.SET"),
            Native("c/WINDOWS/system/New Folder/VostrelWeb.SET"));
  EXPECT_EQ(plat::MakeDirectory("C:\\NewDir"), 0);
  EXPECT_TRUE(std::filesystem::is_directory(Native("c/NewDir")));
  EXPECT_EQ(plat::ToNativePath("C:\\newdir\\A.txt"), Native("c/NewDir/A.txt"));
}

TEST_F(MachineTest, PathsWithoutDriveResolveOnTheCurrentDirectory) {
  std::filesystem::create_directories(Native("d/work/sub"));
  std::filesystem::current_path(Native("d/work/sub"));
  EXPECT_EQ(plat::CurrentDirectory(), "D:\\work\\sub");
  EXPECT_EQ(plat::ToNativePath("\\Program Files\\x"), Native("d/Program Files/x"));
  EXPECT_EQ(plat::ToNativePath("a\\b.txt"), Native("d/work/sub/a/b.txt"));
  EXPECT_EQ(plat::ToNativePath("..\\up.txt"), Native("d/work/up.txt"));
  EXPECT_EQ(plat::ToNativePath("d:rel.txt"), Native("d/work/sub/rel.txt"));
  // Another drive's relative path starts at that drive's root.
  EXPECT_EQ(plat::ToNativePath("c:rel.txt"), Native("c/rel.txt"));
  // ".." never climbs above the drive.
  EXPECT_EQ(plat::ToNativePath("\\..\\..\\..\\etc\\passwd"), Native("d/etc/passwd"));
}

TEST_F(MachineTest, OutsideTheMachineTheCurrentDirectoryIsDriveCRoot) {
  std::filesystem::current_path("/");
  EXPECT_EQ(plat::CurrentDirectory(), "C:\\");
  EXPECT_EQ(plat::ToNativePath("\\Program Files\\x"), Native("c/Program Files/x"));
}

TEST_F(MachineTest, ToWindowsPathInvertsTheDriveLayout) {
  EXPECT_EQ(plat::ToWindowsPath(Native("c/www/a.htm")), "C:\\www\\a.htm");
  EXPECT_EQ(plat::ToWindowsPath(Native("e")), "E:\\");
  EXPECT_EQ(plat::ToWindowsPath("/usr/bin"), std::nullopt);
  EXPECT_EQ(plat::ToWindowsPath(Native("notadrive/x")), std::nullopt);
}

TEST_F(MachineTest, WindowsDirectoryDefaultsAndSystemRootOverride) {
  EXPECT_EQ(plat::WindowsDirectory(), "C:\\WINDOWS");
  EXPECT_TRUE(std::filesystem::is_directory(Native("c/WINDOWS/system")));

  setenv("SystemRoot", "D:\\WinNT\\", 1);
  EXPECT_EQ(plat::WindowsDirectory(), "D:\\WinNT");
  EXPECT_EQ(plat::ExpandEnvironment("%SystemRoot%\\system\\vostreld.exe"),
            "D:\\WinNT\\system\\vostreld.exe");
  EXPECT_EQ(plat::ExpandEnvironment("x%systemroot%y%SYSTEMROOT%"), "xD:\\WinNTyD:\\WinNT");
  EXPECT_EQ(plat::ExpandEnvironment("100%"), "100%");
  ASSERT_TRUE(plat::EnsureMachineLayout());
  EXPECT_TRUE(std::filesystem::is_directory(Native("d/WinNT/system")));
  EXPECT_EQ(plat::ToNativePath(plat::WindowsDirectory() + "\\system\\VostrelWeb.log"),
            Native("d/WinNT/system/VostrelWeb.log"));
}

TEST_F(MachineTest, GetWindowsDirectoryFollowsTheBufferContract) {
  char buf[256];
  std::memset(buf, 'z', sizeof buf);
  EXPECT_EQ(plat::GetWindowsDirectory(buf, sizeof buf), 10u);
  EXPECT_STREQ(buf, "C:\\WINDOWS");

  // Too small by one (no room for the NUL): the size needed, nothing written.
  char small[10];
  std::memset(small, 'z', sizeof small);
  EXPECT_EQ(plat::GetWindowsDirectory(small, sizeof small), 11u);
  EXPECT_EQ(small[0], 'z');
  EXPECT_EQ(plat::GetWindowsDirectory(buf, 11), 10u);
}

}  // namespace
