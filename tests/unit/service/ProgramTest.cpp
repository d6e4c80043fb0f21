// The vessa-service program itself: its command line and `serve` with a
// port picked by the system.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

#include "protocol/Auth.h"
#include "protocol/Back.h"
#include "tests/support/TempDir.h"

extern char** environ;

namespace {

struct Outcome {
  int code = -1;
  std::string output;  // standard output and error
};

Outcome RunProgram(const std::string& arguments) {
  Outcome outcome;
  FILE* pipe = popen((std::string(VESSA_SERVICE_PROGRAM) + " " + arguments + " 2>&1").c_str(), "r");
  char buffer[1024];
  while (pipe && fgets(buffer, sizeof buffer, pipe)) outcome.output += buffer;
  const int status = pipe ? pclose(pipe) : -1;
  outcome.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return outcome;
}

TEST(ServiceProgramTest, CommandLineContract) {
  TempDir dir;
  const std::string data = "--data '" + dir.path() + "/svc' ";
  struct Case {
    std::string arguments;
    int code;
    const char* says;
  };
  const std::vector<Case> cases = {
      {"--help", 0, "usage: vessa-service --data DIR COMMAND"},
      {"", 2, "--data DIR is required"},
      {data, 2, "a command is required"},
      {data + "adduser ann pw", 1, "run init first"},
      {data + "init", 0, "initialised"},
      {data + "init", 0, "initialised"},
      {data + "frobnicate", 2, "unknown command: frobnicate"},
      {data + "adduser ann", 2, "adduser takes 2 arguments"},
      {data + "adduser ann pw", 0, "added ann"},
      {data + "adduser ann other", 1, "user exists: ann"},
      {data + "adduser 1234 pw", 1, "invalid user name"},
      {data + "adduser 'a/b' pw", 1, "invalid user name"},
      {data + "passwd nobody pw", 1, "unknown user: nobody"},
      {data + "passwd ann newpw", 0, "password changed for ann"},
      {data + "message hello --expire-in soon", 2, "--expire-in needs a number"},
      {data + "message hello --expire-in 60", 0, "message 1"},
      {data + "share ann /docs bob", 1, "unknown user bob"},
      {data + "stats", 0, ""},
      {data + "serve --port 70000", 2, "--port needs a number from 0 to 65535"},
      {data + "serve --colour red", 2, "serve does not take --colour"},
  };
  for (const Case& c : cases) {
    const Outcome outcome = RunProgram(c.arguments);
    EXPECT_EQ(outcome.code, c.code) << c.arguments << "\n" << outcome.output;
    EXPECT_NE(outcome.output.find(c.says), std::string::npos) << c.arguments << "\n" << outcome.output;
  }
}

TEST(ServiceProgramTest, ServeOnAFreePortUntilTerminated) {
  TempDir dir;
  const std::string data = dir / "svc";
  ASSERT_EQ(RunProgram("--data '" + data + "' init").code, 0);
  ASSERT_EQ(RunProgram("--data '" + data + "' adduser ann s3cret").code, 0);
  struct stat info {};
  ASSERT_EQ(stat(data.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  ASSERT_EQ(stat((data + "/service.db").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  int out[2];
  ASSERT_EQ(pipe(out), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  std::vector<std::string> words = {VESSA_SERVICE_PROGRAM, "--data", data, "serve", "--port", "0"};
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);

  std::unique_ptr<FILE, int (*)(FILE*)> output(fdopen(out[0], "r"), fclose);
  char line[256] = "";
  ASSERT_TRUE(fgets(line, sizeof line, output.get()));
  const std::string text = line;
  ASSERT_EQ(text.rfind("listening on 127.0.0.1:", 0), 0u) << text;
  const std::string address = text.substr(13, text.size() - 14);

  CAuth auth;
  auth.Init("http://" + address + "/vorportal/LoginServlet", "ann", "s3cret");
  std::string passport, back, transmitter, heartbeat, host, result;
  EXPECT_EQ(auth.Request(passport, "", ""), 1);
  auth.GetServers(back, transmitter, heartbeat);
  EXPECT_EQ(back, "http://" + address + "/axis2/services/vor_service_bs");
  CBack client;
  client.Init(back, "ann", "s3cret", "", "");
  client.SetCredentials("ann", "s3cret", passport);
  EXPECT_EQ(client.GetHostID("pc", host), 1);

  kill(pid, SIGTERM);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
