#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <filesystem>

#include "engine/Work.h"
#include "foundation/Config.h"
#include "shell/DataMove.h"
#include "shell/DialogKit.h"
#include "shell/LocalText.h"
#include "shell/Option.h"
#include "shell/ProxyForm.h"
#include "shell/VorClientApp.h"
#include "tests/unit/shell/ShellTestSupport.h"

namespace fs = std::filesystem;

// ---- the proxy page's rules ------------------------------------------------

TEST(ProxyFormTest, TypeChangeSetsThePortOrEmptiesTheFields) {
  struct Case {
    const char* type;
    const char* port;
    bool cleared;
  };
  const Case cases[] = {{"HTTP", "80", false}, {"SOCKS4", "1080", false}, {"SOCKS5", "1080", false},
                        {"浏览器设置", "", true}};
  for (const Case& c : cases) {
    ProxyForm form{true, LocalFromUtf8(c.type), "proxy", "3128", "u", "p"};
    ProxyTypeChanged(form);
    EXPECT_EQ(form.port, c.port) << c.type;
    EXPECT_EQ(form.host.empty(), c.cleared) << c.type;
    EXPECT_EQ(form.user.empty() && form.password.empty(), c.cleared) << c.type;
  }
}

TEST(ProxyFormTest, EnableRuleFollowsTheBoxAndTheType) {
  struct Case {
    bool use;
    const char* type;
    bool typeEnabled, fieldsEnabled;
  };
  const Case cases[] = {{false, "HTTP", false, false}, {true, "HTTP", true, true},
                        {true, "浏览器设置", true, false}, {false, "浏览器设置", false, false}};
  for (const Case& c : cases) {
    ProxyForm form;
    form.use = c.use;
    form.type = LocalFromUtf8(c.type);
    const ProxyEnable enable = ProxyEnableRule(form);
    EXPECT_EQ(enable.type, c.typeEnabled) << c.use << c.type;
    EXPECT_EQ(enable.fields, c.fieldsEnabled) << c.use << c.type;
  }
}

TEST(ProxyFormTest, ValidationNamesTheFirstMissingField) {
  struct Case {
    bool use;
    const char* type;
    const char* host;
    const char* port;
    int field;
    const char* message;
  };
  const Case cases[] = {
      {true, "HTTP", "", "80", 1009, "未设置代理服务器地址"},
      {true, "SOCKS5", "", "", 1009, "未设置代理服务器地址"},
      {true, "HTTP", "proxy", "", 1010, "未代理服务器端口"},
      {true, "HTTP", "proxy", "80", 0, ""},
      {false, "HTTP", "", "", 0, ""},       // not used: anything goes
      {true, "浏览器设置", "", "", 0, ""},  // the system's proxy: no fields needed
  };
  for (const Case& c : cases) {
    ProxyForm form{c.use, LocalFromUtf8(c.type), c.host, c.port, "", ""};
    const ProxyProblem problem = ValidateProxy(form);
    EXPECT_EQ(problem.field, c.field) << c.type << "/" << c.host << "/" << c.port;
    EXPECT_EQ(problem.messageUtf8, c.message);
  }
}

TEST(ProxyFormTest, AddressSplitsAtTheLastColonAndIsStoredJoined) {
  TempDir dir;
  CConfig config;
  ASSERT_TRUE(config.Init(dir / "client.db"));
  ASSERT_TRUE(config.Load());
  struct Case {
    const char* address;
    const char* host;
    const char* port;
  };
  for (const Case& c : {Case{"proxy.lan:3128", "proxy.lan", "3128"}, Case{"::1:8080", "::1", "8080"},
                        Case{"justhost", "justhost", ""}, Case{"", "", ""}}) {
    config.Set(CConfig::kProxyAddr, c.address);
    const ProxyForm form = LoadProxyForm(config);
    EXPECT_EQ(form.host, c.host) << c.address;
    EXPECT_EQ(form.port, c.port) << c.address;
  }

  ASSERT_TRUE(ApplyProxy(config, ProxyForm{true, "SOCKS5", "10.0.0.1", "1080", "u", "p"}));
  CConfig reread;
  ASSERT_TRUE(reread.Init(dir / "client.db"));
  ASSERT_TRUE(reread.Load());
  EXPECT_EQ(reread.GetProxyFlag(), 1);
  EXPECT_EQ(reread.Get(CConfig::kProxyType), "SOCKS5");
  EXPECT_EQ(reread.Get(CConfig::kProxyAddr), "10.0.0.1:1080");
  EXPECT_EQ(reread.Get(CConfig::kProxyUser), "u");
  EXPECT_EQ(reread.Get(CConfig::kProxyPasswd), "p");

  ASSERT_TRUE(ApplyProxy(config, ProxyForm{false, "HTTP", "", "", "", ""}));
  EXPECT_EQ(config.Get(CConfig::kProxyAddr), "") << "no host and no port: no address, not \":\"";
}

// ---- the dialog --------------------------------------------------------------

class OptionsTest : public ShellFixture {
 protected:
  void Start() {
    app_.CreateFrame();
    ASSERT_TRUE(app_.StartWorker());
    dialog_ = std::make_unique<COption>(app_);
    dialog_->show();
  }
  template <typename T>
  T* Control(int id) {
    return FindControl<T>(dialog_.get(), id);
  }
  CConfig& Config() { return app_.Work()->GetConfig(); }

  CVorClientApp app_;
  std::unique_ptr<COption> dialog_;
};

TEST_F(OptionsTest, PagesInOrderFilledFromTheConfiguration) {
  Seed({{CConfig::kProxyFlag, "1"}, {CConfig::kProxyType, "HTTP"}, {CConfig::kProxyAddr, "proxy.lan:3128"},
        {CConfig::kProxyUser, "pu"}, {CConfig::kProxyPasswd, "pp"}});
  Start();
  EXPECT_EQ(dialog_->windowTitle(), QString::fromUtf8("选项"));
  ASSERT_EQ(dialog_->Sheet()->count(), 2);
  EXPECT_EQ(dialog_->Sheet()->tabText(0), QString::fromUtf8("代理设置"));
  EXPECT_EQ(dialog_->Sheet()->tabText(1), QString::fromUtf8("其他选项"));
  EXPECT_TRUE(Control<QCheckBox>(1006)->isChecked());
  EXPECT_EQ(Control<QComboBox>(1008)->currentText(), "HTTP");
  EXPECT_EQ(Control<QComboBox>(1008)->count(), 4);
  EXPECT_EQ(Control<QLineEdit>(1009)->text(), "proxy.lan");
  EXPECT_EQ(Control<QLineEdit>(1010)->text(), "3128");
  EXPECT_EQ(Control<QLineEdit>(1011)->text(), "pu");
  EXPECT_EQ(Control<QLineEdit>(1012)->text(), "pp");
  EXPECT_TRUE(Control<QLineEdit>(1009)->isEnabled());
  EXPECT_EQ(Control<QLineEdit>(1020)->text().toStdString(), Root());
  EXPECT_TRUE(Control<QLineEdit>(1020)->isReadOnly());
  EXPECT_TRUE(Control<QCheckBox>(1015)->isChecked()) << "notices are on at start";
}

TEST_F(OptionsTest, ControlsFollowTheBoxAndTheType) {
  Start();
  auto* use = Control<QCheckBox>(1006);
  auto* type = Control<QComboBox>(1008);
  EXPECT_FALSE(type->isEnabled());
  EXPECT_FALSE(Control<QLineEdit>(1009)->isEnabled());
  use->click();
  EXPECT_TRUE(type->isEnabled());

  type->setCurrentIndex(2);  // SOCKS5
  emit type->activated(2);
  EXPECT_EQ(Control<QLineEdit>(1010)->text(), "1080");
  EXPECT_TRUE(Control<QLineEdit>(1009)->isEnabled());
  type->setCurrentIndex(0);
  emit type->activated(0);
  EXPECT_EQ(Control<QLineEdit>(1010)->text(), "80");
  Control<QLineEdit>(1009)->setText("proxy");
  type->setCurrentIndex(3);  // the system's setting
  emit type->activated(3);
  for (int id : {1009, 1010, 1011, 1012}) {
    EXPECT_FALSE(Control<QLineEdit>(id)->isEnabled()) << id;
    EXPECT_TRUE(Control<QLineEdit>(id)->text().isEmpty()) << id;
  }
  use->click();
  EXPECT_FALSE(type->isEnabled());
}

TEST_F(OptionsTest, OkWithAMissingHostStaysOpenAndSavesNothing) {
  Start();
  Control<QCheckBox>(1006)->click();
  Control<QComboBox>(1008)->setCurrentIndex(0);
  emit Control<QComboBox>(1008)->activated(0);
  dialog_->Sheet()->setCurrentIndex(1);
  ModalAnswerer answerer;
  Control<QPushButton>(1)->click();
  ASSERT_EQ(answerer.Boxes().size(), 1u);
  EXPECT_EQ(answerer.Boxes()[0].text, QString::fromUtf8("未设置代理服务器地址"));
  EXPECT_EQ(answerer.Boxes()[0].title, "Vessa");
  EXPECT_EQ(answerer.Boxes()[0].icon, QMessageBox::Critical);
  EXPECT_TRUE(dialog_->isVisible());
  EXPECT_EQ(dialog_->Sheet()->currentIndex(), 0) << "the page with the problem is shown";
  EXPECT_EQ(dialog_->focusWidget(), Control<QLineEdit>(1009));
  EXPECT_EQ(Config().GetProxyFlag(), 0);

  Control<QLineEdit>(1009)->setText("proxy");
  Control<QLineEdit>(1010)->clear();
  Control<QPushButton>(1)->click();
  ASSERT_EQ(answerer.Boxes().size(), 2u);
  EXPECT_EQ(answerer.Boxes()[1].text, QString::fromUtf8("未代理服务器端口"));
}

TEST_F(OptionsTest, OkSavesTheProxyAndCancelDropsIt) {
  Start();
  Control<QCheckBox>(1006)->click();
  Control<QComboBox>(1008)->setCurrentIndex(0);
  emit Control<QComboBox>(1008)->activated(0);
  Control<QLineEdit>(1009)->setText("proxy.lan");
  Control<QPushButton>(1)->click();
  EXPECT_FALSE(dialog_->isVisible());
  EXPECT_EQ(Config().GetProxyFlag(), 1);
  EXPECT_EQ(Config().Get(CConfig::kProxyAddr), "proxy.lan:80");
  CConfig stored;
  ASSERT_TRUE(stored.Init(root_ / ".db/client.db"));
  ASSERT_TRUE(stored.Load());
  EXPECT_EQ(stored.Get(CConfig::kProxyAddr), "proxy.lan:80");

  COption second(app_);
  second.show();
  FindControl<QCheckBox>(&second, 1006)->click();  // untick
  FindControl<QPushButton>(&second, 2)->click();
  EXPECT_EQ(Config().GetProxyFlag(), 1) << "cancelled";
}

TEST_F(OptionsTest, NoticesSwitchActsAtOnce) {
  Start();
  Control<QCheckBox>(1015)->click();
  EXPECT_EQ(Config().GetShowNotices(), 0);
  Control<QCheckBox>(1015)->click();
  EXPECT_EQ(Config().GetShowNotices(), 1);
}

TEST_F(OptionsTest, MoveIsRefusedWhileNotIdleAndNothingChanges) {
  Start();
  ASSERT_FALSE(app_.Work()->IsSyncEnabled()) << "logged out";
  bool asked = false;
  COtherOptions::SetFolderPicker([&](QWidget*) {
    asked = true;
    return QString::fromStdString(root_ / "elsewhere");
  });
  ModalAnswerer answerer;
  Control<QPushButton>(1017)->click();
  ASSERT_EQ(answerer.Boxes().size(), 1u);
  EXPECT_EQ(answerer.Boxes()[0].text, QString::fromUtf8("请在同步完成后移动数据 "));
  EXPECT_EQ(answerer.Boxes()[0].title, QString::fromUtf8("提示"));
  EXPECT_FALSE(asked) << "no folder is asked for";
  EXPECT_NE(app_.Work(), nullptr);
  COtherOptions::SetFolderPicker(nullptr);
}

// ---- the move itself ---------------------------------------------------------

TEST(DataMoveTest, NewFolderIsVessaDataUnderTheChoice) {
  EXPECT_EQ(NewDataFolder("/"), "/VessaData");
  EXPECT_EQ(NewDataFolder("/mnt/d/"), "/mnt/d/VessaData");
  EXPECT_EQ(NewDataFolder("/mnt/d/data"), "/mnt/d/data/VessaData");
}

TEST(DataMoveTest, ChecksRefuseWhatWouldLoseOrTangleData) {
  TempDir dir;
  const std::string old = dir / "Vessa";
  fs::create_directories(old + "/.db");
  fs::create_directories(dir / "full/VessaData/x");
  fs::create_directories(dir / "empty/VessaData");
  WriteFile(dir / "file", "");
  fs::create_directories(dir / "fileparent");
  WriteFile(dir / "fileparent/VessaData", "not a folder");
  struct Case {
    std::string target;
    MoveRefusal refusal;
  };
  const Case cases[] = {
      {dir / "full/VessaData", MoveRefusal::kDestinationNotEmpty},
      {dir / "fileparent/VessaData", MoveRefusal::kDestinationNotEmpty},
      {dir / "empty/VessaData", MoveRefusal::kNone},
      {dir / "new/VessaData", MoveRefusal::kNone},
      {old + "/sub/VessaData", MoveRefusal::kInsideOldFolder},
      {old + "/VessaData", MoveRefusal::kInsideOldFolder},
      {dir / "Vessa2/VessaData", MoveRefusal::kNone},  // a name that only starts like the old one
      {"/" + std::string(170, 'a') + "/VessaData", MoveRefusal::kPathTooLong},
  };
  for (const Case& c : cases) EXPECT_EQ(CheckDataMove(old, c.target), c.refusal) << c.target;
  EXPECT_NE(RefusalMessage(MoveRefusal::kDestinationNotEmpty, "/x/VessaData").find("/x/VessaData"),
            std::string::npos);
}

TEST(DataMoveTest, MoveCarriesEverythingAndLeavesNoOldFolder) {
  TempDir dir;
  const std::string old = dir / "Vessa";
  fs::create_directories(old + "/alice/docs");
  fs::create_directories(old + "/.db");
  WriteFile(old + "/alice/docs/a.txt", "alpha");
  WriteFile(old + "/.db/client.db", "db");
  fs::create_directories(dir / "target/VessaData");  // an empty folder is taken over
  int error = -1;
  EXPECT_EQ(MoveDataFolder(old, dir / "target/VessaData", error), MoveResult::kMoved);
  EXPECT_EQ(error, 0);
  EXPECT_EQ(ReadFile(dir / "target/VessaData/alice/docs/a.txt"), "alpha");
  EXPECT_EQ(ReadFile(dir / "target/VessaData/.db/client.db"), "db");
  EXPECT_FALSE(fs::exists(old));
  EXPECT_FALSE(fs::exists(dir / "target/VessaData/Vessa")) << "moved as the folder, not into it";
}

TEST(DataMoveTest, FailedMoveLeavesTheDataWhereItWas) {
  TempDir dir;
  const std::string old = dir / "Vessa";
  fs::create_directories(old);
  WriteFile(old + "/a.txt", "alpha");
  WriteFile(dir / "plainfile", "");
  int error = 0;
  EXPECT_EQ(MoveDataFolder(old, dir / "plainfile/VessaData", error), MoveResult::kFailed);
  EXPECT_NE(error, 0);
  EXPECT_EQ(ReadFile(old + "/a.txt"), "alpha");
}

TEST(DataMoveTest, MoveToAnotherFileSystemCopiesThenDeletes) {
  TempDir dir;
  struct stat here {}, there {};
  if (stat(dir.path().c_str(), &here) != 0 || stat("/dev/shm", &there) != 0 || here.st_dev == there.st_dev) {
    GTEST_SKIP() << "no second file system at /dev/shm";
  }
  const std::string target = "/dev/shm/vessa-move-" + std::to_string(getpid());
  const std::string old = dir / "Vessa";
  fs::create_directories(old + "/alice");
  WriteFile(old + "/alice/a.txt", "alpha");
  int error = -1;
  EXPECT_EQ(MoveDataFolder(old, target + "/VessaData", error), MoveResult::kMoved);
  EXPECT_EQ(ReadFile(target + "/VessaData/alice/a.txt"), "alpha");
  EXPECT_FALSE(fs::exists(old));
  fs::remove_all(target);
}
