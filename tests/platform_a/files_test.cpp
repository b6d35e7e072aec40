// C-runtime style streams: text translation, line reads, appends, status,
// directory listing and injected failures.
#include "platform/files/files.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "platform_a/temp_machine.h"

namespace {

using FilesTest = TempMachine;

std::vector<std::string> AllLines(plat::File& f, int bufSize) {
  std::vector<std::string> lines;
  std::vector<char> buf(static_cast<std::size_t>(bufSize));
  while (f.GetLine(buf.data(), bufSize) != nullptr) lines.emplace_back(buf.data());
  return lines;
}

TEST_F(FilesTest, TextReadTurnsCrLfIntoLfAndKeepsLoneCr) {
  WriteRaw("c/cfg.txt", "127.0.0.1\r\n80\r\nlone\rcr\r\nlast");
  plat::File f = plat::File::Open("C:\\cfg.txt", "rt");
  ASSERT_TRUE(f.IsOpen());
  EXPECT_EQ(AllLines(f, 256),
            (std::vector<std::string>{"127.0.0.1\n", "80\n", "lone\rcr\n", "last"}));

  // Binary mode leaves the bytes alone.
  plat::File b = plat::File::Open("C:\\cfg.txt", "rb");
  EXPECT_EQ(AllLines(b, 256),
            (std::vector<std::string>{"127.0.0.1\r\n", "80\r\n", "lone\rcr\r\n", "last"}));
}

TEST_F(FilesTest, LongLineThroughSmallBufferTakesTwoReads) {
  WriteRaw("c/long.txt", "abcdefghijklmnopqrst\r\nnext\r\n");
  plat::File f = plat::File::Open("C:\\long.txt", "rt");
  EXPECT_EQ(AllLines(f, 17), (std::vector<std::string>{"abcdefghijklmnop", "qrst\n", "next\n"}));
}

TEST_F(FilesTest, CrLfSplitAcrossReadAheadBoundariesIsStillOneLf) {
  // CR LF pairs at even offsets, then at odd ones: whatever the stream's
  // buffer size, some pair straddles its edge.
  constexpr std::size_t kPairs = 150000;
  for (const std::string prefix : {"", "x"}) {
    SCOPED_TRACE("prefix '" + prefix + "'");
    std::string raw = prefix;
    for (std::size_t i = 0; i < kPairs; ++i) raw += "\r\n";
    WriteRaw("c/many.txt", raw);
    plat::File f = plat::File::Open("C:\\many.txt", "rt");
    std::string got(raw.size(), '\0');
    ASSERT_EQ(f.Read(got.data(), 1, got.size()), prefix.size() + kPairs);
    got.resize(prefix.size() + kPairs);
    EXPECT_EQ(got, prefix + std::string(kPairs, '\n'));
  }
}

TEST_F(FilesTest, AppendTextWritesCrLfForEveryLf) {
  WriteRaw("c/log.txt", "old");
  {
    plat::File f = plat::File::Open("C:\\LOG.txt", "a+t");
    ASSERT_TRUE(f.IsOpen());
    EXPECT_EQ(f.Write("x\r\n", 3, 1), 1u);
    // Appends land at the end even after a seek.
    EXPECT_EQ(f.Seek(0, 0), 0);
    EXPECT_EQ(f.Write("line\n", 1, 5), 5u);
    EXPECT_EQ(f.Flush(), 0);
  }
  plat::File again = plat::File::Open("C:\\log.txt", "a+t");
  EXPECT_EQ(again.Write("\n", 1, 1), 1u);
  again.Close();
  EXPECT_EQ(ReadRaw("c/log.txt"), std::string("oldx\r\r\nline\r\n\r\n"));
}

TEST_F(FilesTest, WriteBinaryTruncatesAndRewritesInPlaceWhileOthersRead) {
  WriteRaw("c/status", std::string(1000, 'o'));
  plat::File w = plat::File::Open("C:\\status", "wb");
  ASSERT_TRUE(w.IsOpen());
  std::string rec(308, 'a');
  rec[10] = '\n';  // no translation in binary mode
  ASSERT_EQ(w.Write(rec.data(), rec.size(), 1), 1u);
  ASSERT_EQ(w.Flush(), 0);
  plat::File r = plat::File::Open("C:\\status", "rb");
  std::string got(308, '\0');
  ASSERT_EQ(r.Read(got.data(), got.size(), 1), 1u);
  EXPECT_EQ(got, rec);

  std::string rec2(308, 'b');
  ASSERT_EQ(w.Seek(0, 0), 0);
  ASSERT_EQ(w.Write(rec2.data(), rec2.size(), 1), 1u);
  ASSERT_EQ(w.Flush(), 0);
  EXPECT_EQ(ReadRaw("c/status"), rec2);
  ASSERT_EQ(r.Seek(0, 0), 0);
  ASSERT_EQ(r.Read(got.data(), got.size(), 1), 1u);
  EXPECT_EQ(got, rec2);
}

TEST_F(FilesTest, ReadCountsWholeItemsOnly) {
  WriteRaw("c/ten", "0123456789");
  plat::File f = plat::File::Open("C:\\ten", "rb");
  char buf[12] = {};
  EXPECT_EQ(f.Read(buf, 4, 3), 2u);
  EXPECT_EQ(f.Read(buf, 1, 1), 0u);
  ASSERT_EQ(f.Seek(-3, 2), 0);
  EXPECT_EQ(f.Read(buf, 1, 12), 3u);
  EXPECT_EQ(std::string(buf, 3), "789");
}

TEST_F(FilesTest, ReadWriteStreamSwitchesBetweenReadsAndWrites) {
  WriteRaw("c/rw", "abcdef");
  plat::File f = plat::File::Open("C:\\rw", "r+b");
  char two[2];
  ASSERT_EQ(f.Read(two, 1, 2), 2u);
  // The write goes where the reads stopped, not after the read-ahead.
  ASSERT_EQ(f.Write("XY", 1, 2), 2u);
  char rest[4] = {};
  EXPECT_EQ(f.Read(rest, 1, 4), 2u);
  EXPECT_EQ(std::string(rest, 2), "ef");
  f.Close();
  EXPECT_EQ(ReadRaw("c/rw"), "abXYef");
}

TEST_F(FilesTest, OpenFailsForMissingFilesFoldersAndBadModes) {
  std::filesystem::create_directories(Native("c/folder"));
  EXPECT_FALSE(plat::File::Open("C:\\missing.txt", "rt").IsOpen());
  EXPECT_FALSE(plat::File::Open("C:\\folder", "rb").IsOpen());
  EXPECT_FALSE(plat::File::Open("C:\\folder", "wb").IsOpen());
  EXPECT_FALSE(plat::File::Open("C:\\x.txt", "q").IsOpen());
  EXPECT_FALSE(plat::File::Open("C:\\nofolder\\x.txt", "wb").IsOpen());
  plat::File closed;
  char buf[4];
  EXPECT_EQ(closed.GetLine(buf, 4), nullptr);
  EXPECT_EQ(closed.Write("x", 1, 1), 0u);
  EXPECT_NE(closed.Close(), 0);
}

TEST_F(FilesTest, FileStatusOfMissingFileAndFolderHasSizeZero) {
  WriteRaw("c/www/a.htm", "12345");
  plat::FileStatus st;
  st.size = 77;
  EXPECT_FALSE(plat::GetFileStatus("C:\\www\\missing.htm", &st));
  EXPECT_FALSE(st.exists);
  EXPECT_EQ(st.size, 0);

  ASSERT_TRUE(plat::GetFileStatus("C:\\WWW", &st));
  EXPECT_TRUE(st.exists);
  EXPECT_TRUE(st.isDirectory);
  EXPECT_EQ(st.size, 0);

  ASSERT_TRUE(plat::GetFileStatus("c:\\www\\A.HTM", &st));
  EXPECT_FALSE(st.isDirectory);
  EXPECT_EQ(st.size, 5);
}

TEST_F(FilesTest, MakeDirectoryAndDeleteFileReportWhatHappened) {
  EXPECT_EQ(plat::MakeDirectory("C:\\www\\"), 0);
  EXPECT_EQ(plat::MakeDirectory("C:\\www"), -1);            // exists
  EXPECT_EQ(plat::MakeDirectory("C:\\no\\such\\dir"), -1);  // parent missing
  WriteRaw("c/www/old", "x");
  EXPECT_TRUE(plat::DeleteFile("C:\\WWW\\OLD"));
  EXPECT_FALSE(plat::DeleteFile("C:\\www\\old"));
  EXPECT_FALSE(plat::DeleteFile("C:\\www"));  // folders are not files
  EXPECT_TRUE(std::filesystem::is_directory(Native("c/www")));
}

TEST_F(FilesTest, ListFilesGivesRegularVisibleFilesInDirectoryOrder) {
  const std::string dir = "c/Program Files/Vostrel Web Server/images";
  for (const char* name : {"top.gif", "B.JPG", ".hidden", "left1.png"})
    WriteRaw(dir + "/" + name, "x");
  std::filesystem::create_directories(Native(dir + "/sub"));
  std::filesystem::create_symlink(Native(dir + "/top.gif"), Native(dir + "/link.gif"));

  std::vector<std::string> expected;  // readdir order, as the directory gives it
  for (const auto& e : std::filesystem::directory_iterator(Native(dir))) {
    std::string name = e.path().filename().string();
    if (name != ".hidden" && name != "sub") expected.push_back(name);
  }
  EXPECT_EQ(expected.size(), 4u);
  EXPECT_EQ(plat::ListFiles("C:\\Program Files\\Vostrel Web Server\\images"), expected);
  EXPECT_EQ(plat::ListFiles("c:\\program files\\vostrel web server\\IMAGES\\*.*"), expected);
  EXPECT_TRUE(plat::ListFiles("C:\\Program Files\\none").empty());
}

struct FaultCase {
  plat::FaultPoint point;
  const char* name;
};

TEST_F(FilesTest, NthCallFaultFailsExactlyThatCall) {
  WriteRaw("c/f.txt", "1\n2\n3\n4\n5\n");
  for (FaultCase fc : {FaultCase{plat::FaultPoint::FileOpen, "open"},
                       FaultCase{plat::FaultPoint::FileRead, "read"},
                       FaultCase{plat::FaultPoint::FileWrite, "write"}}) {
    SCOPED_TRACE(fc.name);
    plat::File reader = plat::File::Open("C:\\f.txt", "rt");
    plat::File writer = plat::File::Open("C:\\out.txt", "wb");
    ASSERT_TRUE(reader.IsOpen() && writer.IsOpen());
    plat::FailNth(fc.point, 3);
    std::vector<bool> ok;
    char buf[8];
    for (int i = 0; i < 5; ++i) {
      if (fc.point == plat::FaultPoint::FileOpen)
        ok.push_back(plat::File::Open("C:\\f.txt", "rb").IsOpen());
      if (fc.point == plat::FaultPoint::FileRead)
        ok.push_back(reader.GetLine(buf, sizeof buf) != nullptr);
      if (fc.point == plat::FaultPoint::FileWrite) ok.push_back(writer.Write("ab", 2, 1) == 1);
    }
    EXPECT_EQ(ok, (std::vector<bool>{true, true, false, true, true}));
    plat::ClearFaults();
  }
  // Repeat mode: from the Nth call on, everything fails.
  plat::FailNth(plat::FaultPoint::FileRead, 2, true);
  plat::File r = plat::File::Open("C:\\f.txt", "rb");
  char c;
  EXPECT_EQ(r.Read(&c, 1, 1), 1u);
  EXPECT_EQ(r.Read(&c, 1, 1), 0u);
  EXPECT_EQ(r.Read(&c, 1, 1), 0u);
}

TEST_F(FilesTest, SharedTextStreamKeepsEveryLineWhole) {
  plat::File log = plat::File::Open("C:\\WINDOWS\\system\\shared.log", "a+t");
  ASSERT_TRUE(log.IsOpen());
  std::mutex serialise;  // as the server lock serialises log entries
  constexpr int kThreads = 4;
  constexpr int kLines = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kLines; ++i) {
        std::string line = "thread " + std::to_string(t) + " line " + std::to_string(i) + "\n";
        std::lock_guard<std::mutex> g(serialise);
        log.Write(line.data(), line.size(), 1);
      }
    });
  }
  for (auto& th : threads) th.join();
  log.Close();
  std::string raw = ReadRaw("c/WINDOWS/system/shared.log");
  EXPECT_EQ(std::count(raw.begin(), raw.end(), '\n'), kThreads * kLines);
  EXPECT_EQ(std::count(raw.begin(), raw.end(), '\r'), kThreads * kLines);
  EXPECT_EQ(raw.find("\n\n"), std::string::npos);
  EXPECT_EQ(raw.find("\r\r"), std::string::npos);
}

}  // namespace
