#pragma once
// Shell: the real client replaces this class.
class T_SMTP {
public:
  virtual ~T_SMTP() = default;
};
