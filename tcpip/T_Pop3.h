#pragma once
// Shell: the real client replaces this class.
class T_Pop3 {
public:
  virtual ~T_Pop3() = default;
};
