#pragma once
// Shell: the real asynchronous socket replaces this class.
class TTCPClient {
public:
  virtual ~TTCPClient() = default;
};
