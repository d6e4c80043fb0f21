#pragma once
// The command line of vessa-service:
//
//   vessa-service --data DIR init
//   vessa-service --data DIR adduser NAME PASSWORD
//   vessa-service --data DIR passwd NAME PASSWORD
//   vessa-service --data DIR share OWNER /path/in/owner/tree USER
//   vessa-service --data DIR message TEXT [--expire-in SECONDS]
//   vessa-service --data DIR stats
//   vessa-service --data DIR serve [--bind ADDR] [--port N] [--compress-threshold N]
//                 [--max-body BYTES] [--setup-name NAME] [--passport-lifetime SECONDS] [--threads N]
//
// Exit codes: 0 done, 1 the command failed (its reason on standard error),
// 2 a usage error. `serve` prints "listening on HOST:PORT" once it accepts
// requests and runs until SIGINT or SIGTERM.
#include <iosfwd>
#include <string>
#include <vector>

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// `args` without the program name.
int RunAdmin(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
