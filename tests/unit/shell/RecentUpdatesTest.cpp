#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>

#include "engine/Work.h"
#include "shell/MainFrame.h"
#include "shell/RecentUpdates.h"
#include "shell/VorClientApp.h"
#include "tests/unit/shell/ShellTestSupport.h"

namespace {

std::vector<std::string> Entries(int count) {
  std::vector<std::string> entries;
  for (int i = 1; i <= count; ++i) {
    entries.push_back("下载 /home/u/Vessa/alice/dir" + std::to_string(i) + "/f" + std::to_string(i) + ".txt");
  }
  return entries;
}

}  // namespace

TEST(RecentUpdatesTest, NineNewestFirstWithTheirFolders) {
  const auto items = BuildRecentUpdates(Entries(12));
  ASSERT_EQ(items.size(), 9u);
  for (int i = 0; i < 9; ++i) {
    const int n = 12 - i;  // newest first
    EXPECT_EQ(items[i].id, 32901 + i);
    EXPECT_EQ(items[i].label, "下载 /home/u/Vessa/alice/dir" + std::to_string(n) + "/f" + std::to_string(n) + ".txt");
    EXPECT_EQ(items[i].folder, "/home/u/Vessa/alice/dir" + std::to_string(n));
  }
  EXPECT_TRUE(BuildRecentUpdates({}).empty());
}

TEST(RecentUpdatesTest, MalformedEntriesGetNoItemButUseTheirNumber) {
  const std::vector<std::string> finished = {
      "修改 /r/alice/old/kept.txt",  // oldest: number 5
      "删除 /top.txt",              // the folder would be empty: number 4 used up
      " /r/alice/x/y.txt",          // a blank first: number 3 used up
      "nospace",                    // number 2 used up
      "下载 /r/alice/a b/c&d.txt",  // newest: number 1
  };
  const auto items = BuildRecentUpdates(finished);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].id, 32901);
  EXPECT_EQ(items[0].folder, "/r/alice/a b");
  EXPECT_EQ(items[1].id, 32905);
  EXPECT_EQ(items[1].folder, "/r/alice/old");
}

TEST(RecentUpdatesTest, MenuShowsNoneForAnEmptyListAndNineItemsForTwelve) {
  QMenu menu;
  EXPECT_TRUE(CMainFrame::FillRecentMenu(menu, {}).empty());
  ASSERT_EQ(menu.actions().size(), 1);
  EXPECT_EQ(menu.actions()[0]->text(), "None");
  EXPECT_EQ(menu.actions()[0]->data().toInt(), 32900);
  EXPECT_FALSE(menu.actions()[0]->isEnabled());

  const auto folders = CMainFrame::FillRecentMenu(menu, Entries(12));
  ASSERT_EQ(menu.actions().size(), 9) << "the menu is rebuilt, not appended to";
  EXPECT_EQ(folders.size(), 9u);
  for (int i = 0; i < 9; ++i) {
    QAction* action = menu.actions()[i];
    EXPECT_EQ(action->data().toInt(), 32901 + i);
    EXPECT_TRUE(action->isEnabled());
    EXPECT_TRUE(action->text().endsWith(QString("/f%1.txt").arg(12 - i))) << action->text().toStdString();
  }
  const auto ampersand = CMainFrame::FillRecentMenu(menu, {"下载 /r/a&b/c.txt"});
  EXPECT_EQ(menu.actions()[0]->text(), QString::fromUtf8("下载 /r/a&&b/c.txt")) << "no mnemonic from a name";
  EXPECT_EQ(ampersand.at(32901), "/r/a&b");
}

class TrayMenuTest : public ShellFixture {
 protected:
  void SetUp() override {
    ShellFixture::SetUp();
    app_.CreateFrame();
  }
  std::vector<std::pair<QString, int>> Items() {
    std::vector<std::pair<QString, int>> items;
    for (QAction* action : app_.Frame()->TrayMenu()->actions()) {
      if (!action->isVisible()) continue;
      items.emplace_back(action->isSeparator() ? QString("-") : action->text(), action->data().toInt());
    }
    return items;
  }
  CVorClientApp app_;
};

TEST_F(TrayMenuTest, OrderDefaultItemAndTheUpdatesSubmenuWithAWorker) {
  app_.Frame()->PrepareTrayMenu();
  const std::vector<std::pair<QString, int>> withoutWorker = {
      {QString::fromUtf8("Web文件夹(&W)"), 32813}, {QString::fromUtf8("本地文件夹(&E)"), 32804}, {"-", 0},
      {QString::fromUtf8("同步(&S)"), 32798},     {QString::fromUtf8("登录(&L)"), 32800},
      {QString::fromUtf8("注销(&N)"), 32799},     {"-", 0},
      {QString::fromUtf8("选项(&O)"), 32805},     {QString::fromUtf8("关于(&A)"), 32811},
      {QString::fromUtf8("帮助"), 32818},          {QString::fromUtf8("退出(&X)"), 32801}};
  EXPECT_EQ(Items(), withoutWorker);
  EXPECT_EQ(app_.Frame()->TrayMenu()->defaultAction()->data().toInt(), 32804);

  ASSERT_TRUE(app_.StartWorker());
  app_.Frame()->PrepareTrayMenu();
  const auto items = Items();
  ASSERT_EQ(items.size(), withoutWorker.size() + 1);
  EXPECT_EQ(items[0].first, QString::fromUtf8("文件更新(&U)")) << "the submenu comes first";
  QMenu* updates = app_.Frame()->TrayMenu()->actions()[0]->menu();
  ASSERT_NE(updates, nullptr);
  ASSERT_EQ(updates->actions().size(), 1);
  EXPECT_EQ(updates->actions()[0]->text(), "None");

  // Logged out: only login and the always-enabled commands.
  std::map<int, bool> enabled;
  for (QAction* action : app_.Frame()->TrayMenu()->actions()) enabled[action->data().toInt()] = action->isEnabled();
  EXPECT_TRUE(enabled[32800]);
  EXPECT_FALSE(enabled[32799]);
  EXPECT_FALSE(enabled[32798]);
  EXPECT_FALSE(enabled[32804]);
  EXPECT_FALSE(enabled[32813]);
  EXPECT_TRUE(enabled[32805] && enabled[32811] && enabled[32818] && enabled[32801]);
}
