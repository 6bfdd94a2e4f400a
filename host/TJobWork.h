#pragma once
// The work of one background job. A family makes it on the host's thread
// when the job starts, from the command's operands and a copy of everything
// the blocking command would use; a worker runs it on objects of its own;
// the host's thread takes its results when the script asks for them.
#include "platform/Tls.h"
#include "tcpip/TByteCounts.h"
#include "tcpip/TCancel.h"
#include "tcpip/T_TcpIp.h"

class Library;

class TJobWork {
public:
  virtual ~TJobWork() = default;

  // On the worker: the blocking command's work, on the job's own objects.
  // Raises as the blocking command would.
  virtual void Run() = 0;
  // On the worker, once Run has succeeded and the job can no longer be
  // cancelled: what only a job that ends DONE may do (a download's file
  // takes its name). Raises as the blocking command would.
  virtual void Commit() {}
  // On the host's thread, for a job that ended DONE: its results into the
  // long-lived objects, where the blocking command leaves them.
  virtual void Take(Library &library) { (void)library; }

  // The job's client: secured with the job's copy of the TLS settings,
  // stopped by its canceller, its counts the job's progress in the
  // transfer's direction. The client must live as long as the work.
  void Watch(T_TcpIp &client, TDirection direction) {
    client.Tls = &Tls;
    client.Cancel = &Cancel;
    Counts = &client.Counts;
    Direction = direction;
  }

  // The library's TLS settings as they were at the start.
  platform::TlsSettings Tls;
  // Stops the work from the host's thread.
  TCancel Cancel;
  TByteCounts *Counts = nullptr;
  TDirection Direction = TDirection::Received;
};
