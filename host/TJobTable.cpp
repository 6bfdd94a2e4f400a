#include "host/TJobTable.h"

#include "host/ErrorCodes.h"
#include "host/Failures.h"
#include "ip_misc/Errors.h"
#include "platform/Thread.h"

#include <algorithm>
#include <utility>

struct TJobTable::TJob {
  std::uint64_t Id = 0;
  TJobState State = TJobState::Waiting;
  std::unique_ptr<TJobWork> Work;
  TJobOutcome Outcome;
  // How far it came, fixed at its end.
  std::int64_t Done = 0;
  std::int64_t Total = -1;
  bool CancelAsked = false;
  // Closed while it ran: nobody hears of it any more.
  bool Forgotten = false;
  // The worker's own: when its last progress record went, and how far.
  std::chrono::steady_clock::time_point LastRecord{};
  std::int64_t LastDone = 0;
};

const char *JobStateName(TJobState state) {
  switch (state) {
  case TJobState::Waiting: return "WAITING";
  case TJobState::Running: return "RUNNING";
  case TJobState::Done: return "DONE";
  case TJobState::Failed: return "FAILED";
  case TJobState::Cancelled: return "CANCELLED";
  }
  return "";
}

namespace {

bool Ended(TJobState state) {
  return state == TJobState::Done || state == TJobState::Failed || state == TJobState::Cancelled;
}

// A size is the server's word: never more than the whole.
std::int64_t Within(std::int64_t done, std::int64_t total) {
  return total >= 0 ? std::min(done, total) : done;
}

TJobOutcome OutcomeOf(const TFailure &failure) {
  return {failure.Error, TranslateError(failure.Error), failure.Text};
}

const TJobOutcome CancelledOutcome{ErrProtocol, TranslateError(ErrProtocol), "Cancelled"};

} // namespace

TJobTable::TJobTable(std::function<void()> wake) : wake_(std::move(wake)) {}

TJobTable::~TJobTable() {
  {
    const std::lock_guard<std::mutex> hold(lock_);
    stopping_ = true;
    waiting_.clear();
    for (const auto &entry : jobs_)
      if (entry.second->State == TJobState::Running) {
        entry.second->CancelAsked = true;
        entry.second->Work->Cancel.Cancel();
      }
  }
  // Without the lock: the workers need it to end.
  threads_.clear();
}

std::uint64_t TJobTable::Start(std::unique_ptr<TJobWork> work) {
  JoinEndedWorkers();
  auto job = std::make_shared<TJob>();
  job->Work = std::move(work);
  {
    const std::lock_guard<std::mutex> hold(lock_);
    if (jobs_.size() >= MostJobs)
      throw EStateError(ErrTooManyJobs, std::to_string(MostJobs) +
                                            " jobs are known already; take or close some first");
    job->Id = nextId_++;
    jobs_.emplace(job->Id, job);
    waiting_.push_back(job);
  }
  StartWorkers();
  return job->Id;
}

void TJobTable::StartWorkers() {
  for (;;) {
    {
      const std::lock_guard<std::mutex> hold(lock_);
      // A worker that has not yet picked a job will pick one of these.
      const int idle = workers_ - running_;
      if (workers_ >= max_ || static_cast<std::size_t>(std::max(idle, 0)) >= waiting_.size())
        return;
      ++workers_;
    }
    try {
      threads_.push_back(std::make_unique<platform::Thread>([this] { WorkerLoop(); }));
    } catch (...) {
      // Without a thread the jobs that wait for one fail now, rather than
      // wait for ever.
      std::unique_lock<std::mutex> hold(lock_);
      if (--workers_ > 0)
        return;
      const TJobOutcome failed{ErrInternal, ErrInternal, "The system gives no thread for the job"};
      for (const std::shared_ptr<TJob> &job : waiting_) {
        job->State = TJobState::Failed;
        job->Outcome = failed;
        Queue(StatusOf(*job));
      }
      waiting_.clear();
      hold.unlock();
      wake_();
      return;
    }
  }
}

void TJobTable::WorkerLoop() {
  for (;;) {
    std::shared_ptr<TJob> job;
    {
      const std::lock_guard<std::mutex> hold(lock_);
      if (stopping_ || waiting_.empty() || running_ >= max_) {
        --workers_;
        return;
      }
      job = std::move(waiting_.front());
      waiting_.pop_front();
      job->State = TJobState::Running;
      ++running_;
    }
    // A job closed while it ran goes here, on its worker, with its files
    // and connections.
    RunJob(job);
  }
}

void TJobTable::RunJob(const std::shared_ptr<TJob> &job) {
  TJobWork &work = *job->Work;
  // The first progress record comes an interval after the start: a short
  // job has its end alone.
  job->LastRecord = std::chrono::steady_clock::now();
  if (work.Counts)
    work.Counts->OnMoved = [this, &job = *job] { Moved(job); };
  TJobOutcome outcome = OutcomeOf(CatchFailures([&work] { work.Run(); }));
  if (work.Counts)
    work.Counts->OnMoved = nullptr;
  if (AfterRun)
    AfterRun(job->Id);

  std::unique_lock<std::mutex> hold(lock_);
  // Decided under the lock: a cancel either comes before the end and
  // undoes it, or finds the job ended.
  if (job->CancelAsked)
    outcome = CancelledOutcome;
  else if (outcome.Error == ErrNone)
    outcome = OutcomeOf(CatchFailures([&work] { work.Commit(); }));
  job->State = job->CancelAsked           ? TJobState::Cancelled
               : outcome.Error == ErrNone ? TJobState::Done
                                          : TJobState::Failed;
  job->Outcome = std::move(outcome);
  if (work.Counts) {
    job->Total = work.Counts->Expected(work.Direction);
    job->Done = std::max(job->LastDone, Within(work.Counts->Moved(work.Direction), job->Total));
  }
  --running_;
  // Only a job done has results to take. What another made goes before
  // anyone can see its end (a file not yet in place is gone by then, as
  // with the blocking command); its client has closed its connections, so
  // this is quick.
  if (job->State != TJobState::Done)
    job->Work.reset();
  const bool tell = !job->Forgotten && !stopping_;
  if (tell)
    Queue(StatusOf(*job));
  ended_.notify_all();
  hold.unlock();
  if (tell)
    wake_();
}

void TJobTable::Moved(TJob &job) {
  const int interval = progressMs_.load(std::memory_order_relaxed);
  if (interval <= 0)
    return;
  const auto now = std::chrono::steady_clock::now();
  if (now - job.LastRecord < std::chrono::milliseconds(interval))
    return;
  const TJobWork &work = *job.Work;
  const std::int64_t total = work.Counts->Expected(work.Direction);
  const std::int64_t done = std::max(job.LastDone, Within(work.Counts->Moved(work.Direction), total));
  if (done == job.LastDone)
    return;
  job.LastRecord = now;
  job.LastDone = done;
  {
    const std::lock_guard<std::mutex> hold(lock_);
    if (job.Forgotten || job.CancelAsked || stopping_)
      return;
    Queue({job.Id, TJobState::Running, done, total, 0});
  }
  wake_();
}

void TJobTable::Queue(const TJobStatus &record) {
  if (record.State == TJobState::Running) {
    const auto waiting = std::find_if(records_.begin(), records_.end(), [&](const TJobStatus &r) {
      return r.Id == record.Id && r.State == TJobState::Running;
    });
    if (waiting != records_.end()) {
      *waiting = record;
      return;
    }
  }
  records_.push_back(record);
  ++announcements_;
}

void TJobTable::Forget(std::uint64_t id) {
  std::erase_if(records_, [id](const TJobStatus &r) { return r.Id == id; });
}

TJobStatus TJobTable::StatusOf(const TJob &job) const {
  TJobStatus status{job.Id, job.State, 0, -1, job.Outcome.Code};
  if (Ended(job.State)) {
    status.Done = job.Done;
    status.Total = job.Total;
  } else if (job.State == TJobState::Running && job.Work->Counts) {
    const TJobWork &work = *job.Work;
    status.Total = work.Counts->Expected(work.Direction);
    status.Done = Within(work.Counts->Moved(work.Direction), status.Total);
  }
  return status;
}

bool TJobTable::Status(std::uint64_t id, TJobStatus &status) const {
  const std::lock_guard<std::mutex> hold(lock_);
  const auto it = jobs_.find(id);
  if (it == jobs_.end())
    return false;
  status = StatusOf(*it->second);
  return true;
}

bool TJobTable::Wait(std::uint64_t id, int ms, TJobStatus &status) {
  std::unique_lock<std::mutex> hold(lock_);
  const auto it = jobs_.find(id);
  if (it == jobs_.end())
    return false;
  const std::shared_ptr<TJob> job = it->second;
  ended_.wait_for(hold, std::chrono::milliseconds(ms), [&job] { return Ended(job->State); });
  status = StatusOf(*job);
  return true;
}

bool TJobTable::Outcome(std::uint64_t id, TJobOutcome &outcome) const {
  const std::lock_guard<std::mutex> hold(lock_);
  const auto it = jobs_.find(id);
  if (it == jobs_.end())
    return false;
  outcome = it->second->Outcome;
  return true;
}

bool TJobTable::Cancel(std::uint64_t id) {
  {
    const std::lock_guard<std::mutex> hold(lock_);
    const auto it = jobs_.find(id);
    if (it == jobs_.end())
      return false;
    TJob &job = *it->second;
    if (job.State == TJobState::Running) {
      job.CancelAsked = true;
      job.Work->Cancel.Cancel();
      return true;
    }
    if (job.State != TJobState::Waiting)
      return true;
    std::erase(waiting_, it->second);
    job.State = TJobState::Cancelled;
    job.Outcome = CancelledOutcome;
    Queue(StatusOf(job));
  }
  wake_();
  return true;
}

bool TJobTable::Close(std::uint64_t id) {
  std::shared_ptr<TJob> closed;
  {
    const std::lock_guard<std::mutex> hold(lock_);
    const auto it = jobs_.find(id);
    if (it == jobs_.end())
      return false;
    closed = std::move(it->second);
    jobs_.erase(it);
    Forget(id);
    if (closed->State == TJobState::Waiting)
      std::erase(waiting_, closed);
    if (closed->State == TJobState::Running) {
      closed->Forgotten = true;
      closed->CancelAsked = true;
      closed->Work->Cancel.Cancel();
    }
  }
  // An ended job's objects go here; a running one's with its worker.
  closed.reset();
  JoinEndedWorkers();
  return true;
}

TJobTable::TTake TJobTable::Take(std::uint64_t id, TJobStatus &status, TJobOutcome &outcome,
                                 std::unique_ptr<TJobWork> &work) {
  const std::lock_guard<std::mutex> hold(lock_);
  const auto it = jobs_.find(id);
  if (it == jobs_.end())
    return TTake::Unknown;
  TJob &job = *it->second;
  status = StatusOf(job);
  if (!Ended(job.State))
    return TTake::NotEnded;
  outcome = std::move(job.Outcome);
  work = std::move(job.Work);
  jobs_.erase(it);
  Forget(id);
  return TTake::Taken;
}

void TJobTable::SetMax(int max) {
  {
    const std::lock_guard<std::mutex> hold(lock_);
    max_ = max;
  }
  JoinEndedWorkers();
  StartWorkers();
}

bool TJobTable::NextRecord(TJobStatus &record) {
  const std::lock_guard<std::mutex> hold(lock_);
  if (records_.empty())
    return false;
  record = records_.front();
  records_.pop_front();
  return true;
}

int TJobTable::TakeAnnouncements() {
  const std::lock_guard<std::mutex> hold(lock_);
  return std::exchange(announcements_, 0);
}

void TJobTable::JoinEndedWorkers() {
  std::erase_if(threads_, [](const std::unique_ptr<platform::Thread> &t) { return t->Ended(); });
}
