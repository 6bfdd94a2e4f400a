#include "host/TJobTable.h"

#include "host/ErrorCodes.h"
#include "tcpip/ETcpIpError.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace {

// What the scripted works of one test share: how many run at once, the
// order they began in, and the gate that holds them until the test opens it.
struct Stage {
  std::mutex Lock;
  std::condition_variable Changed;
  bool Open = false;
  int Running = 0;
  int MostRunning = 0;
  std::vector<int> Began;
  std::atomic<int> Committed{0};
  // The table's wake-ups, as a host's loop would get them.
  std::mutex WakeLock;
  std::condition_variable Woke;
  int Wakes = 0;

  void Wake() {
    const std::lock_guard<std::mutex> hold(WakeLock);
    ++Wakes;
    Woke.notify_all();
  }

  void Release() {
    const std::lock_guard<std::mutex> hold(Lock);
    Open = true;
    Changed.notify_all();
  }
  bool WaitForRunning(int count) {
    std::unique_lock<std::mutex> hold(Lock);
    return Changed.wait_for(hold, std::chrono::seconds(10), [&] { return Running >= count; });
  }
};

// A job's work without a network: it moves bytes as told, waits at the gate
// (or for its cancel), then succeeds or fails.
class ScriptedWork : public TJobWork {
public:
  ScriptedWork(Stage &stage, int tag, bool fail = false) : stage_(stage), tag_(tag), fail_(fail) {
    Counts = &counts_;
  }
  void Run() override {
    counts_.Expect(TDirection::Received, 300);
    for (int k = 0; k < 3; ++k)
      counts_.Add(TDirection::Received, 100);
    {
      std::unique_lock<std::mutex> hold(stage_.Lock);
      stage_.Began.push_back(tag_);
      stage_.MostRunning = std::max(stage_.MostRunning, ++stage_.Running);
      stage_.Changed.notify_all();
      // A cancel reaches a worker through its connections; here it is looked
      // for while the gate is shut.
      while (!stage_.Open && !Cancel.Cancelled())
        stage_.Changed.wait_for(hold, std::chrono::milliseconds(5));
      --stage_.Running;
      stage_.Changed.notify_all();
    }
    Cancel.Check();
    if (fail_)
      throw ETcpIpError("refused");
  }
  void Commit() override { ++stage_.Committed; }

private:
  Stage &stage_;
  int tag_;
  bool fail_;
  TByteCounts counts_;
};

class JobTableTest : public ::testing::Test {
protected:
  std::uint64_t Start(int tag, bool fail = false) {
    return jobs.Start(std::make_unique<ScriptedWork>(stage, tag, fail));
  }
  TJobStatus WaitFor(std::uint64_t id) {
    TJobStatus status;
    EXPECT_TRUE(jobs.Wait(id, 10000, status));
    return status;
  }
  // The next record, once the table has woken its host for it.
  bool NextRecord(TJobStatus &record) {
    std::unique_lock<std::mutex> hold(stage.WakeLock);
    return stage.Woke.wait_for(hold, std::chrono::seconds(10),
                               [&] { return jobs.NextRecord(record); });
  }
  std::vector<TJobStatus> Records() {
    std::vector<TJobStatus> all;
    for (TJobStatus r; jobs.NextRecord(r);)
      all.push_back(r);
    return all;
  }

  Stage stage;
  TJobTable jobs{[this] { stage.Wake(); }};
};

} // namespace

TEST_F(JobTableTest, AtMostMaxRunAndTheRestWaitInTheOrderStarted) {
  jobs.SetMax(3);
  std::vector<std::uint64_t> ids;
  for (int k = 0; k < 8; ++k)
    ids.push_back(Start(k));
  ASSERT_TRUE(stage.WaitForRunning(3));
  TJobStatus status;
  ASSERT_TRUE(jobs.Status(ids[7], status));
  EXPECT_EQ(status.State, TJobState::Waiting);
  EXPECT_EQ(status.Done, 0);
  EXPECT_EQ(status.Total, -1);
  ASSERT_TRUE(jobs.Status(ids[0], status));
  EXPECT_EQ(status.State, TJobState::Running);
  stage.Release();
  for (const std::uint64_t id : ids) {
    status = WaitFor(id);
    EXPECT_EQ(status.State, TJobState::Done);
    EXPECT_EQ(status.Done, 300);
    EXPECT_EQ(status.Total, 300);
  }
  EXPECT_EQ(stage.MostRunning, 3);
  EXPECT_EQ(ids.front(), 1u);
  EXPECT_EQ(ids.back(), 8u);
  // One at a time, they run in the order they were started.
  jobs.SetMax(1);
  stage.Began.clear();
  for (int k = 10; k < 14; ++k)
    ids.push_back(Start(k));
  EXPECT_EQ(WaitFor(ids.back()).State, TJobState::Done);
  for (const std::uint64_t id : ids)
    EXPECT_EQ(WaitFor(id).State, TJobState::Done);
  EXPECT_EQ(stage.Began, (std::vector<int>{10, 11, 12, 13}));
}

TEST_F(JobTableTest, EveryJobHasExactlyOneEndRecordItsLast) {
  jobs.SetMax(8);
  jobs.SetProgressInterval(1);
  stage.Release();
  constexpr int Count = 200;
  for (int k = 0; k < Count; ++k)
    Start(k, k % 7 == 0);
  std::vector<int> ends(Count + 1, 0);
  for (int ended = 0; ended < Count;) {
    TJobStatus r;
    ASSERT_TRUE(NextRecord(r)) << ended << " ended";
    ASSERT_GE(r.Id, 1u);
    ASSERT_LE(r.Id, static_cast<std::uint64_t>(Count));
    // Nothing of a job after its end.
    ASSERT_EQ(ends[r.Id], 0) << r.Id;
    if (r.State != TJobState::Running) {
      ++ends[r.Id];
      ++ended;
      EXPECT_EQ(r.State, r.Id % 7 == 1 ? TJobState::Failed : TJobState::Done) << r.Id;
      EXPECT_EQ(r.Code, r.Id % 7 == 1 ? 206 : 0);
    } else {
      EXPECT_GT(r.Done, 0);
    }
  }
  TJobStatus extra;
  EXPECT_FALSE(jobs.NextRecord(extra));
  EXPECT_EQ(stage.Committed, Count - (Count + 6) / 7);
}

TEST_F(JobTableTest, CancelEndsWaitingAndRunningJobsCancelled) {
  jobs.SetMax(1);
  const std::uint64_t running = Start(1);
  const std::uint64_t waiting = Start(2);
  ASSERT_TRUE(stage.WaitForRunning(1));
  // A waiting job ends at once; it never runs.
  ASSERT_TRUE(jobs.Cancel(waiting));
  TJobStatus status;
  ASSERT_TRUE(jobs.Status(waiting, status));
  EXPECT_EQ(status.State, TJobState::Cancelled);
  EXPECT_EQ(status.Code, 206);
  // One that runs is not taken until it has ended.
  TJobOutcome outcome;
  std::unique_ptr<TJobWork> work;
  EXPECT_EQ(jobs.Take(running, status, outcome, work), TJobTable::TTake::NotEnded);
  ASSERT_TRUE(jobs.Cancel(running));
  status = WaitFor(running);
  EXPECT_EQ(status.State, TJobState::Cancelled);
  EXPECT_EQ(jobs.Take(running, status, outcome, work), TJobTable::TTake::Taken);
  EXPECT_EQ(outcome.Code, 206);
  EXPECT_EQ(outcome.Text, "Cancelled");
  // Taken, it is unknown, and so are its records.
  EXPECT_FALSE(jobs.Status(running, status));
  EXPECT_FALSE(jobs.Cancel(running));
  for (const TJobStatus &r : Records())
    EXPECT_EQ(r.Id, waiting);
  EXPECT_EQ(stage.Began, std::vector<int>{1});
  EXPECT_EQ(stage.Committed, 0);
}

TEST_F(JobTableTest, CloseForgetsAJobAtOnceAndItsWorkerEndsItUnheard) {
  const std::uint64_t id = Start(1);
  ASSERT_TRUE(stage.WaitForRunning(1));
  ASSERT_TRUE(jobs.Close(id));
  TJobStatus status;
  EXPECT_FALSE(jobs.Status(id, status));
  EXPECT_FALSE(jobs.Close(id));
  // The next job runs once the closed one's worker has let go of it.
  const std::uint64_t next = Start(2);
  stage.Release();
  EXPECT_EQ(WaitFor(next).State, TJobState::Done);
  for (const TJobStatus &r : Records())
    EXPECT_EQ(r.Id, next);
  EXPECT_EQ(stage.Committed, 1);
}

TEST(JobTableLifetime, ReleaseCancelsRunningJobsAndWaitsForTheirWorkers) {
  Stage stage;
  {
    TJobTable jobs([] {});
    for (int k = 0; k < 6; ++k)
      jobs.Start(std::make_unique<ScriptedWork>(stage, k));
    ASSERT_TRUE(stage.WaitForRunning(TJobTable::DefaultMax));
  }
  // No worker runs a job any more, and none was committed.
  EXPECT_EQ(stage.Running, 0);
  EXPECT_EQ(stage.Began.size(), static_cast<std::size_t>(TJobTable::DefaultMax));
  EXPECT_EQ(stage.Committed, 0);
}
