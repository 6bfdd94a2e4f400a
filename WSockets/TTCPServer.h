#pragma once
// Shell: the real asynchronous socket replaces this class.
class TTCPServer {
public:
  virtual ~TTCPServer() = default;
};
