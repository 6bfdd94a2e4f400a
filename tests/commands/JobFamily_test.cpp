#include "host/Library.h"
#include "host/TJobTable.h"

#include "support/Block.h"
#include "support/HttpPeer.h"
#include "support/LoopbackPeer.h"
#include "support/Portable.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace {

int jobEvents = 0;
bool insideCall = false;
bool eventInsideCall = false;

void OnEvent(const char *name) {
  if (std::string(name) != "JOB")
    return;
  ++jobEvents;
  eventInsideCall = eventInsideCall || insideCall;
}

std::string ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class JobFamilyTest : public ::testing::Test {
protected:
  void SetUp() override {
    jobEvents = 0;
    insideCall = eventInsideCall = false;
    ASSERT_FALSE(dir.empty());
  }
  void TearDown() override {
    lib.reset();
    EXPECT_FALSE(eventInsideCall);
    std::filesystem::remove_all(dir);
  }

  std::int32_t Command(std::initializer_list<std::string> texts) {
    insideCall = true;
    const std::int32_t code = lib->CommandProc(Block(texts).data());
    insideCall = false;
    return code;
  }
  std::string Function(std::initializer_list<std::string> texts) {
    insideCall = true;
    std::string result = lib->FuncProc(Block(texts).data());
    insideCall = false;
    return result;
  }
  std::string Start(std::initializer_list<std::string> texts) {
    std::vector<std::string> all{"JOB", "START"};
    all.insert(all.end(), texts);
    std::vector<char> block(65536, '\0');
    std::size_t at = 0;
    for (const std::string &t : all) {
      t.copy(block.data() + at, t.size());
      at += t.size() + 1;
    }
    insideCall = true;
    std::string id = lib->FuncProc(block.data());
    insideCall = false;
    return id;
  }
  // Runs the host's loop until count JOB events have come (10 s at most).
  bool Pump(int count) {
    for (int turns = 0; jobEvents < count && turns < 1000; ++turns)
      lib->ProcessMessages(10);
    return jobEvents >= count;
  }
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(dir))
      names.push_back(entry.path().filename().string());
    return names;
  }

  std::string dir = testsupport::MakeTempDir("scriptnet-jobs-");
  std::unique_ptr<Library> lib = std::make_unique<Library>(0, OnEvent);
};

} // namespace

TEST_F(JobFamilyTest, StartRefusesWhatTheBlockingCommandRefusesAndMakesNoJob) {
  HttpPeer peer("x");
  // Not a job: another family, another subcommand, nothing at all.
  EXPECT_EQ(Start({"SOCKET", "SERVER"}), "");
  EXPECT_EQ(lib->StatProc(), 14);
  EXPECT_EQ(Start({"HTTP", "PROXY", "127.0.0.1:1"}), "");
  EXPECT_EQ(lib->StatProc(), 14);
  EXPECT_EQ(Start({"FTP", "LOGON", "127.0.0.1:1"}), "");
  EXPECT_EQ(lib->StatProc(), 14);
  EXPECT_EQ(Start({}), "");
  EXPECT_EQ(lib->StatProc(), 14);
  // Operands refused before the network, with the blocking command's codes.
  EXPECT_EQ(Start({"HTTP", "GET", "http://127.0.0.1:0/"}), "");
  EXPECT_EQ(lib->StatProc(), 25);
  EXPECT_EQ(Start({"HTTP", "DOWNLOAD", peer.Url(), dir + "/no/such/file"}), "");
  EXPECT_EQ(lib->StatProc(), 240);
  EXPECT_EQ(Start({"HTTP", "UPLOAD", dir + "/missing", peer.Url()}), "");
  EXPECT_EQ(lib->StatProc(), 240);
  EXPECT_EQ(Start({"FTP", "DOWNLOAD", "f", dir + "/no/such/file"}), "");
  EXPECT_EQ(lib->StatProc(), 240);
  EXPECT_EQ(Start({"POP3", "GETMAIL", "one"}), "");
  EXPECT_EQ(lib->StatProc(), 25);
  EXPECT_EQ(Start({"SMTP", "SEND", "127.0.0.1:0"}), "");
  EXPECT_EQ(lib->StatProc(), 25);
  // None of them became a job: the first id is still unused.
  EXPECT_EQ(Function({"JOB", "STATUS", "1"}), "");
  EXPECT_EQ(lib->StatProc(), 241);
  EXPECT_EQ(Function({"IPERROR"}), "No job 1");
  EXPECT_EQ(Command({"JOB", "TAKE", "1"}), 241);
  EXPECT_EQ(Command({"JOB", "CANCEL", "1"}), 241);
  EXPECT_EQ(Command({"JOB", "CLOSE", "1"}), 241);
  EXPECT_EQ(Function({"JOB", "WAIT", "1", "0"}), "");
  EXPECT_EQ(lib->StatProc(), 241);
  EXPECT_EQ(Function({"JOB", "STATUS", "x"}), "");
  EXPECT_EQ(lib->StatProc(), 25);
  EXPECT_EQ(Command({"JOB", "MAX", "0"}), 25);
  EXPECT_EQ(Command({"JOB", "MAX", "65"}), 25);
  EXPECT_EQ(Command({"JOB", "PROGRESS", "-1"}), 25);
  EXPECT_EQ(Command({"JOB", "NOSUCH"}), 14);
  EXPECT_EQ(Function({"JOB", "NOSUCH"}), "");
  EXPECT_EQ(lib->StatProc(), 13);
  EXPECT_EQ(Function({"JOB", "EVENT"}), "");
  EXPECT_EQ(lib->StatProc(), 0);
}

TEST_F(JobFamilyTest, TakeLeavesWhatTheBlockingCommandLeaves) {
  HttpPeer peer("first\r\nsecond\nthird");
  ASSERT_EQ(Command({"HTTP", "GET", peer.Url()}), 0);
  std::vector<std::string> blocking;
  for (std::string line; (line = Function({"HTTP"})) != "\r";)
    blocking.push_back(line);

  const std::string get = Start({"HTTP", "GET", peer.Url()});
  const std::string download = Start({"HTTP", "DOWNLOAD", peer.Url(), dir + "/got"});
  EXPECT_EQ(get, "1");
  EXPECT_EQ(download, "2");
  EXPECT_EQ(Function({"JOB", "WAIT", get, "10000"}), "DONE 19 19 0");
  EXPECT_EQ(Function({"JOB", "WAIT", download, "10000"}), "DONE 19 19 0");
  EXPECT_EQ(Function({"JOB", "ERROR", get}), "");
  // Nothing of the job's page is seen before it is taken; a download is in
  // its file once it is done.
  EXPECT_EQ(Function({"HTTP"}), "\r");
  EXPECT_EQ(ReadFile(dir + "/got"), "first\r\nsecond\nthird");
  EXPECT_EQ(Command({"JOB", "TAKE", get}), 0);
  std::vector<std::string> taken;
  for (std::string line; (line = Function({"HTTP"})) != "\r";)
    taken.push_back(line);
  EXPECT_EQ(taken, blocking);
  EXPECT_EQ(Command({"JOB", "TAKE", download}), 0);
  EXPECT_EQ(Command({"JOB", "TAKE", get}), 241);
  // Ids are never used again.
  EXPECT_EQ(Start({"HTTP", "GET", peer.Url()}), "3");
  // The events come from the loop, one for each end.
  EXPECT_TRUE(Pump(3));
}

TEST_F(JobFamilyTest, ARequestJobsTakeLeavesTheAnswerAsTheBlockingRequest) {
  HttpPeer peer("answer\r\nline two");
  ASSERT_EQ(Command({"HTTP", "REQUEST", "GET", peer.Url(), ""}), 0);
  const std::string status = Function({"HTTP", "STATUS"});
  const std::string first = Function({"HTTP"});
  EXPECT_EQ(Start({"HTTP", "REQUEST", "NO METHOD", peer.Url(), ""}), "");
  EXPECT_EQ(lib->StatProc(), 25);
  const std::string id = Start({"HTTP", "REQUEST", "GET", peer.Url(), ""});
  EXPECT_EQ(Function({"JOB", "WAIT", id, "10000"}).substr(0, 5), "DONE ");
  EXPECT_EQ(Command({"JOB", "TAKE", id}), 0);
  EXPECT_EQ(Function({"HTTP", "STATUS"}), status);
  EXPECT_EQ(Function({"HTTP"}), first);
}

// A request's progress is one sum that never goes back: its body while it
// goes, out of the body's size, then the answer's bytes too, out of both.
TEST_F(JobFamilyTest, ARequestJobCountsItsBodyThenItsAnswer) {
  HttpPeer peer(std::string(1000, 'a'));
  // Larger than what leaves with the header, small enough to wait whole in
  // the sockets' buffers while the server holds its answer.
  const std::string body = dir + "/body";
  std::ofstream(body, std::ios::binary) << std::string(40000, 'b');
  peer.Stall(true);
  EXPECT_EQ(Command({"HTTP", "BODY", "FILE", body}), 0);
  const std::string id = Start({"HTTP", "REQUEST", "PUT", peer.Url(), ""});
  std::string status;
  for (int turns = 0; turns < 1000; ++turns) {
    if ((status = Function({"JOB", "STATUS", id})) == "RUNNING 40000 40000 0")
      break;
    lib->ProcessMessages(10);
  }
  EXPECT_EQ(status, "RUNNING 40000 40000 0");
  peer.Stall(false);
  EXPECT_EQ(Function({"JOB", "WAIT", id, "10000"}), "DONE 41000 41000 0");
}

TEST_F(JobFamilyTest, AFailedJobsTakeGivesTheBlockingCommandsCodeAndText) {
  const testpeer::RefusingPort refusing;
  const std::string closed = "http://127.0.0.1:" + refusing.Text() + "/";
  const std::string id = Start({"HTTP", "GET", closed});
  EXPECT_EQ(Function({"JOB", "WAIT", id, "10000"}).substr(0, 7), "FAILED ");
  EXPECT_EQ(Command({"HTTP", "GET", closed}), 206);
  const std::string blockingText = Function({"IPERROR"});
  EXPECT_EQ(Function({"JOB", "ERROR", id}), blockingText);
  Function({"VERSION"});
  EXPECT_EQ(Command({"JOB", "TAKE", id}), 206);
  EXPECT_EQ(lib->StatProc(), 206);
  EXPECT_EQ(Function({"IPERROR"}), blockingText);
}

TEST_F(JobFamilyTest, EightJobsWithMaxThreeNeverHaveMoreThanThreeConnections) {
  HttpPeer peer("page");
  // The first answers wait until three connections are open at once.
  peer.HoldUntilOpen(3);
  EXPECT_EQ(Command({"JOB", "MAX", "3"}), 0);
  std::vector<std::string> ids;
  for (int k = 0; k < 8; ++k)
    ids.push_back(Start({"HTTP", "GET", peer.Url()}));
  for (const std::string &id : ids)
    EXPECT_EQ(Function({"JOB", "WAIT", id, "20000"}), "DONE 4 4 0");
  EXPECT_EQ(peer.MostOpenAtOnce(), 3);
  // A HEAD and a GET each.
  EXPECT_EQ(peer.Requests(), 16);
}

TEST_F(JobFamilyTest, TwoHundredShortJobsGiveExactlyTwoHundredEndRecords) {
  HttpPeer peer("short");
  EXPECT_EQ(Command({"JOB", "MAX", "8"}), 0);
  constexpr int Count = 200;
  for (int k = 0; k < Count; ++k)
    ASSERT_EQ(Start({"HTTP", "DOWNLOAD", peer.Url(), dir + "/f" + std::to_string(k)}),
              std::to_string(k + 1));
  std::map<std::uint64_t, int> ends;
  int records = 0;
  // Every event stands for one record; the script reads them as they come.
  while (static_cast<int>(ends.size()) < Count) {
    ASSERT_TRUE(Pump(records + 1)) << ends.size() << " jobs ended";
    for (std::string record; !(record = Function({"JOB", "EVENT"})).empty();) {
      ++records;
      std::istringstream fields(record);
      std::uint64_t id = 0;
      std::string state;
      fields >> id >> state;
      ASSERT_EQ(ends.count(id), 0u) << "a record after the end: " << record;
      if (state != "RUNNING") {
        EXPECT_EQ(state, "DONE") << record;
        ends[id] = 1;
      }
    }
  }
  EXPECT_EQ(ends.size(), static_cast<std::size_t>(Count));
  EXPECT_EQ(Function({"JOB", "EVENT"}), "");
  EXPECT_EQ(Files().size(), static_cast<std::size_t>(Count));
}

TEST_F(JobFamilyTest, CancelReachesAStalledJobAndLeavesNoFile) {
  HttpPeer peer("never sent");
  peer.Stall(true);
  EXPECT_EQ(Command({"HTTP", "TIMEOUT", "60"}), 0);
  const std::string id = Start({"HTTP", "DOWNLOAD", peer.Url(), dir + "/stalled"});
  ASSERT_TRUE(peer.WaitForRequests(1));
  EXPECT_EQ(Function({"JOB", "STATUS", id}).substr(0, 8), "RUNNING ");
  EXPECT_EQ(Command({"JOB", "TAKE", id}), 243);
  EXPECT_EQ(Command({"JOB", "CANCEL", id}), 0);
  // Well within the time-out the stalled server would take; the shutdown of
  // the job's socket ends its wait at once (bench/jobs.sh shows how soon).
  EXPECT_EQ(Function({"JOB", "WAIT", id, "2000"}).substr(0, 10), "CANCELLED ");
  EXPECT_EQ(Function({"JOB", "STATUS", id}).substr(0, 10), "CANCELLED ");
  EXPECT_EQ(Function({"JOB", "STATUS", id}).substr(Function({"JOB", "STATUS", id}).size() - 4),
            " 206");
  EXPECT_EQ(Function({"JOB", "ERROR", id}), "Cancelled");
  EXPECT_TRUE(Files().empty());
  EXPECT_EQ(Command({"JOB", "TAKE", id}), 206);
  EXPECT_EQ(Function({"IPERROR"}), "Cancelled");
}

// A cancel that comes once the body is whole, before the job's end is
// decided, leaves no file: a job ends DONE with its file in place or
// CANCELLED without it, never CANCELLED with it.
TEST_F(JobFamilyTest, ALateCancelLeavesAFileOnlyForAJobThatEndsDone) {
  HttpPeer peer("the whole body");
  lib->Jobs().AfterRun = [this](std::uint64_t id) { lib->Jobs().Cancel(id); };
  const std::string plain = Start({"HTTP", "DOWNLOAD", peer.Url(), dir + "/plain"});
  const std::string resumed = Start({"HTTP", "DOWNLOAD", peer.Url(), dir + "/resumed", "on"});
  const std::string request = Start({"HTTP", "REQUEST", "GET", peer.Url(), dir + "/request"});
  for (const std::string &id : {plain, resumed, request})
    EXPECT_EQ(Function({"JOB", "WAIT", id, "10000"}).substr(0, 10), "CANCELLED ") << id;
  for (const char *name : {"/plain", "/resumed", "/request"})
    EXPECT_FALSE(std::filesystem::exists(dir + name)) << name;
  // A resumed download keeps its part for the next try, as a broken one.
  EXPECT_EQ(ReadFile(dir + "/resumed.part"), "the whole body");

  // Too late: the job is done and stays so.
  lib->Jobs().AfterRun = nullptr;
  const std::string done = Start({"HTTP", "DOWNLOAD", peer.Url(), dir + "/resumed", "on"});
  EXPECT_EQ(Function({"JOB", "WAIT", done, "10000"}), "DONE 14 14 0");
  EXPECT_EQ(Command({"JOB", "CANCEL", done}), 0);
  EXPECT_EQ(Function({"JOB", "STATUS", done}), "DONE 14 14 0");
  EXPECT_EQ(ReadFile(dir + "/resumed"), "the whole body");
  EXPECT_FALSE(std::filesystem::exists(dir + "/resumed.part.info"));
}

TEST_F(JobFamilyTest, CloseForgetsARunningJobAtOnce) {
  HttpPeer peer("never sent");
  peer.Stall(true);
  const std::string id = Start({"HTTP", "DOWNLOAD", peer.Url(), dir + "/closed"});
  ASSERT_TRUE(peer.WaitForRequests(1));
  EXPECT_EQ(Command({"JOB", "CLOSE", id}), 0);
  EXPECT_EQ(Function({"JOB", "STATUS", id}), "");
  EXPECT_EQ(lib->StatProc(), 241);
  EXPECT_EQ(Command({"JOB", "CANCEL", id}), 241);
  // Its worker goes on to its end unheard; by the release it has.
  lib.reset();
  EXPECT_TRUE(Files().empty());
  EXPECT_EQ(jobEvents, 0);
}

TEST_F(JobFamilyTest, ReleaseWithFourJobsRunningEndsThemAndLeavesNoFiles) {
  HttpPeer peer("never sent");
  peer.Stall(true);
  for (int k = 0; k < 4; ++k)
    Start({"HTTP", "DOWNLOAD", peer.Url(), dir + "/f" + std::to_string(k)});
  // A fifth waits for a place.
  Start({"HTTP", "DOWNLOAD", peer.Url(), dir + "/f4"});
  ASSERT_TRUE(peer.WaitForRequests(4));
  lib.reset();
  EXPECT_TRUE(Files().empty());
  EXPECT_EQ(peer.Requests(), 4);
}

TEST_F(JobFamilyTest, AJobWorksWithTheSettingsOfItsStart) {
  HttpPeer server("from the server");
  HttpPeer proxy("from the proxy");
  const std::string viaProxy = proxy.Url("").substr(7);
  EXPECT_EQ(Command({"HTTP", "PROXY", viaProxy, "", ""}), 0);
  const std::string proxied = Start({"HTTP", "GET", server.Url()});
  EXPECT_EQ(Command({"HTTP", "PROXY", "", "", ""}), 0);
  const std::string direct = Start({"HTTP", "GET", server.Url()});
  // Later settings are for what starts later.
  EXPECT_EQ(Command({"HTTP", "PROXY", viaProxy, "", ""}), 0);
  EXPECT_EQ(Function({"JOB", "WAIT", proxied, "10000"}), "DONE 14 14 0");
  EXPECT_EQ(Command({"JOB", "TAKE", proxied}), 0);
  EXPECT_EQ(Function({"HTTP"}), "from the proxy");
  EXPECT_EQ(Function({"JOB", "WAIT", direct, "10000"}), "DONE 15 15 0");
  EXPECT_EQ(Command({"JOB", "TAKE", direct}), 0);
  EXPECT_EQ(Function({"HTTP"}), "from the server");
}

TEST_F(JobFamilyTest, ProgressRecordsComeInOrderAndTheEventsOnlyFromTheLoop) {
  HttpPeer peer(std::string(4 << 20, 'p'));
  EXPECT_EQ(Command({"JOB", "PROGRESS", "1"}), 0);
  const std::string id = Start({"HTTP", "DOWNLOAD", peer.Url(), dir + "/big"});
  // The job ends while the script is inside a call: no event then.
  EXPECT_EQ(Function({"JOB", "WAIT", id, "20000"}), "DONE 4194304 4194304 0")
      << Function({"JOB", "ERROR", id});
  EXPECT_EQ(jobEvents, 0);
  ASSERT_TRUE(Pump(1));
  std::int64_t last = -1;
  std::string state;
  for (std::string record; !(record = Function({"JOB", "EVENT"})).empty();) {
    std::istringstream fields(record);
    std::uint64_t job = 0;
    std::int64_t done = 0;
    ASSERT_NE(state, "DONE") << "a record after the end: " << record;
    fields >> job >> state >> done;
    EXPECT_GE(done, last) << record;
    last = done;
  }
  EXPECT_EQ(state, "DONE");
  EXPECT_EQ(last, 4194304);
}
