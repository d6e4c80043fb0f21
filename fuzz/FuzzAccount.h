#pragma once
// A service data folder for the service's fuzz targets: a temporary folder
// (removed at exit) holding user "fuzz" with a registered computer and a
// passport. Inputs name these credentials by placeholders, so that they get
// past the sender's checks: "@USER@", "@DIGEST@" (the head's password form),
// "@PASSPORT@" and "@HOST@".
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "service/Accounts.h"
#include "service/Service.h"
#include "service/ServiceDb.h"
#include "service/ServiceOptions.h"

class FuzzAccount {
 public:
  FuzzAccount() {
    std::string pattern = std::filesystem::temp_directory_path().string() + "/vessa-fuzz-XXXXXX";
    if (!mkdtemp(pattern.data())) std::abort();
    folder_ = pattern + "/data";
    std::string error;
    if (!InitDataFolder(folder_, error)) std::abort();
    CServiceDb db;
    if (!db.Open(DatabasePath(folder_), false, error)) std::abort();
    CAccounts accounts(db);
    accounts.AddUser(kUser, kPassword);
    UserRecord user;
    if (!accounts.FindUser(kUser, user)) std::abort();
    passport_ = accounts.IssuePassport(user.id, 10 * 365 * 24 * 3600);
    host_ = accounts.RegisterHost(user.id, "fuzz-pc");
    digest_ = CAccounts::HeadDigest(kPassword);
    removeAtExit_ = pattern;
    std::atexit([] { std::filesystem::remove_all(removeAtExit_); });
  }

  const std::string& folder() const { return folder_; }

  // The input with its placeholders replaced by the account's credentials.
  std::string Fill(std::string text) const {
    Replace(text, "@USER@", kUser);
    Replace(text, "@DIGEST@", digest_);
    Replace(text, "@PASSPORT@", passport_);
    Replace(text, "@HOST@", host_);
    return text;
  }

 private:
  static void Replace(std::string& text, const std::string& from, const std::string& to) {
    for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) {
      text.replace(at, from.size(), to);
    }
  }

  static constexpr const char* kUser = "fuzz";
  static constexpr const char* kPassword = "fuzz-password";
  static inline std::string removeAtExit_;
  std::string folder_;
  std::string passport_;
  std::string host_;
  std::string digest_;
};
