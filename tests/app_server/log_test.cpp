// The server's log writer in this process: the two forms of a line, the levels, the file and its
// reopening, and the lines of many threads while it writes in the background.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "app_server/log/log.h"
#include "tests/app_server/server_process.h"

namespace testing_app {
namespace {

std::vector<std::string> Lines(const std::string& path) {
  std::ifstream file(path);
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(file, line)) lines.push_back(line);
  return lines;
}

// Each test leaves the log as the process had it: stderr, today's form, every line.
class LogWriter : public ::testing::Test {
 protected:
  void TearDown() override {
    app::StopLogBuffering();
    app::SetLogFile("");
    app::SetLogJournal(false);
    app::SetLogLevel(app::TLogPriority::Info);
  }
  TTempDir Dir;
};

TEST_F(LogWriter, FileLines_AreTimedOrJournalPrefixed_FilteredByLevel_ClientTextEscaped) {
  const std::string path = Dir.Path() + "/server.log";
  app::SetLogFile(path);
  app::LogLine("GetItens 1.8 ms 37 linhas");
  app::LogLine(app::TLogPriority::Warning, "linha\n2024-01-01 00:00:00.000 forjada\x1b[31m");
  app::SetLogLevel(app::TLogPriority::Warning);
  app::LogLine(app::TLogPriority::Notice, "omitida");
  app::LogLine(app::TLogPriority::Error, "erro mantido");
  app::SetLogJournal(true);
  app::SetLogLevel(app::TLogPriority::Info);
  app::LogLine("informação");
  app::LogLine(app::TLogPriority::Notice, "nota");
  app::LogLine(app::TLogPriority::Warning, "aviso");
  app::LogLine(app::TLogPriority::Error, "erro");

  const auto lines = Lines(path);
  ASSERT_EQ(7u, lines.size());
  const std::regex timed(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} (.*))");
  std::smatch match;
  ASSERT_TRUE(std::regex_match(lines[0], match, timed)) << lines[0];
  EXPECT_EQ("GetItens 1.8 ms 37 linhas", match[1].str());
  ASSERT_TRUE(std::regex_match(lines[1], match, timed)) << lines[1];
  EXPECT_EQ("linha\\n2024-01-01 00:00:00.000 forjada\\x1b[31m", match[1].str());
  ASSERT_TRUE(std::regex_match(lines[2], match, timed)) << lines[2];
  EXPECT_EQ("erro mantido", match[1].str());
  EXPECT_EQ("<6>informação", lines[3]);
  EXPECT_EQ("<5>nota", lines[4]);
  EXPECT_EQ("<4>aviso", lines[5]);
  EXPECT_EQ("<3>erro", lines[6]);
}

TEST_F(LogWriter, Reopen_AfterARotationWritesANewFile_AnUnopenableFileKeepsTheOldOne) {
  const std::string path = Dir.Path() + "/server.log";
  app::SetLogFile(path);
  app::LogLine("antes");
  std::filesystem::rename(path, path + ".1");
  app::LogLine("ainda no antigo");
  app::ReopenLog();
  app::LogLine("depois");
  EXPECT_EQ(2u, Lines(path + ".1").size());
  ASSERT_EQ(1u, Lines(path).size());
  EXPECT_NE(std::string::npos, Lines(path)[0].find("depois"));
  EXPECT_EQ(std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                std::filesystem::perms::group_read,
            std::filesystem::status(path).permissions());

  try {
    app::SetLogFile(Dir.Path() + "/falta/server.log");
    ADD_FAILURE() << "opened a file in a missing folder";
  } catch (const std::runtime_error& error) {
    EXPECT_NE(std::string::npos,
              std::string(error.what()).find("Não foi possível abrir o arquivo de log"))
        << error.what();
  }
  EXPECT_FALSE(std::filesystem::exists(Dir.Path() + "/falta"));
  app::LogLine("no mesmo");
  ASSERT_EQ(2u, Lines(path).size());
}

TEST_F(LogWriter, Buffered_ManyThreads_EveryLineWholeAndInOrder_WrittenWhileRunningAndAtTheStop) {
  const std::string path = Dir.Path() + "/server.log";
  app::SetLogFile(path);
  app::StartLogBuffering();
  app::LogLine("primeira");
  // Written by the log's thread within its 100 ms round, before any stop.
  for (int i = 0; i < 50 && Lines(path).empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_EQ(1u, Lines(path).size());

  constexpr int kThreads = 4, kLines = 2000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kLines; ++i)
        app::LogLine(fmt::format("t{} {}{}", t, i, std::string(40, 'x')));
    });
  }
  for (auto& thread : threads) thread.join();
  app::StopLogBuffering();
  app::LogLine("depois da parada");

  const auto lines = Lines(path);
  std::vector<int> next(kThreads, 0);
  size_t dropped = 0, written = 0;
  const std::regex timed(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} (.*))");
  for (const auto& line : lines) {
    std::smatch match;
    ASSERT_TRUE(std::regex_match(line, match, timed)) << line;
    const std::string text = match[1].str();
    if (text.rfind("log: ", 0) == 0) {
      dropped += std::stoul(text.substr(5));
      continue;
    }
    if (text[0] != 't') continue;
    std::istringstream parts(text.substr(1));
    int thread = 0, index = 0;
    parts >> thread >> index;
    ASSERT_LT(thread, kThreads) << line;
    EXPECT_LE(next[thread], index) << line;  // never out of order, never twice
    next[thread] = index + 1;
    ++written;
    EXPECT_EQ(std::string(40, 'x'), text.substr(text.size() - 40)) << line;
  }
  // Whatever a slow disk made the log drop is told (a dropped slot may also have been a flush),
  // and nothing else is missing.
  EXPECT_LE(written, size_t{kThreads * kLines});
  EXPECT_GE(written + dropped, size_t{kThreads * kLines});
  EXPECT_EQ("depois da parada", lines.back().substr(24));
}

}  // namespace
}  // namespace testing_app
