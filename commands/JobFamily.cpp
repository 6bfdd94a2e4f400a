#include "commands/JobFamily.h"

#include "host/ErrorCodes.h"
#include "host/Library.h"
#include "host/TJobTable.h"
#include "ip_misc/Convert.h"
#include "ip_misc/Errors.h"

namespace {

// "STATE done total code"
std::string StatusText(const TJobStatus &status) {
  return std::string(JobStateName(status.State)) + " " + std::to_string(status.Done) + " " +
         std::to_string(status.Total) + " " + std::to_string(status.Code);
}

[[noreturn]] void NoJob(std::uint64_t id) {
  throw EListIndexError("No job " + std::to_string(id));
}

// A whole number from low to high; raises EConvertError for anything else.
int Bounded(const std::string &operand, int low, int high, std::string_view what) {
  const std::int64_t n = StrToInt64(Trim(operand));
  if (n < low || n > high)
    throw EConvertError("'" + operand + "' is not " + std::string(what) + " from " +
                        std::to_string(low) + " to " + std::to_string(high));
  return static_cast<int>(n);
}

} // namespace

std::uint64_t JobFamily::NextId() {
  const std::string operand = lib_.NextArgument();
  const std::int64_t id = StrToInt64(Trim(operand));
  if (id < 1)
    NoJob(static_cast<std::uint64_t>(0));
  return static_cast<std::uint64_t>(id);
}

void JobFamily::Command() {
  switch (lib_.LookupNext(Commands)) {
  case CmdTAKE: {
    const std::uint64_t id = NextId();
    TJobStatus status;
    TJobOutcome outcome;
    std::unique_ptr<TJobWork> work;
    switch (jobs_.Take(id, status, outcome, work)) {
    case TJobTable::TTake::Unknown: NoJob(id);
    case TJobTable::TTake::NotEnded:
      throw EStateError(ErrJobNotEnded, "Job " + std::to_string(id) + " is " +
                                            JobStateName(status.State) + "; it goes on");
    case TJobTable::TTake::Taken: break;
    }
    if (status.State == TJobState::Done)
      work->Take(lib_);
    lib_.SetError(outcome.Error);
    if (outcome.Text)
      lib_.SetLastErrorText(std::move(*outcome.Text));
    return;
  }
  case CmdCANCEL: {
    const std::uint64_t id = NextId();
    if (!jobs_.Cancel(id))
      NoJob(id);
    return;
  }
  case CmdCLOSE: {
    const std::uint64_t id = NextId();
    if (!jobs_.Close(id))
      NoJob(id);
    return;
  }
  case CmdMAX:
    jobs_.SetMax(Bounded(lib_.NextArgument(), 1, TJobTable::MostAtOnce, "a number of jobs"));
    return;
  case CmdPROGRESS:
    jobs_.SetProgressInterval(Bounded(lib_.NextArgument(), 0, 86400000, "an interval in ms"));
    return;
  default: lib_.SetError(ErrUnknownSubcommand);
  }
}

void JobFamily::Function(std::string &result) {
  switch (lib_.LookupNext(Functions)) {
  case FnSTART: {
    std::unique_ptr<TJobWork> work = lib_.PrepareJob();
    if (work)
      result = std::to_string(jobs_.Start(std::move(work)));
    return;
  }
  case FnSTATUS: {
    const std::uint64_t id = NextId();
    TJobStatus status;
    if (!jobs_.Status(id, status))
      NoJob(id);
    result = StatusText(status);
    return;
  }
  case FnWAIT: {
    const std::uint64_t id = NextId();
    const int ms = Bounded(lib_.NextArgument(), 0, 86400000, "a wait in ms");
    TJobStatus status;
    if (!jobs_.Wait(id, ms, status))
      NoJob(id);
    result = StatusText(status);
    return;
  }
  case FnERROR: {
    const std::uint64_t id = NextId();
    TJobOutcome outcome;
    if (!jobs_.Outcome(id, outcome))
      NoJob(id);
    if (outcome.Code != 0 && outcome.Text)
      result = *outcome.Text;
    return;
  }
  case FnEVENT: {
    TJobStatus record;
    if (jobs_.NextRecord(record))
      result = std::to_string(record.Id) + " " + StatusText(record);
    return;
  }
  default: lib_.SetError(ErrUnknownSubfunction);
  }
}
