#include "scriptnet.h"

#include "host/ErrorCodes.h"
#include "host/Library.h"

#include <memory>

namespace {

// The one instance a loaded library has; released when the library is
// unloaded, which releases the long-lived objects in their order.
std::unique_ptr<Library> theLibrary;
std::int32_t lastStatus = 0;
// A trace or progress routine set before Init is connected once the objects exist.
TraceSink::Proc traceProc = nullptr;
void *traceContext = nullptr;
ProgressMeter::Proc progressProc = nullptr;
void *progressContext = nullptr;

// Before Init, and if Init could not build the objects, the entry points
// answer without touching anything.
constexpr char noResult[] = "";

} // namespace

extern "C" {

#ifdef _WIN32
// Windows stops every other thread of an ending process before it tells the
// library; a background job's worker may have stopped holding a lock, so its
// jobs are not waited for then. (A FreeLibrary while jobs run leaves the DLL
// loaded until their workers have left it: see platform/Thread.h.)
int SCRIPTNET_CALL DllMain(void *, unsigned long reason, void *reserved) {
  constexpr unsigned long ProcessDetach = 0;
  if (reason == ProcessDetach && reserved != nullptr && theLibrary)
    theLibrary->AbandonJobs();
  return 1;
}
#endif

const char *SCRIPTNET_CALL Init(std::int32_t hostValue, ScriptnetEventProc eventProc,
                                const char * /*text*/, std::int32_t *out1, std::int32_t *out2) {
  if (out1)
    *out1 = 13;
  if (out2)
    *out2 = Library::BlockSize;
  try {
    if (theLibrary) {
      theLibrary->SetEventProc(eventProc);
    } else {
      theLibrary = std::make_unique<Library>(hostValue, eventProc);
      theLibrary->SetTraceProc(traceProc, traceContext);
      theLibrary->SetProgressProc(progressProc, progressContext);
    }
  } catch (...) {
    theLibrary.reset();
  }
  return "NET";
}

std::int32_t SCRIPTNET_CALL CommandProc(const char *block) {
  if (!theLibrary)
    return lastStatus = ErrInternal;
  return lastStatus = theLibrary->CommandProc(block);
}

const char *SCRIPTNET_CALL FuncProc(const char *block) {
  if (!theLibrary) {
    lastStatus = ErrInternal;
    return noResult;
  }
  const char *result = theLibrary->FuncProc(block);
  lastStatus = theLibrary->StatProc();
  return result;
}

std::int32_t SCRIPTNET_CALL StatProc() { return theLibrary ? theLibrary->StatProc() : lastStatus; }

int SCRIPTNET_CALL ProcessMessages(int timeoutMs) {
  return theLibrary ? theLibrary->ProcessMessages(timeoutMs) : 0;
}

int SCRIPTNET_CALL MessageFd() { return theLibrary ? theLibrary->MessageFd() : -1; }

void SCRIPTNET_CALL SetTraceProc(ScriptnetTraceProc proc, void *context) {
  traceProc = proc;
  traceContext = context;
  if (theLibrary)
    theLibrary->SetTraceProc(proc, context);
}

void SCRIPTNET_CALL SetProgressProc(ScriptnetProgressProc proc, void *context) {
  progressProc = proc;
  progressContext = context;
  if (theLibrary)
    theLibrary->SetProgressProc(proc, context);
}
}
