#pragma once
// Shell: the real client replaces this class.
class T_HTTP {
public:
  virtual ~T_HTTP() = default;
  bool NoCache = false;
};
