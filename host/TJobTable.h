#pragma once
// The background jobs of one library: the table of jobs, the workers that
// run them, and the queue of records (progress and ends) on their way to
// the host's thread.
//
// Threads. The host's thread starts, looks at, cancels, closes and takes
// jobs; a running job is a worker thread working on the job's own objects
// (TJobWork). Everything both sides touch is guarded by one lock: the table,
// the jobs' states and outcomes, the record queue and the counts of workers.
// A running job's byte counts are atomic and read without it. A worker that
// queues a record calls the wake routine, which reaches the host's message
// loop from any thread.
//
// Records. Each job gets exactly one end record (DONE, FAILED or
// CANCELLED), its last; progress records at most one per interval while the
// job moves data, never more than one of a job waiting at once (a newer one
// takes the waiting one's place), so the queue holds at most two records a
// job. A job's records go with it when the script takes or closes it.
#include "host/TJobWork.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace platform {
class Thread;
}

enum class TJobState { Waiting, Running, Done, Failed, Cancelled };

// "WAITING", "RUNNING", "DONE", "FAILED", "CANCELLED".
const char *JobStateName(TJobState state);

// What STATUS and a record tell of a job.
struct TJobStatus {
  std::uint64_t Id = 0;
  TJobState State = TJobState::Waiting;
  std::int64_t Done = 0;
  // -1 while unknown.
  std::int64_t Total = -1;
  // The host code the blocking command would have returned; 0 until the end.
  std::int32_t Code = 0;
};

// How a job ended: the blocking command's internal error number, the host
// code, and the text IPERROR would then give (none for failures that leave
// it as it was).
struct TJobOutcome {
  std::int32_t Error = 0;
  std::int32_t Code = 0;
  std::optional<std::string> Text;
};

class TJobTable {
public:
  static constexpr int DefaultMax = 4;
  static constexpr int MostAtOnce = 64;
  static constexpr int DefaultProgressMs = 250;
  // Jobs known at once (running, waiting, or ended and not yet taken).
  static constexpr std::size_t MostJobs = 4096;

  // wake: called from any thread when records wait.
  explicit TJobTable(std::function<void()> wake);
  // Cancels every job and waits until no worker runs.
  ~TJobTable();
  TJobTable(const TJobTable &) = delete;
  TJobTable &operator=(const TJobTable &) = delete;

  // A new job, waiting or running; its id (from 1, never reused). Raises
  // EStateError past MostJobs and when the system gives no thread.
  std::uint64_t Start(std::unique_ptr<TJobWork> work);
  // False when id names no job.
  bool Status(std::uint64_t id, TJobStatus &status) const;
  // Waits up to ms milliseconds for the job's end.
  bool Wait(std::uint64_t id, int ms, TJobStatus &status);
  bool Outcome(std::uint64_t id, TJobOutcome &outcome) const;
  // Stops a waiting or running job: it ends CANCELLED. False when id names
  // no job.
  bool Cancel(std::uint64_t id);
  // Cancels the job if it runs and forgets it and its records.
  bool Close(std::uint64_t id);
  enum class TTake { Unknown, NotEnded, Taken };
  // An ended job is forgotten with its records; its outcome goes to the
  // caller, and its work when it ended DONE (a job that did not end so has
  // dropped its work at its end).
  TTake Take(std::uint64_t id, TJobStatus &status, TJobOutcome &outcome,
             std::unique_ptr<TJobWork> &work);
  // 1 to MostAtOnce.
  void SetMax(int max);
  // 0: no progress records.
  void SetProgressInterval(int ms) { progressMs_ = ms; }
  // The oldest record not yet taken.
  bool NextRecord(TJobStatus &record);
  // How many records were queued since the last call.
  int TakeAnnouncements();

  // Called on the worker, without the lock, when a job's work has run and
  // before its end is decided: the moment a late cancel meets (for tests).
  // Set before jobs start.
  std::function<void(std::uint64_t id)> AfterRun;

private:
  struct TJob;
  void StartWorkers();
  void WorkerLoop();
  void RunJob(const std::shared_ptr<TJob> &job);
  void Moved(TJob &job);
  void Queue(const TJobStatus &record);
  void Forget(std::uint64_t id);
  void JoinEndedWorkers();
  TJobStatus StatusOf(const TJob &job) const;

  const std::function<void()> wake_;
  mutable std::mutex lock_;
  std::condition_variable ended_;
  std::map<std::uint64_t, std::shared_ptr<TJob>> jobs_;
  std::deque<std::shared_ptr<TJob>> waiting_;
  std::deque<TJobStatus> records_;
  int announcements_ = 0;
  std::uint64_t nextId_ = 1;
  int max_ = DefaultMax;
  int running_ = 0;
  int workers_ = 0;
  bool stopping_ = false;
  std::atomic<int> progressMs_{DefaultProgressMs};
  // Started by the host's thread, joined by it once they have ended.
  std::vector<std::unique_ptr<platform::Thread>> threads_;
};
