#include "foundation/Logger.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/TempDir.h"

namespace {

const std::string kOpenLine = "\r\n" + std::string(80, '+') + "\r\n";
const std::string kCloseLine = "\r\n" + std::string(80, '-') + "\r\n";

class LoggerTest : public testing::Test {
 protected:
  std::string Path() const { return dir_ / "2010-01-27-09-05-03.log"; }
  TempDir dir_;
};

TEST_F(LoggerTest, RecordAndSeparatorsHaveTheirExactForm) {
  {
    CLogger logger;
    ASSERT_EQ(logger.Open(Path()), 1);
    EXPECT_EQ(logger.FileName(), Path());
    logger.Log(CLogger::kInfo, "CVorClientApp::InitApp", "running...");
  }
  const std::string text = ReadFile(Path());
  const std::regex form(
      "\r\n\\+{80}\r\n"
      "\\[\\d{4}/\\d{2}/\\d{2} \\d{2}:\\d{2}:\\d{2}:\\d{3}\\]<info >\\[CVorClientApp::InitApp\\]: running\\.\\.\\.\r\n"
      "\r\n-{80}\r\n");
  EXPECT_TRUE(std::regex_match(text, form)) << text;

  struct stat info {};
  ASSERT_EQ(stat(Path().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(LoggerTest, LevelNamesArePaddedToFiveCharacters) {
  CLogger logger;
  ASSERT_EQ(logger.Open(Path()), 1);
  for (int level = 0; level <= 6; ++level) logger.Log(level, "F", "m");
  const std::string text = ReadFile(Path());
  for (const char* name : {"<off >", "<fatal>", "<error>", "<warn >", "<info >", "<debug>", "<all  >"}) {
    EXPECT_NE(text.find(name), std::string::npos) << name;
  }
}

TEST_F(LoggerTest, ThresholdDecidesWhichRecordsAreWritten) {
  CLogger logger;
  ASSERT_EQ(logger.Open(Path()), 1);
  logger.SetLevel(4);
  for (int level = 1; level <= 5; ++level) logger.Log(level, "F", "level " + std::to_string(level));
  const std::string text = ReadFile(Path());
  for (int level = 1; level <= 4; ++level) {
    EXPECT_NE(text.find("level " + std::to_string(level) + "\r\n"), std::string::npos) << level;
  }
  EXPECT_EQ(text.find("level 5"), std::string::npos);
}

TEST_F(LoggerTest, SetLevelRules) {
  struct Case {
    const char* text;  // null: the numeric overload with `number`
    int number;
    int expected;
  };
  const Case cases[] = {
      {nullptr, 0, 0}, {nullptr, 3, 3}, {nullptr, 6, 6}, {nullptr, 7, 6}, {nullptr, -1, 6},
      {"", 0, 6},      {"2", 0, 2},     {"5x", 0, 5},    {"abc", 0, 0},   {"9", 0, 6},
  };
  for (const Case& c : cases) {
    CLogger logger;
    logger.SetLevel(1);
    if (c.text) {
      logger.SetLevel(std::string(c.text));
    } else {
      logger.SetLevel(c.number);
    }
    EXPECT_EQ(logger.GetLevel(), c.expected) << (c.text ? c.text : std::to_string(c.number));
  }
}

TEST_F(LoggerTest, LevelFromTextWithoutANumberSilencesTheLog) {
  CLogger logger;
  ASSERT_EQ(logger.Open(Path()), 1);
  logger.SetLevel(std::string("letters"));
  logger.Log(CLogger::kFatal, "F", "dropped");
  EXPECT_EQ(ReadFile(Path()), kOpenLine);
}

TEST_F(LoggerTest, ReopeningAppendsAfterTheOldContent) {
  for (const char* message : {"first start", "second start"}) {
    CLogger logger;
    ASSERT_EQ(logger.Open(Path()), 1);
    logger.Log(CLogger::kError, "F", message);
  }
  const std::string text = ReadFile(Path());
  const size_t first = text.find("first start");
  const size_t second = text.find("second start");
  ASSERT_NE(first, std::string::npos);
  ASSERT_NE(second, std::string::npos);
  EXPECT_LT(first, second);
  EXPECT_EQ(text.find(kOpenLine), 0u);
  EXPECT_NE(text.find(kCloseLine + kOpenLine), std::string::npos);
}

TEST_F(LoggerTest, MessageIsWrittenUnformatted) {
  CLogger logger;
  ASSERT_EQ(logger.Open(Path()), 1);
  logger.Log(CLogger::kError, "F", "100% done %s %d %n");
  EXPECT_NE(ReadFile(Path()).find("]: 100% done %s %d %n\r\n"), std::string::npos);
}

TEST_F(LoggerTest, OpenFailureReturnsZeroWithTheSystemReason) {
  CLogger logger;
  EXPECT_EQ(logger.Open(dir_ / "no-such-folder/x.log"), 0);
  EXPECT_NE(logger.LastError().find("No such file or directory"), std::string::npos) << logger.LastError();
  logger.Log(CLogger::kFatal, "F", "nowhere to go");  // must not crash
}

TEST_F(LoggerTest, RecordsFromManyThreadsNeverInterleave) {
  constexpr int kThreads = 4;
  constexpr int kRecords = 500;
  {
    CLogger logger;
    ASSERT_EQ(logger.Open(Path()), 1);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&logger, t] {
        const std::string body(200, static_cast<char>('a' + t));
        for (int i = 0; i < kRecords; ++i) logger.Log(CLogger::kInfo, "T", body);
      });
    }
    for (auto& thread : threads) thread.join();
  }
  const std::string text = ReadFile(Path());
  const std::regex record("\\[[^\\]]+\\]<info >\\[T\\]: ([a-d])\\1{199}\r\n");
  const auto begin = std::sregex_iterator(text.begin(), text.end(), record);
  EXPECT_EQ(std::distance(begin, std::sregex_iterator()), kThreads * kRecords);
  EXPECT_EQ(text.size(), kOpenLine.size() + kCloseLine.size() +
                             static_cast<size_t>(kThreads * kRecords) * (std::string("[2010/01/27 09:05:03:042]<info >[T]: ").size() + 202));
}

TEST_F(LoggerTest, AppLoggerDropsRecordsWhenThereIsNone) {
  SetAppLogger(nullptr);
  LogF(CLogger::kError, "F", "%s", "nobody listens");  // must not crash
  CLogger logger;
  ASSERT_EQ(logger.Open(Path()), 1);
  SetAppLogger(&logger);
  LogF(CLogger::kError, "CUtil::DeleteFolder", "Fail to remove folder:%s error code: %d", "/x", 13);
  LogText(CLogger::kWarn, "CWork::Request", "50% of %s");
  SetAppLogger(nullptr);
  const std::string text = ReadFile(Path());
  EXPECT_NE(text.find("<error>[CUtil::DeleteFolder]: Fail to remove folder:/x error code: 13\r\n"), std::string::npos);
  EXPECT_NE(text.find("<warn >[CWork::Request]: 50% of %s\r\n"), std::string::npos);
  EXPECT_EQ(text.find("nobody listens"), std::string::npos);
}

}  // namespace
