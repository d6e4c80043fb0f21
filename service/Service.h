#pragma once
// The whole service in one object: the data folder's state, the handlers
// and the HTTP front. Tests run it in-process; vessa-service's `serve`
// runs it until a signal.
#include <memory>
#include <string>

#include "service/ServiceOptions.h"

// Creates the data folder (owner-only), its chunk folder and service.db.
// Safe on an existing folder. False with `error`.
bool InitDataFolder(const std::string& folder, std::string& error);

class CService {
 public:
  explicit CService(ServiceOptions options);
  ~CService();
  CService(const CService&) = delete;
  CService& operator=(const CService&) = delete;

  // Opens the initialised data folder, forgets unfinished uploads and
  // starts listening. False with `error`.
  bool Start(std::string& error);
  void Stop();
  int Port() const;
  // "HOST:PORT" as listened on.
  std::string Address() const;

 private:
  struct State;
  ServiceOptions options_;
  std::unique_ptr<State> state_;
};
