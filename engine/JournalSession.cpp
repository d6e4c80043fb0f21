#include "engine/WorkInternal.h"
#include "store/ChunkJournal.h"
#include "store/FileJournal.h"

int CJournalSession::Open() {
  open_ = files_.OpenDB() == 1;
  return open_ ? 1 : 0;
}

void CJournalSession::BeginBatch() {
  if (!open_ || batch_) return;
  if (!files_.BeginBatch()) return;
  batch_ = true;
  // The chunk journal writes through the same connection: on one of its own
  // it would wait for the batch's write lock until the busy time-out.
  chunks_.UseConnection(files_.Connection());
}

void CJournalSession::Checkpoint() {
  if (!batch_) return;
  EndBatch();
  BeginBatch();
}

void CJournalSession::EndBatch() {
  if (!batch_) return;
  chunks_.ReleaseConnection();
  files_.CommitBatch();
  batch_ = false;
}

void CJournalSession::Close() {
  if (!open_) return;
  EndBatch();
  files_.CloseDB();
  open_ = false;
}
