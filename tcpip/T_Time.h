#pragma once
// Shell: the real client replaces this class.
class T_Time {
public:
  virtual ~T_Time() = default;
};
