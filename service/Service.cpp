#include "service/Service.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "service/BackHandlers.h"
#include "service/HttpFront.h"
#include "service/TransmitterHandlers.h"

struct CService::State {
  explicit State(const ServiceOptions& options)
      : chunks(db, ChunkFolder(options.dataFolder)),
        accounts(db),
        tree(db, accounts, chunks),
        uploads(db, tree, chunks),
        parts{options, accounts, tree, chunks, uploads},
        back(accounts, BackOperations(parts)),
        transmitter(accounts, TransmitterOperations(parts)),
        heartbeat(accounts, HeartbeatOperations(parts)),
        front(parts, {back, transmitter, heartbeat}, log) {}

  CLogger log;
  CServiceDb db;
  CChunkStore chunks;
  CAccounts accounts;
  CTree tree;
  CUploads uploads;
  ServiceParts parts;
  CSoapEndpoint back;
  CSoapEndpoint transmitter;
  CSoapEndpoint heartbeat;
  CHttpFront front;
};

bool InitDataFolder(const std::string& folder, std::string& error) {
  std::error_code code;
  std::filesystem::create_directories(folder, code);
  if (code || ::chmod(folder.c_str(), 0700) != 0) {
    error = "cannot create " + folder + ": " + (code ? code.message() : std::strerror(errno));
    return false;
  }
  CServiceDb db;
  CChunkStore chunks(db, ChunkFolder(folder));
  return db.Open(DatabasePath(folder), true, error) && chunks.Prepare(error);
}

CService::CService(ServiceOptions options) : options_(std::move(options)) {}

CService::~CService() { Stop(); }

bool CService::Start(std::string& error) {
  Stop();
  state_ = std::make_unique<State>(options_);
  if (!state_->log.Open(LogPath(options_.dataFolder))) {
    error = "cannot open the log: " + state_->log.LastError();
    return false;
  }
  state_->log.SetLevel(CLogger::kInfo);
  if (!state_->db.Open(DatabasePath(options_.dataFolder), false, error) || !state_->chunks.Prepare(error)) {
    error += " (run init first?)";
    return false;
  }
  try {
    state_->uploads.DropAll();
  } catch (const CDbError& failure) {
    error = failure.what();
    return false;
  }
  if (!state_->front.Start(error)) return false;
  state_->log.Log(CLogger::kInfo, "CService::Start", "listening on " + Address());
  return true;
}

void CService::Stop() {
  if (state_) state_->front.Stop();
  state_.reset();
}

int CService::Port() const { return state_ ? state_->front.Port() : 0; }

std::string CService::Address() const { return state_ ? state_->front.Address() : ""; }
