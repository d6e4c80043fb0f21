// Reused compiled statements must behave like fresh ones: no bindings,
// rows or errors carried over from an earlier use of the same text.
#include <gtest/gtest.h>

#include "service/ServiceDb.h"
#include "tests/support/TempDir.h"

namespace {

constexpr const char* kByName = "SELECT value FROM counters WHERE name >= ?1 ORDER BY name";

class ServiceDbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(db_.Open(dir_ / "service.db", true, error)) << error;
    for (const auto& [name, value] : {std::pair{"a", 1}, {"b", 2}, {"c", 3}}) {
      db_.Run("INSERT INTO counters(name, value) VALUES(?1, ?2)", name, value);
    }
  }

  TempDir dir_{"vessa-servicedb"};
  CServiceDb db_;
};

TEST_F(ServiceDbTest, AStatementLeftHalfReadStartsAfreshWithItsNewBinding) {
  {
    CStatement first = db_.Query(kByName, "a");
    ASSERT_TRUE(first.Step());
    EXPECT_EQ(first.Int(0), 1);
  }  // given back after one of three rows
  CStatement again = db_.Query(kByName, "b");
  std::vector<int64_t> values;
  while (again.Step()) values.push_back(again.Int(0));
  EXPECT_EQ(values, (std::vector<int64_t>{2, 3}));
}

TEST_F(ServiceDbTest, TwoLiveUsesOfOneTextDoNotShareAStatement) {
  CStatement outer = db_.Query(kByName, "a");
  ASSERT_TRUE(outer.Step());
  EXPECT_EQ(db_.IntOr(-1, kByName, "c"), 3);
  ASSERT_TRUE(outer.Step());
  EXPECT_EQ(outer.Int(0), 2) << "the inner query must not have moved the outer one";
}

TEST_F(ServiceDbTest, AFailedStatementCanBeUsedAgain) {
  constexpr const char* kInsert = "INSERT INTO counters(name, value) VALUES(?1, ?2)";
  EXPECT_THROW(db_.Run(kInsert, "a", 9), CDbError) << "name is the primary key";
  EXPECT_EQ(db_.Run(kInsert, "d", 4), 1);
  EXPECT_EQ(db_.IntOr(-1, "SELECT value FROM counters WHERE name = ?1", "d"), 4);
}

TEST_F(ServiceDbTest, AnUnboundParameterIsNullNotTheLastValue) {
  constexpr const char* kCount = "SELECT count(*) FROM counters WHERE ?1 IS NULL OR name = ?1";
  EXPECT_EQ(db_.IntOr(-1, kCount, "b"), 1);
  EXPECT_EQ(db_.IntOr(-1, kCount), 3);
}

}  // namespace
